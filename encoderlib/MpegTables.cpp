#include "encoderlib/MpegTables.h"

static const int kLowestMpeg1Rate = 32000;
static const MpegVersion kMpeg1 = {{44100, 48000, 32000}, {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
static const MpegVersion kMpeg2 = {{22050, 24000, 16000}, {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};

bool IsMpeg1(int sampleRate)
{
    return sampleRate >= kLowestMpeg1Rate;
}

const MpegVersion& VersionOf(int sampleRate)
{
    return IsMpeg1(sampleRate) ? kMpeg1 : kMpeg2;
}

int SampleRateIndex(int sampleRate)
{
    const MpegVersion& version = VersionOf(sampleRate);
    for (int index = 0; index < kRatesPerVersion; ++index) {
        if (version.sampleRates[index] == sampleRate)
            return index;
    }
    return -1;
}

int BitrateIndex(int sampleRate, int kbps)
{
    const MpegVersion& version = VersionOf(sampleRate);
    for (int position = 0; position < kBitratesPerVersion; ++position) {
        if (version.bitrates[position] == kbps)
            return position + 1;
    }
    return 0;
}
