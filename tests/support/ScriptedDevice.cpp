#include "tests/support/ScriptedDevice.h"

#include <mmddk.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "recorder/WaveInput.h"

ScriptedDevice device;
// The device is called from the window's thread and from the thread that tears lost devices down.
static CRITICAL_SECTION deviceLock;
HANDLE resetReleased;
namespace {
struct DeviceCall {
    DeviceCall() { EnterCriticalSection(&deviceLock); }
    ~DeviceCall() { LeaveCriticalSection(&deviceLock); }
};
}  // namespace

bool Failing()
{
    return device.lost || device.resetFails || device.resetBlocks || device.unprepareFails || device.refuseAdd || device.refuseClose || device.silentClose ||
           device.closesToRefuse > 0;
}

static MMRESULT Refuse(MMRESULT result)
{
    device.misuses += !Failing();
    return result;
}

// What the handle holds, or null for a handle that is not open.
static std::deque<WAVEHDR*>* HeldBy(HWAVEIN handle)
{
    if (handle == device.handle && device.open.count(handle))
        return &device.held;
    auto found = device.open.find(handle);
    return found == device.open.end() ? nullptr : &found->second;
}

// Audio, two sample values in turn, so that the encoder can tell it from the silence that stands
// in for a gap and the level from a muted input's.
static void Write(WAVEHDR* header, DWORD bytes)
{
    header->dwBytesRecorded = bytes;
    const BYTE kAudio[] = {0x11, 0x11, 0x55, 0x55};
    const BYTE quiet[] = {LOBYTE(device.quietLevel), HIBYTE(device.quietLevel)};
    for (DWORD index = 0; index < bytes && index < header->dwBufferLength; ++index)
        header->lpData[index] = device.quiet ? quiet[index % sizeof quiet] : kAudio[index % sizeof kAudio];
}

void HandBack(HWAVEIN handle, WAVEHDR* header, DWORD bytes)
{
    EXPECT_TRUE(HeldBy(handle)) << "a notification after the close";
    Write(header, bytes);
    header->dwFlags |= WHDR_DONE;
    PostMessageA(device.dialog, MM_WIM_DATA, reinterpret_cast<WPARAM>(handle), reinterpret_cast<LPARAM>(header));
}

static MMRESULT WINAPI Open(HWAVEIN* handle, UINT id, const WAVEFORMATEX*, DWORD_PTR callback, DWORD_PTR, DWORD flags)
{
    DeviceCall call;
    device.opensAt.push_back(device.now - kStartClock);
    device.handlesOpenAtOpens.push_back(device.open.size());
    device.openedIds.push_back(id);
    // A number of a device that is not present, or one given without the mapper's conversion.
    if (id != WAVE_MAPPER && (id >= device.names.size() || !(flags & WAVE_MAPPED)))
        return Refuse(MMSYSERR_BADDEVICEID);
    if (device.refuseOpen || device.lost)
        return MMSYSERR_NODRIVER;
    if (device.opensToRefuse > 0) {
        --device.opensToRefuse;
        return MMSYSERR_ALLOCATED;
    }
    if (device.open.count(device.handle))
        device.open[device.handle] = device.held;
    device.held.clear();
    device.dialog = reinterpret_cast<HWND>(callback);
    DWORD_PTR free = kFirstHandle;
    while (device.open.count(reinterpret_cast<HWAVEIN>(free)))
        ++free;
    device.handle = reinterpret_cast<HWAVEIN>(free);
    device.open[device.handle];
    *handle = device.handle;
    return MMSYSERR_NOERROR;
}

static UINT WINAPI DeviceCount()
{
    return static_cast<UINT>(device.names.size());
}

static MMRESULT WINAPI DeviceCaps(UINT_PTR id, WAVEINCAPSW* caps, UINT size)
{
    if (id >= device.names.size() || size < sizeof *caps)
        return MMSYSERR_BADDEVICEID;
    *caps = {};
    lstrcpynW(caps->szPname, device.names[id].c_str(), MAXPNAMELEN);
    return MMSYSERR_NOERROR;
}

// The endpoint identity of a device number, as Windows 7 answers it: its size in bytes with the
// terminator (the second parameter unused, zero), then into a buffer of at least that size. Without identities the system predates them.
static MMRESULT IdentityMessage(UINT_PTR id, UINT message, DWORD_PTR first, DWORD_PTR second)
{
    if (device.identities.empty())
        return MMSYSERR_NOTSUPPORTED;
    if (id >= device.identities.size() || !first)
        return Refuse(MMSYSERR_BADDEVICEID);
    const std::wstring& identity = device.identities[id];
    const ULONG size = static_cast<ULONG>((identity.size() + 1) * sizeof(wchar_t));
    if (message == DRV_QUERYFUNCTIONINSTANCEIDSIZE && second != 0)
        return Refuse(MMSYSERR_INVALPARAM);
    if (message == DRV_QUERYFUNCTIONINSTANCEIDSIZE) {
        *reinterpret_cast<ULONG*>(first) = size;
        return MMSYSERR_NOERROR;
    }
    if (second < size)
        return Refuse(MMSYSERR_INVALPARAM);
    memcpy(reinterpret_cast<void*>(first), identity.c_str(), size);
    return MMSYSERR_NOERROR;
}

// The wave mapper's preferred device, and each device's identity, are asked for by number.
static MMRESULT WINAPI DeviceMessage(HWAVEIN target, UINT message, DWORD_PTR first, DWORD_PTR second)
{
    const UINT kPreferredDeviceQuery = 0x2000 + 21;
    const UINT_PTR id = reinterpret_cast<UINT_PTR>(target);
    if (message == DRV_QUERYFUNCTIONINSTANCEID || message == DRV_QUERYFUNCTIONINSTANCEIDSIZE)
        return IdentityMessage(id, message, first, second);
    if (id != WAVE_MAPPER || message != kPreferredDeviceQuery || !first || !second)
        return Refuse(MMSYSERR_NOTSUPPORTED);
    *reinterpret_cast<DWORD*>(first) = device.preferred;
    *reinterpret_cast<DWORD*>(second) = 0;
    return MMSYSERR_NOERROR;
}

// Runs call with what an open handle holds; a handle that is not open is refused, as Windows does.
template <typename Call>
static MMRESULT OnOpenHandle(HWAVEIN handle, Call call)
{
    DeviceCall guard;
    std::deque<WAVEHDR*>* held = HeldBy(handle);
    return held ? call(*held) : Refuse(MMSYSERR_INVALHANDLE);
}

typedef std::deque<WAVEHDR*> Held;

static MMRESULT WINAPI Prepare(HWAVEIN handle, WAVEHDR* header, UINT)
{
    return OnOpenHandle(handle, [&](Held&) -> MMRESULT {
        if (device.preparesAfterTheDriverLeft)
            return MMSYSERR_NODRIVER;
        header->dwFlags |= WHDR_PREPARED;
        device.prepared.insert(header);
        return MMSYSERR_NOERROR;
    });
}

static MMRESULT WINAPI Unprepare(HWAVEIN handle, WAVEHDR* header, UINT)
{
    return OnOpenHandle(handle, [&](Held& held) -> MMRESULT {
        if (device.unprepareFails)
            return MMSYSERR_NODRIVER;
        if (std::find(held.begin(), held.end(), header) != held.end())
            return Refuse(WAVERR_STILLPLAYING);
        header->dwFlags &= ~WHDR_PREPARED;
        device.prepared.erase(header);
        return MMSYSERR_NOERROR;
    });
}

static MMRESULT WINAPI Add(HWAVEIN handle, WAVEHDR* header, UINT)
{
    return OnOpenHandle(handle, [&](Held& held) -> MMRESULT {
        if (!(header->dwFlags & WHDR_PREPARED))
            return Refuse(WAVERR_UNPREPARED);
        if (device.refuseAdd)
            return MMSYSERR_NOMEM;
        header->dwFlags &= ~WHDR_DONE;
        held.push_back(header);
        return MMSYSERR_NOERROR;
    });
}

static MMRESULT WINAPI Start(HWAVEIN handle)
{
    return OnOpenHandle(handle, [](Held&) -> MMRESULT { return device.refuseStart ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR; });
}

static MMRESULT WINAPI Reset(HWAVEIN handle)
{
    if (device.resetBlocks)
        WaitForSingleObject(resetReleased, INFINITE);
    return OnOpenHandle(handle, [&](Held& held) -> MMRESULT {
        ++device.resets;
        if (device.resetFails)
            return MMSYSERR_NODRIVER;
        if (device.lost && device.bytesWrittenWhenLost && !held.empty()) {
            Write(held.front(), device.bytesWrittenWhenLost);
            return MMSYSERR_NODRIVER;
        }
        for (bool first = true; !device.lost && !held.empty(); first = false) {
            HandBack(handle, held.front(), first ? device.bytesAtReset : 0);
            held.pop_front();
        }
        return MMSYSERR_NOERROR;
    });
}

static MMRESULT WINAPI Close(HWAVEIN handle)
{
    return OnOpenHandle(handle, [&](Held& held) -> MMRESULT {
        if (!held.empty())
            return Refuse(WAVERR_STILLPLAYING);
        if (device.refuseClose)
            return MMSYSERR_NODRIVER;
        if (device.closesToRefuse > 0) {
            --device.closesToRefuse;
            return MMSYSERR_NODRIVER;
        }
        if (!device.silentClose)
            PostMessageA(device.dialog, MM_WIM_CLOSE, reinterpret_cast<WPARAM>(handle), 0);
        device.open.erase(handle);
        if (handle == device.handle)
            device.held.clear();
        return MMSYSERR_NOERROR;
    });
}

// A clock that moves only when the test says so, or by msPerReading at every reading.
static DWORD WINAPI Now()
{
    const DWORD now = device.now;
    device.now += device.msPerReading;
    return now;
}

static BOOL WINAPI BlockShutdown(HWND, LPCWSTR reason)
{
    device.shutdownBlocks.push_back(reason);
    return TRUE;
}

static BOOL WINAPI UnblockShutdown(HWND)
{
    device.shutdownBlocks.push_back(std::wstring());
    return TRUE;
}

// Records each request; like XP, refuses away mode when asked to.
bool refuseAwayMode = false;
bool onBattery = false;

// A desktop computer, or a portable one on its battery.
static BOOL WINAPI PowerStatus(SYSTEM_POWER_STATUS* status)
{
    const BYTE kHigh = 1, kNoSystemBattery = 128;
    *status = {};
    status->BatteryFlag = onBattery ? kHigh : kNoSystemBattery;
    return TRUE;
}

static EXECUTION_STATE WINAPI SetExecutionState(EXECUTION_STATE state)
{
    const EXECUTION_STATE kAwayMode = 0x40;
    device.executionStates.push_back(state);
    return refuseAwayMode && (state & kAwayMode) ? 0 : ES_CONTINUOUS;
}


ScriptedDevice FreshDevice()
{
    ScriptedDevice fresh{};
    fresh.now = kStartClock;
    fresh.bytesAtReset = kPartialBytes;
    fresh.names = {L"Line In"};
    return fresh;
}

void InstallScriptedDevice()
{
    static bool lockReady = false;
    if (!lockReady) {
        InitializeCriticalSection(&deviceLock);
        resetReleased = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        lockReady = true;
    }
    device = FreshDevice();
    refuseAwayMode = onBattery = false;
    waveInput = {Open,        Prepare,    Unprepare,        Add,         Start,         Reset,           Close, Now,
                 SetExecutionState, PowerStatus, BlockShutdown, UnblockShutdown, DeviceCount, DeviceCaps, DeviceMessage};
}
