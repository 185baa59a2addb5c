#pragma once

#include <windows.h>

#include <vector>

#include "encoderlib/EncoderApi.h"

// The real gogo.dll, loaded by name as the program loads it, driven through its read callback.
struct EncoderEntryPoints {
    HMODULE module;
    decltype(&MPGE_initializeWork) initializeWork;
    decltype(&MPGE_setConfigure) setConfigure;
    decltype(&MPGE_getConfigure) getConfigure;
    decltype(&MPGE_detectConfigure) detectConfigure;
    decltype(&MPGE_processFrame) processFrame;
    decltype(&MPGE_closeCoder) closeCoder;
    decltype(&MPGE_endCoder) endCoder;
};

bool LoadEncoder(EncoderEntryPoints* encoder);

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
MpgeResult Encode(const EncoderEntryPoints& encoder, const EncodeRequest& request);
