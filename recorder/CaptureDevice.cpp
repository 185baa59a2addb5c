#include "recorder/CaptureDevice.h"

#include "recorder/DeviceChoice.h"
#include "recorder/UnclosedDevices.h"
#include "recorder/WaveInput.h"

struct CaptureState {
    CaptureStage stage;
    HWND dialog;
    WAVEFORMATEX format;
    HWAVEIN device;  // null once closed or let go
    bool deviceLost;  // the device stopped delivering: no call of the window's thread goes to it again
    bool gaveABuffer;  // since it was opened
    HWAVEIN closingDevice;  // the closed device whose notification ends the stop
    CaptureBuffers buffers;
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

static bool AnyInHand()
{
    return AnyInHand(capture.buffers);
}

// A buffer that the device refuses to unprepare, whether it still holds it or its driver is gone,
// is kept until the device has closed; a handle that refuses to close is let go, with what it
// holds, to be closed later. True when the device closed.
static bool CloseDevice()
{
    WAVEHDR* kept[kCaptureBuffers] = {};
    EmptyInto(&capture.buffers, kept);
    HWAVEIN device = capture.device;
    capture.device = nullptr;
    if (UnprepareAndClose(device, kept))
        return true;
    LetGoOfDevice(device, kept);
    return false;
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
    CaptureBuffers& buffers = capture.buffers;
    WAVEHDR* unfinished[kCaptureBuffers] = {};
    for (int slot = OldestIn(buffers, kBufferKept), count = 0; slot >= 0; slot = OldestIn(buffers, kBufferKept)) {
        unfinished[count++] = buffers.headers[slot];
        MoveBuffer(&buffers, slot, kBufferReturned);
    }
    WAVEHDR* kept[kCaptureBuffers] = {};
    EmptyInto(&buffers, kept);
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
    WAVEHDR* header = capture.buffers.headers[slot];
    MoveBuffer(&capture.buffers, slot, kBufferInHand);
    capture.gaveABuffer = true;
    OnCapturedAudio(capture.dialog, header->lpData, WholeFrames(BytesRecordedIn(header)));
    // An abandonment inside the handover has let go of the device with its buffers.
    if (capture.buffers.headers[slot] == header)
        MoveBuffer(&capture.buffers, slot, kBufferReturned);
}

// After a reset, or at a loss: each buffer the device marked done is back, in the order it was
// filled (with its bytes kept when asked); one it did not mark is left to it.
static void TakeBackBuffers(bool keepBytes)
{
    CaptureBuffers& buffers = capture.buffers;
    for (int slot = OldestIn(buffers, kBufferInDevice); slot >= 0; slot = OldestIn(buffers, kBufferInDevice)) {
        if (!(buffers.headers[slot]->dwFlags & WHDR_DONE))
            MoveBuffer(&buffers, slot, kBufferKept);
        else if (keepBytes)
            HandOver(slot);
        else
            MoveBuffer(&buffers, slot, kBufferReturned);
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
    capture.gaveABuffer = false;
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
        MMRESULT result = CreateBuffer(&capture.buffers, slot, capture.device, format->nAvgBytesPerSec);
        if (result == MMSYSERR_NOERROR)
            result = HandToDevice(&capture.buffers, slot, capture.device);
        if (result != MMSYSERR_NOERROR) {
            GiveUpDevice();
            return CaptureFailureOf(result);
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

void ChooseCaptureDevice(const wchar_t* wanted)
{
    ChooseDevice(&capture.choice, wanted);
}

const wchar_t* ChosenDeviceName()
{
    return capture.choice.name;
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
    OnCaptureLost(dialog, nullptr, 0, false);
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
    if (capture.stage == kCaptureStopping && capture.buffers.inDevice == 0 && !capture.deviceLost) {
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
        OnCaptureLost(capture.dialog, lastAudio, lastBytes, !capture.gaveABuffer);
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
    const int slot = SlotOf(capture.buffers, header);
    if (!device || device != capture.device || slot < 0 || capture.buffers.places[slot] != kBufferInDevice ||
        !(header->dwFlags & WHDR_DONE))
        return;
    capture.bufferDue = waveInput.now() + kBufferOverdueMs;
    HandOver(slot);
    // The session's end may have let the device go while the bytes were handed over.
    if (capture.buffers.headers[slot] != header || capture.device != device)
        return;
    if (capture.stage != kCapturing) {
        Advance();
        return;
    }
    if (HandToDevice(&capture.buffers, slot, capture.device) != MMSYSERR_NOERROR)
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
