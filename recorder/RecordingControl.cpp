#include "recorder/RecordingControl.h"

#include <new>

#include "encoding/EncoderWorker.h"
#include "recorder/CaptureDevice.h"
#include "recorder/DeviceChoice.h"
#include "recorder/PowerRequest.h"
#include "recorder/RecorderView.h"
#include "recorder/RecordingInput.h"
#include "recorder/WaveInput.h"
#include "resources/resource.h"
#include "startup/OutputPath.h"
#include "startup/ProgramText.h"
#include "startup/RecordingSettings.h"
#include "startup/StartupOptions.h"
#include "startup/UserMessage.h"

RecordingState recordingState = {};

static const WORD kBitsPerSample = 16;
static const int kBitsPerByte = 8;
static const ULONGLONG kMillisecondsPerSecond = 1000;
static const DWORD kNotificationPollMs = 10;
// Windows lets an application hold up the end of the session about five seconds; the device gets
// a second and a half of them before it is let go, the encoder's backlog two and a half, and what
// the encoder has not reached by then is dropped, so that the tag is written in the last second.
static const DWORD kSessionDeviceMs = 1500;
static const DWORD kSessionBacklogMs = 2500;
static const wchar_t kSessionEndReason[] = L"録音ファイルを仕上げています。";
static const char kDeviceMessage[] = "録音デバイスを開けませんでした。\nライン入力が使えるか確認してください。";
static const char kPreparationMessage[] = "録音の準備に失敗しました。\nメモリが足りない可能性があります。";
static const char kSizeLimitMessage[] = "録音ファイルのサイズが 2GB の95%に達したので、\n録音を中止しました。";
static const char kSilentInputMessage[] =
    "録音中、入力から音が来ませんでした。\nライン入力の接続とミュート、録音デバイスの音量を確認してください。";
static const char kNoSuchDeviceMessage[] = "名前に「%s」を含む録音デバイスが見つかりませんでした。\n次のデバイスがあります:\n%s";
static const char kNoDevicesPresent[] = "(録音デバイスがありません)";
static const char kGapsMessage[] = "録音中に入力が %d 回途切れました。無音で補った時間: %s";

// wsprintfA writes at most 1024 characters: the text and the list are bounded to fit.
static const int kDeviceListSize = 640;
static const int kWantedShownSize = 256;
static const int kNoSuchDeviceMessageSize = 1024;

// Room in the gaps message for its count and its time.
static const int kGapsNumbersSize = 16 + kTimeTextSize;

// While the session ends nobody reads a message, and none may hold up the end.
static bool sessionEnds = false;

static void FinishRecording(HWND dialog);

void ResetRecording()
{
    recordingState = {};
    ResetCapture();
}

void PostRecordCommand(HWND dialog)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD, 0), 0);
}

static void NoteEndReason(EndReason reason)
{
    if (reason > recordingState.endReason)
        recordingState.endReason = reason;
}

static void FillFormat(WAVEFORMATEX* format)
{
    *format = {};
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = recordingSettings.channels;
    format->nSamplesPerSec = static_cast<DWORD>(recordingSettings.sampleRate);
    format->nBlockAlign = static_cast<WORD>(recordingSettings.channels * kBitsPerSample / kBitsPerByte);
    format->nAvgBytesPerSec = format->nSamplesPerSec * format->nBlockAlign;
    format->wBitsPerSample = kBitsPerSample;
}

// The end that every recording and every abandoned start share: the queue goes first, then the
// messages (none once the session ends, which may come during the first), during which the
// recording still counts as finishing so that nothing starts or closes under them; then the window
// returns to Idle or closes. A recording that ended by itself (a failure, the size limit) closes a
// run that closes itself after its limit, as that limit would have.
static void EndRecording(HWND dialog, bool endedByItself, const char* message, const char* inputMessage,
                         const char* gapsMessage)
{
    RecordingState& s = recordingState;
    delete currentQueue;
    currentQueue = nullptr;
    s.stage = kFinishing;
    if (waveInput.unblockShutdown)
        waveInput.unblockShutdown(dialog);
    // Whoever closes an unattended run reads its outcome in the exit code: no message holds it.
    const bool closedUnattended = s.afterEnd == kCloseWindow && IsUnattendedRun();
    const char* texts[] = {message, inputMessage, gapsMessage};
    for (const char* text : texts) {
        if (text && !sessionEnds && !closedUnattended)
            ShowMessage(dialog, text, kMessageCaption);
    }
    KillTimer(dialog, kWatchdogTimer);
    s.stage = kIdle;
    if (s.afterEnd == kCloseWindow || (endedByItself && ClosesItselfAfterItsLimit())) {
        DestroyWindow(dialog);
    } else if (ClosesItselfAfterItsLimit()) {
        // Someone stopped the recording and is there: later messages wait for them.
        DismissMessagesAfter(kNoDeadline);
    }
}

static void Conclude(RunOutcome outcome)
{
    recordingState.outcome = outcome;
    NoteRunOutcome(outcome);
}

// Undoes a start that could not be completed; the device's late notifications are ignored,
// because they no longer name the recording's device. No worker ran: a file that only the path's
// check made goes again.
static void AbandonStart(HWND dialog, const char* message, bool outputMade)
{
    AbandonCapture();
    Conclude(kNothingRecorded);
    if (outputMade)
        DeleteFileA(startupOptions.recordingPath);
    EndRecording(dialog, true, message, nullptr, nullptr);
}

// "No device named so; these are present", with the text as the user gave it.
static void FormatNoSuchDeviceMessage(char* text)
{
    char wanted[kWantedShownSize];
    SystemTextToProgramText(startupOptions.deviceName, wanted, sizeof wanted);
    char devices[kDeviceListSize];
    ListDevices(devices, sizeof devices);
    wsprintfA(text, kNoSuchDeviceMessage, wanted, devices[0] ? devices : kNoDevicesPresent);
}

static void StartRecording(HWND dialog)
{
    RecordingState& s = recordingState;
    s.endReason = kEndedAsAsked;
    s.afterEnd = kStayOpen;
    s.level = {};
    const ULONGLONG limitMs = startupOptions.timeLimitSeconds * kMillisecondsPerSecond;
    // From here on even a start that fails keeps the limit of a run that closes itself.
    if (ClosesItselfAfterItsLimit())
        DismissMessagesAfter(limitMs + kLimitGraceMs);
    // Without its watchdog a recording would have no time-limit backstop and never notice a lost device.
    if (!SetTimer(dialog, kWatchdogTimer, kWatchdogPeriodMs, nullptr)) {
        AbandonStart(dialog, kPreparationMessage, false);
        return;
    }
    // Each recording gets the name filled with the moment it starts.
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[kUnusableOutputMessageSize];
    if (!FillNamePattern(startupOptions.outputPath, now, startupOptions.recordingPath)) {
        FormatTooLongNameMessage(startupOptions.outputPath, text);
        AbandonStart(dialog, text, false);
        return;
    }
    bool outputMade = false;
    if (!OutputPathTakesARecording(startupOptions.recordingPath, &outputMade)) {
        FormatUnusableOutputMessage(startupOptions.recordingPath, text);
        AbandonStart(dialog, text, outputMade);
        return;
    }
    ReadRecordingSettingsFromDialog(dialog);
    FillFormat(&s.format);
    currentQueue = new (std::nothrow) CMemoryStreamList;
    if (!currentQueue) {
        AbandonStart(dialog, kPreparationMessage, outputMade);
        return;
    }
    // Capture starts before the worker, so that a device that will not start leaves no file behind;
    // the window is changed only once it runs. A run that nobody attends waits for its device instead,
    // as a show whose interface comes up late is still to be recorded from the moment it does.
    ChooseCaptureDevice(startupOptions.deviceName);
    const int started = StartCapture(dialog, &s.format);
    const bool waitsForDevice = started != kCaptureStarted && started != kCaptureNoMemory && IsUnattendedRun();
    if (started != kCaptureStarted && !waitsForDevice) {
        char notFound[kNoSuchDeviceMessageSize];
        if (started == kCaptureNotFound)
            FormatNoSuchDeviceMessage(notFound);
        AbandonStart(dialog, started == kCaptureNoMemory   ? kPreparationMessage
                             : started == kCaptureNotFound ? notFound
                                                           : kDeviceMessage,
                     outputMade);
        return;
    }
    StartClock(&s.clock, s.format, recordingSettings.bitrateKbps, limitMs, waveInput.now());
    if (waitsForDevice)
        WaitForCaptureDevice(dialog, &s.format);
    DWORD workerThreadId = 0;
    s.worker = CreateThread(nullptr, 0, EncoderWorker, dialog, 0, &workerThreadId);
    if (!s.worker) {
        AbandonStart(dialog, kPreparationMessage, outputMade);
        return;
    }
    s.stage = kRecording;
    KeepSystemAwake(true);
    // Windows names the reason if the session's end finds the recording still to be completed.
    if (waveInput.blockShutdown)
        waveInput.blockShutdown(dialog, kSessionEndReason);
    ShowRecording(dialog);
}

// The first request stops capture; later ones change nothing, since its stop brings every buffer back.
static void RequestStop(EndReason reason)
{
    RecordingState& s = recordingState;
    NoteEndReason(reason);
    if (s.stage != kRecording)
        return;
    s.stage = kStopping;
    NoteStop(&s.clock, waveInput.now());
    StopCapture();
}

void OnRecordCommand(HWND dialog)
{
    switch (recordingState.stage) {
    case kIdle:
        StartRecording(dialog);
        break;
    case kRecording:
        RequestStop(kEndedAsAsked);
        break;
    case kStopping:
    case kFinishing:
        // A Record sent by another program while the last recording is completed waits its turn.
        break;
    }
}

void OnStopCommand(HWND)
{
    RequestStop(kEndedAsAsked);
}

bool OnCloseRequest(HWND)
{
    RecordingState& s = recordingState;
    if (s.stage == kIdle)
        return false;
    s.afterEnd = kCloseWindow;
    // A message on any thread (the worker's failure) gives way, so that the run ends within seconds.
    if (IsUnattendedRun())
        DismissMessagesAfter(0);
    RequestStop(kEndedAsAsked);
    return true;
}

void OnTimeLimitReached(HWND dialog)
{
    if (startupOptions.exitAfterTimeLimit)
        recordingState.afterEnd = kCloseWindow;
    NoteEndReason(kEndedAtTimeLimit);
    PostStopCommand(dialog);
}

void OnSizeLimitReached(HWND dialog)
{
    NoteEndReason(kEndedAtSizeLimit);
    PostStopCommand(dialog);
}

void OnCaptureEnded(HWND dialog)
{
    FinishRecording(dialog);
}

// Waits for the thread to end while answering the messages sent to the window, so that Windows and
// other programs keep getting answers (and, with a look at the queue at least once a second, do
// not take the window for hung); posted ones wait, since they could re-enter the recording.
// Waits up to timeoutMs (INFINITE: for as long as it takes) for thread to end; true when it has.
static bool WaitAnswering(HANDLE thread, DWORD timeoutMs)
{
    const DWORD started = GetTickCount();
    for (;;) {
        const DWORD waited = GetTickCount() - started;
        if (timeoutMs != INFINITE && waited >= timeoutMs)
            return false;
        const DWORD left = timeoutMs == INFINITE ? kWatchdogPeriodMs : timeoutMs - waited;
        if (MsgWaitForMultipleObjects(1, &thread, FALSE, left < kWatchdogPeriodMs ? left : kWatchdogPeriodMs,
                                      QS_SENDMESSAGE) == WAIT_OBJECT_0)
            return true;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// While the session ends, the backlog that the encoder has not reached in its share of the time is
// dropped from the queue's end; the encoder then ends the file at once, with its tag.
static void WaitForTheEncoder(HANDLE worker)
{
    if (sessionEnds && !WaitAnswering(worker, kSessionBacklogMs))
        currentQueue->DropUnread();
    WaitAnswering(worker, INFINITE);
}

static DWORD WaitForWorker()
{
    RecordingState& s = recordingState;
    WaitForTheEncoder(s.worker);
    DWORD exitCode = 1;
    GetExitCodeThread(s.worker, &exitCode);
    CloseHandle(s.worker);
    s.worker = nullptr;
    return exitCode;
}

// Nobody reads a message past the limit of a run that closes itself, or while the session ends.
static bool SomeoneThere()
{
    return !sessionEnds && !(recordingState.endReason == kEndedAtTimeLimit && ClosesItselfAfterItsLimit());
}

// "N gaps, this much silence", for someone who was there.
static void FormatGaps(char* text)
{
    char silence[kTimeTextSize];
    FormatTime(SilenceSeconds(recordingState.clock), silence);
    wsprintfA(text, kGapsMessage, recordingState.clock.gaps, silence);
}

// What this recording tells of the run; the end of the session cuts a recording short.
static RunOutcome OutcomeOf(DWORD workerExitCode, bool silent)
{
    const RecordingState& s = recordingState;
    if (workerExitCode == kWorkerDidNotStart)
        return kNothingRecorded;
    if (workerExitCode != 0 || s.endReason == kEndedAtSizeLimit || sessionEnds)
        return kEndedEarly;
    // Silence throughout for a device that never came.
    if (s.level.bytes == 0)
        return kNothingRecorded;
    if (silent)
        return kRecordedSilence;
    return s.clock.gaps > 0 ? kRecordedWithGaps : kRecordedAsAsked;
}

// Every ending meets here: the worker encodes all that was captured and completes the file, then
// the window returns to Idle and says why the recording ended when it ended by itself.
static void FinishRecording(HWND dialog)
{
    RecordingState& s = recordingState;
    FillUpToTheStop(dialog);
    currentQueue->SetFinished();
    KeepSystemAwake(false);
    s.stage = kFinishing;
    ShowRecordingEnded(dialog);
    const DWORD exitCode = WaitForWorker();
    if (exitCode == 0)
        EnableSave(dialog, true);
    char gaps[sizeof kGapsMessage + kGapsNumbersSize];
    const char* gapsMessage = nullptr;
    if (SomeoneThere() && s.clock.gaps > 0) {
        FormatGaps(gaps);
        gapsMessage = gaps;
    }
    const bool silent = InputWasSilent();
    const bool sizeLimit = s.endReason == kEndedAtSizeLimit;
    Conclude(OutcomeOf(exitCode, silent));
    EndRecording(dialog, sizeLimit || exitCode != 0, sizeLimit ? kSizeLimitMessage : nullptr,
                 silent && SomeoneThere() ? kSilentInputMessage : nullptr, gapsMessage);
}

void OnWatchdogTick(HWND dialog)
{
    RecordingState& s = recordingState;
    if (s.stage != kRecording && s.stage != kStopping)
        return;
    const DWORD now = waveInput.now();
    const bool heldUp = TickWasHeldUp(&s.clock, now);
    if (s.stage == kRecording)
        KeepTime(dialog, now, heldUp);
    OnCaptureTick();
}

// The message loop will not run again: the device's answers to the stop are handled here, for as
// long as the session's end allows; a device that has not closed by then is let go.
static void StopForTheSessionEnd(HWND dialog)
{
    RequestStop(kEndedAsAsked);
    const DWORD started = waveInput.now();
    while (recordingState.stage == kStopping && waveInput.now() - started < kSessionDeviceMs) {
        MSG message;
        if (PeekMessageA(&message, dialog, MM_WIM_OPEN, MM_WIM_DATA, PM_REMOVE))
            DispatchMessageA(&message);
        else
            Sleep(kNotificationPollMs);
    }
    if (recordingState.stage == kStopping) {
        AbandonCapture();
        FinishRecording(dialog);
    }
}

void OnSessionEnd(HWND dialog)
{
    RecordingState& s = recordingState;
    // Nobody reads a message now, and one that waited would hold up the end of the session. A
    // session end that the user cancels leaves the program running, with its deadline as it was.
    sessionEnds = true;
    const ULONGLONG deadlineLeft = DismissMessagesAfter(0);
    switch (s.stage) {
    case kIdle:
        break;
    case kRecording:
    case kStopping:
        StopForTheSessionEnd(dialog);
        break;
    case kFinishing:
        // The session ends while the recording's end waits for the worker: the file is completed first.
        if (s.worker)
            WaitForTheEncoder(s.worker);
        break;
    }
    DismissMessagesAfter(deadlineLeft);
    sessionEnds = false;
}
