// The recording control driven through the real dialog with a scripted wave-input device and
// clock, and the fake encoder library, so that every ending of a recording can be produced.
#include <gtest/gtest.h>
#include <windows.h>

#include <deque>
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

// The scripted device: buffers come back only when the test says so, or on reset, as the
// platform's device returns them (the one being filled with its bytes so far, the rest empty).
struct ScriptedDevice {
    HWND dialog;
    bool refuseOpen;
    bool open;
    std::deque<WAVEHDR*> held;
    int resets;
    DWORD now;
    DWORD bytesAtReset;
};
ScriptedDevice device;
HWAVEIN const kDevice = reinterpret_cast<HWAVEIN>(0x5A5A);

void HandBack(WAVEHDR* header, DWORD bytes)
{
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
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Unprepare(HWAVEIN, WAVEHDR* header, UINT)
{
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Add(HWAVEIN, WAVEHDR* header, UINT)
{
    EXPECT_TRUE(device.open);
    header->dwFlags &= ~WHDR_DONE;
    device.held.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Start(HWAVEIN)
{
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Reset(HWAVEIN)
{
    ++device.resets;
    for (bool first = true; !device.held.empty(); first = false) {
        HandBack(device.held.front(), first ? device.bytesAtReset : 0);
        device.held.pop_front();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI Close(HWAVEIN)
{
    EXPECT_TRUE(device.open) << "closed twice";
    device.open = false;
    PostMessageA(device.dialog, MM_WIM_CLOSE, reinterpret_cast<WPARAM>(kDevice), 0);
    return MMSYSERR_NOERROR;
}

DWORD WINAPI Now()
{
    return device.now;
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

TEST_F(RecordingControlTest, DeviceThatCannotBeOpenedLeavesTheWindowIdle)
{
    device.refuseOpen = true;
    MessageRecorder messages;
    Click(IDC_RECORD);
    EXPECT_FALSE(recordingState.recording);
    EXPECT_EQ("Record", Text(IDC_RECORD));
    EXPECT_TRUE(Enabled(IDC_MONO));
    EXPECT_TRUE(Enabled(IDC_BITRATE));
    EXPECT_EQ(nullptr, currentQueue);
    EXPECT_EQ(nullptr, recordingState.worker);
    ASSERT_EQ(1u, messages.messages().size());
    EXPECT_EQ(dialog_, messages.messages()[0].owner);
    // The device is back: the next click records.
    device.refuseOpen = false;
    Click(IDC_RECORD);
    EXPECT_TRUE(recordingState.recording);
    Click(IDC_RECORD);
    EXPECT_FALSE(recordingState.recording);
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
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_RECORD, kWorkerStopNotification), 0);
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

}  // namespace
