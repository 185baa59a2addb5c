#pragma once

#include <windows.h>

// The window's thread waits for the encoder worker to complete the file, answering meanwhile the
// messages sent to it, so that Windows and other programs keep getting answers (and, with a look
// at the queue at least once a second, do not take the window for hung); posted ones wait, since
// they could re-enter the recording.

// Waits for the worker to end; past backlogMs (INFINITE: never) what the encoder has not reached
// is dropped from the queue's end, and the encoder ends the file at once, with its tag.
void WaitForTheEncoder(HANDLE worker, DWORD backlogMs);

// Waits as above, then closes *worker and empties it; the worker's exit code.
DWORD EndEncoderWorker(HANDLE* worker, DWORD backlogMs);
