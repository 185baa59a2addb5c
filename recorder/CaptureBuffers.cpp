#include "recorder/CaptureBuffers.h"

#include "recorder/WaveInput.h"

MMRESULT CreateBuffer(CaptureBuffers* buffers, int slot, HWAVEIN device, DWORD bytes)
{
    buffers->headers[slot] = nullptr;
    buffers->places[slot] = kBufferReturned;
    WAVEHDR* header = static_cast<WAVEHDR*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WAVEHDR)));
    if (!header)
        return MMSYSERR_NOMEM;
    header->lpData = static_cast<LPSTR>(HeapAlloc(GetProcessHeap(), 0, bytes));
    header->dwBufferLength = bytes;
    header->dwLoops = 1;
    const MMRESULT result = header->lpData ? waveInput.prepareHeader(device, header, sizeof(WAVEHDR)) : MMSYSERR_NOMEM;
    if (result != MMSYSERR_NOERROR) {
        FreeCaptureBuffer(header);
        return result;
    }
    buffers->headers[slot] = header;
    return MMSYSERR_NOERROR;
}

MMRESULT HandToDevice(CaptureBuffers* buffers, int slot, HWAVEIN device)
{
    // What a lost device counts as written is its last audio: a count from the buffer's previous
    // round must not pass for it.
    buffers->headers[slot]->dwBytesRecorded = 0;
    const MMRESULT result = waveInput.addBuffer(device, buffers->headers[slot], sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR)
        return result;
    MoveBuffer(buffers, slot, kBufferInDevice);
    buffers->handedOver[slot] = ++buffers->handovers;
    return result;
}

void MoveBuffer(CaptureBuffers* buffers, int slot, BufferPlace place)
{
    buffers->inDevice += (place == kBufferInDevice) - (buffers->places[slot] == kBufferInDevice);
    buffers->places[slot] = place;
}

int SlotOf(const CaptureBuffers& buffers, const WAVEHDR* header)
{
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (header && buffers.headers[slot] == header)
            return slot;
    }
    return -1;
}

bool AnyInHand(const CaptureBuffers& buffers)
{
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (buffers.headers[slot] && buffers.places[slot] == kBufferInHand)
            return true;
    }
    return false;
}

int OldestIn(const CaptureBuffers& buffers, BufferPlace place)
{
    int oldest = -1;
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (buffers.headers[slot] && buffers.places[slot] == place &&
            (oldest < 0 || static_cast<LONG>(buffers.handedOver[slot] - buffers.handedOver[oldest]) < 0))
            oldest = slot;
    }
    return oldest;
}

void EmptyInto(CaptureBuffers* buffers, WAVEHDR* kept[kCaptureBuffers])
{
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (buffers->places[slot] != kBufferInHand)
            kept[slot] = buffers->headers[slot];
        buffers->headers[slot] = nullptr;
    }
    buffers->inDevice = 0;
}

void FreeCaptureBuffer(WAVEHDR* header)
{
    HANDLE heap = GetProcessHeap();
    HeapFree(heap, 0, header->lpData);
    HeapFree(heap, 0, header);
}

void FreeCaptureBuffers(WAVEHDR* kept[kCaptureBuffers])
{
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (kept[slot])
            FreeCaptureBuffer(kept[slot]);
        kept[slot] = nullptr;
    }
}

DWORD BytesRecordedIn(const WAVEHDR* header)
{
    if (!header)
        return 0;
    // Read once: a driver that has not given the buffer back may still be counting.
    const DWORD recorded = *static_cast<const volatile DWORD*>(&header->dwBytesRecorded);
    // A driver that claims more than the buffer holds is not believed past the buffer's end.
    return recorded < header->dwBufferLength ? recorded : header->dwBufferLength;
}

bool UnprepareAndClose(HWAVEIN device, WAVEHDR* kept[kCaptureBuffers])
{
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        WAVEHDR*& header = kept[slot];
        if (header && waveInput.unprepareHeader(device, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
            FreeCaptureBuffer(header);
            header = nullptr;
        }
    }
    if (waveInput.close(device) != MMSYSERR_NOERROR)
        return false;
    FreeCaptureBuffers(kept);
    return true;
}
