#include "tests/encoderlib/EncoderClient.h"

#include <math.h>
#include <string.h>

static const std::vector<short>* feed = nullptr;
static size_t fed = 0;

static int MPGE_CALL ReadFeed(void* buffer, unsigned long length)
{
    const size_t total = feed->size() * sizeof(short);
    const size_t left = total - fed;
    const size_t n = left < length ? left : length;
    memcpy(buffer, reinterpret_cast<const char*>(feed->data()) + fed, n);
    fed += n;
    if (n == length)
        return kEncoderReadFilled;
    memset(static_cast<char*>(buffer) + n, 0, length - n);
    return kEncoderReadEnded;
}

std::vector<short> MakeTone(int sampleRate, int channels, int sampleCount, double frequency)
{
    const double kAmplitude = 12000.0;
    const double kPi = 3.14159265358979323846;
    std::vector<short> pcm;
    for (int n = 0;; ++n) {
        const short value = static_cast<short>(lround(kAmplitude * sin(2 * kPi * frequency * n / sampleRate)));
        if (n >= sampleCount && pcm.back() != 0)
            break;
        for (int channel = 0; channel < channels; ++channel)
            pcm.push_back(value);
    }
    return pcm;
}

MpgeResult Encode(const EncoderLibrary& encoder, const EncodeRequest& request)
{
    const unsigned long kMaxFrames = 10000000;
    feed = request.pcm;
    fed = 0;
    EncoderInputRecord input = {ReadFeed, kMpgeUnknownInputSize, 16, static_cast<unsigned long>(request.sampleRate),
                                static_cast<unsigned long>(request.channels)};
    MpgeResult result = encoder.initializeWork();
    if (result != kMpgeOk)
        return result;
    encoder.setConfigure(kMpgeInput, kMpgeInputFromCallback, &input);
    encoder.setConfigure(kMpgeOutput, kMpgeOutputToFile, const_cast<char*>(request.path));
    encoder.setConfigure(kMpgeChannelMode, request.channels == 1 ? kMpgeMono : kMpgeJointStereo, nullptr);
    encoder.setConfigure(kMpgeBitrate, static_cast<unsigned long>(request.bitrateKbps), nullptr);
    encoder.setConfigure(kMpgeInfoTag, 1, nullptr);
    encoder.setConfigure(kMpgeReserved9, 1, nullptr);
    result = encoder.detectConfigure();
    if (result != kMpgeOk)
        return result;
    for (unsigned long selector : {3, 4, 5, 6, 9, 11, 10, 12, 16}) {
        unsigned long value = 0;
        encoder.getConfigure(selector, &value);
    }
    for (unsigned long frames = 0; frames < kMaxFrames; ++frames) {
        result = encoder.processFrame();
        if (result == kMpgeEnded)
            return encoder.closeCoder();
        if (result != kMpgeOk) {
            encoder.closeCoder();
            return result;
        }
    }
    return kMpgeEncodeFailed;
}
