#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "startup/StartupOptions.h"

// The running recording; the dialog's thread alone changes it. The device's life is the capture
// device's.
struct RecordingState {
    HANDLE worker;
    DWORD workerThreadId;
    WAVEFORMATEX format;
    DWORD estimatedBytes;
    LONG timeLimitHit;
    LONG sizeLimitHit;
    LONG closeAfterStop;
    LONG stopRequested;
    LONG recording;
    // From the end of capture until the window is Idle again: the worker completes the file.
    LONG finishing;
    LONG sessionEnding;
    // The output file did not exist before the path's check made it.
    LONG outputCreated;
    // The time since the start, 64 bits wide and advanced from the clock at every buffer and
    // watchdog tick, so that limits of any length are kept.
    ULONGLONG elapsedMilliseconds;
    DWORD lastClockReading;
    DWORD lastTickReading;
    ULONGLONG stoppedAtMilliseconds;
    // The time limit in milliseconds, 64 bits wide so that a limit of any length stops on time.
    ULONGLONG limitMilliseconds;
    // What the file has been given: captured audio and silence, in bytes of the format.
    ULONGLONG queuedBytes;
    ULONGLONG silenceBytes;
    DWORD buffersReturned;
    // Stretches without input, and whether one is going on (the counter is red meanwhile).
    int gaps;
    LONG inGap;
};

extern RecordingState recordingState;

// 95 % of 2 GiB, as (2^31 - 1) / 100 * 95.
const DWORD kSizeLimitBytes = 2040109420;

// The dialog's watchdog timer: its identifier and period.
const UINT_PTR kWatchdogTimer = 1;
const UINT kWatchdogPeriodMs = 1000;

// Watchdog ticks this far apart mean the program itself was held up (frozen, or the machine
// asleep): silence stands in for the time, and the device is not taken for lost.
const DWORD kProgramHeldUpMs = 3000;


// Clears the flags when the dialog is created.
void ClearRecordingFlags();

// Posts the command that starts a recording when none runs and stops it otherwise.
void PostRecordCommand(HWND dialog);

// The Record button or a posted stop command: starts a recording when none runs, otherwise stops it.
void OnRecordCommand(HWND dialog);

// True when a recording runs: it is stopped and the dialog is destroyed once it has ended.
bool OnCloseRequest(HWND dialog);

// The watchdog timer: keeps the file at the wall clock while no audio comes, looks after the device,
// enforces a time limit that no buffer brought, and dismisses the messages of an unattended run
// once its limit has passed.
void OnWatchdogTick(HWND dialog);

// True while no audio comes and silence stands in for it; the counter is drawn in red meanwhile.
bool IsWaitingForInput();

// WM_ENDSESSION: the process ends when this returns, so a running recording is stopped and its
// file completed here.
void OnSessionEnd(HWND dialog);
