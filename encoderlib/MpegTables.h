#pragma once

// The Layer III facts the encoder library relies on, written once: per MPEG version its sample
// rates and bitrates, in the order of the frame header's indexes.

// A frame starts with a header of this many bytes.
const int kFrameHeaderBytes = 4;

const int kRatesPerVersion = 3;
const int kBitratesPerVersion = 14;

struct MpegVersion {
    int sampleRates[kRatesPerVersion];  // header indexes 0 to 2
    int bitrates[kBitratesPerVersion];  // header indexes 1 to 14, lowest first
};

// MPEG-1 serves 32 kHz and up, MPEG-2 the lower rates.
bool IsMpeg1(int sampleRate);

// The version that sampleRate belongs to, whether or not it is one of its rates.
const MpegVersion& VersionOf(int sampleRate);

// The header's sample-rate index, or -1 for a rate that Layer III does not have.
int SampleRateIndex(int sampleRate);

// The header's bitrate index (1 to 14), or 0 for a bitrate that the rate's version does not have.
int BitrateIndex(int sampleRate, int kbps);
