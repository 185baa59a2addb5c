#pragma once

#include <windows.h>
#include <mmsystem.h>

// Lost devices whose handles refused to close, each with the capture buffers it still held: a
// device may write to a buffer until its handle closes, so those are freed only then.

const int kCaptureBuffers = 2;

// Kept to be closed again before each later open, which they never hold up. Their buffers' memory is
// bounded by this many devices: past it, the oldest is let go, its buffers left allocated for good,
// because a device may write to them until it closes.
const int kMostUnclosedDevices = 16;

// Frees a capture buffer: its block, then its header.
void FreeCaptureBuffer(WAVEHDR* header);

// Frees each buffer of kept that is there, and empties its place.
void FreeCaptureBuffers(WAVEHDR* kept[kCaptureBuffers]);

// Keeps device and the buffers of kept (null where none), to be closed later.
void KeepUnclosedDevice(HWAVEIN device, WAVEHDR* const kept[kCaptureBuffers]);

// Resets the devices kept, unprepares and frees each buffer they give up, and closes them; each one
// that closes has the rest of its buffers freed.
void CloseUnclosedDevices();

// The buffers still kept for devices that have not closed.
int KeptCaptureBuffers();

// A new window starts with none.
void ForgetUnclosedDevices();
