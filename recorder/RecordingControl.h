#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "startup/RunOutcome.h"

// The life of one recording.
enum RecordingStage {
    kIdle,  // no recording: Record starts one
    kRecording,  // capture runs into the queue and the worker encodes it
    kStopping,  // a stop was asked for: the device hands its buffers back and closes
    kFinishing,  // capture has ended: the worker completes the file, then the end's messages
};

// Why a recording ends, in rising precedence: a later reason replaces an earlier one only when it
// ranks higher, so that the size limit's message survives the stop it posted and a time limit
// reached at the same buffer.
enum EndReason {
    kEndedAsAsked,  // Stop, a close, the end of the session, or the worker's own stop
    kClosedBeforeItsLimit,  // an unattended run closed by anyone (the task scheduler at its own limit)
    kEndedAtTimeLimit,
    kEndedAtSizeLimit,
};

// What follows the end of the recording.
enum AfterRecording { kStayOpen, kCloseWindow };

// The running recording; the dialog's thread alone changes it. The device's life is the capture
// device's; what went into the file, with its time and size, the input's.
struct RecordingState {
    RecordingStage stage;
    EndReason endReason;
    AfterRecording afterEnd;
    HANDLE worker;
    WAVEFORMATEX format;
    RunOutcome outcome;  // of the latest recording, once it has ended
    SYSTEMTIME startedAt;  // local time, for the log
};

extern RecordingState recordingState;

// The dialog's watchdog timer: its identifier and period.
const UINT_PTR kWatchdogTimer = 1;
const UINT kWatchdogPeriodMs = 1000;

// A new window starts with no recording and no device.
void ResetRecording();

// Posts the command that starts a recording when none runs and stops it otherwise.
void PostRecordCommand(HWND dialog);

// The Record button, or the command posted by /A: starts a recording when none runs, otherwise
// stops it.
void OnRecordCommand(HWND dialog);

// The stop posted by a limit or the worker: stops a recording that runs, and never starts one.
void OnStopCommand(HWND dialog);

// True when a recording runs or is completed: the dialog is destroyed once it has ended.
bool OnCloseRequest(HWND dialog);

// The watchdog timer: keeps the file at the wall clock while no audio comes, looks after the device,
// and enforces a time limit that no buffer brought.
void OnWatchdogTick(HWND dialog);

// True while no audio comes and silence stands in for it; the counter is drawn in red meanwhile.
bool IsWaitingForInput();

// WM_ENDSESSION: the process ends when this returns, so a running recording is stopped and its
// file completed here.
void OnSessionEnd(HWND dialog);
