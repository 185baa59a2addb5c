#include "startup/RecordingSettings.h"

// Free of platform calls so that it can be fuzzed natively as well.

const uint16_t kSampleRates[kSampleRateCount] = {16000, 22050, 24000, 32000, 44100, 48000};

const uint16_t kBitrates[2][kBitrateRowLength] = {
    {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
};

RecordingSettings recordingSettings = kStartingSettings;

static const int kMaxChannels = 2;
static const int kHzPerKhz = 1000;

static int BitrateRow(int sampleRateIndex)
{
    return sampleRateIndex / kSampleRatesPerBitrateRow;
}

int ChannelModeIndex(uint16_t channels)
{
    return channels - 1;
}

int FindSampleRateIndex(int32_t hz)
{
    for (int index = 0; index < kSampleRateCount; ++index) {
        if (kSampleRates[index] == hz)
            return index;
    }
    return -1;
}

int FindBitrateIndex(int sampleRateIndex, int32_t kbps)
{
    const uint16_t* row = kBitrates[BitrateRow(sampleRateIndex)];
    for (int position = 0; position < kBitrateRowLength; ++position) {
        if (row[position] == kbps)
            return position;
    }
    return -1;
}

int32_t BitrateAt(int sampleRateIndex, int position)
{
    return kBitrates[BitrateRow(sampleRateIndex)][position];
}

// Writes value in decimal at text and returns the position after it; values here are never negative.
static char* AppendDecimal(char* text, uint32_t value)
{
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        *text++ = digits[--count];
    return text;
}

void FormatBitrateLabel(int32_t kbps, char label[kBitrateLabelSize])
{
    char* end = AppendDecimal(label, static_cast<uint32_t>(kbps));
    const char suffix[] = "kbps";
    for (const char* s = suffix; *s; ++s)
        *end++ = *s;
    *end = '\0';
}

static bool TextEquals(const char* a, const char* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool ParsePreset(const char* text)
{
    // A preset holds only digits and underscores, so comparing ignoring letter case is plain equality.
    for (int channels = 1; channels <= kMaxChannels; ++channels) {
        for (int index = 0; index < kSampleRateCount; ++index) {
            for (int position = 0; position < kBitrateRowLength; ++position) {
                const int32_t kbps = BitrateAt(index, position);
                char preset[32];
                char* end = AppendDecimal(preset, static_cast<uint32_t>(kbps));
                *end++ = '_';
                end = AppendDecimal(end, kSampleRates[index] / kHzPerKhz);
                *end++ = '_';
                end = AppendDecimal(end, static_cast<uint32_t>(channels));
                *end = '\0';
                if (TextEquals(preset, text)) {
                    recordingSettings.sampleRate = kSampleRates[index];
                    recordingSettings.channels = static_cast<uint16_t>(channels);
                    recordingSettings.bitrateKbps = kbps;
                    return true;
                }
            }
        }
    }
    return false;
}
