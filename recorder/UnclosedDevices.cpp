#include "recorder/UnclosedDevices.h"

#include "recorder/WaveInput.h"

struct UnclosedDevice {
    HWAVEIN device;
    WAVEHDR* kept[kCaptureBuffers];
    DWORD keptAs;  // the how-manieth device kept, so that the oldest is known
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

// An empty place, or, with none, the oldest device's.
static UnclosedDevice* PlaceForAnother()
{
    UnclosedDevice* oldest = &unclosed[0];
    for (UnclosedDevice& place : unclosed) {
        if (!place.device)
            return &place;
        if (static_cast<LONG>(place.keptAs - oldest->keptAs) < 0)
            oldest = &place;
    }
    return oldest;
}

void KeepUnclosedDevice(HWAVEIN device, WAVEHDR* const kept[kCaptureBuffers])
{
    static DWORD devicesKept = 0;
    UnclosedDevice* place = PlaceForAnother();
    place->device = device;
    place->keptAs = ++devicesKept;
    for (int slot = 0; slot < kCaptureBuffers; ++slot)
        place->kept[slot] = kept[slot];
}

static void UnprepareKeptBuffers(UnclosedDevice* place)
{
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        WAVEHDR* header = place->kept[slot];
        if (header && waveInput.unprepareHeader(place->device, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
            FreeCaptureBuffer(header);
            place->kept[slot] = nullptr;
        }
    }
}

void CloseUnclosedDevices()
{
    for (UnclosedDevice& place : unclosed) {
        if (!place.device)
            continue;
        waveInput.reset(place.device);
        UnprepareKeptBuffers(&place);
        if (waveInput.close(place.device) == MMSYSERR_NOERROR) {
            FreeCaptureBuffers(place.kept);
            place.device = nullptr;
        }
    }
}

int KeptCaptureBuffers()
{
    int kept = 0;
    for (const UnclosedDevice& place : unclosed) {
        for (WAVEHDR* header : place.kept)
            kept += header != nullptr;
    }
    return kept;
}

void ForgetUnclosedDevices()
{
    for (UnclosedDevice& place : unclosed)
        place = {};
}
