#pragma once

#include <windows.h>

// How an unattended run went: its exit code, which the task scheduler shows as the last run's
// result and scripts can test. Worse outcomes have higher codes; the worst seen is the one told.
enum RunOutcome {
    kRecordedAsAsked = 0,
    kRecordedWithGaps = 1,  // the input was missing for a while: silence stands in for it
    kRecordedSilence = 2,  // the input was silent throughout: a muted or unplugged line-in
    kEndedEarly = 3,  // the size limit, the encoder or the disk ended it: the file holds what came before
    kNothingRecorded = 4,  // no file: the path, the device, the encoder or the previous run stood in the way
};

// A finding about this run; one better than what was already found changes nothing.
void NoteRunOutcome(RunOutcome outcome);

// The process's exit code: the worst outcome for an unattended run, 0 for one with someone there.
int RunExitCode();

// An unattended run still alive this long after its limit and grace has hung (a driver, a box that
// cannot be closed): the file's completion takes seconds, an encoder's backlog after a frozen
// program tens of them. The next run waits for the lock longer than this.
const DWORD kBackstopMarginMs = 30000;

// Ends the process with an exit code and no clean-up, from wherever it is called.
typedef void (*ProcessEnd)(UINT exitCode);
void EndThisProcess(UINT exitCode);

// From a thread that waits on nothing else: afterMs from now, end with the worst outcome, at least
// kEndedEarly. False when no thread could be had.
bool StartBackstop(ULONGLONG afterMs, ProcessEnd end);
