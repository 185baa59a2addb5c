// The recording control driven through the real dialog with a scripted wave-input device and
// clock, and the fake encoder library, so that every ending of a recording can be produced.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

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
#include "recorder/RecordingLog.h"
#include "recorder/UnclosedDevices.h"
#include "recorder/WaveInput.h"
#include "resources/resource.h"
#include "startup/RecordingSettings.h"
#include "startup/Backstop.h"
#include "startup/RunOutcome.h"
#include "startup/StartupOptions.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/ScriptedDevice.h"
#include "tests/support/WindowsPaths.h"

namespace {

// The log of the recordings, in the test's folder.
const char kTestLog[] = "kanoru.log";

// The log's latest line, without its line end.
std::string LastLogLine()
{
    std::string text = FileText(kTestLog);
    text.resize(text.size() >= 2 ? text.size() - 2 : 0);
    return text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
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
        InstallScriptedDevice();
        // An earlier case's end of the session or unattended run leaves no deadline behind.
        DismissMessagesAfter(kNoDeadline);
        ASSERT_TRUE(EnterFolder(FAKES_DIR "/recording"));
        lstrcpyA(recordingLogPath, kTestLog);
        DeleteFileA(kTestLog);
        ASSERT_EQ(0, LoadEncoderLibrary());
        startupOptions = StartupOptions{};
        lstrcpyA(startupOptions.outputPath, "recording.mp3");
        recordingSettings = RecordingSettings{1, 22050, 80, 1};
        OpenWindow();
    }
    void OpenWindow()
    {
        dialog_ = CreateRecorderDialog(GetModuleHandleA(nullptr));
        ASSERT_NE(nullptr, dialog_);
    }
    void TearDown() override
    {
        if (IsWindow(dialog_))
            DestroyWindow(dialog_);
        Pump();
        UnloadEncoderLibrary();
        recordingLogPath[0] = '\0';
        EXPECT_EQ(0, device.misuses) << "the device was used as Windows would refuse";
        if (!Failing()) {
            EXPECT_TRUE(device.prepared.empty()) << "a buffer was not unprepared before the close";
        }
    }

    // Handles every waiting message, as the program's loop would between two device events, and
    // lets the devices let go of be torn down (but for a driver that hangs).
    void Pump()
    {
        const DWORD kTeardownMs = 5000;
        for (int round = 0; round < 2; ++round) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message != WM_QUIT)
                    DispatchMessageA(&message);
            }
            if (!device.resetBlocks)
                WaitForUnclosedDevices(kTeardownMs);
        }
    }

    void Click(int control)
    {
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED), 0);
        Pump();
    }

    // The device hands back the buffer it was filling, full unless told otherwise, at the given clock reading.
    void SecondPasses(DWORD clock, DWORD bytes = MAXDWORD)
    {
        ASSERT_FALSE(device.held.empty());
        device.now = clock;
        WAVEHDR* header = device.held.front();
        device.held.pop_front();
        HandBack(device.handle, header, bytes == MAXDWORD ? header->dwBufferLength : bytes);
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

// Another program's Record and close during a failed start's message.
int RecordAndCloseDuringTheMessage(HWND owner, const char*, const char*)
{
    SendMessageA(owner, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
    SendMessageA(owner, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(owner)) << "the close waits for the message";
    return IDOK;
}

TEST_F(RecordingControlTest, DeviceThatCannotBeOpenedStartedOrGivenBuffersLeavesTheWindowIdle)
{
    DeleteFileA(startupOptions.outputPath);
    for (bool ScriptedDevice::*refusal :
         {&ScriptedDevice::refuseOpen, &ScriptedDevice::refuseStart, &ScriptedDevice::preparesAfterTheDriverLeft}) {
        device.refuseOpen = device.refuseStart = device.preparesAfterTheDriverLeft = false;
        device.*refusal = true;
        MessageRecorder messages;
        Click(IDC_RECORD);
        EXPECT_FALSE(Recording()) << device.opensAt.size();
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
        EXPECT_EQ(kNothingRecorded, recordingState.outcome);
    }
    // The device is back: the next click records.
    device.preparesAfterTheDriverLeft = false;
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
    // Nothing starts under a failed start's message, and a close comes once it is answered.
    OpenWindow();
    startupOptions.exitAfterTimeLimit = 0;
    device.opensAt.clear();
    SetMessageSink(RecordAndCloseDuringTheMessage);
    Click(IDC_RECORD);
    EXPECT_EQ(1u, device.opensAt.size());
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
        EXPECT_EQ(second == 4, recordingInput.clock.timeLimitReached) << second;
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
    // The clock runs on past its own wrap-around; the dialog only sees one buffer a day here,
    // empty, so that what lies between is no stall to be filled.
    for (DWORD day = 1; day < 30; ++day) {
        SecondPasses(kStartClock + day * 86400000u, 0);
        ASSERT_TRUE(Recording()) << day;
    }
    SecondPasses(kStartClock + kThirtyDays * 1000u - 1500, 0);
    EXPECT_TRUE(Recording());
    EXPECT_EQ("00:00:01", Text(IDC_REMAIN));
    SecondPasses(kStartClock + kThirtyDays * 1000u - 500, 0);
    EXPECT_FALSE(Recording());
}

int sizeMessagesShown = 0;
bool recordingWhenSizeMessageShown = false;

int NoteSizeMessage(HWND, const char* text, const char*)
{
    if (std::string(text).find("2GB") == std::string::npos)
        return IDOK;
    ++sizeMessagesShown;
    recordingWhenSizeMessageShown = Recording();
    return IDOK;
}

// The machine sleeps through most of fourteen hours at 320 kbit/s; the buffers after it pass the
// size limit.
TEST_F(RecordingControlTest, SizeLimitStopsOnceAndReportsAfterTheEnd)
{
    recordingSettings = RecordingSettings{1, 32000, 320, 3};
    ApplySettingsToDialog(dialog_, 1, 32000);
    const DWORD kSecondsToTheLimit = kSizeLimitBytes / (320 * 1000 / 8);
    // The time limit is reached at the same buffer, and ranks below the size limit.
    startupOptions.timeLimitSeconds = kSecondsToTheLimit + 1;
    Click(IDC_RECORD);
    Tick((kSecondsToTheLimit - 2) * 1000);
    // The silence counts a second less than the sleep, for the buffer still to come: the third
    // buffer from here passes the limit.
    for (int n = 1; n <= 5; ++n) {
        WAVEHDR* header = device.held.front();
        device.held.pop_front();
        header->dwBytesRecorded = header->dwBufferLength;
        header->dwFlags |= WHDR_DONE;
        device.now += 1000;
        OnBufferDone(dialog_, device.handle, header);
        ASSERT_EQ(n >= 3, recordingInput.clock.sizeLimitReached) << n;
    }
    int stops = 0;
    MSG message;
    while (PeekMessageA(&message, dialog_, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
        stops += LOWORD(message.wParam) == IDC_RECORD;
        DispatchMessageA(&message);
    }
    EXPECT_EQ(1, stops);
    MessageSink previous = SetMessageSink(NoteSizeMessage);
    Pump();
    EXPECT_FALSE(Recording());
    EXPECT_EQ(1, sizeMessagesShown);
    EXPECT_FALSE(recordingWhenSizeMessageShown) << "the message waits for the end of the recording";
    EXPECT_EQ(kEndedEarly, recordingState.outcome);
    // The next recording has no reason of the last one's.
    Click(IDC_RECORD);
    SecondPasses(device.now + 1000);
    Click(IDC_RECORD);
    SetMessageSink(previous);
    EXPECT_EQ(1, sizeMessagesShown);
    EXPECT_EQ(kRecordedAsAsked, recordingState.outcome);
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
    ScriptedDevice next = FreshDevice();
    next.open = device.open;
    if (next.open.count(device.handle))
        next.open[device.handle] = device.held;
    next.dialog = device.dialog;
    next.misuses = device.misuses;
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

// A device counts as lost only once its next buffer is overdue: two seconds after the last one,
// three after the start, read across the clock's wrap.
TEST_F(RecordingControlTest, DeviceCountsAsLostOnlyOnceItsBufferIsOverdue)
{
    struct Case {
        const char* name;
        std::vector<DWORD> buffersAtMs, ticksAtMs;
        DWORD lostAtMs;  // 0: never
    };
    const Case kCases[] = {
        {"the first buffer may take three seconds", {2950}, {1000, 2000, 2900, 3000}, 0},
        {"no first buffer within three seconds", {}, {1000, 2000, 3000, 3001}, 3001},
        {"buffers a second apart across the clock's wrap", {1500, 2500, 3500, 4500, 5500}, {2000, 3000, 4000, 5000, 6000},
         0},
        {"two seconds without a buffer", {1000}, {2000, 3000, 3001}, 3001},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        NextCase();
        MessageRecorder messages;
        Click(IDC_RECORD);
        std::map<DWORD, bool> events;  // true for a buffer
        for (DWORD ms : c.ticksAtMs)
            events[ms] = false;
        for (DWORD ms : c.buffersAtMs)
            events[ms] = true;
        for (const auto& event : events) {
            if (event.second)
                SecondPasses(kStartClock + event.first);
            else
                Tick(event.first);
            EXPECT_EQ(c.lostAtMs && event.first >= c.lostAtMs, CurrentCaptureStage() == kWaitingForDevice) << event.first;
        }
        Click(IDC_RECORD);
        EXPECT_FALSE(Recording());
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
        DWORD firstBufferLateMs;  // after the reopen, beyond its second
        std::vector<DWORD> opensAt;
        std::vector<size_t> handlesOpenAtOpens;
        DWORD stopAtMs;
        const char* silence;
        DWORD bytesAtReset;  // of the buffer it was filling at the loss
    };
    const DWORD kAbsentMs = 12000, kAlmostASecond = 40000;
    const Loss kLosses[] = {
        // Its handle holds the buffers it never gave back until it can close, once the device is back.
        {"vanishes for eleven seconds", false, false, 0, 0, kAbsentMs, 0,
         {0, 5000, 6000, 7000, 8000, 9000, 10000, 11000, 12000}, {0, 1, 1, 1, 1, 1, 1, 1, 0}, 16000, "00:00:11", 0},
        // Its last audio comes before the silence, which shrinks by as much.
        {"vanishes, most of a second written to the buffer its reset cannot hand back", false, false, 0, 0, kAbsentMs, 0,
         {0, 5000, 6000, 7000, 8000, 9000, 10000, 11000, 12000}, {0, 1, 1, 1, 1, 1, 1, 1, 0}, 16000, "00:00:10",
         kAlmostASecond},
        {"refuses a buffer", true, false, 0, 0, 3000, 0, {0, 2000, 3000}, {0, 0, 0}, 7000, "00:00:01", 0},
        // The handle that refused to close is tried again before each open, until it closes.
        {"its close keeps failing", true, false, 2, 0, 3000, 0, {0, 2000, 3000}, {0, 1, 0}, 7000, "00:00:01", 0},
        // The reopened device takes its time to start; silence stands in for it.
        {"starts slowly once it is back", true, false, 0, 0, 3000, 600, {0, 2000, 3000}, {0, 0, 0}, 7000, "00:00:01", 0},
        {"reopens fail several times", true, false, 0, 3, 3000, 0, {0, 2000, 3000, 4000, 5000}, {0, 0, 0, 0, 0}, 11000,
         "00:00:03", 0},
        {"a finished buffer waits at the loss, its reset handing back the next", false, true, 0, 0, 4000, 0, {0, 5000},
         {0, 0}, 8000, "00:00:02", kPartialBytes},
    };
    for (const Loss& loss : kLosses) {
        SCOPED_TRACE(loss.name);
        NextCase();
        refuseAwayMode = loss.closesToRefuse > 0;
        onBattery = loss.opensToRefuse > 0;
        MessageRecorder messages;
        Click(IDC_RECORD);
        const EXECUTION_STATE kAwake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED, kAwayMode = 0x40;
        std::vector<EXECUTION_STATE> asked = {kAwake | kAwayMode};
        if (refuseAwayMode)
            asked.push_back(kAwake);
        if (onBattery)
            asked = {kAwake};
        EXPECT_EQ(asked, device.executionStates) << "the system stays awake, with away mode where it is accepted, and "
                                                    "never on a battery";
        SecondPasses(kStartClock + 1000);
        device.closesToRefuse = loss.closesToRefuse;
        device.opensToRefuse = loss.opensToRefuse;
        device.lost = !loss.refusesABuffer && !loss.finishedButUnhandled;
        device.bytesAtReset = device.bytesWrittenWhenLost = loss.bytesAtReset;
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
                // A device takes a while to start: its first buffer comes late.
                SecondPasses(device.now + (ms == loss.opensAt.back() + 1000 ? loss.firstBufferLateMs : 0));
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
        EXPECT_EQ(loss.handlesOpenAtOpens, device.handlesOpenAtOpens);
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

volatile LONG backstopCode = -1;

// The run's end, in place of the process's: the hung reset returns only once it has come.
void EndInsteadOfTheProcess(UINT exitCode)
{
    backstopCode = static_cast<LONG>(exitCode);
    SetEvent(resetReleased);
}

// A driver that never returns from the stop's reset holds the window's thread: the backstop, on a
// thread of its own, still ends the run on time with the ended-early code.
TEST_F(RecordingControlTest, BackstopEndsARunWhoseDriverNeverAnswers)
{
    const DWORD kBackstopMs = 800;
    MessageRecorder messages;
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    ResetEvent(resetReleased);
    device.resetBlocks = true;
    const DWORD stoppedAt = GetTickCount();
    BackstopWatch watch = BackstopFor(0);
    watch.limitMs = kBackstopMs;
    watch.marginMs = kBackstopMs / 4;
    ASSERT_TRUE(StartBackstop(watch, EndInsteadOfTheProcess));
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
    EXPECT_LE(kEndedEarly, backstopCode) << "the backstop fired while the window's thread hung";
    EXPECT_GE(GetTickCount() - stoppedAt, kBackstopMs - kWatchdogPeriodMs / 10);
    device.resetBlocks = false;
    Pump();
}

// Device numbers shift as devices come and go: the device is found by its name at every open, and a
// lost one is opened again only under its own name, never as whatever has become the default.
TEST_F(RecordingControlTest, ChosenDeviceIsFoundByItsNameAtEveryOpen)
{
    const std::vector<std::wstring> kPresent = {L"Realtek Line In", L"USB Audio CODEC"};
    const std::vector<std::wstring> kBackInAnotherOrder = {L"USB Audio CODEC", L"Microphone", L"Realtek Line In"};
    const std::vector<std::wstring> kBackRenamed = {L"Microphone", L"Realtek Line In", L"2- USB Audio CODEC"};
    // Windows cuts names to 31 characters: two devices of one make share theirs.
    const std::wstring kTwin = L"Microphone Array (Intel\u00ae Smart";
    const struct {
        const wchar_t* wanted;
        std::vector<std::wstring> back;
        UINT firstId, reopenedId;
        std::vector<std::wstring> present = {}, identities = {}, backIdentities = {};
    } kRows[] = {{L"", kBackInAnotherOrder, 0, 2},
                 {L"usb audio", kBackInAnotherOrder, 1, 0},
                 {L"usb audio", kBackRenamed, 1, 2},
                 {L"codec", kBackInAnotherOrder, 1, 0},
                 // Once found, the device is its name: another holding the text is not taken.
                 {L"usb", {L"USB Camera", L"Realtek Line In", L"USB Audio CODEC"}, 1, 2},
                 {L"usb", {L"USB Camera", L"Microphone"}, 1, WAVE_MAPPER},
                 {L"line", {L"Microphone", L"Line (2- USB Audio CODEC)"}, 0, 1, {L"Line (USB Audio CODEC)"}},
                 // Its device gone for good, the default of the moment is not taken: the silence is honest.
                 {L"", {L"Microphone", L"USB Audio CODEC"}, 0, WAVE_MAPPER},
                 // Where Windows names endpoints, only the recording's own comes back, whatever its name.
                 {L"", {kTwin, kTwin}, 0, 1, {kTwin, kTwin}, {L"{0.0.1.00000000}.{a1}", L"{0.0.1.00000000}.{b2}"},
                  {L"{0.0.1.00000000}.{b2}", L"{0.0.1.00000000}.{a1}"}},
                 {L"", {kTwin}, 0, WAVE_MAPPER, {kTwin, kTwin}, {L"{a1}", L"{b2}"}, {L"{b2}"}},
                 // A device without a twin, plugged into another port, is a new endpoint under its name.
                 {L"usb", {L"USB Audio CODEC"}, 0, 0, {L"USB Audio CODEC"}, {L"{a1}"}, {L"{b2}"}},
                 // A twin's mark pushes the end of a name at Windows' limit out.
                 {L"line", {L"Microphone", L"Line In (2- High Definition Aud"}, 0, 1, {L"Line In (High Definition Audio "}}};
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.wanted);
        NextCase();
        device.names = row.present.empty() ? kPresent : row.present;
        device.identities = row.identities;
        lstrcpyW(startupOptions.deviceName, row.wanted);
        MessageRecorder gapsMessage;
        Click(IDC_RECORD);
        device.refuseAdd = true;
        SecondPasses(kStartClock + 1000);
        device.lost = true;
        Tick(2000);
        device.lost = device.refuseAdd = false;
        device.names = row.back;
        device.identities = row.backIdentities;
        device.preferred = 1;
        Tick(3000);
        EXPECT_EQ(row.reopenedId == WAVE_MAPPER ? kWaitingForDevice : kCapturing, CurrentCaptureStage());
        EXPECT_EQ(row.firstId, device.openedIds.front());
        if (row.reopenedId != WAVE_MAPPER) {
            EXPECT_EQ(row.reopenedId, device.openedIds.back());
        }
        Click(IDC_RECORD);
    }
    // Nobody there: the run waits for its device, silent and red, and records it once it comes; one
    // that never comes leaves nothing recorded.
    startupOptions.exitAfterTimeLimit = 1;
    lstrcpyW(startupOptions.deviceName, L"usb");
    const struct {
        DWORD limitSeconds, arrivesAtMs;
        RunOutcome outcome;
        double silentSeconds;
    } kUnattended[] = {{10, 5000, kRecordedWithGaps, 5}, {3, MAXDWORD, kNothingRecorded, 3}};
    for (const auto& run : kUnattended) {
        SCOPED_TRACE(run.limitSeconds);
        startupOptions.autoStart = 0;
        if (!IsWindow(dialog_))
            OpenWindow();
        startupOptions.autoStart = 1;
        NextCase();
        device.names.clear();
        startupOptions.timeLimitSeconds = run.limitSeconds;
        MessageRecorder messages;
        Click(IDC_RECORD);
        EXPECT_TRUE(Recording());
        EXPECT_TRUE(IsWaitingForInput());
        for (DWORD ms = 1000; Recording() && ms < 20000; ms += kWatchdogPeriodMs) {
            if (ms == run.arrivesAtMs)
                device.names = {L"USB Audio CODEC"};
            if (CurrentCaptureStage() == kCapturing)
                SecondPasses(kStartClock + ms);
            else
                Tick(ms);
        }
        EXPECT_TRUE(messages.messages().empty());
        EXPECT_EQ(run.outcome, recordingState.outcome);
        EXPECT_NEAR(run.silentSeconds, EncodedAt22kMono().silentSeconds, 1.0);
    }
    // Someone there is told what is present instead.
    startupOptions.autoStart = 0;
    OpenWindow();
    device.names = kPresent;
    lstrcpyW(startupOptions.deviceName, L"NoSuchDevice");
    MessageRecorder messages;
    Click(IDC_RECORD);
    EXPECT_FALSE(Recording());
    ASSERT_EQ(1u, messages.messages().size());
    EXPECT_EQ("名前に「NoSuchDevice」を含む録音デバイスが見つかりませんでした。\n次のデバイスがあります:\n"
              "Realtek Line In\nUSB Audio CODEC\n",
              messages.messages()[0].text);
}

// A lost device is tried at every tick, however early or late each falls, and at once when Windows
// says its devices changed, but not twice within a quarter second.
TEST_F(RecordingControlTest, LostDeviceIsTriedAtEveryTickAndAtEveryDeviceChange)
{
    MessageRecorder messages;
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    device.lost = true;
    for (DWORD ms : {2000, 3000, 4000, 5150, 6000, 6990, 8000})
        Tick(ms);
    ASSERT_EQ(kWaitingForDevice, CurrentCaptureStage());
    for (DWORD ms : {8400, 8500, 8700}) {
        device.now = kStartClock + ms;
        device.lost = ms < 8500;
        const size_t opens = device.opensAt.size();
        SendMessageA(dialog_, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        EXPECT_EQ(opens, device.opensAt.size()) << "nothing is opened while Windows waits for the answer";
        Pump();
    }
    EXPECT_EQ(kCapturing, CurrentCaptureStage());
    EXPECT_EQ((std::vector<DWORD>{0, 5150, 6000, 6990, 8000, 8400, 8700}), device.opensAt);
    Click(IDC_RECORD);
}

// Losses whose handles refuse to close and whose buffers cannot be unprepared: each handle is kept
// with its buffers and none stands in the way of the next device, up to the bound on their memory,
// where silence bridges until one closes; all are let go once they close.
TEST_F(RecordingControlTest, StuckHandlesKeepTheirBuffersAndNeverBlockTheNextDevice)
{
    const int kLosses = kMostUnclosedDevices - 1;
    MessageRecorder messages;
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    device.refuseClose = device.unprepareFails = true;
    DWORD ms = 1000;
    for (int loss = 0; loss < kLosses; ++loss) {
        device.refuseAdd = true;
        SecondPasses(kStartClock + (ms += 1000));
        ASSERT_EQ(kWaitingForDevice, CurrentCaptureStage()) << loss;
        device.refuseAdd = false;
        Tick(ms += kWatchdogPeriodMs);
        ASSERT_EQ(kCapturing, CurrentCaptureStage()) << loss;
        SecondPasses(kStartClock + (ms += 1000));
    }
    EXPECT_FALSE(IsWaitingForInput()) << "the last device captures";
    EXPECT_EQ(kLosses + 1u, device.open.size());
    EXPECT_EQ(kLosses * kCaptureBuffers, KeptCaptureBuffers()) << "every buffer that could not be unprepared is kept";
    device.refuseAdd = true;
    SecondPasses(kStartClock + (ms += 1000));
    device.refuseAdd = false;
    Tick(ms += kWatchdogPeriodMs);
    EXPECT_EQ(kWaitingForDevice, CurrentCaptureStage()) << "no device opens while the bound is reached";
    EXPECT_EQ(kMostUnclosedDevices * kCaptureBuffers, KeptCaptureBuffers());
    EXPECT_EQ(kMostUnclosedDevices, UnclosedDeviceCount()) << "what the end of the process asks";
    device.refuseClose = device.unprepareFails = false;
    Tick(ms += kWatchdogPeriodMs);
    EXPECT_EQ(kCapturing, CurrentCaptureStage()) << "once they close, a device opens again";
    Click(IDC_RECORD);
    EXPECT_FALSE(Recording());
    EXPECT_TRUE(device.open.empty());
    EXPECT_EQ(0, KeptCaptureBuffers());
    EXPECT_EQ(0, UnclosedDeviceCount());
    EXPECT_TRUE(device.prepared.empty()) << "each kept buffer was unprepared before its device closed";

    // A driver that hangs in a lost device's reset holds only the thread that tears it down: the
    // window bridges with silence and answers, and the next device opens once the reset returns.
    NextCase();
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    ResetEvent(resetReleased);
    device.resetBlocks = device.refuseAdd = true;
    SecondPasses(kStartClock + 2000);
    device.refuseAdd = false;
    Tick(3000);
    Tick(4000);
    EXPECT_EQ(kWaitingForDevice, CurrentCaptureStage()) << "no device is opened beside a call that hangs";
    EXPECT_EQ("00:00:04", Text(IDC_COUNTER)) << "the window goes on";
    SetEvent(resetReleased);
    device.resetBlocks = false;
    WaitForUnclosedDevices(5000);
    Tick(5000);
    EXPECT_EQ(kCapturing, CurrentCaptureStage());
    Click(IDC_RECORD);
    EXPECT_TRUE(device.open.empty()) << "the lost device closed once its reset returned";
}

// Buffers arriving every periodMs, the first stalls of them stallMs later still.
std::vector<double> Arrivals(int buffers, double periodMs, int stalls, double stallMs)
{
    std::vector<double> arrivals;
    double at = 0;
    for (int buffer = 0; buffer < buffers; ++buffer)
        arrivals.push_back(at += periodMs + (buffer < stalls ? stallMs : 0));
    return arrivals;
}

// Three more buffers after arrivals, the first five seconds late: the program was held up.
std::vector<double> HeldUpAfter(std::vector<double> arrivals)
{
    const double kHeldUpMs = 5000, kSecondMs = 1000;
    for (double late : {kHeldUpMs, kSecondMs, kSecondMs})
        arrivals.push_back(arrivals.back() + late);
    return arrivals;
}

// A device that stalls without being lost costs silence, counted as gaps, and the file keeps the
// wall clock; the ordinary drift of a device's clock, and a program too busy to take two buffers
// apart, insert none.
TEST_F(RecordingControlTest, StallsAreFilledAndClockDriftIsNot)
{
    struct Case {
        const char* name;
        std::vector<double> arrivalsMs;
        double silentSeconds;
    };
    const int kThreeHours = 3 * 3600;
    const Case kCases[] = {
        {"a device 500 ppm slow for three hours, five times the ordinary drift", Arrivals(kThreeHours, 1000.5, 0, 0), 0},
        {"fifteen stalls of a second", Arrivals(30, 1000, 15, 1000), 15},
        {"two buffers at once after the program was busy", {1000, 2000, 4900, 4900, 5900, 6900}, 0},
        {"a slow device, then the program held up", HeldUpAfter(Arrivals(600, 1000.5, 0, 0)), 4},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        NextCase();
        MessageRecorder messages;
        Click(IDC_RECORD);
        // The watchdog ticks between buffers, as it does in a running program.
        for (double ms : c.arrivalsMs) {
            SecondPasses(kStartClock + static_cast<DWORD>(ms));
            Tick(static_cast<DWORD>(ms));
        }
        Click(IDC_RECORD);
        const Encoded encoded = EncodedAt22kMono();
        EXPECT_NEAR(c.arrivalsMs.size() + c.silentSeconds, encoded.seconds, 2.0) << "every buffer, and silence for the stalls";
        EXPECT_NEAR(c.silentSeconds, encoded.silentSeconds, 2.0);
        EXPECT_EQ(c.silentSeconds > 0 ? 1u : 0u, messages.messages().size()) << "the gaps are told";
    }
}

// Every ending completes the file: with the device failing at the stop, gone before it, or the
// program held up past its limit. The file holds every byte the device delivered and silence up to
// the end where no input came; a message comes only where something was filled and someone is there.
TEST_F(RecordingControlTest, EveryEndingCompletesTheFile)
{
    enum Before { kFaultAtTheStop, kGap, kSleep, kMutedInput, kMutedWithAnOffset, kLongSilence };
    enum Ending { kClickStop, kCloseWindow, kCloseUnattendedRun, kLimit, kSessionEnd };
    struct Case {
        const char* name;
        Before before;
        bool ScriptedDevice::*fault;
        Ending ending;
        DWORD limitSeconds;
        DWORD earliestEndMs, latestEndMs;  // on the clock since the start
        double seconds;  // within half a second
        const char* message;  // how the one message starts, or none
        bool windowStays;
        bool buffersLeftInDevice;
        RunOutcome outcome;
        const char* logged = nullptr;  // what the log's line tells besides the outcome, if anything
        bool logUnwritable = false;
    };
    const char* const kGaps = "録音中に入力が 1 回途切れました。";
    const DWORD kNeverNotifiedEndMs = 1000 + kDeviceAnswerMs;
    const Case kCases[] = {
        {"reset fails", kFaultAtTheStop, &ScriptedDevice::resetFails, kClickStop, 0, 1000, 1000, 1.5, nullptr, true,
         true, kRecordedAsAsked},
        // A log that cannot be written costs the recording nothing.
        {"reset fails, the log a folder", kFaultAtTheStop, &ScriptedDevice::resetFails, kClickStop, 0, 1000, 1000, 1.5,
         nullptr, true, true, kRecordedAsAsked, nullptr, true},
        {"close refused", kFaultAtTheStop, &ScriptedDevice::refuseClose, kClickStop, 0, 1000, 1000, 1.5, nullptr, true,
         false, kRecordedAsAsked},
        {"close never notified", kFaultAtTheStop, &ScriptedDevice::silentClose, kClickStop, 0, kNeverNotifiedEndMs,
         kNeverNotifiedEndMs + 1000, 1.5, nullptr, true, false, kRecordedAsAsked},
        // Between two ticks: the silence reaches the stop itself.
        {"Stop in a gap", kGap, nullptr, kClickStop, 0, 5900, 5900, 5.9, kGaps, true, false, kRecordedWithGaps,
         " | 1 gap: 00:00:02 4 s | no silence | "},
        {"closing the window in a gap", kGap, nullptr, kCloseWindow, 0, 5900, 5900, 5.9, kGaps, false, false,
         kRecordedWithGaps},
        // Whoever closes it reads the outcome in the exit code, at once.
        {"closing an unattended run in a gap", kGap, nullptr, kCloseUnattendedRun, 60, 5900, 5900, 5.9, nullptr, false,
         false, kEndedEarly, "ended early: closed before its limit"},
        {"the time limit in a gap", kGap, nullptr, kLimit, 8, 8000, 8000 + kLimitGraceMs, 8, nullptr, false, false,
         kRecordedWithGaps},
        {"the end of the session in a gap, for an update", kGap, nullptr, kSessionEnd, 0, 5900, 5900, 5.9, nullptr,
         false, false, kEndedEarly, "ended early: Windows was shutting down"},
        // By the last-second rule, the limit or a second less.
        {"a sleep past the limit", kSleep, nullptr, kLimit, 8, 60000, 60000, 7.6, nullptr, false, false,
         kRecordedWithGaps},
        {"a muted input", kMutedInput, nullptr, kClickStop, 0, 4000, 4000, 4.3, "録音中、入力から音が来ませんでした。", true,
         false, kRecordedSilence},
        {"a muted input to the limit", kMutedInput, nullptr, kLimit, 8, 8000, 8000 + kLimitGraceMs, 8, nullptr, false,
         false, kRecordedSilence},
        {"a muted converter's offset", kMutedWithAnOffset, nullptr, kClickStop, 0, 4000, 4000, 4.3,
         "録音中、入力から音が来ませんでした。", true, false, kRecordedSilence},
        // A file cut short tells that first.
        {"a muted input at the end of the session", kMutedInput, nullptr, kSessionEnd, 0, 4000, 4000, 4.3, nullptr,
         false, false, kEndedEarly},
        // A mixer muted inside the show: the input was missing, though the device delivered throughout.
        {"a long silence inside the show", kLongSilence, nullptr, kClickStop, 0, 64000, 64000, 64.3,
         "録音中に 1 回、60 秒以上音が来ませんでした。合わせて: 00:01:01", true, false, kRecordedWithGaps,
         " | Line In | no gaps | 1 silence: 00:00:01 61 s | "},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        if (!IsWindow(dialog_))
            OpenWindow();
        NextCase();
        startupOptions.timeLimitSeconds = c.limitSeconds;
        startupOptions.exitAfterTimeLimit = c.limitSeconds > 0;
        lstrcpyA(recordingLogPath, c.logUnwritable ? "." : kTestLog);
        const std::string logBefore = FileText(kTestLog);
        startupOptions.autoStart = c.ending == kCloseUnattendedRun;
        MessageRecorder messages;
        Click(IDC_RECORD);
        // The muted input's device clicks as it opens.
        SecondPasses(kStartClock + 1000);
        device.quiet = c.before == kMutedInput || c.before == kMutedWithAnOffset;
        device.quietLevel = c.before == kMutedWithAnOffset ? 3000 : 0;
        WAVEHDR* kept = device.held.front();
        if (c.before == kFaultAtTheStop) {
            device.*c.fault = true;
        } else if (c.before == kSleep) {
            SecondPasses(kStartClock + 2000);
            device.now = kStartClock + 60000;
            SendMessageA(dialog_, WM_TIMER, kWatchdogTimer, 0);
            EXPECT_EQ(kCapturing, CurrentCaptureStage()) << "a held-up program does not take its device for lost";
            Pump();
        } else if (c.before == kLongSilence) {
            device.quiet = true;
            for (DWORD ms = 2000; ms <= 62000; ms += 1000)
                SecondPasses(kStartClock + ms);
            device.quiet = false;
            SecondPasses(kStartClock + 63000);
            SecondPasses(kStartClock + 64000);
        } else if (device.quiet) {
            const DWORD lastMs = c.ending == kLimit ? c.limitSeconds * 1000 : 4000;
            for (DWORD ms = 2000; Recording() && ms <= lastMs; ms += 1000)
                SecondPasses(kStartClock + ms);
        } else {
            device.refuseAdd = true;
            SecondPasses(kStartClock + 2000);
            device.lost = true;
            for (DWORD ms = 3000; ms <= 5000; ms += kWatchdogPeriodMs)
                Tick(ms);
            EXPECT_TRUE(IsWaitingForInput());
            if (c.ending != kLimit)
                device.now = kStartClock + 5900;
        }
        if (c.ending == kClickStop)
            Click(IDC_RECORD);
        else if (c.ending == kCloseWindow || c.ending == kCloseUnattendedRun)
            SendMessageA(dialog_, WM_CLOSE, 0, 0);
        else if (c.ending == kSessionEnd)
            SendMessageA(dialog_, WM_ENDSESSION, TRUE, kCloseAppRequest);
        // The close of some other device does not end this one's stop.
        PostMessageA(dialog_, MM_WIM_CLOSE, kFirstHandle + kMostUnclosedDevices + 1, 0);
        for (DWORD ms = device.now - kStartClock + 1000; Recording() && ms < 20000; ms += kWatchdogPeriodMs)
            Tick(ms);
        Pump();
        EXPECT_FALSE(Recording());
        EXPECT_GE(device.now - kStartClock, c.earliestEndMs);
        EXPECT_LE(device.now - kStartClock, c.latestEndMs);
        EXPECT_NEAR(c.seconds, EncodedAt22kMono().seconds, 0.5);
        ASSERT_EQ(c.message ? 1u : 0u, messages.messages().size());
        if (c.message) {
            EXPECT_EQ(0u, messages.messages()[0].text.find(c.message)) << messages.messages()[0].text;
            EXPECT_EQ(dialog_, messages.messages()[0].owner);
        }
        EXPECT_EQ(c.outcome, recordingState.outcome);
        EXPECT_EQ(c.logUnwritable, logBefore == FileText(kTestLog)) << "a line wherever the log can be written";
        const std::string logged = LastLogLine();
        if (!c.logUnwritable) {
            EXPECT_NE(std::string::npos, logged.find(" | recording.mp3 | ")) << logged;
            EXPECT_NE(std::string::npos, logged.find(std::to_string(c.outcome) + " " + OutcomeWords(c.outcome))) << logged;
        }
        if (c.logged) {
            EXPECT_NE(std::string::npos, logged.find(c.logged)) << logged;
        }
        // The next case's window starts nothing by itself.
        startupOptions.autoStart = 0;
        EXPECT_EQ(c.windowStays, IsWindow(dialog_) != FALSE);
        if (c.windowStays) {
            EXPECT_EQ("Recode", Text(IDC_RECORD));
            EXPECT_TRUE(Enabled(IDC_SAVE)) << "the worker completed the file";
        }
        if (c.buffersLeftInDevice) {
            EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, kept) && HeapValidate(GetProcessHeap(), 0, kept->lpData))
                << "a buffer the device still holds is never freed";
        }
        EXPECT_EQ(static_cast<EXECUTION_STATE>(ES_CONTINUOUS), device.executionStates.back()) << "sleep allowed again";
        EXPECT_EQ(0, device.misuses);
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
    {
        // The user cancelled the end of the session that the recording held up: the program runs on.
        ShownMessageBox box;
        Sleep(1200);
        EXPECT_TRUE(box.stillOpen()) << "its messages wait for the user again";
    }
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

    // A device that answers nothing gets a second and a half of the session's end, then the file is completed.
    Click(IDC_RECORD);
    device.lost = true;
    device.msPerReading = 10;
    const DWORD sessionEndedAt = device.now;
    SendMessageA(dialog_, WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(Recording());
    EXPECT_GE(device.now - sessionEndedAt, 1500u);
    EXPECT_LE(device.now - sessionEndedAt, 1700u);
    EXPECT_NE(std::string::npos, EncoderCalls().rfind("close")) << "the file was completed";

    // Twenty hours of silence queued after a sleep: what the encoder has not reached in its
    // share of the session's end is dropped, and the file is completed, tag and all, in time.
    const DWORD kTwentyHoursMs = 20 * 3600 * 1000;
    const int kFramesPerMillisecond = 100;  // 2.6 hours of the recording's audio a second at most
    typedef void(MPGE_CALL * FakeSetSpeed)(int);
    reinterpret_cast<FakeSetSpeed>(reinterpret_cast<void (*)()>(
        GetProcAddress(encoderLibrary.module, "FakeSetFramesPerMillisecond")))(kFramesPerMillisecond);
    NextCase();
    Click(IDC_RECORD);
    SecondPasses(kStartClock + 1000);
    Tick(kTwentyHoursMs);
    const DWORD backlogFrom = GetTickCount();
    SendMessageA(dialog_, WM_ENDSESSION, TRUE, 0);
    const DWORD took = GetTickCount() - backlogFrom;
    EXPECT_GE(took, 2500u) << "the encoder had its share";
    EXPECT_LT(took, 4000u);
    EXPECT_NE(std::string::npos, EncoderCalls().rfind(" close")) << "the tag was written";
    EXPECT_LT(EncodedAt22kMono().seconds, kTwentyHoursMs / 2000.0) << "the rest of the backlog was dropped";
    EXPECT_EQ(nullptr, recordingState.worker);
}

// Someone stopped a run that closes itself after its limit: from then on its messages wait for them.
TEST_F(RecordingControlTest, StoppedUnattendedRunLeavesItsMessagesToTheUser)
{
    startupOptions.timeLimitSeconds = 1;
    startupOptions.exitAfterTimeLimit = startupOptions.autoStart = 1;
    Click(IDC_RECORD);
    Click(IDC_RECORD);
    ASSERT_TRUE(IsWindow(dialog_));
    ShownMessageBox box;
    Sleep(1000 + kLimitGraceMs + 1000);
    EXPECT_TRUE(box.stillOpen()) << "the limit's deadline no longer holds";
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
    EXPECT_EQ(static_cast<EXECUTION_STATE>(ES_CONTINUOUS), device.executionStates.back()) << "sleep allowed again";
}

}  // namespace

