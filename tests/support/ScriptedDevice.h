#pragma once
// A wave-input device, clock and power request that a test scripts, installed in the recording's
// seams (waveInput).
#include <windows.h>
#include <mmsystem.h>

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

// The scripted device, as strict as Windows documents wave input: buffers come back only when the
// test says so, or on reset (the one being filled with its bytes so far, the rest empty); a closed
// handle, an unprepared header, unpreparing a buffer still in the device and closing while one is
// there are refused, and nothing is posted after the close notification. A call that Windows would
// refuse counts as a misuse unless the device was made to fail. An open gives the lowest handle
// value not in use, so a closed device's value comes back, as Windows may do; a handle that was not
// closed keeps what it holds.
struct ScriptedDevice {
    HWND dialog;
    bool refuseOpen, refuseStart, refuseAdd, refuseClose;
    bool preparesAfterTheDriverLeft;  // the open succeeded, but the driver answers MMSYSERR_NODRIVER
    bool lost;  // absent: hands nothing back, not even on reset, and cannot be opened
    bool resetFails;
    bool resetBlocks;  // a driver that hangs in its reset until resetReleased is set
    bool unprepareFails;  // the driver left: unprepare answers MMSYSERR_NODRIVER
    bool silentClose;  // closes without its notification
    bool quiet;  // a muted input: its buffers hold quietLevel throughout
    SHORT quietLevel;  // zero, or a converter's offset
    std::vector<std::wstring> names;  // the devices present, by number
    std::vector<std::wstring> identities;  // their endpoints', by number; none before Windows 7
    UINT preferred;  // the default device's number
    std::vector<UINT> openedIds;  // each open's device number, WAVE_MAPPER for the mapper's choice
    int opensToRefuse, closesToRefuse;
    HWAVEIN handle;  // the latest open
    std::map<HWAVEIN, std::deque<WAVEHDR*>> open;  // the open handles and the buffers each holds
    std::deque<WAVEHDR*> held;  // those of the latest handle
    std::set<WAVEHDR*> prepared;
    std::vector<DWORD> opensAt;  // on the clock since the start
    std::vector<size_t> handlesOpenAtOpens;
    int resets;
    int misuses;
    DWORD now;
    DWORD msPerReading;
    DWORD bytesAtReset;
    // What a lost device wrote to the buffer it was filling; its reset fails, as Wine's does once
    // its sound server has gone.
    DWORD bytesWrittenWhenLost;
    std::vector<EXECUTION_STATE> executionStates;
    std::vector<std::wstring> shutdownBlocks;  // each reason set, and an empty one for each cleared
};
extern ScriptedDevice device;
// Set to let a reset that blocks (resetBlocks) return.
extern HANDLE resetReleased;
// Like XP, away mode is refused when asked to; a portable computer runs on its battery.
extern bool refuseAwayMode;
extern bool onBattery;

const DWORD kStartClock = 0xFFFFF000;  // the clock wraps during the recording
const DWORD kFirstHandle = 0x5A5A;
const LPARAM kCloseAppRequest = 0x00000001;
HWAVEIN const kDevice = reinterpret_cast<HWAVEIN>(kFirstHandle);
// What a buffer being filled holds when a reset hands it back.
const DWORD kPartialBytes = 12000;

// True when the device was made to fail: a call Windows would refuse is then no misuse.
bool Failing();

// The device hands back header, with bytes of audio, by its notification.
void HandBack(HWAVEIN handle, WAVEHDR* header, DWORD bytes);

// One line-in, its clock at the start, a partial buffer at every reset.
ScriptedDevice FreshDevice();

// A fresh device in waveInput, on a desktop computer that grants away mode.
void InstallScriptedDevice();
