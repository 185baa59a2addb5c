#pragma once

#include <windows.h>

// What goes into the file while a recording runs: the audio the device captured, the silence that
// stands in for it while none comes, and the counters and limits that both move. The capture
// device hands in its audio and its losses (OnCapturedAudio, OnCaptureLost).

// The watchdog's tick while the recording runs, at the clock's reading now: silence while the device
// is away or the program was held up, and the counters and the time limit, which no buffer brings
// meanwhile.
void KeepTime(HWND dialog, DWORD now, bool heldUp);

// Capture has ended: a recording stopped while no input came is as long as the time it ran.
void FillUpToTheStop(HWND dialog);

// True while no audio comes and silence stands in for it; the counter is drawn in red meanwhile.
bool IsWaitingForInput();

// True when the input gave nothing but silence over seconds enough to tell.
bool InputWasSilent();

// Supplied by the recording control: a limit was reached, each at most once a recording.
void OnTimeLimitReached(HWND dialog);
void OnSizeLimitReached(HWND dialog);
