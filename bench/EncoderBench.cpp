#include <windows.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <lame.h>

#include "tests/encoderlib/EncoderClient.h"

// Encodes a generated signal either through gogo.dll's callback interface or with LAME called
// directly in a loop, and prints the process's CPU time as a multiple of real time.

static double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// A sweep with some noise, closer to programme material than a pure tone.
static std::vector<short> MakeSignal(int rate, int seconds)
{
    std::vector<short> pcm(static_cast<size_t>(rate) * seconds * 2);
    double phase = 0;
    unsigned state = 1;
    for (size_t n = 0; n < pcm.size() / 2; ++n) {
        phase += 2 * 3.14159265358979 * (200.0 + 4000.0 * (n % rate) / rate) / rate;
        state = state * 1103515245u + 12345u;
        const int noise = static_cast<int>(state >> 20) - 2048;
        pcm[2 * n] = static_cast<short>(9000 * sin(phase) + noise);
        pcm[2 * n + 1] = static_cast<short>(9000 * cos(phase * 1.01) + noise);
    }
    return pcm;
}

// The line-in's tone as bench/recorder plays it: 441 Hz on both channels at half scale.
static std::vector<short> MakeTone(int rate, int seconds)
{
    const double kFrequency = 441.0, kHalfScale = 16383.0;
    std::vector<short> pcm(static_cast<size_t>(rate) * seconds * 2);
    for (size_t n = 0; n < pcm.size() / 2; ++n)
        pcm[2 * n] = pcm[2 * n + 1] = static_cast<short>(kHalfScale * sin(2 * 3.14159265358979 * kFrequency * n / rate));
    return pcm;
}

static bool EncodeDirect(const std::vector<short>& pcm, int rate, int kbps, int quality, const char* path)
{
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, 2);
    lame_set_mode(lame, JOINT_STEREO);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, kbps);
    lame_set_quality(lame, quality);
    lame_set_bWriteVbrTag(lame, 0);
    if (lame_init_params(lame) < 0)
        return false;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    const int samplesPerCall = lame_get_framesize(lame);
    std::vector<unsigned char> mp3(samplesPerCall * 5 / 4 + 7200);
    DWORD written;
    const size_t frames = pcm.size() / 2;
    for (size_t at = 0; at < frames; at += samplesPerCall) {
        const int samples = static_cast<int>(frames - at < static_cast<size_t>(samplesPerCall) ? frames - at : samplesPerCall);
        const int bytes = lame_encode_buffer_interleaved(lame, const_cast<short*>(&pcm[2 * at]), samples, mp3.data(),
                                                         static_cast<int>(mp3.size()));
        WriteFile(file, mp3.data(), static_cast<DWORD>(bytes), &written, nullptr);
    }
    const int bytes = lame_encode_flush(lame, mp3.data(), static_cast<int>(mp3.size()));
    WriteFile(file, mp3.data(), static_cast<DWORD>(bytes), &written, nullptr);
    CloseHandle(file);
    lame_close(lame);
    return true;
}

int main(int argc, char** argv)
{
    if (argc < 6) {
        fprintf(stderr, "usage: encoder_bench dll|direct RATE KBPS SECONDS OUTPUT [QUALITY [tone]]\n");
        return 2;
    }
    const bool viaLibrary = strcmp(argv[1], "dll") == 0;
    const int rate = atoi(argv[2]), kbps = atoi(argv[3]), seconds = atoi(argv[4]);
    // The library's own setting unless another is asked for.
    const int quality = argc > 6 ? atoi(argv[6]) : 3;
    const bool tone = argc > 7 && strcmp(argv[7], "tone") == 0;
    const std::vector<short> pcm = tone ? MakeTone(rate, seconds) : MakeSignal(rate, seconds);
    if (viaLibrary && LoadEncoderLibrary() != 0)
        return 1;
    const double start = CpuSeconds();
    const bool ok = viaLibrary ? Encode(encoderLibrary, {argv[5], rate, 2, kbps, &pcm}) == kMpgeOk
                               : EncodeDirect(pcm, rate, kbps, quality, argv[5]);
    const double used = CpuSeconds() - start;
    if (!ok)
        return 1;
    printf("%.3f\n", seconds / used);
    return 0;
}
