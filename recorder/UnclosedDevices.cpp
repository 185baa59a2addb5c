#include "recorder/UnclosedDevices.h"

#include "recorder/WaveInput.h"

struct UnclosedDevice {
    HWAVEIN device;
    WAVEHDR* kept[kCaptureBuffers];
    DWORD keptAs;  // the how-manieth device kept, so that the oldest is known
};

// The devices, changed under the lock: handed over by the window's thread, torn down by the
// teardown thread, which calls the driver outside the lock.
struct Teardown {
    CRITICAL_SECTION lock;
    UnclosedDevice devices[kMostUnclosedDevices];
    DWORD devicesKept;
    HANDLE thread;
    HANDLE wake;
    volatile LONG asked;  // tries asked for
    volatile LONG served;  // the asked count that the latest finished pass began with
};

static Teardown teardown;
static const DWORD kIdlePollMs = 1;

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

// One try at one device: its reset, each buffer it gives up, its close. True when it closed.
static bool TryToClose(UnclosedDevice* place)
{
    waveInput.reset(place->device);
    for (WAVEHDR*& header : place->kept) {
        if (header && waveInput.unprepareHeader(place->device, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
            FreeCaptureBuffer(header);
            header = nullptr;
        }
    }
    if (waveInput.close(place->device) != MMSYSERR_NOERROR)
        return false;
    FreeCaptureBuffers(place->kept);
    return true;
}

// A device replaced as the oldest while it was being tried is not written back: it was let go.
static void TryEachDevice()
{
    for (int index = 0; index < kMostUnclosedDevices; ++index) {
        EnterCriticalSection(&teardown.lock);
        UnclosedDevice place = teardown.devices[index];
        LeaveCriticalSection(&teardown.lock);
        if (!place.device)
            continue;
        const bool closed = TryToClose(&place);
        EnterCriticalSection(&teardown.lock);
        UnclosedDevice& stored = teardown.devices[index];
        if (stored.device == place.device && stored.keptAs == place.keptAs)
            stored = closed ? UnclosedDevice{} : place;
        LeaveCriticalSection(&teardown.lock);
    }
}

static DWORD WINAPI TearDownDevices(void*)
{
    for (;;) {
        const LONG asked = InterlockedCompareExchange(&teardown.asked, 0, 0);
        TryEachDevice();
        InterlockedExchange(&teardown.served, asked);
        WaitForSingleObject(teardown.wake, kUnclosedRetryMs);
    }
}

// The lock, the event and the thread, made at the first use; false when the thread cannot be had.
static bool TeardownReady()
{
    if (teardown.thread)
        return true;
    if (!teardown.wake) {
        InitializeCriticalSection(&teardown.lock);
        teardown.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    if (teardown.wake)
        teardown.thread = CreateThread(nullptr, 0, TearDownDevices, nullptr, 0, nullptr);
    return teardown.thread != nullptr;
}

static void AskForATry()
{
    InterlockedIncrement(&teardown.asked);
    SetEvent(teardown.wake);
}

// An empty place, or, with none, the oldest device's.
static UnclosedDevice* PlaceForAnother()
{
    UnclosedDevice* oldest = &teardown.devices[0];
    for (UnclosedDevice& place : teardown.devices) {
        if (!place.device)
            return &place;
        if (static_cast<LONG>(place.keptAs - oldest->keptAs) < 0)
            oldest = &place;
    }
    return oldest;
}

void LetGoOfDevice(HWAVEIN device, WAVEHDR* const kept[kCaptureBuffers])
{
    // Without a thread of its own the device is tried here, once; its buffers stay allocated if it refuses.
    if (!TeardownReady()) {
        UnclosedDevice place = {device, {}, 0};
        for (int slot = 0; slot < kCaptureBuffers; ++slot)
            place.kept[slot] = kept[slot];
        TryToClose(&place);
        return;
    }
    EnterCriticalSection(&teardown.lock);
    UnclosedDevice* place = PlaceForAnother();
    place->device = device;
    place->keptAs = ++teardown.devicesKept;
    for (int slot = 0; slot < kCaptureBuffers; ++slot)
        place->kept[slot] = kept[slot];
    LeaveCriticalSection(&teardown.lock);
    AskForATry();
}

void RetryUnclosedDevices(DWORD waitMs)
{
    if (!teardown.thread)
        return;
    AskForATry();
    WaitForUnclosedDevices(waitMs);
}

bool WaitForUnclosedDevices(DWORD timeoutMs)
{
    const DWORD started = GetTickCount();
    while (teardown.thread && InterlockedCompareExchange(&teardown.served, 0, 0) != teardown.asked) {
        if (GetTickCount() - started >= timeoutMs)
            return false;
        Sleep(kIdlePollMs);
    }
    return true;
}

int KeptCaptureBuffers()
{
    if (!teardown.thread)
        return 0;
    int kept = 0;
    EnterCriticalSection(&teardown.lock);
    for (const UnclosedDevice& place : teardown.devices) {
        for (WAVEHDR* header : place.kept)
            kept += header != nullptr;
    }
    LeaveCriticalSection(&teardown.lock);
    return kept;
}

void ForgetUnclosedDevices()
{
    if (!teardown.thread)
        return;
    EnterCriticalSection(&teardown.lock);
    for (UnclosedDevice& place : teardown.devices)
        place = {};
    LeaveCriticalSection(&teardown.lock);
}
