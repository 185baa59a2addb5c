#pragma once

#include <stdint.h>

const int kSampleRateCount = 6;
const int kBitrateRowLength = 14;
const int kSampleRatesPerBitrateRow = 3;

// The sample rates on offer, in Hz; a rate's position is its sample-rate index.
extern const uint16_t kSampleRates[kSampleRateCount];

// Row 0 serves 16, 22.05 and 24 kHz (MPEG-2), row 1 serves 32, 44.1 and 48 kHz (MPEG-1), in kbit/s.
extern const uint16_t kBitrates[2][kBitrateRowLength];

// The quality of the next recording; 16 bits per sample always.
struct RecordingSettings {
    uint16_t channels;
    int32_t sampleRate;
    int32_t bitrateKbps;
    int32_t sampleRateIndex;
};

extern RecordingSettings recordingSettings;

// What every run starts from unless /P says otherwise: mono, 22050 Hz, 80 kbit/s.
constexpr RecordingSettings kStartingSettings = {1, 22050, 80, 0};

// 0 for mono, 1 for stereo.
int ChannelModeIndex(uint16_t channels);

// The position of hz in kSampleRates, or -1.
int FindSampleRateIndex(int32_t hz);

// The position of kbps in the bitrate row of sampleRateIndex, or -1; index -1 searches row 0.
int FindBitrateIndex(int sampleRateIndex, int32_t kbps);

// The bitrate at position in the row of sampleRateIndex.
int32_t BitrateAt(int sampleRateIndex, int position);

const int kBitrateLabelSize = 16;

// Writes the bitrate list's text for kbps ("128kbps") into label.
void FormatBitrateLabel(int32_t kbps, char label[kBitrateLabelSize]);

// Sets channels, sample rate and bitrate from a preset such as "128_44_2"; false and nothing
// changed when the text is not exactly one of the legal combinations.
bool ParsePreset(const char* text);
