#include "recorder/RecordingControl.h"

#include <new>

#include "encoding/EncoderWorker.h"
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
static const int kCaptureBuffers = 2;
static const DWORD kNotificationPollMs = 10;
static const char kDeviceMessage[] = "録音デバイスを開けませんでした。\nライン入力が使えるか確認してください。";
static const char kPreparationMessage[] = "録音の準備に失敗しました。\nメモリが足りない可能性があります。";
static const char kSizeLimitMessage[] = "録音ファイルのサイズが 2GB の95%に達したので、\n録音を中止しました。";
static const char kDeviceLostMessage[] = "録音デバイスからの入力が止まったため、録音を終了しました。";

static void FinishRecording(HWND dialog);

void ClearRecordingFlags()
{
    RecordingState& s = recordingState;
    s.timeLimitHit = s.sizeLimitHit = s.closeAfterStop = s.recording = s.deviceFailed = 0;
    s.stopStage = kNotStopping;
}

void PostRecordCommand(HWND dialog)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD, 0), 0);
}

static void PostStopCommand(HWND dialog)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD, kStopOnlyNotification), 0);
}

static void StartClock()
{
    RecordingState& s = recordingState;
    s.lastClockReading = s.lastDeviceAnswer = waveInput.now();
    s.elapsedMilliseconds = 0;
}

// The time since the start; the clock is read at least once a second, long before it wraps.
static ULONGLONG Elapsed()
{
    RecordingState& s = recordingState;
    const DWORD now = waveInput.now();
    s.elapsedMilliseconds += now - s.lastClockReading;
    s.lastClockReading = now;
    return s.elapsedMilliseconds;
}

// A run started with /T and a limit: nobody may be there to answer its messages.
static bool IsUnattended()
{
    return startupOptions.exitAfterTimeLimit && startupOptions.timeLimitSeconds > 0;
}

static bool UnattendedLimitPassed()
{
    return IsUnattended() && Elapsed() >= recordingState.limitMilliseconds + kLimitGraceMs;
}

// Once an unattended run's limit has passed, its messages on either thread give way.
static void DismissMessagesPastTheLimit()
{
    RecordingState& s = recordingState;
    if (!UnattendedLimitPassed())
        return;
    DismissMessages(GetCurrentThreadId());
    if (s.worker)
        DismissMessages(s.workerThreadId);
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

static void FreeBlock(WAVEHDR* header)
{
    HANDLE heap = GetProcessHeap();
    HeapFree(heap, 0, header->lpData);
    HeapFree(heap, 0, header);
}

// Frees a buffer that the device has given up. One that it refuses to give up may still be written
// to, so it stays allocated for good.
static void ReleaseBuffer(HWAVEIN device, WAVEHDR** buffer)
{
    WAVEHDR* header = *buffer;
    *buffer = nullptr;
    if (header && waveInput.unprepareHeader(device, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR)
        FreeBlock(header);
}

// One second of audio handed to the device; null when it cannot be had.
static WAVEHDR* CreateBuffer(HWAVEIN device, DWORD bytes)
{
    WAVEHDR* header = static_cast<WAVEHDR*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WAVEHDR)));
    if (!header)
        return nullptr;
    header->lpData = static_cast<LPSTR>(HeapAlloc(GetProcessHeap(), 0, bytes));
    header->dwBufferLength = bytes;
    header->dwLoops = 1;
    if (!header->lpData || waveInput.prepareHeader(device, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        FreeBlock(header);
        return nullptr;
    }
    if (waveInput.addBuffer(device, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
        ReleaseBuffer(device, &header);
    return header;
}

// The one teardown of every ending: the buffers are unprepared before the device is closed, as
// Windows requires. True when the device closed, so that its close notification follows.
static bool ReleaseDevice()
{
    RecordingState& s = recordingState;
    ReleaseBuffer(s.waveIn, &s.firstBuffer);
    ReleaseBuffer(s.waveIn, &s.secondBuffer);
    return waveInput.close(s.waveIn) == MMSYSERR_NOERROR;
}

// After a recording, or a start that failed, and its messages: an unattended run whose recording
// ended by itself closes the program, as its time limit would have.
static void CloseOrStayIdle(HWND dialog, bool endedByItself)
{
    KillTimer(dialog, kWatchdogTimer);
    if (recordingState.closeAfterStop || (endedByItself && IsUnattended()))
        DestroyWindow(dialog);
}

// Undoes a start that could not be completed; the device's late notifications are ignored,
// because they no longer name the recording's device.
static void AbandonStart(HWND dialog, const char* message)
{
    RecordingState& s = recordingState;
    if (s.waveIn) {
        waveInput.reset(s.waveIn);
        ReleaseDevice();
        s.waveIn = nullptr;
    }
    delete currentQueue;
    currentQueue = nullptr;
    s.recording = 0;
    ShowMessage(dialog, message, kMessageCaption);
    CloseOrStayIdle(dialog, true);
}

static void StartRecording(HWND dialog)
{
    RecordingState& s = recordingState;
    s.estimatedBytes = 0;
    s.recording = 1;
    s.sizeLimitHit = s.timeLimitHit = s.deviceFailed = 0;
    s.stopStage = kNotStopping;
    s.limitMilliseconds = startupOptions.timeLimitSeconds * kMillisecondsPerSecond;
    // From here on even a start that fails keeps an unattended run's limit.
    StartClock();
    SetTimer(dialog, kWatchdogTimer, kWatchdogPeriodMs, nullptr);
    ReadSettingsFromDialog(dialog);
    FillFormat(&s.format);
    // The device is opened before the window changes, so a start that fails leaves it as it was.
    if (waveInput.open(&s.waveIn, WAVE_MAPPER, &s.format, reinterpret_cast<DWORD_PTR>(dialog), 0, CALLBACK_WINDOW) !=
        MMSYSERR_NOERROR) {
        s.waveIn = nullptr;
        AbandonStart(dialog, kDeviceMessage);
        return;
    }
    s.firstBuffer = CreateBuffer(s.waveIn, s.format.nAvgBytesPerSec);
    s.secondBuffer = s.firstBuffer ? CreateBuffer(s.waveIn, s.format.nAvgBytesPerSec) : nullptr;
    if (!s.secondBuffer) {
        AbandonStart(dialog, kPreparationMessage);
        return;
    }
    s.buffersInDevice = kCaptureBuffers;
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
    // Capture starts before the worker, so that a device that will not start leaves no file behind.
    StartClock();
    if (waveInput.start(s.waveIn) != MMSYSERR_NOERROR) {
        AbandonStart(dialog, kDeviceMessage);
        return;
    }
    s.worker = CreateThread(nullptr, 0, EncoderWorker, dialog, 0, &s.workerThreadId);
    if (!s.worker) {
        AbandonStart(dialog, kPreparationMessage);
        return;
    }
    SetDlgItemTextA(dialog, IDC_RECORD, "Stop");
    EnableSettingsControls(dialog, false);
    EnableWindow(GetDlgItem(dialog, IDC_SAVE), FALSE);
    SetDlgItemTextA(dialog, IDC_COUNTER, "00:00:00");
}

// The device stopped answering: what it still holds is left to it, and the recording ends with
// what it had delivered.
static void EndWithLostDevice(HWND dialog)
{
    RecordingState& s = recordingState;
    s.deviceFailed = 1;
    if (s.stopStage != kAwaitingClose)
        ReleaseDevice();
    FinishRecording(dialog);
}

// A device that will not close sends no close notification: it is lost as well.
static void CompleteStop(HWND dialog)
{
    RecordingState& s = recordingState;
    s.stopStage = kAwaitingClose;
    s.lastDeviceAnswer = waveInput.now();
    if (!ReleaseDevice())
        EndWithLostDevice(dialog);
}

// Later requests change nothing: the first one's reset brings every buffer back.
static void RequestStop(HWND dialog)
{
    RecordingState& s = recordingState;
    if (s.stopStage != kNotStopping)
        return;
    s.stopStage = kAwaitingBuffers;
    s.lastDeviceAnswer = waveInput.now();
    if (waveInput.reset(s.waveIn) != MMSYSERR_NOERROR)
        EndWithLostDevice(dialog);
    else if (s.buffersInDevice == 0)
        CompleteStop(dialog);
}

void OnRecordCommand(HWND dialog)
{
    if (recordingState.recording)
        RequestStop(dialog);
    else
        StartRecording(dialog);
}

bool OnCloseRequest(HWND dialog)
{
    if (!recordingState.recording)
        return false;
    recordingState.closeAfterStop = 1;
    RequestStop(dialog);
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

static void ShowLimits(HWND dialog, ULONGLONG elapsedMs)
{
    RecordingState& s = recordingState;
    SetTimeText(dialog, IDC_COUNTER, static_cast<DWORD>(elapsedMs / kMillisecondsPerSecond));
    if (startupOptions.timeLimitSeconds == 0)
        return;
    const LONGLONG remaining = static_cast<LONGLONG>(s.limitMilliseconds - elapsedMs);
    if (remaining > 0)
        SetTimeText(dialog, IDC_REMAIN, static_cast<DWORD>(remaining / static_cast<LONGLONG>(kMillisecondsPerSecond)));
    if (remaining < static_cast<LONGLONG>(kMillisecondsPerSecond) && !s.timeLimitHit)
        ReachTimeLimit(dialog);
}

void OnBufferDone(HWND dialog, HWAVEIN device, WAVEHDR* header)
{
    RecordingState& s = recordingState;
    if (!s.recording || device != s.waveIn)
        return;
    --s.buffersInDevice;
    s.lastDeviceAnswer = waveInput.now();
    // A driver that claims more than the buffer holds is not believed past the buffer's end.
    const DWORD recorded = header->dwBytesRecorded < header->dwBufferLength ? header->dwBytesRecorded
                                                                            : header->dwBufferLength;
    if (recorded > 0)
        currentQueue->Append(header->lpData, recorded);
    s.estimatedBytes += static_cast<DWORD>(recordingSettings.bitrateKbps) * 1000 / kBitsPerByte;
    if (s.stopStage != kNotStopping) {
        if (s.stopStage == kAwaitingBuffers && s.buffersInDevice == 0)
            CompleteStop(dialog);
        return;
    }
    ShowLimits(dialog, Elapsed());
    if (!s.sizeLimitHit && s.estimatedBytes > kSizeLimitBytes) {
        s.sizeLimitHit = 1;
        PostStopCommand(dialog);
    }
    if (waveInput.addBuffer(s.waveIn, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
        ++s.buffersInDevice;
        return;
    }
    s.deviceFailed = 1;
    RequestStop(dialog);
}

// Waits for the worker to end; meanwhile an unattended run past its limit has its messages dismissed.
static DWORD WaitForWorker()
{
    RecordingState& s = recordingState;
    while (WaitForSingleObject(s.worker, kWatchdogPeriodMs) == WAIT_TIMEOUT)
        DismissMessagesPastTheLimit();
    DWORD exitCode = 1;
    GetExitCodeThread(s.worker, &exitCode);
    CloseHandle(s.worker);
    s.worker = nullptr;
    return exitCode;
}

// Every ending meets here: the worker encodes all that was captured and completes the file, then
// the window returns to Idle and says why the recording ended when it ended by itself.
static void FinishRecording(HWND dialog)
{
    RecordingState& s = recordingState;
    currentQueue->SetFinished();
    s.waveIn = nullptr;
    SetDlgItemTextA(dialog, IDC_RECORD, "Recode");
    EnableSettingsControls(dialog, true);
    s.recording = 0;
    s.stopStage = kNotStopping;
    s.timeLimitHit = 0;
    const DWORD exitCode = WaitForWorker();
    if (exitCode == 0)
        EnableWindow(GetDlgItem(dialog, IDC_SAVE), TRUE);
    delete currentQueue;
    currentQueue = nullptr;
    const bool endedByItself = s.sizeLimitHit || s.deviceFailed || exitCode != 0;
    // Nobody reads a message while the session ends, and a waiting one would hold it up.
    if (!s.sessionEnding) {
        if (s.sizeLimitHit)
            ShowMessage(dialog, kSizeLimitMessage, kMessageCaption);
        if (s.deviceFailed)
            ShowMessage(dialog, kDeviceLostMessage, kMessageCaption);
    }
    s.sizeLimitHit = s.deviceFailed = 0;
    CloseOrStayIdle(dialog, endedByItself);
}

void OnDeviceClosed(HWND dialog, HWAVEIN device)
{
    RecordingState& s = recordingState;
    if (s.recording && device == s.waveIn && s.stopStage == kAwaitingClose)
        FinishRecording(dialog);
}

void OnWatchdogTick(HWND dialog)
{
    RecordingState& s = recordingState;
    DismissMessagesPastTheLimit();
    if (!s.recording)
        return;
    const DWORD silence = waveInput.now() - s.lastDeviceAnswer;
    if (s.stopStage != kNotStopping) {
        if (silence > kDeviceAnswerMs)
            EndWithLostDevice(dialog);
    } else if (silence > kBufferOverdueMs) {
        s.deviceFailed = 1;
        RequestStop(dialog);
    } else if (startupOptions.timeLimitSeconds > 0 && !s.timeLimitHit &&
               Elapsed() >= s.limitMilliseconds + kLimitGraceMs) {
        ReachTimeLimit(dialog);
    }
}

void OnSessionEnd(HWND dialog)
{
    RecordingState& s = recordingState;
    if (!s.recording)
        return;
    s.sessionEnding = 1;
    RequestStop(dialog);
    // The message loop will not run again: the device's answers are handled here.
    const DWORD started = GetTickCount();
    while (s.recording && GetTickCount() - started < kDeviceAnswerMs) {
        MSG message;
        if (PeekMessageA(&message, dialog, MM_WIM_OPEN, MM_WIM_DATA, PM_REMOVE))
            DispatchMessageA(&message);
        else
            Sleep(kNotificationPollMs);
    }
    if (s.recording)
        EndWithLostDevice(dialog);
    s.sessionEnding = 0;
}
