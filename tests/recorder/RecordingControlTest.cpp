// The recording control driven through the real dialog with a scripted wave-input device and
// clock, and the fake encoder library, so that every ending of a recording can be produced.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <deque>
#include <set>
#include <string>

#include "encoding/EncoderLibrary.h"
#include "encoding/EncoderWorker.h"
#include "recorder/RecorderDialog.h"
#include "recorder/RecordingControl.h"
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
// refuse counts as a misuse unless the device was made to fail.
struct ScriptedDevice {
    HWND dialog;
    bool refuseOpen, refuseStart, refuseAdd, refuseClose;
    bool lost;  // hands nothing back, not even on reset
    bool resetFails;
    bool silentClose;  // closes without its notification
    bool open;
    std::deque<WAVEHDR*> held;
    std::set<WAVEHDR*> prepared;
    int resets;
    int misuses;
    DWORD now;
    DWORD bytesAtReset;
};
ScriptedDevice device;
HWAVEIN const kDevice = reinterpret_cast<HWAVEIN>(0x5A5A);

bool Failing()
{
    return device.lost || device.resetFails || device.refuseAdd || device.refuseClose || device.silentClose;
}

MMRESULT Refuse(MMRESULT result)
{
    device.misuses += !Failing();
    return result;
}

bool InDevice(WAVEHDR* header)
{
    return std::find(device.held.begin(), device.held.end(), header) != device.held.end();
}

void HandBack(WAVEHDR* header, DWORD bytes)
{
    EXPECT_TRUE(device.open) << "a notification after the close";
    header->dwBytesRecorded = bytes;
    header->dwFlags |= WHDR_DONE;
    PostMessageA(device.dialog, MM_WIM_DATA, reinterpret_cast<WPARAM>(kDevice), reinterpret_cast<LPARAM>(header));
}

MMRESULT WINAPI Open(HWAVEIN* handle, UINT, const WAVEFORMATEX*, DWORD_PTR callback, DWORD_PTR, DWORD)
{
    if (device.refuseOpen)
        return MMSYSERR_ALLOCATED;
    device.dialog = reinterpret_cast<HWND>(callback);
    device.open = true;
    *handle = kDevice;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Prepare(HWAVEIN, WAVEHDR* header, UINT)
{
    if (!device.open)
        return Refuse(MMSYSERR_INVALHANDLE);
    header->dwFlags |= WHDR_PREPARED;
    device.prepared.insert(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Unprepare(HWAVEIN, WAVEHDR* header, UINT)
{
    if (!device.open)
        return Refuse(MMSYSERR_INVALHANDLE);
    if (InDevice(header))
        return Refuse(WAVERR_STILLPLAYING);
    header->dwFlags &= ~WHDR_PREPARED;
    device.prepared.erase(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Add(HWAVEIN, WAVEHDR* header, UINT)
{
    if (!device.open)
        return Refuse(MMSYSERR_INVALHANDLE);
    if (!(header->dwFlags & WHDR_PREPARED))
        return Refuse(WAVERR_UNPREPARED);
    if (device.refuseAdd)
        return MMSYSERR_NOMEM;
    header->dwFlags &= ~WHDR_DONE;
    device.held.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Start(HWAVEIN)
{
    if (!device.open)
        return Refuse(MMSYSERR_INVALHANDLE);
    return device.refuseStart ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
}

MMRESULT WINAPI Reset(HWAVEIN)
{
    if (!device.open)
        return Refuse(MMSYSERR_INVALHANDLE);
    ++device.resets;
    if (device.resetFails)
        return MMSYSERR_NODRIVER;
    for (bool first = true; !device.lost && !device.held.empty(); first = false) {
        HandBack(device.held.front(), first ? device.bytesAtReset : 0);
        device.held.pop_front();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Close(HWAVEIN)
{
    if (!device.open)
        return Refuse(MMSYSERR_INVALHANDLE);
    if (!device.held.empty())
        return Refuse(WAVERR_STILLPLAYING);
    if (device.refuseClose)
        return MMSYSERR_NODRIVER;
    if (!device.silentClose)
        PostMessageA(device.dialog, MM_WIM_CLOSE, reinterpret_cast<WPARAM>(kDevice), 0);
    device.open = false;
    return MMSYSERR_NOERROR;
}

DWORD WINAPI Now()
{
    return device.now;
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
        waveInput = {Open, Prepare, Unprepare, Add, Start, Reset, Close, Now};
        ASSERT_TRUE(EnterFolder(FAKES_DIR "/recording"));
        ASSERT_EQ(0, LoadEncoderLibrary());
        startupOptions = StartupOptions{};
        recordingSettings = RecordingSettings{1, 22050, 80, 1};
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
        HandBack(header, header->dwBufferLength);
        Pump();
    }

    std::string Text(int control)
    {
        char text[64];
        GetDlgItemTextA(dialog_, control, text, sizeof text);
        return text;
    }

    bool Enabled(int control) { return IsWindowEnabled(GetDlgItem(dialog_, control)) != FALSE; }

    static const DWORD kStartClock = 0xFFFFF000;  // the clock wraps during the recording
    static const DWORD kPartialBytes = 12000;
    HWND dialog_ = nullptr;
};

TEST_F(RecordingControlTest, StopCompletesWhenBothBuffersComeBackWithData)
{
    Click(IDC_RECORD);
    ASSERT_TRUE(recordingState.recording);
    EXPECT_EQ("Stop", Text(IDC_RECORD));
    EXPECT_FALSE(Enabled(IDC_44KHZ));
    // The first second is handed back but not yet handled when Stop is clicked.
    WAVEHDR* full = device.held.front();
    device.held.pop_front();
    HandBack(full, full->dwBufferLength);
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
    Pump();
    EXPECT_FALSE(device.open);
    EXPECT_FALSE(recordingState.recording);
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
    EXPECT_FALSE(device.open);
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
    HandBack(header, header->dwBufferLength * 3);
    Pump();
    Click(IDC_RECORD);
    const std::string calls = EncoderCalls();
    const int frames = (22050 * 2 + kPartialBytes) / 4608 + 1;
    EXPECT_NE(std::string::npos, calls.find("frames=" + std::to_string(frames) + " close")) << calls;
}

TEST_F(RecordingControlTest, DeviceThatCannotBeOpenedOrStartedLeavesTheWindowIdle)
{
    for (bool opens : {false, true}) {
        device.refuseOpen = !opens;
        device.refuseStart = opens;
        MessageRecorder messages;
        Click(IDC_RECORD);
        EXPECT_FALSE(recordingState.recording) << opens;
        EXPECT_EQ("Record", Text(IDC_RECORD));
        EXPECT_TRUE(Enabled(IDC_MONO));
        EXPECT_TRUE(Enabled(IDC_BITRATE));
        EXPECT_FALSE(Enabled(IDC_SAVE));
        EXPECT_EQ(nullptr, currentQueue);
        EXPECT_EQ(nullptr, recordingState.worker);
        EXPECT_EQ("", EncoderCalls()) << "no worker, so the output file is left alone";
        EXPECT_FALSE(device.open);
        ASSERT_EQ(1u, messages.messages().size());
        EXPECT_EQ(dialog_, messages.messages()[0].owner);
        EXPECT_EQ("録音デバイスを開けませんでした。\nライン入力が使えるか確認してください。", messages.messages()[0].text);
    }
    // The device is back: the next click records.
    device.refuseStart = false;
    Click(IDC_RECORD);
    EXPECT_TRUE(recordingState.recording);
    Click(IDC_RECORD);
    EXPECT_FALSE(recordingState.recording);
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
        OnBufferDone(dialog_, kDevice, header);
        EXPECT_EQ(expected[second - 1], Text(IDC_REMAIN)) << second;
        EXPECT_EQ(second == 4, recordingState.timeLimitHit != 0) << second;
    }
    Pump();
    EXPECT_EQ(1, device.resets);
    EXPECT_FALSE(recordingState.recording);
    EXPECT_FALSE(IsWindow(dialog_)) << "the program closes after its time limit";
}

TEST_F(RecordingControlTest, LimitBeyondTwentyFiveDaysStopsOnTime)
{
    const DWORD kThirtyDays = 30 * 24 * 3600;
    startupOptions.timeLimitSeconds = kThirtyDays;
    recordingSettings = RecordingSettings{1, 16000, 8, 0};
    ApplySettingsToDialog(dialog_, 1, 16000);
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    EXPECT_TRUE(recordingState.recording) << "a long limit must not stop after one second";
    // The clock runs on past its own wrap-around; the dialog only sees one buffer a day here.
    for (DWORD day = 1; day < 30; ++day) {
        SecondPasses(kStartClock + day * 86400000u);
        ASSERT_TRUE(recordingState.recording) << day;
    }
    SecondPasses(kStartClock + kThirtyDays * 1000u - 1500);
    EXPECT_TRUE(recordingState.recording);
    EXPECT_EQ("00:00:01", Text(IDC_REMAIN));
    SecondPasses(kStartClock + kThirtyDays * 1000u - 500);
    EXPECT_FALSE(recordingState.recording);
}

struct SizeMessage {
    int shown;
    bool recordingWhenShown;
};
SizeMessage sizeMessage;

int NoteSizeMessage(HWND, const char*, const char*)
{
    ++sizeMessage.shown;
    sizeMessage.recordingWhenShown = recordingState.recording != 0;
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
        OnBufferDone(dialog_, kDevice, header);
        ASSERT_EQ(n >= buffersToLimit, recordingState.sizeLimitHit != 0) << n;
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
    EXPECT_FALSE(recordingState.recording);
    EXPECT_EQ(1, sizeMessage.shown);
    EXPECT_FALSE(sizeMessage.recordingWhenShown) << "the message waits for the end of the recording";
}

TEST_F(RecordingControlTest, WorkerStopAfterTheUsersStopDoesNotStartARecording)
{
    Click(IDC_RECORD);
    Click(IDC_RECORD);
    ASSERT_FALSE(recordingState.recording);
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_RECORD, kStopOnlyNotification), 0);
    Pump();
    EXPECT_FALSE(recordingState.recording);
    EXPECT_FALSE(device.open);
}

TEST_F(RecordingControlTest, ClosingDuringARecordingFinishesItThenDestroysTheWindow)
{
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    SendMessageA(dialog_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(dialog_)) << "the recording ends first";
    Pump();
    EXPECT_FALSE(IsWindow(dialog_));
    EXPECT_FALSE(device.open);
}

const char kDeviceLostText[] = "録音デバイスからの入力が止まったため、録音を終了しました。";

// Each way a device can fail during a recording or its stop ends the recording as Stop would: every
// byte it delivered is encoded, Save follows the worker, and the window says why.
TEST_F(RecordingControlTest, DeviceFaultsEndTheRecordingWithWhatItDelivered)
{
    struct Fault {
        const char* name;
        bool ScriptedDevice::*flag;
        bool clickStop;
        DWORD earliestEndMs, latestEndMs;  // on the clock since the start; the first second comes back at 1000
        bool buffersLeftInDevice;
    };
    const DWORD kLostNoticed = 1000 + kBufferOverdueMs;
    const Fault kFaults[] = {
        {"lost during capture", &ScriptedDevice::lost, false, kLostNoticed, kLostNoticed + kDeviceAnswerMs + 2000, true},
        {"reset fails at Stop", &ScriptedDevice::resetFails, true, 1000, 1000, true},
        {"buffer refused", &ScriptedDevice::refuseAdd, false, 1000, 1000, false},
        {"close refused", &ScriptedDevice::refuseClose, true, 1000, 1000, false},
        {"close never notified", &ScriptedDevice::silentClose, true, 1000 + kDeviceAnswerMs, 1000 + kDeviceAnswerMs + 2000,
         false},
    };
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        device = ScriptedDevice{};
        device.now = kStartClock;
        device.bytesAtReset = kPartialBytes;
        MessageRecorder messages;
        Click(IDC_RECORD);
        device.*fault.flag = true;
        SecondPasses(kStartClock + 1000);
        if (fault.clickStop)
            Click(IDC_RECORD);
        WAVEHDR* kept = device.held.empty() ? nullptr : device.held.front();
        DWORD endedAt = 1000;
        for (DWORD tick = 2000; recordingState.recording && tick < 20000; tick += kWatchdogPeriodMs) {
            device.now = kStartClock + tick;
            SendMessageA(dialog_, WM_TIMER, kWatchdogTimer, 0);
            Pump();
            endedAt = tick;
        }
        EXPECT_GE(endedAt, fault.earliestEndMs) << "the watchdog waits while the device may still answer";
        EXPECT_LE(endedAt, fault.latestEndMs);
        EXPECT_FALSE(recordingState.recording);
        EXPECT_EQ("Recode", Text(IDC_RECORD));
        EXPECT_TRUE(Enabled(IDC_SAVE)) << "the worker completed the file";
        EXPECT_TRUE(Enabled(IDC_MONO));
        const std::string calls = EncoderCalls();
        const int framesForOneSecond = 22050 * 2 / 4608;
        EXPECT_GE(atoi(calls.substr(calls.rfind("frames=") + 7).c_str()), framesForOneSecond) << calls;
        ASSERT_EQ(1u, messages.messages().size());
        EXPECT_EQ(kDeviceLostText, messages.messages()[0].text);
        EXPECT_EQ(dialog_, messages.messages()[0].owner);
        if (fault.buffersLeftInDevice) {
            ASSERT_NE(nullptr, kept);
            EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, kept) && HeapValidate(GetProcessHeap(), 0, kept->lpData))
                << "a buffer the device still holds is never freed";
        } else {
            EXPECT_TRUE(device.prepared.empty()) << "buffers the device gave back are released";
        }
        ASSERT_TRUE(IsWindow(dialog_)) << "without a time limit the window stays";
        EXPECT_EQ(0, device.misuses);
    }
}

TEST_F(RecordingControlTest, TimeLimitIsKeptWhenTheDeviceStopsAnswering)
{
    startupOptions.timeLimitSeconds = 3;
    startupOptions.exitAfterTimeLimit = 1;
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    EXPECT_EQ("00:00:02", Text(IDC_REMAIN));
    device.lost = true;
    const DWORD limitPassedMs = 3000 + kLimitGraceMs;
    MessageRecorder messages;
    device.now = kStartClock + limitPassedMs - 1;
    SendMessageA(dialog_, WM_TIMER, kWatchdogTimer, 0);
    Pump();
    EXPECT_EQ(0, device.resets) << "not before the limit has passed by its grace";
    device.now = kStartClock + limitPassedMs;
    SendMessageA(dialog_, WM_TIMER, kWatchdogTimer, 0);
    Pump();
    EXPECT_EQ(1, device.resets) << "the limit stops the recording without a buffer";
    EXPECT_TRUE(recordingState.timeLimitHit);
    device.now += kDeviceAnswerMs + 1;
    SendMessageA(dialog_, WM_TIMER, kWatchdogTimer, 0);
    Pump();
    EXPECT_FALSE(IsWindow(dialog_)) << "the reset brought nothing back, and the program still ends";
    EXPECT_EQ(1u, messages.messages().size());
}

TEST_F(RecordingControlTest, SessionEndCompletesTheFileBeforeItReturns)
{
    EXPECT_TRUE(SendMessageA(dialog_, WM_QUERYENDSESSION, 0, 0)) << "the end of the session is never refused";
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    MessageRecorder messages;
    SendMessageA(dialog_, WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(recordingState.recording);
    EXPECT_EQ(nullptr, recordingState.worker) << "the worker has ended";
    EXPECT_FALSE(device.open);
    EXPECT_TRUE(Enabled(IDC_SAVE));
    const std::string calls = EncoderCalls();
    const int frames = (22050 * 2 + kPartialBytes) / 4608 + 1;
    EXPECT_NE(std::string::npos, calls.find("frames=" + std::to_string(frames) + " close")) << calls;
    EXPECT_TRUE(messages.messages().empty());
}

}  // namespace
