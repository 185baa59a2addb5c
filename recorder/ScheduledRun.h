#pragma once

#include <windows.h>

// A scheduled run that finds the program already open hands its command line to that window rather
// than lose the show to it: an idle window records it as a run started with it would, and the
// scheduled process waits for that recording's outcome, which is its exit code. One window, one
// recording: a window that records keeps its recording.

// What the window answers an offer.
const int kRunNotTaken = 0;  // no answer, or the window is a run that closes itself: wait for its end
const int kRunTaken = 1;  // the window records it; its outcome follows
const int kRunRefused = 2;  // the window records already

// Posted by the window to itself when it has taken a run.
const UINT kTakeScheduledRunMessage = WM_APP + 2;

// The scheduled process: offers its command line to window and, once it is taken, waits for the
// outcome, at most waitMs; *exitCode is the outcome's code, kEndedEarly when none came, or -1 for a
// command line the window refused. What the window answered.
int OfferScheduledRun(HWND window, ULONGLONG waitMs, int* exitCode);

// WM_COPYDATA in the window: an offer, answered kRunTaken only when the window is idle and is no run
// that closes itself; a run taken is applied at kTakeScheduledRunMessage.
int OnScheduledRunOffered(HWND dialog, const COPYDATASTRUCT* offer, bool recordingRuns);

// kTakeScheduledRunMessage: the run's command line becomes the window's, as at a start; true when
// its recording is to start, false when the command line was refused (its message shown).
bool TakeScheduledRun(HWND dialog);

// The recording has an outcome: a scheduled process waiting for it is told.
void TellScheduledRun(int outcome);
