#pragma once

#include <windows.h>

// The end of an unattended run that hung (a driver, a box that cannot be closed), from a thread
// that waits on nothing else, so that a stuck run costs only itself and never the next one. It
// counts the limit from the recording's start, which a disk that wakes slowly may hold up, and past
// the limit and its grace it waits for as long as the encoder makes progress, up to a ceiling.

// With no progress this long past the limit and grace, the run has hung: the file's completion
// takes seconds, and an encoder's backlog keeps moving.
const DWORD kBackstopMarginMs = 30000;
// However the encoder moves, a run ends this long after its limit and grace: an hour's backlog of
// a frozen program is encoded within it even on a slow machine.
const DWORD kBackstopCeilingMs = 120000;

// What the backstop has seen, in milliseconds since it started.
struct BackstopWatch {
    ULONGLONG limitMs;  // the time limit with its grace
    ULONGLONG marginMs, ceilingMs;
    bool recordingStarted;
    ULONGLONG recordingStartMs;
    ULONGLONG lastProgressMs;
};

// The watch of a run with a limit of timeLimitSeconds, before anything has happened.
BackstopWatch BackstopFor(DWORD timeLimitSeconds);

// True when the run has hung at nowMs: past the limit and grace from the recording's start (from
// the backstop's own until the recording starts), the encoder made no progress for the margin, or
// the ceiling has passed.
bool RunHasHung(const BackstopWatch& watch, ULONGLONG nowMs);

// The recording's clock started; the encoder moved on (any thread, at any rate).
void NoteRecordingStart();
void NoteEncoderProgress();

// Ends the process with an exit code and no clean-up, from wherever it is called.
typedef void (*ProcessEnd)(UINT exitCode);
void EndThisProcess(UINT exitCode);

// The single-instance lock while this copy holds it (null: none), let go of once, by the end or
// the backstop: a hung run lets the next one take it before it ends, in case a driver keeps the
// process alive.
void HoldTheLock(HANDLE lock);
void LetGoOfTheLock();
void EndHoldingTheLock(UINT exitCode);

// From now on watches the run; once it has hung, ends it with the worst outcome, at least
// kEndedEarly. False when no thread could be had.
bool StartBackstop(const BackstopWatch& watch, ProcessEnd end);
