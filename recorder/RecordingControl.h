#pragma once

#include <windows.h>
#include <mmsystem.h>

// How far a stop has come; it is complete once the device holds none of the buffers.
enum StopStage {
    kNotStopping,
    kAwaitingBuffers,  // the device was reset and is handing its buffers back
    kAwaitingClose,  // the buffers are released and the device closed; its close notification is due
};

// The running recording; the dialog's thread alone changes it.
struct RecordingState {
    HANDLE worker;
    DWORD workerThreadId;
    WAVEHDR* firstBuffer;
    WAVEHDR* secondBuffer;
    WAVEFORMATEX format;
    DWORD estimatedBytes;
    HWAVEIN waveIn;
    LONG timeLimitHit;
    LONG sizeLimitHit;
    LONG closeAfterStop;
    LONG recording;
    LONG deviceFailed;
    LONG sessionEnding;
    StopStage stopStage;
    int buffersInDevice;
    // The time since the start, 64 bits wide and advanced from the clock at every buffer and
    // watchdog tick, so that limits of any length are kept.
    ULONGLONG elapsedMilliseconds;
    DWORD lastClockReading;
    // When the device last answered: a buffer back, the start, the stop request or the close.
    DWORD lastDeviceAnswer;
    // The time limit in milliseconds, 64 bits wide so that a limit of any length stops on time.
    ULONGLONG limitMilliseconds;
};

extern RecordingState recordingState;

// 95 % of 2 GiB, as (2^31 - 1) / 100 * 95.
const DWORD kSizeLimitBytes = 2040109420;

// The dialog's watchdog timer: its identifier and period.
const UINT_PTR kWatchdogTimer = 1;
const UINT kWatchdogPeriodMs = 1000;

// A device that has not handed back a buffer this long after the previous one (one second of
// capture plus four seconds' grace) is lost.
const DWORD kBufferOverdueMs = 5000;

// A device that has not answered a reset or a close this long is lost.
const DWORD kDeviceAnswerMs = 4000;

// How far past its time limit an unattended run may go before the limit is enforced without the
// device's help and the program's messages are dismissed.
const DWORD kLimitGraceMs = 2000;

// Clears the flags when the dialog is created.
void ClearRecordingFlags();

// Posts the command that starts a recording when none runs and stops it otherwise.
void PostRecordCommand(HWND dialog);

// The Record button or a posted stop command: starts a recording when none runs, otherwise stops it.
void OnRecordCommand(HWND dialog);

// True when a recording runs: it is stopped and the dialog is destroyed once it has ended.
bool OnCloseRequest(HWND dialog);

// MM_WIM_DATA from device; notifications of a device other than the recording's are ignored.
void OnBufferDone(HWND dialog, HWAVEIN device, WAVEHDR* header);

// MM_WIM_CLOSE from device.
void OnDeviceClosed(HWND dialog, HWAVEIN device);

// The watchdog timer: ends a recording whose device stopped answering, enforces a time limit that
// no buffer brought, and dismisses the messages of an unattended run once its limit has passed.
void OnWatchdogTick(HWND dialog);

// WM_ENDSESSION: the process ends when this returns, so a running recording is stopped and its
// file completed here.
void OnSessionEnd(HWND dialog);
