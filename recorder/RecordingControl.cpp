#include "recorder/RecordingControl.h"

#include <new>

#include "encoding/EncoderWorker.h"
#include "recorder/CaptureDevice.h"
#include "recorder/RecorderDialog.h"
#include "recorder/WaveInput.h"
#include "resources/resource.h"
#include "startup/RecordingSettings.h"
#include "startup/StartupOptions.h"
#include "startup/UserMessage.h"

RecordingState recordingState = {};

static const WORD kBitsPerSample = 16;
static const int kBitsPerByte = 8;
static const ULONGLONG kMillisecondsPerSecond = 1000;
static const DWORD kNotificationPollMs = 10;
// Windows lets an application hold up the end of the session about five seconds; the device gets
// a second and a half of them, the encoder's backlog and the tag the rest.
static const DWORD kSessionDeviceMs = 1500;
static const wchar_t kSessionEndReason[] = L"録音ファイルを仕上げています。";
// XP's headers and XP itself know no away mode; later systems keep recording through it.
static const EXECUTION_STATE kAwayModeRequired = 0x00000040;
static const char kDeviceMessage[] = "録音デバイスを開けませんでした。\nライン入力が使えるか確認してください。";
static const char kPreparationMessage[] = "録音の準備に失敗しました。\nメモリが足りない可能性があります。";
static const char kSizeLimitMessage[] = "録音ファイルのサイズが 2GB の95%に達したので、\n録音を中止しました。";
static const char kOutputPathMessage[] =
    "このファイルには録音できません。\n%s\nフォルダ名やデバイス名、読み取り専用のファイルではない、書き込めるファイル名を指定してください。";
static const char kDevicePathPrefix[] = "\\\\.\\";
static const char kGapsMessage[] = "録音中に入力が %d 回途切れました。無音で補った時間: %02d:%02d:%02d";

static void FinishRecording(HWND dialog);

void ClearRecordingFlags()
{
    RecordingState& s = recordingState;
    s.timeLimitHit = s.sizeLimitHit = s.closeAfterStop = s.recording = s.stopRequested = 0;
    ResetCapture();
}

void PostRecordCommand(HWND dialog)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD, 0), 0);
}

static void StartClock()
{
    RecordingState& s = recordingState;
    s.lastClockReading = s.lastTickReading = waveInput.now();
    s.elapsedMilliseconds = 0;
}

// The time since the start; the clock is read at least once a second, long before it wraps.
static ULONGLONG AdvanceClock()
{
    RecordingState& s = recordingState;
    const DWORD now = waveInput.now();
    s.elapsedMilliseconds += now - s.lastClockReading;
    s.lastClockReading = now;
    return s.elapsedMilliseconds;
}

// A run started with /T and a limit closes itself: nobody may be there to answer its messages.
static bool IsUnattended()
{
    return startupOptions.exitAfterTimeLimit && startupOptions.timeLimitSeconds > 0;
}

// While a recording runs the system must not sleep; where away mode is refused (XP), without it.
static void KeepSystemAwake(bool awake)
{
    if (!awake) {
        waveInput.setExecutionState(ES_CONTINUOUS);
        return;
    }
    if (!waveInput.setExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | kAwayModeRequired))
        waveInput.setExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
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

// Whole sample frames of the recording's format for a time.
static ULONGLONG BytesFor(ULONGLONG milliseconds)
{
    const WAVEFORMATEX& f = recordingState.format;
    const ULONGLONG bytes = milliseconds * f.nAvgBytesPerSec / kMillisecondsPerSecond;
    return bytes - bytes % f.nBlockAlign;
}

// Why a recording ended: an unattended run closes the program after one that ended by itself
// (a failure, the size limit), as its time limit would have.
enum EndReason { kEndedAsAsked, kEndedByItself };

// The end that every recording and every abandoned start share: the queue goes before any
// message, whose loop might otherwise see a new recording start on it; then the messages (none
// while the session ends), then the window returns to Idle or closes.
static void EndRecording(HWND dialog, EndReason reason, const char* message, const char* gapsMessage)
{
    RecordingState& s = recordingState;
    delete currentQueue;
    currentQueue = nullptr;
    s.recording = 0;
    if (waveInput.unblockShutdown)
        waveInput.unblockShutdown(dialog);
    if (message && !s.sessionEnding)
        ShowMessage(dialog, message, kMessageCaption);
    if (gapsMessage)
        ShowMessage(dialog, gapsMessage, kMessageCaption);
    KillTimer(dialog, kWatchdogTimer);
    s.finishing = 0;
    if (s.closeAfterStop || (reason == kEndedByItself && IsUnattended())) {
        DestroyWindow(dialog);
    } else if (IsUnattended()) {
        // Someone stopped the recording and is there: later messages wait for them.
        DismissMessagesAfter(kNoDeadline);
    }
}

// Undoes a start that could not be completed; the device's late notifications are ignored,
// because they no longer name the recording's device.
static void AbandonStart(HWND dialog, const char* message)
{
    RecordingState& s = recordingState;
    AbandonCapture();
    // No worker ran: a file that only the path's check made goes again.
    if (s.outputCreated)
        DeleteFileA(startupOptions.outputPath);
    s.outputCreated = 0;
    EndRecording(dialog, kEndedByItself, message, nullptr);
}

// A path that cannot take the recording: a folder, a folder that does not exist, a device, a
// read-only file. A file that another program holds is left to the encoder, whose message says so.
// A file made here to find out is removed again if the start fails, so that it leaves none behind.
static bool OutputPathTakesARecording(const char* path)
{
    const int kPrefixLength = sizeof kDevicePathPrefix - 1;
    int same = 0;
    while (same < kPrefixLength && path[same] == kDevicePathPrefix[same])
        ++same;
    if (same == kPrefixLength)
        return false;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return false;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    recordingState.outputCreated = GetLastError() != ERROR_ALREADY_EXISTS;
    const bool onDisk = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    return onDisk;
}

static void StartRecording(HWND dialog)
{
    RecordingState& s = recordingState;
    s.estimatedBytes = s.buffersReturned = 0;
    s.queuedBytes = s.silenceBytes = 0;
    s.gaps = s.inGap = 0;
    s.recording = 1;
    s.sizeLimitHit = s.timeLimitHit = s.stopRequested = 0;
    s.limitMilliseconds = startupOptions.timeLimitSeconds * kMillisecondsPerSecond;
    // From here on even a start that fails keeps an unattended run's limit.
    StartClock();
    if (IsUnattended())
        DismissMessagesAfter(s.limitMilliseconds + kLimitGraceMs);
    // Without its watchdog a recording would have no time-limit backstop and never notice a lost device.
    if (!SetTimer(dialog, kWatchdogTimer, kWatchdogPeriodMs, nullptr)) {
        AbandonStart(dialog, kPreparationMessage);
        return;
    }
    if (!OutputPathTakesARecording(startupOptions.outputPath)) {
        char text[sizeof kOutputPathMessage + MAX_PATH];
        wsprintfA(text, kOutputPathMessage, startupOptions.outputPath);
        AbandonStart(dialog, text);
        return;
    }
    ReadSettingsFromDialog(dialog);
    FillFormat(&s.format);
    LRESULT position = SendDlgItemMessageA(dialog, IDC_BITRATE, CB_GETCURSEL, 0, 0);
    // With nothing selected the row's first entry is taken, as after a click on a setting.
    if (position < 0 || position >= kBitrateRowLength)
        position = 0;
    recordingSettings.bitrateKbps = BitrateAt(recordingSettings.sampleRateIndex, static_cast<int>(position));
    currentQueue = new (std::nothrow) CMemoryStreamList;
    if (!currentQueue) {
        AbandonStart(dialog, kPreparationMessage);
        return;
    }
    // Capture starts before the worker, so that a device that will not start leaves no file behind;
    // the window is changed only once it runs.
    const int started = StartCapture(dialog, &s.format);
    if (started != kCaptureStarted) {
        AbandonStart(dialog, started == kCaptureNoMemory ? kPreparationMessage : kDeviceMessage);
        return;
    }
    StartClock();
    s.worker = CreateThread(nullptr, 0, EncoderWorker, dialog, 0, &s.workerThreadId);
    if (!s.worker) {
        AbandonStart(dialog, kPreparationMessage);
        return;
    }
    KeepSystemAwake(true);
    s.outputCreated = 0;
    // Windows names the reason if the session's end finds the recording still to be completed.
    if (waveInput.blockShutdown)
        waveInput.blockShutdown(dialog, kSessionEndReason);
    SetDlgItemTextA(dialog, IDC_RECORD, "Stop");
    EnableSettingsControls(dialog, false);
    EnableWindow(GetDlgItem(dialog, IDC_SAVE), FALSE);
    SetDlgItemTextA(dialog, IDC_COUNTER, "00:00:00");
}

// Later requests change nothing: the first one's stop brings every buffer back.
static void RequestStop()
{
    RecordingState& s = recordingState;
    if (s.stopRequested)
        return;
    s.stopRequested = 1;
    s.stoppedAtMilliseconds = AdvanceClock();
    StopCapture();
}

void OnRecordCommand(HWND dialog)
{
    // A Record sent by another program while the last recording is completed waits its turn.
    if (recordingState.finishing)
        return;
    if (recordingState.recording)
        RequestStop();
    else
        StartRecording(dialog);
}

bool OnCloseRequest(HWND)
{
    RecordingState& s = recordingState;
    if (!s.recording && !s.finishing)
        return false;
    s.closeAfterStop = 1;
    if (s.recording)
        RequestStop();
    return true;
}

static void ReachTimeLimit(HWND dialog)
{
    RecordingState& s = recordingState;
    if (startupOptions.exitAfterTimeLimit)
        s.closeAfterStop = 1;
    s.timeLimitHit = 1;
    PostStopCommand(dialog);
}

// The counters, and the time and size limits, from the time since the start.
static void ShowLimits(HWND dialog, ULONGLONG elapsedMs)
{
    RecordingState& s = recordingState;
    SetTimeText(dialog, IDC_COUNTER, static_cast<DWORD>(elapsedMs / kMillisecondsPerSecond));
    if (startupOptions.timeLimitSeconds > 0) {
        const LONGLONG remaining = static_cast<LONGLONG>(s.limitMilliseconds - elapsedMs);
        if (remaining > 0)
            SetTimeText(dialog, IDC_REMAIN,
                        static_cast<DWORD>(remaining / static_cast<LONGLONG>(kMillisecondsPerSecond)));
        if (remaining < static_cast<LONGLONG>(kMillisecondsPerSecond) && !s.timeLimitHit)
            ReachTimeLimit(dialog);
    }
    if (!s.sizeLimitHit && s.estimatedBytes > kSizeLimitBytes) {
        s.sizeLimitHit = 1;
        PostStopCommand(dialog);
    }
}

// The MP3's size estimate: a second's worth of the bitrate for every buffer returned, and for
// every second of silence.
static void EstimateSize()
{
    RecordingState& s = recordingState;
    const ULONGLONG perSecond = static_cast<ULONGLONG>(recordingSettings.bitrateKbps) * 1000 / kBitsPerByte;
    const ULONGLONG estimate =
        s.buffersReturned * perSecond + s.silenceBytes * perSecond / s.format.nAvgBytesPerSec;
    s.estimatedBytes = estimate > MAXDWORD ? MAXDWORD : static_cast<DWORD>(estimate);
}

static void MarkGap(HWND dialog, bool inGap)
{
    RecordingState& s = recordingState;
    if (s.inGap == static_cast<LONG>(inGap))
        return;
    s.inGap = inGap;
    s.gaps += inGap;
    InvalidateRect(GetDlgItem(dialog, IDC_COUNTER), nullptr, TRUE);
}

static void QueueSilence(ULONGLONG bytes)
{
    RecordingState& s = recordingState;
    const ULONGLONG silence = currentQueue->AppendSilence(bytes);
    s.queuedBytes += silence;
    s.silenceBytes += silence;
    EstimateSize();
}

static ULONGLONG UpToTheLimit(ULONGLONG milliseconds)
{
    const ULONGLONG limit = recordingState.limitMilliseconds;
    return startupOptions.timeLimitSeconds > 0 && milliseconds > limit ? limit : milliseconds;
}

// The first audio after a gap was captured in the second before it came: silence stands in for
// the time the device took to start.
static void EndGap(HWND dialog, DWORD bytes)
{
    RecordingState& s = recordingState;
    if (!s.inGap || CurrentCaptureStage() != kCapturing)
        return;
    const ULONGLONG due = BytesFor(UpToTheLimit(AdvanceClock()));
    if (due > s.queuedBytes + bytes)
        QueueSilence(due - s.queuedBytes - bytes);
    MarkGap(dialog, false);
}

// Silence stands in for the audio that has not come, so that the file keeps the wall clock up to
// untilMs (never past the time limit) but for what a device may still deliver.
static void KeepWallClock(HWND dialog, ULONGLONG untilMs, ULONGLONG stillToComeMs)
{
    RecordingState& s = recordingState;
    const ULONGLONG due = BytesFor(UpToTheLimit(untilMs));
    const ULONGLONG stillToCome = BytesFor(stillToComeMs);
    if (due <= s.queuedBytes + stillToCome)
        return;
    MarkGap(dialog, true);
    QueueSilence(due - s.queuedBytes - stillToCome);
}

void OnCapturedAudio(HWND dialog, const void* data, DWORD bytes)
{
    RecordingState& s = recordingState;
    ++s.buffersReturned;
    EstimateSize();
    if (bytes > 0) {
        // What a lost device had finished closes no gap; audio from a device that captures does.
        EndGap(dialog, bytes);
        s.queuedBytes += bytes;
        currentQueue->Append(data, bytes);
        // The queue's message runs a message loop, in which the recording may have been stopped.
        if (!s.recording)
            return;
    }
    if (!s.stopRequested)
        ShowLimits(dialog, AdvanceClock());
}

void OnCaptureLost(HWND dialog)
{
    MarkGap(dialog, true);
    KeepWallClock(dialog, AdvanceClock(), 0);
}

void OnCaptureEnded(HWND dialog)
{
    FinishRecording(dialog);
}

bool IsWaitingForInput()
{
    return recordingState.recording && recordingState.inGap;
}

// Waits for the thread to end while answering the messages sent to the window, so that Windows and
// other programs keep getting answers (and, with a look at the queue at least once a second, do
// not take the window for hung); posted ones wait, since they could re-enter the recording.
static void WaitAnswering(HANDLE thread)
{
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, kWatchdogPeriodMs, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

static DWORD WaitForWorker()
{
    RecordingState& s = recordingState;
    WaitAnswering(s.worker);
    DWORD exitCode = 1;
    GetExitCodeThread(s.worker, &exitCode);
    CloseHandle(s.worker);
    s.worker = nullptr;
    return exitCode;
}

// "N gaps, this much silence", for someone who was there.
static void FormatGaps(char* text)
{
    RecordingState& s = recordingState;
    const DWORD seconds = static_cast<DWORD>(s.silenceBytes / s.format.nAvgBytesPerSec);
    wsprintfA(text, kGapsMessage, s.gaps, static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
              static_cast<int>(seconds % 60));
}

// Every ending meets here: the worker encodes all that was captured and completes the file, then
// the window returns to Idle and says why the recording ended when it ended by itself.
static void FinishRecording(HWND dialog)
{
    RecordingState& s = recordingState;
    // A recording stopped while no input came is as long as the time it ran.
    if (s.inGap)
        KeepWallClock(dialog, s.stoppedAtMilliseconds, 0);
    currentQueue->SetFinished();
    KeepSystemAwake(false);
    s.finishing = 1;
    SetDlgItemTextA(dialog, IDC_RECORD, "Recode");
    EnableSettingsControls(dialog, true);
    MarkGap(dialog, false);
    s.recording = 0;
    s.stopRequested = 0;
    // Nobody reads a message past an unattended limit or while the session ends.
    const bool someoneThere = !s.sessionEnding && !(IsUnattended() && s.timeLimitHit);
    s.timeLimitHit = 0;
    const DWORD exitCode = WaitForWorker();
    if (exitCode == 0)
        EnableWindow(GetDlgItem(dialog, IDC_SAVE), TRUE);
    char gaps[sizeof kGapsMessage + 32];
    const char* gapsMessage = nullptr;
    if (someoneThere && s.gaps > 0) {
        FormatGaps(gaps);
        gapsMessage = gaps;
    }
    const bool sizeLimitHit = s.sizeLimitHit;
    s.sizeLimitHit = 0;
    EndRecording(dialog, sizeLimitHit || exitCode != 0 ? kEndedByItself : kEndedAsAsked,
                 sizeLimitHit ? kSizeLimitMessage : nullptr, gapsMessage);
}

void OnWatchdogTick(HWND dialog)
{
    RecordingState& s = recordingState;
    if (!s.recording)
        return;
    const DWORD now = waveInput.now();
    const bool heldUp = now - s.lastTickReading > kProgramHeldUpMs;
    s.lastTickReading = now;
    if (!s.stopRequested) {
        const ULONGLONG elapsed = AdvanceClock();
        if (CurrentCaptureStage() == kWaitingForDevice) {
            KeepWallClock(dialog, elapsed, 0);
        } else if (heldUp) {
            // The buffer that was being filled when the program stopped is still to come.
            GiveDeviceGrace();
            KeepWallClock(dialog, elapsed, kMillisecondsPerSecond);
        }
        // No buffer brings the counters and limits while no input comes.
        if (s.inGap)
            ShowLimits(dialog, elapsed);
        else if (startupOptions.timeLimitSeconds > 0 && !s.timeLimitHit && elapsed >= s.limitMilliseconds + kLimitGraceMs)
            ReachTimeLimit(dialog);
    }
    OnCaptureTick();
}

void OnSessionEnd(HWND dialog)
{
    RecordingState& s = recordingState;
    // Nobody reads a message now, and one that waited would hold up the end of the session.
    DismissMessagesAfter(0);
    if (!s.recording && !s.worker)
        return;
    s.sessionEnding = 1;
    if (s.recording) {
        RequestStop();
        // The message loop will not run again: the device's answers are handled here.
        const DWORD started = waveInput.now();
        while (s.recording && waveInput.now() - started < kSessionDeviceMs) {
            MSG message;
            if (PeekMessageA(&message, dialog, MM_WIM_OPEN, MM_WIM_DATA, PM_REMOVE))
                DispatchMessageA(&message);
            else
                Sleep(kNotificationPollMs);
        }
        if (s.recording) {
            AbandonCapture();
            FinishRecording(dialog);
        }
    } else {
        // The session ends while the recording's end waits for the worker: the file is completed first.
        WaitAnswering(s.worker);
    }
    s.sessionEnding = 0;
}
