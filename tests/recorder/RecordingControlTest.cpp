// The recording control driven through the real dialog with a scripted wave-input device and
// clock, and the fake encoder library, so that every ending of a recording can be produced.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <vector>
#include <string>

#include "encoding/EncoderLibrary.h"
#include "encoding/EncoderWorker.h"
#include "recorder/CaptureDevice.h"
#include "recorder/RecorderDialog.h"
#include "recorder/RecorderView.h"
#include "recorder/RecordingControl.h"
#include "recorder/RecordingInput.h"
#include "recorder/WaveInput.h"
#include "resources/resource.h"
#include "startup/RecordingSettings.h"
#include "startup/StartupOptions.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/WindowsPaths.h"

namespace {

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
    bool lost;  // absent: hands nothing back, not even on reset, and cannot be opened
    bool resetFails;
    bool silentClose;  // closes without its notification
    int opensToRefuse, closesToRefuse;
    HWAVEIN handle;  // the latest open
    std::map<HWAVEIN, std::deque<WAVEHDR*>> open;  // the open handles and the buffers each holds
    std::deque<WAVEHDR*> held;  // those of the latest handle
    std::set<WAVEHDR*> prepared;
    std::vector<DWORD> opensAt;  // on the clock since the start
    int resets;
    int misuses;
    DWORD now;
    DWORD bytesAtReset;
    std::vector<EXECUTION_STATE> executionStates;
    std::vector<std::wstring> shutdownBlocks;  // each reason set, and an empty one for each cleared
};
ScriptedDevice device;
const DWORD kStartClock = 0xFFFFF000;  // the clock wraps during the recording
const DWORD kFirstHandle = 0x5A5A;
HWAVEIN const kDevice = reinterpret_cast<HWAVEIN>(kFirstHandle);

bool Failing()
{
    return device.lost || device.resetFails || device.refuseAdd || device.refuseClose || device.silentClose ||
           device.closesToRefuse > 0;
}

MMRESULT Refuse(MMRESULT result)
{
    device.misuses += !Failing();
    return result;
}

// What the handle holds, or null for a handle that is not open.
std::deque<WAVEHDR*>* HeldBy(HWAVEIN handle)
{
    if (handle == device.handle && device.open.count(handle))
        return &device.held;
    auto found = device.open.find(handle);
    return found == device.open.end() ? nullptr : &found->second;
}

void HandBack(HWAVEIN handle, WAVEHDR* header, DWORD bytes)
{
    EXPECT_TRUE(HeldBy(handle)) << "a notification after the close";
    header->dwBytesRecorded = bytes;
    header->dwFlags |= WHDR_DONE;
    // Audio, so that the encoder can tell it from the silence that stands in for a gap.
    memset(header->lpData, 0x11, bytes < header->dwBufferLength ? bytes : header->dwBufferLength);
    PostMessageA(device.dialog, MM_WIM_DATA, reinterpret_cast<WPARAM>(handle), reinterpret_cast<LPARAM>(header));
}

MMRESULT WINAPI Open(HWAVEIN* handle, UINT, const WAVEFORMATEX*, DWORD_PTR callback, DWORD_PTR, DWORD)
{
    device.opensAt.push_back(device.now - kStartClock);
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

MMRESULT WINAPI Prepare(HWAVEIN handle, WAVEHDR* header, UINT)
{
    if (!HeldBy(handle))
        return Refuse(MMSYSERR_INVALHANDLE);
    header->dwFlags |= WHDR_PREPARED;
    device.prepared.insert(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Unprepare(HWAVEIN handle, WAVEHDR* header, UINT)
{
    std::deque<WAVEHDR*>* held = HeldBy(handle);
    if (!held)
        return Refuse(MMSYSERR_INVALHANDLE);
    if (std::find(held->begin(), held->end(), header) != held->end())
        return Refuse(WAVERR_STILLPLAYING);
    header->dwFlags &= ~WHDR_PREPARED;
    device.prepared.erase(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Add(HWAVEIN handle, WAVEHDR* header, UINT)
{
    std::deque<WAVEHDR*>* held = HeldBy(handle);
    if (!held)
        return Refuse(MMSYSERR_INVALHANDLE);
    if (!(header->dwFlags & WHDR_PREPARED))
        return Refuse(WAVERR_UNPREPARED);
    if (device.refuseAdd)
        return MMSYSERR_NOMEM;
    header->dwFlags &= ~WHDR_DONE;
    held->push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Start(HWAVEIN handle)
{
    if (!HeldBy(handle))
        return Refuse(MMSYSERR_INVALHANDLE);
    return device.refuseStart ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
}

MMRESULT WINAPI Reset(HWAVEIN handle)
{
    std::deque<WAVEHDR*>* held = HeldBy(handle);
    if (!held)
        return Refuse(MMSYSERR_INVALHANDLE);
    ++device.resets;
    if (device.resetFails)
        return MMSYSERR_NODRIVER;
    for (bool first = true; !device.lost && !held->empty(); first = false) {
        HandBack(handle, held->front(), first ? device.bytesAtReset : 0);
        held->pop_front();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Close(HWAVEIN handle)
{
    std::deque<WAVEHDR*>* held = HeldBy(handle);
    if (!held)
        return Refuse(MMSYSERR_INVALHANDLE);
    if (!held->empty())
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
}

DWORD WINAPI Now()
{
    return device.now;
}

BOOL WINAPI BlockShutdown(HWND, LPCWSTR reason)
{
    device.shutdownBlocks.push_back(reason);
    return TRUE;
}

BOOL WINAPI UnblockShutdown(HWND)
{
    device.shutdownBlocks.push_back(std::wstring());
    return TRUE;
}

// Records each request; like XP, refuses away mode when asked to.
bool refuseAwayMode = false;
EXECUTION_STATE WINAPI SetExecutionState(EXECUTION_STATE state)
{
    const EXECUTION_STATE kAwayMode = 0x40;
    device.executionStates.push_back(state);
    return refuseAwayMode && (state & kAwayMode) ? 0 : ES_CONTINUOUS;
}

// From Record until capture has ended.
bool Recording()
{
    return recordingState.stage == kRecording || recordingState.stage == kStopping;
}

typedef const char*(MPGE_CALL* FakeCalls)(void);

// What the fake encoder was asked to do since the library was loaded.
std::string EncoderCalls()
{
    FakeCalls calls =
        reinterpret_cast<FakeCalls>(reinterpret_cast<void (*)()>(GetProcAddress(encoderLibrary.module, "FakeCalls")));
    return calls();
}

class RecordingControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device = ScriptedDevice{};
        device.now = kStartClock;
        device.bytesAtReset = kPartialBytes;
        refuseAwayMode = false;
        // An earlier case's end of the session or unattended run leaves no deadline behind.
        DismissMessagesAfter(kNoDeadline);
        waveInput = {Open, Prepare, Unprepare, Add, Start, Reset, Close, Now, SetExecutionState, BlockShutdown,
                     UnblockShutdown};
        ASSERT_TRUE(EnterFolder(FAKES_DIR "/recording"));
        ASSERT_EQ(0, LoadEncoderLibrary());
        startupOptions = StartupOptions{};
        lstrcpyA(startupOptions.outputPath, "recording.mp3");
        recordingSettings = RecordingSettings{1, 22050, 80, 1};
        OpenWindow();
    }
    void OpenWindow()
    {
        dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_RECORDER), nullptr,
                                     RecorderDialogProcedure, 0);
        ASSERT_NE(nullptr, dialog_);
    }
    void TearDown() override
    {
        if (IsWindow(dialog_))
            DestroyWindow(dialog_);
        Pump();
        UnloadEncoderLibrary();
        EXPECT_EQ(0, device.misuses) << "the device was used as Windows would refuse";
        if (!Failing()) {
            EXPECT_TRUE(device.prepared.empty()) << "a buffer was not unprepared before the close";
        }
    }

    // Handles every waiting message, as the program's loop would between two device events.
    void Pump()
    {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT)
                DispatchMessageA(&message);
        }
    }

    void Click(int control)
    {
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED), 0);
        Pump();
    }

    // The device hands back the buffer it was filling, full, at the given clock reading.
    void SecondPasses(DWORD clock)
    {
        ASSERT_FALSE(device.held.empty());
        device.now = clock;
        WAVEHDR* header = device.held.front();
        device.held.pop_front();
        HandBack(device.handle, header, header->dwBufferLength);
        Pump();
    }

    std::string Text(int control)
    {
        char text[64];
        GetDlgItemTextA(dialog_, control, text, sizeof text);
        return text;
    }

    bool Enabled(int control) { return IsWindowEnabled(GetDlgItem(dialog_, control)) != FALSE; }

    void Tick(DWORD msSinceStart)
    {
        device.now = kStartClock + msSinceStart;
        SendMessageA(dialog_, WM_TIMER, kWatchdogTimer, 0);
        Pump();
    }

public:
    static const DWORD kPartialBytes = 12000;

protected:
    HWND dialog_ = nullptr;
};

TEST_F(RecordingControlTest, StopCompletesWhenBothBuffersComeBackWithData)
{
    Click(IDC_RECORD);
    ASSERT_TRUE(Recording());
    EXPECT_EQ("Stop", Text(IDC_RECORD));
    EXPECT_FALSE(Enabled(IDC_44KHZ));
    // The first second is handed back but not yet handled when Stop is clicked.
    WAVEHDR* full = device.held.front();
    device.held.pop_front();
    HandBack(device.handle, full, full->dwBufferLength);
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
    Pump();
    EXPECT_TRUE(device.open.empty());
    EXPECT_FALSE(Recording());
    EXPECT_EQ("Recode", Text(IDC_RECORD));
    EXPECT_TRUE(Enabled(IDC_SAVE)) << "the worker ended with 0";
    EXPECT_TRUE(Enabled(IDC_44KHZ));
    EXPECT_EQ(nullptr, currentQueue);
}

TEST_F(RecordingControlTest, StopInTheFirstSecondKeepsThePartialBuffer)
{
    Click(IDC_RECORD);
    Click(IDC_RECORD);
    EXPECT_EQ(1, device.resets);
    EXPECT_TRUE(device.open.empty());
    EXPECT_EQ("Recode", Text(IDC_RECORD));
    EXPECT_TRUE(Enabled(IDC_SAVE));
}

TEST_F(RecordingControlTest, OddAnswersOfTheListAndTheDriverStayInBounds)
{
    SendDlgItemMessageA(dialog_, IDC_BITRATE, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    Click(IDC_RECORD);
    EXPECT_EQ(8, recordingSettings.bitrateKbps) << "no selection takes the row's first bitrate";
    // A driver that claims three times the buffer: only the buffer is queued.
    WAVEHDR* header = device.held.front();
    device.held.pop_front();
    HandBack(device.handle, header, header->dwBufferLength * 3);
    Pump();
    Click(IDC_RECORD);
    const std::string calls = EncoderCalls();
    const int frames = (22050 * 2 + kPartialBytes) / 4608 + 1;
    EXPECT_NE(std::string::npos, calls.find("frames=" + std::to_string(frames) + " close")) << calls;
}

TEST_F(RecordingControlTest, DeviceThatCannotBeOpenedOrStartedLeavesTheWindowIdle)
{
    DeleteFileA(startupOptions.outputPath);
    for (bool opens : {false, true}) {
        device.refuseOpen = !opens;
        device.refuseStart = opens;
        MessageRecorder messages;
        Click(IDC_RECORD);
        EXPECT_FALSE(Recording()) << opens;
        EXPECT_EQ("Record", Text(IDC_RECORD));
        EXPECT_TRUE(Enabled(IDC_MONO));
        EXPECT_TRUE(Enabled(IDC_BITRATE));
        EXPECT_FALSE(Enabled(IDC_SAVE));
        EXPECT_EQ(nullptr, currentQueue);
        EXPECT_EQ(nullptr, recordingState.worker);
        EXPECT_EQ("", EncoderCalls()) << "no worker, so the output file is left alone";
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(startupOptions.outputPath)) << "and none is left behind";
        EXPECT_TRUE(device.open.empty());
        ASSERT_EQ(1u, messages.messages().size());
        EXPECT_EQ(dialog_, messages.messages()[0].owner);
        EXPECT_EQ("録音デバイスを開けませんでした。\nライン入力が使えるか確認してください。", messages.messages()[0].text);
    }
    // The device is back: the next click records.
    device.refuseStart = false;
    Click(IDC_RECORD);
    EXPECT_TRUE(Recording());
    Click(IDC_RECORD);
    EXPECT_FALSE(Recording());
    // An earlier recording's file stays when a start fails.
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(startupOptions.outputPath));
    device.refuseOpen = true;
    {
        MessageRecorder refused;
        Click(IDC_RECORD);
    }
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(startupOptions.outputPath));
    // An unattended run has nobody to click again: it closes after the message.
    startupOptions.timeLimitSeconds = 60;
    startupOptions.exitAfterTimeLimit = 1;
    device.refuseOpen = true;
    MessageRecorder messages;
    Click(IDC_RECORD);
    EXPECT_EQ(1u, messages.messages().size());
    EXPECT_FALSE(IsWindow(dialog_));
}

TEST_F(RecordingControlTest, FiveSecondLimitCountsDownAndStopsAtTheFourthBuffer)
{
    startupOptions.timeLimitSeconds = 5;
    startupOptions.exitAfterTimeLimit = 1;
    Click(IDC_RECORD);
    const char* expected[] = {"00:00:03", "00:00:02", "00:00:01", "00:00:00"};
    for (int second = 1; second <= 4; ++second) {
        device.now = kStartClock + second * 1000 + 10;
        WAVEHDR* header = device.held.front();
        device.held.pop_front();
        header->dwBytesRecorded = header->dwBufferLength;
        header->dwFlags |= WHDR_DONE;
        OnBufferDone(dialog_, kDevice, header);
        EXPECT_EQ(expected[second - 1], Text(IDC_REMAIN)) << second;
        EXPECT_EQ(second == 4, recordingState.clock.timeLimitReached) << second;
    }
    Pump();
    EXPECT_EQ(1, device.resets);
    EXPECT_FALSE(Recording());
    EXPECT_FALSE(IsWindow(dialog_)) << "the program closes after its time limit";
}

TEST_F(RecordingControlTest, LimitBeyondTwentyFiveDaysStopsOnTime)
{
    const DWORD kThirtyDays = 30 * 24 * 3600;
    startupOptions.timeLimitSeconds = kThirtyDays;
    recordingSettings = RecordingSettings{1, 16000, 8, 0};
    ApplySettingsToDialog(dialog_, 1, 16000);
    Click(IDC_RECORD);
    // Days between two buffers would be days of silence to the watchdog; here only the limit counts.
    KillTimer(dialog_, kWatchdogTimer);
    SecondPasses(kStartClock + 1000);
    EXPECT_TRUE(Recording()) << "a long limit must not stop after one second";
    // The clock runs on past its own wrap-around; the dialog only sees one buffer a day here.
    for (DWORD day = 1; day < 30; ++day) {
        SecondPasses(kStartClock + day * 86400000u);
        ASSERT_TRUE(Recording()) << day;
    }
    SecondPasses(kStartClock + kThirtyDays * 1000u - 1500);
    EXPECT_TRUE(Recording());
    EXPECT_EQ("00:00:01", Text(IDC_REMAIN));
    SecondPasses(kStartClock + kThirtyDays * 1000u - 500);
    EXPECT_FALSE(Recording());
}

struct SizeMessage {
    int shown;
    bool recordingWhenShown;
};
SizeMessage sizeMessage;

int NoteSizeMessage(HWND, const char*, const char*)
{
    ++sizeMessage.shown;
    sizeMessage.recordingWhenShown = Recording();
    return IDOK;
}

TEST_F(RecordingControlTest, SizeLimitStopsOnceAndReportsAfterTheEnd)
{
    recordingSettings = RecordingSettings{2, 48000, 320, 5};
    ApplySettingsToDialog(dialog_, 2, 48000);
    Click(IDC_RECORD);
    const DWORD kBytesPerBuffer = 320 * 1000 / 8;
    const DWORD buffersToLimit = kSizeLimitBytes / kBytesPerBuffer + 1;
    // Fourteen hours of buffers handed straight to the control, empty so that they take no memory.
    for (DWORD n = 1; n <= buffersToLimit + 2; ++n) {
        WAVEHDR* header = device.held.front();
        device.held.pop_front();
        header->dwBytesRecorded = 0;
        header->dwFlags |= WHDR_DONE;
        OnBufferDone(dialog_, kDevice, header);
        ASSERT_EQ(n >= buffersToLimit, recordingState.clock.sizeLimitReached) << n;
    }
    int stops = 0;
    MSG message;
    while (PeekMessageA(&message, dialog_, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
        stops += LOWORD(message.wParam) == IDC_RECORD;
        DispatchMessageA(&message);
    }
    EXPECT_EQ(1, stops);
    sizeMessage = {};
    MessageSink previous = SetMessageSink(NoteSizeMessage);
    Pump();
    SetMessageSink(previous);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(1, sizeMessage.shown);
    EXPECT_FALSE(sizeMessage.recordingWhenShown) << "the message waits for the end of the recording";
}

TEST_F(RecordingControlTest, WorkerStopAfterTheUsersStopDoesNotStartARecording)
{
    Click(IDC_RECORD);
    Click(IDC_RECORD);
    ASSERT_FALSE(Recording());
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_RECORD, kStopOnlyNotification), 0);
    Pump();
    EXPECT_FALSE(Recording());
    EXPECT_TRUE(device.open.empty());
}

TEST_F(RecordingControlTest, ClosingDuringARecordingFinishesItThenDestroysTheWindow)
{
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    SendMessageA(dialog_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(dialog_)) << "the recording ends first";
    Pump();
    EXPECT_FALSE(IsWindow(dialog_));
    EXPECT_TRUE(device.open.empty());
}

// A new scripted device for the next case; handles still open keep what they hold.
void NextCase()
{
    ScriptedDevice next{};
    next.open = device.open;
    if (next.open.count(device.handle))
        next.open[device.handle] = device.held;
    next.dialog = device.dialog;
    next.misuses = device.misuses;
    next.now = kStartClock;
    next.bytesAtReset = RecordingControlTest::kPartialBytes;
    device = next;
}

struct Encoded {
    double seconds, silentSeconds;
};

// What the fake encoder took at 22050 Hz mono: 4608-byte blocks, the last one padded.
Encoded EncodedAt22kMono()
{
    const std::string calls = EncoderCalls();
    const size_t silent = calls.rfind("silent=");
    const size_t frames = calls.rfind("frames=");
    if (silent == std::string::npos || frames == std::string::npos)
        return {-1, -1};
    const double kBytesPerSecond = 44100;
    return {atoi(calls.c_str() + frames + 7) * 4608 / kBytesPerSecond,
            atoi(calls.c_str() + silent + 7) * 4608 / kBytesPerSecond};
}

// Failures of the device while the recording stops: the stop still completes with every byte it
// delivered, and nothing is said, since nothing was lost.
TEST_F(RecordingControlTest, DeviceFaultsDuringTheStopStillEndTheRecording)
{
    struct Fault {
        const char* name;
        bool ScriptedDevice::*flag;
        DWORD latestEndMs;  // on the clock since the start; Stop is clicked at 1000
        bool buffersLeftInDevice;
    };
    const Fault kFaults[] = {
        {"reset fails", &ScriptedDevice::resetFails, 1000, true},
        {"close refused", &ScriptedDevice::refuseClose, 1000, false},
        {"close never notified", &ScriptedDevice::silentClose, 1000 + kDeviceAnswerMs + 1000, false},
    };
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        NextCase();
        MessageRecorder messages;
        Click(IDC_RECORD);
        SecondPasses(kStartClock + 1000);
        device.*fault.flag = true;
        WAVEHDR* kept = device.held.front();
        Click(IDC_RECORD);
        DWORD endedAt = 1000;
        for (DWORD tick = 2000; Recording() && tick < 20000; tick += kWatchdogPeriodMs) {
            Tick(tick);
            endedAt = tick;
        }
        EXPECT_LE(endedAt, fault.latestEndMs);
        EXPECT_FALSE(Recording());
        EXPECT_EQ("Recode", Text(IDC_RECORD));
        EXPECT_TRUE(Enabled(IDC_SAVE)) << "the worker completed the file";
        EXPECT_GE(EncodedAt22kMono().seconds, 1.0);
        EXPECT_TRUE(messages.messages().empty());
        if (fault.buffersLeftInDevice) {
            EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, kept) && HeapValidate(GetProcessHeap(), 0, kept->lpData))
                << "a buffer the device still holds is never freed";
        }
        EXPECT_EQ(static_cast<EXECUTION_STATE>(ES_CONTINUOUS), device.executionStates.back()) << "sleep allowed again";
        EXPECT_EQ(0, device.misuses);
    }
}

// A device lost during a recording costs silence, not the recording: the file keeps the wall
// clock, the device is opened again on its cadence, and the window says afterwards what was filled.
TEST_F(RecordingControlTest, LostDeviceIsBridgedWithSilenceAndOpenedAgain)
{
    struct Loss {
        const char* name;
        bool refusesABuffer;  // at 2000; otherwise it stops delivering after the first second
        bool finishedButUnhandled;  // the watchdog's tick finds a buffer done and not yet handled
        int closesToRefuse, opensToRefuse;
        DWORD backAtMs;  // when the device can be had again
        std::vector<DWORD> opensAt;
        DWORD stopAtMs;
        const char* silence;
    };
    const DWORD kAbsentMs = 12000;
    const Loss kLosses[] = {
        {"vanishes for eleven seconds", false, false, 0, 0, kAbsentMs, {0, 5000, 7000, 9000, 11000, 13000}, 16000,
         "00:00:12"},
        {"refuses a buffer", true, false, 0, 0, 3000, {0, 2000, 4000}, 7000, "00:00:01"},
        {"its close keeps failing", true, false, 2, 0, 3000, {0, 2000, 4000}, 7000, "00:00:01"},
        {"reopens fail several times", true, false, 0, 3, 3000, {0, 2000, 4000, 6000, 8000}, 11000, "00:00:05"},
        {"a finished buffer waits at the loss", false, true, 0, 0, 4000, {0, 5000}, 8000, "00:00:02"},
    };
    for (const Loss& loss : kLosses) {
        SCOPED_TRACE(loss.name);
        NextCase();
        refuseAwayMode = loss.closesToRefuse > 0;
        MessageRecorder messages;
        Click(IDC_RECORD);
        const EXECUTION_STATE kAwake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED, kAwayMode = 0x40;
        std::vector<EXECUTION_STATE> asked = {kAwake | kAwayMode};
        if (refuseAwayMode)
            asked.push_back(kAwake);
        EXPECT_EQ(asked, device.executionStates) << "the system stays awake, with away mode where it is accepted";
        SecondPasses(kStartClock + 1000);
        device.closesToRefuse = loss.closesToRefuse;
        device.opensToRefuse = loss.opensToRefuse;
        device.lost = !loss.refusesABuffer && !loss.finishedButUnhandled;
        bool redSeen = false;
        for (DWORD ms = 2000; ms <= loss.stopAtMs; ms += kWatchdogPeriodMs) {
            device.now = kStartClock + ms;
            if (ms == loss.backAtMs)
                device.lost = device.refuseAdd = false;
            const bool capturing = CurrentCaptureStage() == kCapturing && !device.held.empty();
            if (ms == 2000 && loss.refusesABuffer) {
                device.refuseAdd = true;
                SecondPasses(device.now);
            } else if (ms == loss.backAtMs && loss.finishedButUnhandled) {
                HandBack(device.handle, device.held.front(), device.held.front()->dwBufferLength);
                device.held.pop_front();
            } else if (capturing && ms > loss.opensAt.back()) {
                SecondPasses(device.now);
            }
            if (ms == loss.stopAtMs)
                break;
            SendMessageA(dialog_, WM_TIMER, kWatchdogTimer, 0);
            redSeen |= IsWaitingForInput();
            Pump();
            ASSERT_TRUE(Recording()) << ms;
            if (ms == loss.opensAt.back()) {
                // A late notification of the lost device that names the new one's handle and buffer.
                PostMessageA(dialog_, MM_WIM_DATA, reinterpret_cast<WPARAM>(device.handle),
                             reinterpret_cast<LPARAM>(device.held.front()));
                Pump();
                EXPECT_EQ(2u, device.held.size()) << "a buffer the device has not finished is not taken";
            }
        }
        EXPECT_TRUE(redSeen);
        EXPECT_FALSE(IsWaitingForInput()) << "audio flows again";
        Click(IDC_RECORD);
        EXPECT_FALSE(Recording());
        EXPECT_EQ(loss.opensAt, device.opensAt) << "the device is opened again on its cadence";
        const Encoded encoded = EncodedAt22kMono();
        EXPECT_GE(encoded.seconds, loss.stopAtMs / 1000.0 - 0.5) << "the file keeps the wall clock";
        EXPECT_LE(encoded.seconds, loss.stopAtMs / 1000.0 + 2.5);
        EXPECT_NEAR(atoi(loss.silence + 6), encoded.silentSeconds, 1.0);
        ASSERT_EQ(1u, messages.messages().size());
        EXPECT_EQ(std::string("録音中に入力が 1 回途切れました。無音で補った時間: ") + loss.silence, messages.messages()[0].text);
        EXPECT_EQ(dialog_, messages.messages()[0].owner);
        EXPECT_TRUE(Enabled(IDC_SAVE));
        EXPECT_TRUE(device.open.empty()) << "no handle is left open";
        EXPECT_EQ(static_cast<EXECUTION_STATE>(ES_CONTINUOUS), device.executionStates.back());
    }
}

// Every ending works in a gap: the file is as long as the recording ran, or as its limit.
TEST_F(RecordingControlTest, EndingsDuringAGapKeepTheWallClock)
{
    enum Ending { kClickStop, kCloseWindow, kLimit, kSessionEnd, kSleepPastTheLimit };
    struct Case {
        const char* name;
        Ending ending;
        DWORD limitSeconds;
        double seconds;
        bool message;
        bool windowStays;
    };
    const Case kCases[] = {
        {"Stop", kClickStop, 0, 5, true, true},
        {"closing the window", kCloseWindow, 0, 5, true, false},
        {"the time limit", kLimit, 8, 8, false, false},
        {"the end of the session", kSessionEnd, 0, 5, false, true},
        // By the last-second rule, the limit or a second less.
        {"a sleep past the limit", kSleepPastTheLimit, 8, 7.6, false, false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        if (!IsWindow(dialog_))
            OpenWindow();
        NextCase();
        startupOptions.timeLimitSeconds = c.limitSeconds;
        startupOptions.exitAfterTimeLimit = c.limitSeconds > 0;
        MessageRecorder messages;
        Click(IDC_RECORD);
        SecondPasses(kStartClock + 1000);
        if (c.ending == kSleepPastTheLimit) {
            SecondPasses(kStartClock + 2000);
            Tick(60000);
        } else {
            device.refuseAdd = true;
            SecondPasses(kStartClock + 2000);
            device.lost = true;
            for (DWORD ms = 3000; ms <= 5000; ms += kWatchdogPeriodMs)
                Tick(ms);
            EXPECT_TRUE(IsWaitingForInput());
        }
        if (c.ending == kClickStop)
            Click(IDC_RECORD);
        else if (c.ending == kCloseWindow)
            SendMessageA(dialog_, WM_CLOSE, 0, 0);
        else if (c.ending == kSessionEnd)
            SendMessageA(dialog_, WM_ENDSESSION, TRUE, 0);
        for (DWORD ms = 6000; c.ending == kLimit && Recording() && ms < 20000; ms += kWatchdogPeriodMs)
            Tick(ms);
        Pump();
        EXPECT_FALSE(Recording());
        EXPECT_NEAR(c.seconds, EncodedAt22kMono().seconds, 0.5);
        EXPECT_EQ(c.message, messages.messages().size() == 1);
        EXPECT_EQ(c.windowStays, IsWindow(dialog_) != FALSE);
        device.lost = device.refuseAdd = false;
    }
}

int stopsDuringTheMessage = 0;
HWND dialogUnderTest = nullptr;

// The queue's allocation message runs a message loop while the buffer is in hand; Stop clicked
// there must neither release that buffer nor end the recording under it.
int ClickStopDuringTheMessage(HWND, const char*, const char*)
{
    ++stopsDuringTheMessage;
    SendMessageA(dialogUnderTest, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    return IDOK;
}

TEST_F(RecordingControlTest, MessageLoopInsideABufferLeavesItHeldUntilItIsDone)
{
    Click(IDC_RECORD);
    WAVEHDR* header = device.held.front();
    device.held.pop_front();
    HandBack(device.handle, header, header->dwBufferLength);
    // A length the queue cannot find storage for: its message comes before any byte is copied.
    header->dwBufferLength = header->dwBytesRecorded = 0x7FFFFFF0;
    dialogUnderTest = dialog_;
    MessageSink previous = SetMessageSink(ClickStopDuringTheMessage);
    Pump();
    SetMessageSink(previous);
    EXPECT_EQ(1, stopsDuringTheMessage);
    EXPECT_FALSE(Recording()) << "the stop completed once the buffer was let go";
    EXPECT_TRUE(device.open.empty());
    EXPECT_TRUE(device.prepared.empty());
    EXPECT_TRUE(Enabled(IDC_SAVE));
}

TEST_F(RecordingControlTest, TimeLimitIsKeptWhenTheDeviceStopsAnswering)
{
    startupOptions.timeLimitSeconds = 3;
    startupOptions.exitAfterTimeLimit = 1;
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    EXPECT_EQ("00:00:02", Text(IDC_REMAIN));
    device.lost = true;
    MessageRecorder messages;
    DWORD endedAt = 0;
    for (DWORD ms = 2000; IsWindow(dialog_) && ms < 20000; ms += kWatchdogPeriodMs) {
        Tick(ms);
        endedAt = ms;
    }
    EXPECT_GE(endedAt, 3000u);
    EXPECT_LE(endedAt, 3000 + kLimitGraceMs) << "the limit ends the recording without a buffer";
    EXPECT_NEAR(3.0, EncodedAt22kMono().seconds, 0.4) << "silence up to the limit";
    EXPECT_TRUE(messages.messages().empty()) << "nobody is there past the limit";
}

TEST_F(RecordingControlTest, SessionEndCompletesTheFileBeforeItReturns)
{
    EXPECT_TRUE(SendMessageA(dialog_, WM_QUERYENDSESSION, 0, 0)) << "the end of the session is never refused";
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    MessageRecorder messages;
    SendMessageA(dialog_, WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(nullptr, recordingState.worker) << "the worker has ended";
    EXPECT_TRUE(device.open.empty());
    EXPECT_TRUE(Enabled(IDC_SAVE));
    const std::string calls = EncoderCalls();
    const int frames = (22050 * 2 + kPartialBytes) / 4608 + 1;
    EXPECT_NE(std::string::npos, calls.find("frames=" + std::to_string(frames) + " close")) << calls;
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_EQ((std::vector<std::wstring>{L"録音ファイルを仕上げています。", std::wstring()}), device.shutdownBlocks)
        << "Windows is told why the session waits, and then that it no longer does";
}

// Another program clicks Record and closes the window while the file is being completed, then the
// session ends.
DWORD WINAPI SendWhileTheFileIsCompleted(void* dialogWindow)
{
    const DWORD kSecondMs = 1000;
    HWND dialog = static_cast<HWND>(dialogWindow);
    Sleep(kSecondMs);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    SendMessageA(dialog, WM_ENDSESSION, TRUE, 0);
    return 0;
}

typedef void(MPGE_CALL* FakeSetResults)(MpgeResult, MpgeResult, int, MpgeResult);

// The encoder fails and its real message waits for a user while the window waits for the worker:
// the window still answers what is sent to it. Record waits its turn, the close comes once the
// file is complete, and the end of the session dismisses the message at once and returns once the
// worker has ended.
TEST_F(RecordingControlTest, SentMessagesWhileTheFileIsCompletedAreAnsweredInTurn)
{
    FakeSetResults setResults = reinterpret_cast<FakeSetResults>(
        reinterpret_cast<void (*)()>(GetProcAddress(encoderLibrary.module, "FakeSetResults")));
    setResults(kMpgeOk, kMpgeOk, 2, kMpgeOk);
    Click(IDC_RECORD);
    const DWORD started = GetTickCount();
    HANDLE sender = CreateThread(nullptr, 0, SendWhileTheFileIsCompleted, dialog_, 0, nullptr);
    SecondPasses(kStartClock + 1000);
    for (int poll = 0; IsWindow(dialog_) && poll < 200; ++poll) {
        Pump();
        Sleep(50);
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sender, 10000)) << "every sent message was answered";
    CloseHandle(sender);
    EXPECT_LT(GetTickCount() - started, 8000u);
    EXPECT_EQ(nullptr, recordingState.worker);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(1u, device.opensAt.size()) << "no recording started under the one being completed";
    EXPECT_FALSE(IsWindow(dialog_)) << "the close came once the file was complete";
}

}  // namespace

