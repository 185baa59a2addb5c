#include <stdio.h>

#include <string>

#include "tests/encoderlib/EncoderClient.h"

static const int kUnfinishedSeconds = 5;

// Encodes five seconds of a longer recording, then ends the process the way a crash would: the
// file is never closed by the encoder.
static void LeaveUnfinishedRecording(const EncoderLibrary& encoder, const std::string& path)
{
    const int rate = 44100;
    static const std::vector<short> pcm = MakeTone(rate, 2, 2 * kUnfinishedSeconds * rate, 441.0);
    static EncoderInputRecord input;
    input = {[](void* buffer, unsigned long length) -> int {
                 static size_t fed = 0;
                 memcpy(buffer, reinterpret_cast<const char*>(pcm.data()) + fed, length);
                 fed += length;
                 return kEncoderReadFilled;
             },
             kMpgeUnknownInputSize, 16, rate, 2};
    encoder.initializeWork();
    encoder.setConfigure(kMpgeInput, kMpgeInputFromCallback, &input);
    encoder.setConfigure(kMpgeOutput, kMpgeOutputToFile, const_cast<char*>(path.c_str()));
    encoder.setConfigure(kMpgeChannelMode, kMpgeJointStereo, nullptr);
    encoder.setConfigure(kMpgeBitrate, 128, nullptr);
    if (encoder.detectConfigure() != kMpgeOk)
        ExitProcess(1);
    const int frames = kUnfinishedSeconds * rate / 1152;
    for (int frame = 0; frame < frames; ++frame)
        encoder.processFrame();
    TerminateProcess(GetCurrentProcess(), 0);
}

// Encodes a tone at every legal combination of sample rate, bitrate and channels into the folder
// given, with a manifest that the decoding check reads.
int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string folder = argv[1];
    const int rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
    const int rows[2][14] = {{8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                             {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
    const double kTone = 441.0;
    if (LoadEncoderLibrary() != 0) {
        fprintf(stderr, "gogo.dll cannot be loaded\n");
        return 1;
    }
    FILE* manifest = fopen((folder + "\\manifest.txt").c_str(), "w");
    int failures = 0;
    for (int channels = 1; channels <= 2; ++channels) {
        for (int index = 0; index < 6; ++index) {
            for (int kbps : rows[index / 3]) {
                const int rate = rates[index];
                // A little over one second, not a whole number of frames.
                const std::vector<short> pcm = MakeTone(rate, channels, rate + 123, kTone);
                const std::string name = std::to_string(kbps) + "_" + std::to_string(rate) + "_" + std::to_string(channels) + ".mp3";
                const std::string path = folder + "\\" + name;
                const MpgeResult result = Encode(encoderLibrary, {path.c_str(), rate, channels, kbps, &pcm});
                if (result != kMpgeOk) {
                    fprintf(stderr, "%s: result %lu\n", name.c_str(), result);
                    ++failures;
                }
                fprintf(manifest, "%s %d %d %d %zu %.1f\n", name.c_str(), rate, kbps, channels, pcm.size() / channels, kTone);
            }
        }
    }
    fclose(manifest);
    // Recordings stopped before any sound arrived: the decoding check opens them too.
    static const std::vector<short> nothing;
    for (int channels = 1; channels <= 2; ++channels) {
        for (int rate : {16000, 48000}) {
            const std::string name = "empty_" + std::to_string(rate) + "_" + std::to_string(channels) + ".mp3";
            failures += Encode(encoderLibrary, {(folder + "\\" + name).c_str(), rate, channels, rows[rate / 32000][0], &nothing}) != kMpgeOk;
        }
    }
    printf("%d failed\n", failures);
    if (failures == 0)
        LeaveUnfinishedRecording(encoderLibrary, folder + "\\unfinished_44100_2.mp3");
    return failures == 0 ? 0 : 1;
}
