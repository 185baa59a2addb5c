#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "recorder/CaptureBuffers.h"

// Devices the recording has let go of, each with the capture buffers it may still hold, torn down
// on a thread of their own: a lost device's driver may block in its reset or close, and only that
// thread waits for it. A device may write to a buffer until its handle closes, so those are freed
// only then; a handle that refuses to close is tried again.

// Their buffers' memory is bounded by this many devices: with this many still open, no further
// device is opened until one of them closes.
const int kMostUnclosedDevices = 16;

// A device that refused to close is tried again this often, and whenever the recording is about
// to open one.
const DWORD kUnclosedRetryMs = 2000;

// Hands device over, with the buffers of kept (null where none): it is reset, each buffer it gives
// up unprepared and freed, and it is closed, with the rest of its buffers freed once it has.
void LetGoOfDevice(HWAVEIN device, WAVEHDR* const kept[kCaptureBuffers]);

// Lets go of a device lost while it was filling the buffers of unfinished (those of kept it still
// held, in the order it fills them), as LetGoOfDevice does: what it wrote to them, read once its
// reset on the teardown thread has been tried within waitMs, is copied to *audio, whose bytes are
// returned (0 and null for none); what comes later is dropped. Freed with FreeRescuedAudio.
DWORD LetGoOfLostDevice(HWAVEIN device, WAVEHDR* const kept[kCaptureBuffers],
                        WAVEHDR* const unfinished[kCaptureBuffers], DWORD waitMs, char** audio);

void FreeRescuedAudio(char* audio);

// Asks for another try at the devices that have not closed; waits for it at most waitMs.
void RetryUnclosedDevices(DWORD waitMs);

// True once every device handed over or retried so far has had its try, within timeoutMs.
bool WaitForUnclosedDevices(DWORD timeoutMs);

// True while kMostUnclosedDevices devices have not closed.
bool UnclosedDevicesFull();

// True while the teardown is inside a driver's call: no other device is opened meanwhile, so that
// the wave input is never called from two threads at once.
bool UnclosedDevicesBusy();

// The buffers still kept for devices that have not closed.
int KeptCaptureBuffers();

// The devices that have not closed.
int UnclosedDeviceCount();

// A new window starts with none.
void ForgetUnclosedDevices();
