#pragma once

#include <windows.h>

// The end of an unattended run that hung (a driver, a box that cannot be closed), from a thread
// that waits on nothing else, so that a stuck run costs only itself and never the next one.

// An unattended run still alive this long after its limit and grace has hung: the file's completion
// takes seconds, an encoder's backlog after a frozen program tens of them.
const DWORD kBackstopMarginMs = 30000;

// How long from its start an unattended run with a limit of timeLimitSeconds may live.
ULONGLONG BackstopDelayMs(DWORD timeLimitSeconds);

// Ends the process with an exit code and no clean-up, from wherever it is called.
typedef void (*ProcessEnd)(UINT exitCode);
void EndThisProcess(UINT exitCode);

// afterMs from now, end with the worst outcome, at least kEndedEarly. False when no thread could
// be had.
bool StartBackstop(ULONGLONG afterMs, ProcessEnd end);
