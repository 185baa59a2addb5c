#include "recorder/RecordingControl.h"

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
static const int kBuffersInDevice = 2;
static const char kDeviceMessage[] = "録音デバイスを開けませんでした。\nライン入力が使えるか確認してください。";
static const char kPreparationMessage[] = "録音の準備に失敗しました。\nメモリが足りない可能性があります。";
static const char kSizeLimitMessage[] = "録音ファイルのサイズが 2GB の95%に達したので、\n録音を中止しました。";

void ClearRecordingFlags()
{
    RecordingState& s = recordingState;
    s.timeLimitHit = s.sizeLimitHit = s.closeAfterStop = s.stopRequested = s.recording = 0;
}

void PostRecordCommand(HWND dialog)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD, 0), 0);
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

// One second of audio handed to the device; null when it cannot be had.
static WAVEHDR* CreateBuffer(HWAVEIN device, DWORD bytes)
{
    HANDLE heap = GetProcessHeap();
    WAVEHDR* header = static_cast<WAVEHDR*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(WAVEHDR)));
    if (!header)
        return nullptr;
    header->lpData = static_cast<LPSTR>(HeapAlloc(heap, 0, bytes));
    header->dwBufferLength = bytes;
    header->dwLoops = 1;
    if (!header->lpData || waveInput.prepareHeader(device, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        HeapFree(heap, 0, header->lpData);
        HeapFree(heap, 0, header);
        return nullptr;
    }
    if (waveInput.addBuffer(device, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        waveInput.unprepareHeader(device, header, sizeof(WAVEHDR));
        HeapFree(heap, 0, header->lpData);
        HeapFree(heap, 0, header);
        return nullptr;
    }
    return header;
}

static void FreeBuffer(HWAVEIN device, WAVEHDR** buffer)
{
    if (!*buffer)
        return;
    HANDLE heap = GetProcessHeap();
    waveInput.unprepareHeader(device, *buffer, sizeof(WAVEHDR));
    HeapFree(heap, 0, (*buffer)->lpData);
    HeapFree(heap, 0, *buffer);
    *buffer = nullptr;
}

// Undoes a start that could not be completed; the device's late notifications are ignored,
// because they no longer name the recording's device.
static void AbandonStart(HWND dialog, const char* message)
{
    RecordingState& s = recordingState;
    if (s.waveIn) {
        waveInput.reset(s.waveIn);
        FreeBuffer(s.waveIn, &s.firstBuffer);
        FreeBuffer(s.waveIn, &s.secondBuffer);
        waveInput.close(s.waveIn);
        s.waveIn = nullptr;
    }
    delete currentQueue;
    currentQueue = nullptr;
    s.recording = 0;
    ShowMessage(dialog, message, kMessageCaption);
}

static void StartRecording(HWND dialog)
{
    RecordingState& s = recordingState;
    s.estimatedBytes = 0;
    s.recording = 1;
    s.sizeLimitHit = 0;
    s.timeLimitHit = 0;
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
    const LRESULT position = SendDlgItemMessageA(dialog, IDC_BITRATE, CB_GETCURSEL, 0, 0);
    recordingSettings.bitrateKbps = BitrateAt(recordingSettings.sampleRateIndex, static_cast<int>(position));
    currentQueue = new CMemoryStreamList;
    s.worker = CreateThread(nullptr, 0, EncoderWorker, dialog, 0, nullptr);
    if (!s.worker) {
        AbandonStart(dialog, kPreparationMessage);
        return;
    }
    SetDlgItemTextA(dialog, IDC_RECORD, "Stop");
    EnableSettingsControls(dialog, false);
    EnableWindow(GetDlgItem(dialog, IDC_SAVE), FALSE);
    SetDlgItemTextA(dialog, IDC_COUNTER, "00:00:00");
    s.startTime = waveInput.now();
    s.limitMilliseconds = startupOptions.timeLimitSeconds * kMillisecondsPerSecond;
    if (waveInput.start(s.waveIn) != MMSYSERR_NOERROR)
        OnRecordCommand(dialog);
}

static void RequestStop()
{
    RecordingState& s = recordingState;
    if (!s.stopRequested)
        s.buffersBackSinceStop = 0;
    s.stopRequested = 1;
    waveInput.reset(s.waveIn);
}

void OnRecordCommand(HWND dialog)
{
    if (recordingState.recording)
        RequestStop();
    else
        StartRecording(dialog);
}

bool OnCloseRequest(HWND)
{
    if (!recordingState.recording)
        return false;
    recordingState.closeAfterStop = 1;
    RequestStop();
    return true;
}

static void ShowLimits(HWND dialog, DWORD elapsedMs)
{
    RecordingState& s = recordingState;
    SetTimeText(dialog, IDC_COUNTER, elapsedMs / kMillisecondsPerSecond);
    if (startupOptions.timeLimitSeconds == 0)
        return;
    const LONGLONG remaining = static_cast<LONGLONG>(s.limitMilliseconds) - elapsedMs;
    if (remaining > 0)
        SetTimeText(dialog, IDC_REMAIN, static_cast<DWORD>(remaining / static_cast<LONGLONG>(kMillisecondsPerSecond)));
    if (remaining < static_cast<LONGLONG>(kMillisecondsPerSecond) && !s.timeLimitHit) {
        if (startupOptions.exitAfterTimeLimit)
            s.closeAfterStop = 1;
        s.timeLimitHit = 1;
        PostRecordCommand(dialog);
    }
}

void OnBufferDone(HWND dialog, HWAVEIN device, WAVEHDR* header)
{
    RecordingState& s = recordingState;
    if (!s.recording || device != s.waveIn)
        return;
    if (header->dwBytesRecorded > 0)
        currentQueue->Append(header->lpData, header->dwBytesRecorded);
    s.estimatedBytes += static_cast<DWORD>(recordingSettings.bitrateKbps) * 1000 / kBitsPerByte;
    if (s.stopRequested) {
        // Complete when the idle buffer comes back empty, or once both have come back with data.
        ++s.buffersBackSinceStop;
        if (s.buffersBackSinceStop <= kBuffersInDevice &&
            (header->dwBytesRecorded == 0 || s.buffersBackSinceStop == kBuffersInDevice)) {
            s.buffersBackSinceStop = kBuffersInDevice;
            waveInput.close(s.waveIn);
        }
        return;
    }
    ShowLimits(dialog, waveInput.now() - s.startTime);
    if (!s.sizeLimitHit && s.estimatedBytes > kSizeLimitBytes) {
        s.sizeLimitHit = 1;
        PostRecordCommand(dialog);
    }
    if (waveInput.addBuffer(s.waveIn, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        // The device will not hand this buffer back: it counts as returned.
        RequestStop();
        s.buffersBackSinceStop = 1;
    }
}

void OnDeviceClosed(HWND dialog, HWAVEIN device)
{
    RecordingState& s = recordingState;
    if (!s.recording || device != s.waveIn)
        return;
    currentQueue->SetFinished();
    FreeBuffer(s.waveIn, &s.firstBuffer);
    FreeBuffer(s.waveIn, &s.secondBuffer);
    s.waveIn = nullptr;
    SetDlgItemTextA(dialog, IDC_RECORD, "Recode");
    EnableSettingsControls(dialog, true);
    s.recording = 0;
    s.stopRequested = 0;
    s.timeLimitHit = 0;
    if (s.sizeLimitHit) {
        ShowMessage(dialog, kSizeLimitMessage, kMessageCaption);
        s.sizeLimitHit = 0;
    }
    WaitForSingleObject(s.worker, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeThread(s.worker, &exitCode);
    CloseHandle(s.worker);
    s.worker = nullptr;
    if (exitCode == 0)
        EnableWindow(GetDlgItem(dialog, IDC_SAVE), TRUE);
    delete currentQueue;
    currentQueue = nullptr;
    if (s.closeAfterStop)
        DestroyWindow(dialog);
}
