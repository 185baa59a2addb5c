#include "recorder/RecordingInput.h"

#include "encoding/EncoderWorker.h"
#include "recorder/CaptureDevice.h"
#include "recorder/RecorderView.h"
#include "recorder/RecordingControl.h"
#include "recorder/WaveInput.h"
#include "resources/resource.h"
#include "startup/StartupOptions.h"

static const ULONGLONG kMillisecondsPerSecond = 1000;
// A muted input gives exact zeros, an unplugged line-in its own noise, some 70 to 90 dB below full
// scale; the quietest passage of a programme peaks far above 54 dB below it. A buffer whose samples
// span less than this (highest less lowest, so that a converter's offset counts for nothing) is silent.
static const int kSilentSpan = 128;
// The moment of a Record pressed and stopped at once says nothing about the input.
static const ULONGLONG kSilenceJudgedAfterMs = 3000;
// A device may click once as it is opened: at the start and at each return after a gap.
static const int kClicksPerOpen = 1;

static ULONGLONG ReadClock()
{
    return AdvanceClock(&recordingState.clock, waveInput.now());
}

// The counters, and the time and size limits, from the time since the start.
static void ShowCounters(HWND dialog, ULONGLONG elapsedMs)
{
    RecordingClock& clock = recordingState.clock;
    const ClockReadout readout = ReadCounters(clock, elapsedMs);
    ShowTime(dialog, IDC_COUNTER, readout.elapsedSeconds);
    if (readout.showsRemaining)
        ShowTime(dialog, IDC_REMAIN, readout.remainingSeconds);
    const int reached = LimitsReached(&clock, elapsedMs);
    if (reached & kTimeLimitReached)
        OnTimeLimitReached(dialog);
    if (reached & kSizeLimitReached)
        OnSizeLimitReached(dialog);
}

static void MarkGap(HWND dialog, bool inGap)
{
    if (MarkBehind(&recordingState.clock, inGap))
        RedrawCounter(dialog);
}

static void QueueSilence(ULONGLONG bytes)
{
    if (bytes > 0)
        CountSilence(&recordingState.clock, currentQueue->AppendSilence(bytes));
}

// Silence stands in for the audio that has not come, so that the file keeps the wall clock up to
// untilMs (never past the time limit) but for what a device may still deliver.
static void KeepWallClock(HWND dialog, ULONGLONG untilMs, ULONGLONG stillToComeMs)
{
    RecordingClock& clock = recordingState.clock;
    const ULONGLONG silence = SilenceDue(clock, untilMs, BytesFor(clock, stillToComeMs));
    if (silence == 0)
        return;
    MarkGap(dialog, true);
    QueueSilence(silence);
}

// The first audio after a gap was captured in the second before it came: silence stands in for
// the time the device took to start.
static void EndGap(HWND dialog, DWORD bytes)
{
    if (!recordingState.clock.behind || CurrentCaptureStage() != kCapturing)
        return;
    QueueSilence(SilenceDue(recordingState.clock, ReadClock(), bytes));
    MarkGap(dialog, false);
}

// A device that captures but delivered less than the time that passed lost audio in a stall: the
// gap is filled and counted, before the audio that shows it.
static void FillStall(HWND dialog, DWORD bytes)
{
    if (CurrentCaptureStage() != kCapturing)
        return;
    const ULONGLONG silence = StallSilenceDue(&recordingState.clock, ReadClock(), bytes);
    if (silence == 0)
        return;
    MarkGap(dialog, true);
    QueueSilence(silence);
    MarkGap(dialog, false);
}

// Capture is 16-bit PCM, in buffers of a second: a larger count is never read past that.
static void NoteLevel(const void* data, DWORD bytes)
{
    InputLevel& level = recordingState.level;
    const SHORT* samples = static_cast<const SHORT*>(data);
    const DWORD looked = bytes < recordingState.format.nAvgBytesPerSec ? bytes : recordingState.format.nAvgBytesPerSec;
    SHORT lowest = 0, highest = 0;
    for (DWORD index = 0; index < looked / sizeof(SHORT); ++index) {
        if (index == 0 || samples[index] < lowest)
            lowest = samples[index];
        if (index == 0 || samples[index] > highest)
            highest = samples[index];
    }
    level.bytes += bytes;
    level.loudBuffers += highest - lowest >= kSilentSpan;
}

bool InputWasSilent()
{
    const InputLevel& level = recordingState.level;
    const ULONGLONG opens = 1 + static_cast<ULONGLONG>(recordingState.clock.gaps);
    return level.bytes >= BytesFor(recordingState.clock, kSilenceJudgedAfterMs) &&
           level.loudBuffers <= opens * kClicksPerOpen;
}

void OnCapturedAudio(HWND dialog, const void* data, DWORD bytes)
{
    RecordingState& s = recordingState;
    // What a lost device had finished closes no gap; audio from a device that captures does.
    if (bytes > 0) {
        EndGap(dialog, bytes);
        FillStall(dialog, bytes);
    }
    CountBuffer(&s.clock, bytes);
    if (bytes > 0) {
        NoteLevel(data, bytes);
        currentQueue->Append(data, bytes);
    }
    // The queue's message runs a message loop, in which the recording may have been stopped.
    if (s.stage == kRecording)
        ShowCounters(dialog, ReadClock());
}

// The gap is marked before the device's last audio is queued, whose message may run a message loop
// in which the device comes back.
void OnCaptureLost(HWND dialog, const void* lastAudio, DWORD lastBytes)
{
    MarkGap(dialog, true);
    if (lastBytes > 0)
        OnCapturedAudio(dialog, lastAudio, lastBytes);
    KeepWallClock(dialog, ReadClock(), 0);
}

void KeepTime(HWND dialog, DWORD now, bool heldUp)
{
    RecordingClock& clock = recordingState.clock;
    const ULONGLONG elapsed = AdvanceClock(&clock, now);
    if (CurrentCaptureStage() == kWaitingForDevice) {
        KeepWallClock(dialog, elapsed, 0);
    } else if (heldUp) {
        // The buffer that was being filled when the program stopped is still to come.
        GiveDeviceGrace();
        KeepWallClock(dialog, elapsed, kMillisecondsPerSecond);
    }
    if (clock.behind)
        ShowCounters(dialog, elapsed);
    else if (TimeLimitOverdue(&clock, elapsed, kLimitGraceMs))
        OnTimeLimitReached(dialog);
}

void FillUpToTheStop(HWND dialog)
{
    RecordingClock& clock = recordingState.clock;
    if (clock.behind)
        KeepWallClock(dialog, clock.stoppedAtMs, 0);
    MarkGap(dialog, false);
}

bool IsWaitingForInput()
{
    const RecordingStage stage = recordingState.stage;
    return (stage == kRecording || stage == kStopping) && recordingState.clock.behind;
}
