#include "recorder/CaptureDevice.h"

#include "recorder/DeviceChoice.h"
#include "recorder/UnclosedDevices.h"
#include "recorder/WaveInput.h"

// Where each capture buffer is.
enum BufferPlace {
    kBufferReturned,  // ours and still prepared: given back, or not yet handed over
    kBufferInDevice,
    kBufferInHand,  // its bytes are being handed to the recording
    kBufferKept,  // a lost device did not give it back: it may still write to it
};

struct CaptureState {
    CaptureStage stage;
    HWND dialog;
    WAVEFORMATEX format;
    HWAVEIN device;  // null once closed or let go
    bool deviceLost;  // the device stopped delivering: no call of the window's thread goes to it again
    HWAVEIN closingDevice;  // the closed device whose notification ends the stop
    WAVEHDR* buffers[kCaptureBuffers];
    BufferPlace places[kCaptureBuffers];
    // The order in which the buffers were handed to the device, which fills them in that order.
    DWORD handedOver[kCaptureBuffers];
    DWORD handovers;
    int buffersInDevice;
    // When the device last answered the stop: its reset or its close.
    DWORD lastAnswer;
    // By when the device must hand back its next buffer.
    DWORD bufferDue;
    DWORD lostAt;
    DWORD lastReopen;
    DWORD nextReopen;
    DeviceChoice choice;
};

static CaptureState capture = {};

void ResetCapture()
{
    capture = {};
    ForgetUnclosedDevices();
}

CaptureStage CurrentCaptureStage()
{
    return capture.stage;
}

// Only a lack of memory is memory's; any other refusal, such as a driver gone since the open, is the device's.
static int CaptureFailureOf(MMRESULT result)
{
    return result == MMSYSERR_NOMEM ? kCaptureNoMemory : kCaptureNoDevice;
}

// One second of audio for the device, prepared, in *buffer; kCaptureStarted, or what failed.
static int CreateBuffer(HWAVEIN device, DWORD bytes, WAVEHDR** buffer)
{
    WAVEHDR* header = static_cast<WAVEHDR*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WAVEHDR)));
    if (!header)
        return kCaptureNoMemory;
    header->lpData = static_cast<LPSTR>(HeapAlloc(GetProcessHeap(), 0, bytes));
    header->dwBufferLength = bytes;
    header->dwLoops = 1;
    const MMRESULT result = header->lpData ? waveInput.prepareHeader(device, header, sizeof(WAVEHDR)) : MMSYSERR_NOMEM;
    if (result != MMSYSERR_NOERROR) {
        FreeCaptureBuffer(header);
        return CaptureFailureOf(result);
    }
    *buffer = header;
    return kCaptureStarted;
}

// Hands the buffer of slot to the device; what the device answered.
static MMRESULT HandToDevice(int slot)
{
    // What a lost device counts as written is its last audio: a count from the buffer's previous
    // round must not pass for it.
    capture.buffers[slot]->dwBytesRecorded = 0;
    const MMRESULT result = waveInput.addBuffer(capture.device, capture.buffers[slot], sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR)
        return result;
    capture.places[slot] = kBufferInDevice;
    capture.handedOver[slot] = ++capture.handovers;
    ++capture.buffersInDevice;
    return result;
}

static int SlotOf(const WAVEHDR* header)
{
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (header && capture.buffers[slot] == header)
            return slot;
    }
    return -1;
}

static bool AnyInHand()
{
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (capture.buffers[slot] && capture.places[slot] == kBufferInHand)
            return true;
    }
    return false;
}

// Lets go of every buffer but one in hand (which stays allocated for good at an abandonment): one
// the device lets unprepare is freed; one it refuses, whether it still holds it or its driver is
// gone, is kept until the device has closed.
static void ReleaseBuffers(WAVEHDR** kept)
{
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        WAVEHDR* header = capture.buffers[slot];
        capture.buffers[slot] = nullptr;
        if (!header || capture.places[slot] == kBufferInHand)
            continue;
        if (waveInput.unprepareHeader(capture.device, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR)
            FreeCaptureBuffer(header);
        else
            kept[slot] = header;
    }
    capture.buffersInDevice = 0;
}

// The buffers are unprepared before the device is closed, as Windows requires. A handle that
// refuses to close is let go, with what it holds, to be closed later. True when the device closed;
// a device that closed holds no buffer any more.
static bool CloseDevice()
{
    WAVEHDR* kept[kCaptureBuffers] = {};
    ReleaseBuffers(kept);
    HWAVEIN device = capture.device;
    capture.device = nullptr;
    if (waveInput.close(device) == MMSYSERR_NOERROR) {
        FreeCaptureBuffers(kept);
        return true;
    }
    LetGoOfDevice(device, kept);
    return false;
}

// The buffer, of those in place, that the device was given first, or -1.
static int OldestIn(BufferPlace place)
{
    int oldest = -1;
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (capture.buffers[slot] && capture.places[slot] == place &&
            (oldest < 0 || static_cast<LONG>(capture.handedOver[slot] - capture.handedOver[oldest]) < 0))
            oldest = slot;
    }
    return oldest;
}

// Whole sample frames of bytes: a count that ends inside a frame would shift every later sample.
static DWORD WholeFrames(DWORD bytes)
{
    return bytes - bytes % capture.format.nBlockAlign;
}

// A lost device, with every buffer but one in hand, goes to the thread that tears devices down:
// its driver may block in any call now. Given rescueWaitMs, what it wrote to the buffers it was
// filling, read there once its reset has been tried within that time, is returned in *audio.
static DWORD HandOverLostDevice(DWORD rescueWaitMs, char** audio)
{
    WAVEHDR* unfinished[kCaptureBuffers] = {};
    for (int slot = OldestIn(kBufferKept), count = 0; slot >= 0; slot = OldestIn(kBufferKept)) {
        unfinished[count++] = capture.buffers[slot];
        capture.places[slot] = kBufferReturned;
    }
    WAVEHDR* kept[kCaptureBuffers] = {};
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        if (capture.places[slot] != kBufferInHand)
            kept[slot] = capture.buffers[slot];
        capture.buffers[slot] = nullptr;
    }
    capture.buffersInDevice = 0;
    const DWORD bytes = LetGoOfLostDevice(capture.device, kept, unfinished, rescueWaitMs, audio);
    capture.device = nullptr;
    return WholeFrames(bytes);
}

static void HandOverLostDevice()
{
    char* audio = nullptr;
    HandOverLostDevice(0, &audio);
}

// Hands a finished buffer's bytes to the recording. The buffer counts as in hand meanwhile: the
// queue's message may run a message loop, in which nothing may release or requeue it.
static void HandOver(int slot)
{
    WAVEHDR* header = capture.buffers[slot];
    capture.places[slot] = kBufferInHand;
    --capture.buffersInDevice;
    OnCapturedAudio(capture.dialog, header->lpData, WholeFrames(BytesRecordedIn(header)));
    capture.places[slot] = kBufferReturned;
}

// After a reset, or at a loss: each buffer the device marked done is back, in the order it was
// filled (with its bytes kept when asked); one it did not mark is left to it.
static void TakeBackBuffers(bool keepBytes)
{
    for (int slot = OldestIn(kBufferInDevice); slot >= 0; slot = OldestIn(kBufferInDevice)) {
        if (!(capture.buffers[slot]->dwFlags & WHDR_DONE)) {
            capture.places[slot] = kBufferKept;
            --capture.buffersInDevice;
        } else if (keepBytes) {
            HandOver(slot);
        } else {
            capture.places[slot] = kBufferReturned;
            --capture.buffersInDevice;
        }
    }
}

static void GiveUpDevice()
{
    waveInput.reset(capture.device);
    TakeBackBuffers(false);
    CloseDevice();
}

int StartCapture(HWND dialog, const WAVEFORMATEX* format)
{
    capture.dialog = dialog;
    capture.format = *format;
    // Devices that refused to close are tried again, but never stand in the way of this one.
    RetryUnclosedDevices(kRetryBeforeOpenMs);
    if (UnclosedDevicesFull() || UnclosedDevicesBusy())
        return kCaptureNoDevice;
    capture.deviceLost = false;
    UINT id = WAVE_MAPPER;
    if (!FindChosenDevice(&capture.choice, &id))
        return kCaptureNotFound;
    // The wave mapper still converts what the device cannot capture itself.
    const DWORD mapped = id == WAVE_MAPPER ? 0 : WAVE_MAPPED;
    if (waveInput.open(&capture.device, id, format, reinterpret_cast<DWORD_PTR>(dialog), 0, CALLBACK_WINDOW | mapped) !=
        MMSYSERR_NOERROR) {
        capture.device = nullptr;
        return kCaptureNoDevice;
    }
    for (int slot = 0; slot < kCaptureBuffers; ++slot) {
        capture.buffers[slot] = nullptr;
        capture.places[slot] = kBufferReturned;
        int created = CreateBuffer(capture.device, format->nAvgBytesPerSec, &capture.buffers[slot]);
        const MMRESULT added = created == kCaptureStarted ? HandToDevice(slot) : MMSYSERR_NOERROR;
        if (added != MMSYSERR_NOERROR)
            created = CaptureFailureOf(added);
        if (created != kCaptureStarted) {
            GiveUpDevice();
            return created;
        }
    }
    if (waveInput.start(capture.device) != MMSYSERR_NOERROR) {
        GiveUpDevice();
        return kCaptureNoDevice;
    }
    capture.stage = kCapturing;
    capture.bufferDue = waveInput.now() + kFirstBufferDueMs;
    return kCaptureStarted;
}

void ChooseCaptureDevice(const char* wanted)
{
    ChooseDevice(&capture.choice, wanted);
}

void WaitForCaptureDevice(HWND dialog, const WAVEFORMATEX* format)
{
    const DWORD now = waveInput.now();
    capture.dialog = dialog;
    capture.format = *format;
    capture.device = nullptr;
    capture.stage = kWaitingForDevice;
    capture.lostAt = capture.lastReopen = now;
    capture.nextReopen = now + kReopenIntervalMs;
    OnCaptureLost(dialog, nullptr, 0);
}

static void EndCapture()
{
    capture.stage = kCaptureIdle;
    RetryUnclosedDevices(0);
    OnCaptureEnded(capture.dialog);
}

static void CloseAfterStop()
{
    capture.closingDevice = capture.device;
    if (CloseDevice()) {
        capture.stage = kCaptureClosing;
        capture.lastAnswer = waveInput.now();
    } else {
        EndCapture();
    }
}

// Carries on what waits for the buffers; nothing while one is in hand, whose handler calls this
// again once it has let the buffer go.
static void Advance()
{
    if (AnyInHand())
        return;
    if (capture.stage == kCaptureStopping && capture.buffersInDevice == 0 && !capture.deviceLost) {
        CloseAfterStop();
    } else if (capture.stage == kCaptureStopping && capture.deviceLost) {
        HandOverLostDevice();
        EndCapture();
    } else if (capture.stage == kWaitingForDevice && capture.device) {
        HandOverLostDevice();
    }
}

// The device stopped delivering: what it finished is kept, and what it had written to the buffer it
// was filling; what it holds is left to it, and it is opened again later.
static void LoseDevice()
{
    const DWORD now = waveInput.now();
    capture.stage = kWaitingForDevice;
    capture.deviceLost = true;
    capture.lostAt = capture.nextReopen = now;
    capture.lastReopen = now - kSoonestReopenMs;
    TakeBackBuffers(true);
    // Inside a buffer's handover the device is let go once that ends, when the loss's silence is
    // already queued: what it was filling is not kept then.
    char* lastAudio = nullptr;
    DWORD lastBytes = 0;
    if (capture.stage == kWaitingForDevice && capture.device && !AnyInHand())
        lastBytes = HandOverLostDevice(kLostAudioWaitMs, &lastAudio);
    if (capture.stage == kWaitingForDevice)
        OnCaptureLost(capture.dialog, lastAudio, lastBytes);
    FreeRescuedAudio(lastAudio);
    Advance();
}

void StopCapture()
{
    if (capture.stage == kCapturing) {
        capture.stage = kCaptureStopping;
        capture.lastAnswer = waveInput.now();
        // A device that cannot be reset hands nothing back.
        if (waveInput.reset(capture.device) != MMSYSERR_NOERROR)
            TakeBackBuffers(false);
        Advance();
    } else if (capture.stage == kWaitingForDevice) {
        if (capture.device) {
            capture.stage = kCaptureStopping;
            Advance();
        } else {
            EndCapture();
        }
    }
}

void AbandonCapture()
{
    if (capture.device)
        HandOverLostDevice();
    capture.stage = kCaptureIdle;
}

void OnBufferDone(HWND, HWAVEIN device, WAVEHDR* header)
{
    const int slot = SlotOf(header);
    if (!device || device != capture.device || slot < 0 || capture.places[slot] != kBufferInDevice ||
        !(header->dwFlags & WHDR_DONE))
        return;
    capture.bufferDue = waveInput.now() + kBufferOverdueMs;
    HandOver(slot);
    // The session's end may have let the device go while the bytes were handed over.
    if (capture.buffers[slot] != header || capture.device != device)
        return;
    if (capture.stage != kCapturing) {
        Advance();
        return;
    }
    if (HandToDevice(slot) != MMSYSERR_NOERROR)
        LoseDevice();
}

void OnDeviceClosed(HWND, HWAVEIN device)
{
    if (capture.stage == kCaptureClosing && device == capture.closingDevice)
        EndCapture();
}

static void TryReopen(DWORD now)
{
    const DWORD interval = now - capture.lostAt < kSlowReopenAfterMs ? kReopenIntervalMs : kSlowReopenIntervalMs;
    capture.lastReopen = now;
    capture.nextReopen = now + interval;
    StartCapture(capture.dialog, &capture.format);
}

void OnDevicesChanged()
{
    const DWORD now = waveInput.now();
    if (capture.stage == kWaitingForDevice && !capture.device && now - capture.lastReopen >= kSoonestReopenMs)
        TryReopen(now);
}

void GiveDeviceGrace()
{
    capture.bufferDue = waveInput.now() + kBufferOverdueMs;
}

void OnCaptureTick()
{
    const DWORD now = waveInput.now();
    const DWORD unanswered = now - capture.lastAnswer;
    switch (capture.stage) {
    case kCapturing:
        // Read as a signed difference, across the clock's wrap.
        if (static_cast<LONG>(now - capture.bufferDue) > 0)
            LoseDevice();
        break;
    case kCaptureStopping:
        if (unanswered > kDeviceAnswerMs) {
            TakeBackBuffers(true);
            Advance();
        }
        break;
    case kCaptureClosing:
        if (unanswered > kDeviceAnswerMs)
            EndCapture();
        break;
    case kWaitingForDevice:
        if (!capture.device && static_cast<LONG>(now + kTickSlackMs - capture.nextReopen) >= 0)
            TryReopen(now);
        break;
    case kCaptureIdle:
        break;
    }
}
