#pragma once

#include <windows.h>
#include <mmsystem.h>

// The capture buffers of a device: their memory, where each of them is, and their release before
// the device's close, which Windows requires.

const int kCaptureBuffers = 2;

// Where each capture buffer is.
enum BufferPlace {
    kBufferReturned,  // ours and still prepared: given back, or not yet handed over
    kBufferInDevice,
    kBufferInHand,  // its bytes are being handed to the recording
    kBufferKept,  // a lost device did not give it back: it may still write to it
};

// The buffers of the open device, with the order in which the device was given them, which is
// the order it fills them in.
struct CaptureBuffers {
    WAVEHDR* headers[kCaptureBuffers];
    BufferPlace places[kCaptureBuffers];
    DWORD handedOver[kCaptureBuffers];
    DWORD handovers;
    int inDevice;
};

// One buffer of bytes for device, prepared, in slot (empty on failure); what the device answered,
// MMSYSERR_NOMEM when memory ran out.
MMRESULT CreateBuffer(CaptureBuffers* buffers, int slot, HWAVEIN device, DWORD bytes);

// Hands the buffer of slot to device; what the device answered.
MMRESULT HandToDevice(CaptureBuffers* buffers, int slot, HWAVEIN device);

// The buffer of slot moves to place.
void MoveBuffer(CaptureBuffers* buffers, int slot, BufferPlace place);

// The slot of header, or -1.
int SlotOf(const CaptureBuffers& buffers, const WAVEHDR* header);

bool AnyInHand(const CaptureBuffers& buffers);

// The buffer, of those in place, that the device was given first, or -1.
int OldestIn(const CaptureBuffers& buffers, BufferPlace place);

// Empties the set into kept, but for a buffer in hand, which stays allocated for good (a device is
// let go inside a handover only at an abandonment).
void EmptyInto(CaptureBuffers* buffers, WAVEHDR* kept[kCaptureBuffers]);

// Frees a capture buffer: its block, then its header.
void FreeCaptureBuffer(WAVEHDR* header);

// Frees each buffer of kept that is there, and empties its place.
void FreeCaptureBuffers(WAVEHDR* kept[kCaptureBuffers]);

// The bytes the device says it wrote to a buffer, never past its end; 0 for none.
DWORD BytesRecordedIn(const WAVEHDR* header);

// Each buffer of kept that device lets unprepare is freed, and its place emptied; the device is
// closed, and the rest freed once it has. True when it closed; the rest stays in kept otherwise.
bool UnprepareAndClose(HWAVEIN device, WAVEHDR* kept[kCaptureBuffers]);
