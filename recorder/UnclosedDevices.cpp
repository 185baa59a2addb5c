#include "recorder/UnclosedDevices.h"

#include "recorder/WaveInput.h"

struct UnclosedDevice {
    HWAVEIN device;
    WAVEHDR* kept[kCaptureBuffers];
    // Those of kept a lost device was filling, until its first reset has been tried.
    WAVEHDR* unfinished[kCaptureBuffers];
};

// The audio the window's thread awaits from a lost device's first reset.
struct Rescue {
    HWAVEIN device;  // null when none is awaited
    char* audio;
    DWORD bytes;
    bool ready;
};

// The devices, changed under the lock: handed over by the window's thread, torn down by the
// teardown thread, which calls the driver outside the lock.
struct Teardown {
    CRITICAL_SECTION lock;
    bool lockReady;
    UnclosedDevice devices[kMostUnclosedDevices];
    Rescue rescue;
    HANDLE thread;
    HANDLE wake;
    volatile LONG asked;  // tries asked for
    volatile LONG served;  // the asked count that the latest finished pass began with
    volatile LONG busy;  // inside a driver's call
};

static Teardown teardown;
static const DWORD kIdlePollMs = 1;

// What the device wrote to the buffers it was filling is copied out, in their order, for the
// window's thread if it still waits for it. A driver whose reset fails, as one whose device has
// gone, does not mark them done, yet counts what it wrote; nothing writes there any more but it.
static void RescueUnfinishedAudio(UnclosedDevice* place)
{
    if (!place->unfinished[0])
        return;
    DWORD counts[kCaptureBuffers];
    DWORD bytes = 0;
    for (int slot = 0; slot < kCaptureBuffers; ++slot)
        bytes += counts[slot] = BytesRecordedIn(place->unfinished[slot]);
    char* audio = bytes ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, bytes)) : nullptr;
    DWORD copied = 0;
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (audio && counts[slot])
            CopyMemory(audio + copied, place->unfinished[slot]->lpData, counts[slot]);
        copied += counts[slot];
        place->unfinished[slot] = nullptr;
    }
    EnterCriticalSection(&teardown.lock);
    if (teardown.rescue.device == place->device && !teardown.rescue.ready) {
        teardown.rescue.audio = audio;
        teardown.rescue.bytes = audio ? bytes : 0;
        teardown.rescue.ready = true;
        audio = nullptr;
    }
    LeaveCriticalSection(&teardown.lock);
    FreeRescuedAudio(audio);
}

// One try at one device: its reset, each buffer it gives up, its close. True when it closed.
static bool TryToClose(UnclosedDevice* place)
{
    waveInput.reset(place->device);
    RescueUnfinishedAudio(place);
    return UnprepareAndClose(place->device, place->kept);
}

static void TryEachDevice()
{
    for (int index = 0; index < kMostUnclosedDevices; ++index) {
        EnterCriticalSection(&teardown.lock);
        UnclosedDevice place = teardown.devices[index];
        LeaveCriticalSection(&teardown.lock);
        if (!place.device)
            continue;
        InterlockedExchange(&teardown.busy, 1);
        const bool closed = TryToClose(&place);
        InterlockedExchange(&teardown.busy, 0);
        EnterCriticalSection(&teardown.lock);
        UnclosedDevice& stored = teardown.devices[index];
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
    // A critical section is initialised once only, even when the event could not be made.
    if (!teardown.lockReady) {
        InitializeCriticalSection(&teardown.lock);
        teardown.lockReady = true;
    }
    if (!teardown.wake)
        teardown.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (teardown.wake)
        teardown.thread = CreateThread(nullptr, 0, TearDownDevices, nullptr, 0, nullptr);
    return teardown.thread != nullptr;
}

static void AskForATry()
{
    InterlockedIncrement(&teardown.asked);
    SetEvent(teardown.wake);
}

static UnclosedDevice* EmptyPlace()
{
    for (UnclosedDevice& place : teardown.devices) {
        if (!place.device)
            return &place;
    }
    return nullptr;
}

// A device is opened only while a place is empty, so the one being let go always finds one;
// were none left, its buffers would stay allocated rather than be freed under a driver that may write.
static void HandOverDevice(HWAVEIN device, WAVEHDR* const kept[kCaptureBuffers],
                           WAVEHDR* const unfinished[kCaptureBuffers])
{
    // Without a thread of its own the device is tried here, once; its buffers stay allocated if it refuses.
    if (!TeardownReady()) {
        UnclosedDevice place = {device, {}, {}};
        for (int slot = 0; slot < kCaptureBuffers; ++slot)
            place.kept[slot] = kept[slot];
        TryToClose(&place);
        return;
    }
    EnterCriticalSection(&teardown.lock);
    UnclosedDevice* place = EmptyPlace();
    if (place) {
        place->device = device;
        for (int slot = 0; slot < kCaptureBuffers; ++slot) {
            place->kept[slot] = kept[slot];
            place->unfinished[slot] = unfinished ? unfinished[slot] : nullptr;
        }
    }
    LeaveCriticalSection(&teardown.lock);
    AskForATry();
}

void LetGoOfDevice(HWAVEIN device, WAVEHDR* const kept[kCaptureBuffers])
{
    HandOverDevice(device, kept, nullptr);
}

// Whether done came true within timeoutMs, looked at every kIdlePollMs.
static bool PollFor(bool (*done)(), DWORD timeoutMs)
{
    const DWORD started = GetTickCount();
    while (!done()) {
        if (GetTickCount() - started >= timeoutMs)
            return false;
        Sleep(kIdlePollMs);
    }
    return true;
}

static bool RescueReady()
{
    EnterCriticalSection(&teardown.lock);
    const bool ready = teardown.rescue.ready;
    LeaveCriticalSection(&teardown.lock);
    return ready;
}

DWORD LetGoOfLostDevice(HWAVEIN device, WAVEHDR* const kept[kCaptureBuffers],
                        WAVEHDR* const unfinished[kCaptureBuffers], DWORD waitMs, char** audio)
{
    *audio = nullptr;
    if (waitMs == 0 || !unfinished[0] || !TeardownReady()) {
        LetGoOfDevice(device, kept);
        return 0;
    }
    EnterCriticalSection(&teardown.lock);
    teardown.rescue = Rescue{device, nullptr, 0, false};
    LeaveCriticalSection(&teardown.lock);
    HandOverDevice(device, kept, unfinished);
    PollFor(RescueReady, waitMs);
    EnterCriticalSection(&teardown.lock);
    *audio = teardown.rescue.audio;
    const DWORD bytes = teardown.rescue.bytes;
    teardown.rescue = Rescue{};
    LeaveCriticalSection(&teardown.lock);
    return bytes;
}

void FreeRescuedAudio(char* audio)
{
    if (audio)
        HeapFree(GetProcessHeap(), 0, audio);
}

bool UnclosedDevicesBusy()
{
    return InterlockedCompareExchange(&teardown.busy, 0, 0) != 0;
}

bool UnclosedDevicesFull()
{
    if (!teardown.thread)
        return false;
    EnterCriticalSection(&teardown.lock);
    const bool full = EmptyPlace() == nullptr;
    LeaveCriticalSection(&teardown.lock);
    return full;
}

void RetryUnclosedDevices(DWORD waitMs)
{
    if (!teardown.thread)
        return;
    AskForATry();
    WaitForUnclosedDevices(waitMs);
}

static bool EveryTryServed()
{
    return !teardown.thread || InterlockedCompareExchange(&teardown.served, 0, 0) == teardown.asked;
}

bool WaitForUnclosedDevices(DWORD timeoutMs)
{
    return PollFor(EveryTryServed, timeoutMs);
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

int UnclosedDeviceCount()
{
    if (!teardown.thread)
        return 0;
    int unclosed = 0;
    EnterCriticalSection(&teardown.lock);
    for (const UnclosedDevice& place : teardown.devices)
        unclosed += place.device != nullptr;
    LeaveCriticalSection(&teardown.lock);
    return unclosed;
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
