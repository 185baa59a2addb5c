#pragma once

#include <windows.h>

#include <vector>

#include "encoding/EncoderLibrary.h"


// A tone of frequency Hz, sampleCount frames long, 16-bit interleaved; the last frame is never
// silent, so the file's length can be checked to the sample.
std::vector<short> MakeTone(int sampleRate, int channels, int sampleCount, double frequency);

struct EncodeRequest {
    const char* path;
    int sampleRate;
    int channels;
    int bitrateKbps;
    const std::vector<short>* pcm;
};

// Configures as the program does and encodes the whole of pcm; returns the detect result on a
// refusal, the failing processFrame result, or kMpgeOk when the file was closed complete.
MpgeResult Encode(const EncoderLibrary& encoder, const EncodeRequest& request);
