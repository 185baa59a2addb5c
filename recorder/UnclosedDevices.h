#pragma once

#include <windows.h>
#include <mmsystem.h>

// Lost devices whose handles refused to close, each with the capture buffers it still held: a
// device may write to a buffer until its handle closes, so those are freed only then.

const int kCaptureBuffers = 2;

// Kept to be closed before each later open; with this many still refusing, no further device is opened.
const int kMostUnclosedDevices = 4;

// Frees a capture buffer: its block, then its header.
void FreeCaptureBuffer(WAVEHDR* header);

// Frees each buffer of kept that is there, and empties its place.
void FreeCaptureBuffers(WAVEHDR* kept[kCaptureBuffers]);

// Keeps device and the buffers of kept (null where none), to be closed later.
void KeepUnclosedDevice(HWAVEIN device, WAVEHDR* const kept[kCaptureBuffers]);

// Resets and closes the devices kept; each one that closes has its buffers freed. How many still refuse.
int CloseUnclosedDevices();

// A new window starts with none.
void ForgetUnclosedDevices();
