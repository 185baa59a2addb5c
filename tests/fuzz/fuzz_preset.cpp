#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "startup/RecordingSettings.h"

// An accepted preset must be a legal combination that prints back as exactly the text given;
// a refused one must leave the settings alone.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = static_cast<char*>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = '\0';
    const RecordingSettings before = {7, 1, 2, 3};
    recordingSettings = before;
    if (ParsePreset(text)) {
        const int index = FindSampleRateIndex(recordingSettings.sampleRate);
        if (index < 0 || FindBitrateIndex(index, recordingSettings.bitrateKbps) < 0)
            abort();
        if (recordingSettings.channels != 1 && recordingSettings.channels != 2)
            abort();
        char printed[32];
        snprintf(printed, sizeof printed, "%d_%d_%d", recordingSettings.bitrateKbps,
                 recordingSettings.sampleRate / 1000, recordingSettings.channels);
        if (strcmp(printed, text) != 0)
            abort();
    } else if (recordingSettings.channels != before.channels || recordingSettings.sampleRate != before.sampleRate ||
               recordingSettings.bitrateKbps != before.bitrateKbps ||
               recordingSettings.sampleRateIndex != before.sampleRateIndex) {
        abort();
    }
    free(text);
    return 0;
}
