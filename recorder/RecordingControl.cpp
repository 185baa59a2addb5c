#include "recorder/RecordingControl.h"

#include <new>

#include "encoding/EncoderWorker.h"
#include "recorder/CaptureDevice.h"
#include "recorder/DeviceChoice.h"
#include "recorder/PowerRequest.h"
#include "recorder/RecorderView.h"
#include "recorder/RecordingInput.h"
#include "recorder/RecordingLog.h"
#include "recorder/RecordingReport.h"
#include "recorder/ScheduledRun.h"
#include "recorder/WaveInput.h"
#include "recorder/WorkerWait.h"
#include "resources/resource.h"
#include "startup/Backstop.h"
#include "startup/OutputPath.h"
#include "startup/RecordingSettings.h"
#include "startup/StartupOptions.h"
#include "startup/UserMessage.h"

RecordingState recordingState = {};

static const ULONGLONG kMillisecondsPerSecond = 1000;
static const DWORD kNotificationPollMs = 10;
// Windows lets an application hold up the end of the session about five seconds; the device gets
// a second and a half of them before it is let go, the encoder's backlog two and a half, and what
// the encoder has not reached by then is dropped, so that the tag is written in the last second.
static const DWORD kSessionDeviceMs = 1500;
static const DWORD kSessionBacklogMs = 2500;
static const wchar_t kSessionEndReason[] = L"録音ファイルを仕上げています。";

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

// The outcome is the run's, and the log's with what happened to the recording into path; one that
// never ran has no time, gaps or silences.
static void Conclude(RunOutcome outcome, const char* path, const char* why, bool ran)
{
    RecordingState& s = recordingState;
    s.outcome = outcome;
    NoteRunOutcome(outcome);
    const RecordingInput& input = recordingInput;
    LogRecording({s.startedAt, path, ran ? MillisecondsIn(input.clock, input.clock.queuedBytes) : 0, ChosenDeviceName(),
                  startupOptions.deviceName, ran ? &input.clock.gaps : nullptr, ran ? &input.level.silences : nullptr,
                  outcome, why});
    TellScheduledRun(outcome);
}

// Undoes a start that could not be completed; the device's late notifications are ignored,
// because they no longer name the recording's device. No worker ran: a file that only the path's
// check made goes again.
static void AbandonStart(HWND dialog, const char* message, const char* path, bool outputMade)
{
    AbandonCapture();
    Conclude(kNothingRecorded, path, message, false);
    if (outputMade)
        DeleteFileA(path);
    EndRecording(dialog, true, message, nullptr, nullptr);
}

static void StartRecording(HWND dialog)
{
    RecordingState& s = recordingState;
    s.endReason = kEndedAsAsked;
    s.afterEnd = kStayOpen;
    const ULONGLONG limitMs = startupOptions.timeLimitSeconds * kMillisecondsPerSecond;
    GetLocalTime(&s.startedAt);
    ChooseCaptureDevice(startupOptions.deviceName);
    // From here on even a start that fails keeps the limit of a run that closes itself.
    if (ClosesItselfAfterItsLimit())
        DismissMessagesAfter(LimitAndGraceMs());
    // Without its watchdog a recording would have no time-limit backstop and never notice a lost device.
    if (!SetTimer(dialog, kWatchdogTimer, kWatchdogPeriodMs, nullptr)) {
        AbandonStart(dialog, kPreparationMessage, startupOptions.outputPath, false);
        return;
    }
    // Each recording gets the name filled with the moment it starts.
    char text[kUnusableOutputMessageSize];
    bool outputMade = false;
    const char* path = startupOptions.recordingPath;
    if (!PrepareRecordingPath(startupOptions.outputPath, s.startedAt, startupOptions.recordingPath, &outputMade, text)) {
        AbandonStart(dialog, text, path, outputMade);
        return;
    }
    ReadRecordingSettingsFromDialog(dialog);
    s.format = InputFormat(recordingSettings.channels, recordingSettings.sampleRate);
    currentQueue = new (std::nothrow) CMemoryStreamList;
    if (!currentQueue) {
        AbandonStart(dialog, kPreparationMessage, path, outputMade);
        return;
    }
    // Capture starts before the worker, so that a device that will not start leaves no file behind;
    // the window is changed only once it runs. A run that nobody attends waits for its device instead,
    // as a show whose interface comes up late is still to be recorded from the moment it does.
    const int started = StartCapture(dialog, &s.format);
    const bool waitsForDevice = started != kCaptureStarted && started != kCaptureNoMemory && IsUnattendedRun();
    if (started != kCaptureStarted && !waitsForDevice) {
        char notFound[kNoSuchDeviceMessageSize];
        if (started == kCaptureNotFound)
            FormatNoSuchDeviceMessage(startupOptions.deviceName, notFound);
        AbandonStart(dialog, started == kCaptureNoMemory   ? kPreparationMessage
                             : started == kCaptureNotFound ? notFound
                                                           : kDeviceMessage,
                     path, outputMade);
        return;
    }
    StartInput(s.format, recordingSettings.bitrateKbps, limitMs, waveInput.now());
    NoteRecordingStart();
    if (waitsForDevice)
        WaitForCaptureDevice(dialog, &s.format);
    DWORD workerThreadId = 0;
    s.worker = CreateThread(nullptr, 0, EncoderWorker, dialog, 0, &workerThreadId);
    if (!s.worker) {
        AbandonStart(dialog, kPreparationMessage, path, outputMade);
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
    NoteInputStop(waveInput.now());
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
    // A message on any thread (the worker's failure) gives way, so that the run ends within seconds;
    // a show cut short by a close is not one recorded as asked.
    if (IsUnattendedRun())
        DismissMessagesAfter(0);
    RequestStop(IsUnattendedRun() ? kClosedBeforeItsLimit : kEndedAsAsked);
    return true;
}

// The limits that the input's clock reached, each once a recording; the stop goes through the
// queue, so that a time limit and the size limit reached at one buffer both count.
static void OnLimitsReached(HWND dialog, int reached)
{
    if (reached & kTimeLimitReached) {
        if (startupOptions.exitAfterTimeLimit)
            recordingState.afterEnd = kCloseWindow;
        NoteEndReason(kEndedAtTimeLimit);
    }
    if (reached & kSizeLimitReached)
        NoteEndReason(kEndedAtSizeLimit);
    if (reached)
        PostStopCommand(dialog);
}

void OnCapturedAudio(HWND dialog, const void* data, DWORD bytes)
{
    OnLimitsReached(dialog, OnInputAudio(dialog, data, bytes, CurrentCaptureStage() == kCapturing));
}

void OnCaptureLost(HWND dialog, const void* lastAudio, DWORD lastBytes, bool beforeItsFirstBuffer)
{
    OnLimitsReached(dialog, OnInputLost(dialog, lastAudio, lastBytes, beforeItsFirstBuffer));
}

void OnCaptureEnded(HWND dialog)
{
    FinishRecording(dialog);
}

bool IsWaitingForInput()
{
    const RecordingStage stage = recordingState.stage;
    return (stage == kRecording || stage == kStopping) && recordingInput.clock.behind;
}

// While the session ends the encoder has its share of the time for its backlog.
static DWORD BacklogTime()
{
    return sessionEnds ? kSessionBacklogMs : INFINITE;
}

// Nobody reads a message past the limit of a run that closes itself, or while the session ends.
static bool SomeoneThere()
{
    return !sessionEnds && !(recordingState.endReason == kEndedAtTimeLimit && ClosesItselfAfterItsLimit());
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
    const DWORD exitCode = EndEncoderWorker(&s.worker, BacklogTime());
    if (exitCode == 0)
        EnableSave(dialog, true);
    const RecordingClock& clock = recordingInput.clock;
    const bool silent = InputWasSilent();
    // A recording silent throughout has its own message, which its long silences need not repeat.
    const Stretches noSilences = {};
    const Stretches& silences = silent ? noSilences : recordingInput.level.silences;
    char gaps[kGapsMessageSize];
    const char* gapsMessage = nullptr;
    if (SomeoneThere() && (clock.gaps.count > 0 || silences.count > 0)) {
        FormatGapsMessage(clock.gaps.count, SilenceSeconds(clock), silences, gaps);
        gapsMessage = gaps;
    }
    const bool sizeLimit = s.endReason == kEndedAtSizeLimit;
    const bool closedEarly = s.endReason == kClosedBeforeItsLimit;
    // The end of the session cuts a recording short, and so does a close before the limit.
    const bool cutShort = sizeLimit || sessionEnds || closedEarly;
    const char* why = exitCode != 0 ? kEncoderFailedWords
                      : sizeLimit   ? kSizeLimitWords
                      : sessionEnds ? kSessionEndWords
                      : closedEarly ? kClosedBeforeItsLimitWords
                                    : nullptr;
    Conclude(OutcomeOf({exitCode, cutShort, recordingInput.level.bytes, silent, clock.gaps.count, silences.count}),
             startupOptions.recordingPath, why, true);
    EndRecording(dialog, sizeLimit || exitCode != 0, sizeLimit ? kSizeLimitMessage : nullptr,
                 silent && SomeoneThere() ? kSilentInputMessage : nullptr, gapsMessage);
}

void OnWatchdogTick(HWND dialog)
{
    RecordingState& s = recordingState;
    if (s.stage != kRecording && s.stage != kStopping)
        return;
    const DWORD now = waveInput.now();
    const bool heldUp = InputTickWasHeldUp(now);
    const bool deviceAway = CurrentCaptureStage() == kWaitingForDevice;
    // The program itself was held up, not the device: it gets its grace afresh.
    if (s.stage == kRecording && heldUp && !deviceAway)
        GiveDeviceGrace();
    if (s.stage == kRecording)
        OnLimitsReached(dialog, KeepTime(dialog, now, heldUp, deviceAway));
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
            WaitForTheEncoder(s.worker, BacklogTime());
        break;
    }
    DismissMessagesAfter(deadlineLeft);
    sessionEnds = false;
}
