#include "recorder/UnclosedDevices.h"

#include "recorder/WaveInput.h"

struct UnclosedDevice {
    HWAVEIN device;
    WAVEHDR* kept[kCaptureBuffers];
};

static UnclosedDevice unclosed[kMostUnclosedDevices];

void FreeCaptureBuffer(WAVEHDR* header)
{
    HANDLE heap = GetProcessHeap();
    HeapFree(heap, 0, header->lpData);
    HeapFree(heap, 0, header);
}

void FreeCaptureBuffers(WAVEHDR* kept[kCaptureBuffers])
{
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (kept[slot])
            FreeCaptureBuffer(kept[slot]);
        kept[slot] = nullptr;
    }
}

void KeepUnclosedDevice(HWAVEIN device, WAVEHDR* const kept[kCaptureBuffers])
{
    for (UnclosedDevice& place : unclosed) {
        if (!place.device) {
            place.device = device;
            for (int slot = 0; slot < kCaptureBuffers; ++slot)
                place.kept[slot] = kept[slot];
            return;
        }
    }
}

int CloseUnclosedDevices()
{
    int refusing = 0;
    for (UnclosedDevice& place : unclosed) {
        if (!place.device)
            continue;
        waveInput.reset(place.device);
        if (waveInput.close(place.device) == MMSYSERR_NOERROR) {
            FreeCaptureBuffers(place.kept);
            place.device = nullptr;
        } else {
            ++refusing;
        }
    }
    return refusing;
}

void ForgetUnclosedDevices()
{
    for (UnclosedDevice& place : unclosed)
        place = {};
}
