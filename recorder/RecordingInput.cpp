#include "recorder/RecordingInput.h"

#include "encoding/EncoderWorker.h"
#include "recorder/RecorderView.h"
#include "recorder/WaveInput.h"
#include "resources/resource.h"
#include "startup/StartupOptions.h"

RecordingInput recordingInput = {};

static const ULONGLONG kMillisecondsPerSecond = 1000;
// A muted input gives exact zeros, an unplugged line-in its own noise, some 70 to 90 dB below full
// scale; the quietest passage of a programme peaks far above 54 dB below it. A buffer whose samples
// span less than this (highest less lowest, so that a converter's offset counts for nothing) is silent.
static const int kSilentSpan = 128;
static const DWORD kMostChannels = 2;
static const WORD kBitsPerSample = 16;
// The moment of a Record pressed and stopped at once says nothing about the input.
static const ULONGLONG kSilenceJudgedAfterMs = 3000;
// A device may click once as it is opened: at the start and at each return after a gap.
static const int kClicksPerOpen = 1;

// Constant-initialised: the program runs no global constructors.
static RecordingClock& inputClock = recordingInput.clock;

static ULONGLONG ReadClock()
{
    return AdvanceClock(&inputClock, waveInput.now());
}

WAVEFORMATEX InputFormat(int channels, int sampleRate)
{
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    format.nBlockAlign = static_cast<WORD>(channels * sizeof(SHORT));
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.wBitsPerSample = kBitsPerSample;
    return format;
}

void StartInput(const WAVEFORMATEX& format, int bitrateKbps, ULONGLONG limitMs, DWORD now)
{
    recordingInput = {};
    StartClock(&inputClock, format, bitrateKbps, limitMs, now);
}

void NoteInputStop(DWORD now)
{
    recordingInput.stopped = true;
    NoteStop(&inputClock, now);
}

bool InputTickWasHeldUp(DWORD now)
{
    return TickWasHeldUp(&inputClock, now);
}

// The counters from the time since the start; the time and size limits that it reaches.
static int ShowCounters(HWND dialog, ULONGLONG elapsedMs)
{
    const ClockReadout readout = ReadCounters(inputClock, elapsedMs);
    ShowTime(dialog, IDC_COUNTER, readout.elapsedSeconds);
    if (readout.showsRemaining)
        ShowTime(dialog, IDC_REMAIN, readout.remainingSeconds);
    return LimitsReached(&inputClock, elapsedMs);
}

static void EndSilence();

// A silence is of audio that came: a gap ends it, and what came in one begins none past it.
static void MarkGap(HWND dialog, bool inGap)
{
    if (!MarkBehind(&inputClock, inGap))
        return;
    EndSilence();
    RedrawCounter(dialog);
}

static void QueueSilence(ULONGLONG bytes)
{
    if (bytes > 0)
        CountSilence(&inputClock, currentQueue->AppendSilence(bytes));
}

// Silence stands in for the audio that has not come, so that the file keeps the wall clock up to
// untilMs (never past the time limit) but for what a device may still deliver.
static void KeepWallClock(HWND dialog, ULONGLONG untilMs, ULONGLONG stillToComeMs)
{
    const ULONGLONG silence = SilenceDue(inputClock, untilMs, BytesFor(inputClock, stillToComeMs));
    if (silence == 0)
        return;
    MarkGap(dialog, true);
    QueueSilence(silence);
}

// The first audio after a gap was captured in the second before it came: silence stands in for
// the time the device took to start.
static void EndGap(HWND dialog, DWORD bytes)
{
    if (!inputClock.behind)
        return;
    QueueSilence(SilenceDue(inputClock, ReadClock(), bytes));
    MarkGap(dialog, false);
}

// A device that captures but delivered less than the time that passed lost audio in a stall: the
// gap is filled and counted, before the audio that shows it.
static void FillStall(HWND dialog, DWORD bytes)
{
    const ULONGLONG silence = StallSilenceDue(&inputClock, ReadClock(), bytes);
    if (silence == 0)
        return;
    MarkGap(dialog, true);
    QueueSilence(silence);
    MarkGap(dialog, false);
}

static void EndSilence()
{
    InputLevel& level = recordingInput.level;
    if (!level.inSilence)
        return;
    level.inSilence = false;
    const ULONGLONG lengthMs = MillisecondsIn(inputClock, level.silentToBytes - level.silentFromBytes);
    if (lengthMs >= kSilenceToldMs)
        AddStretch(&level.silences, MillisecondsIn(inputClock, level.silentFromBytes), lengthMs);
}

// A silent buffer that ends at the file's place endBytes carries on the silence; a loud one ends it.
static void FollowSilence(bool loud, ULONGLONG endBytes, DWORD bytes)
{
    InputLevel& level = recordingInput.level;
    if (loud) {
        EndSilence();
        return;
    }
    if (!level.inSilence) {
        level.inSilence = true;
        level.silentFromBytes = endBytes - bytes;
    }
    level.silentToBytes = endBytes;
}

// Capture is 16-bit PCM, in buffers of a second: a larger count is never read past that. Each
// channel has its span, so that two channels at different offsets do not pass for sound.
static void NoteLevel(const void* data, DWORD bytes)
{
    InputLevel& level = recordingInput.level;
    const SHORT* samples = static_cast<const SHORT*>(data);
    const DWORD looked = bytes < inputClock.bytesPerSecond ? bytes : inputClock.bytesPerSecond;
    const DWORD channels = inputClock.blockAlign / sizeof(SHORT);
    SHORT lowest[kMostChannels] = {}, highest[kMostChannels] = {};
    for (DWORD index = 0; channels <= kMostChannels && index < looked / sizeof(SHORT); ++index) {
        const DWORD channel = index % channels;
        if (index < channels || samples[index] < lowest[channel])
            lowest[channel] = samples[index];
        if (index < channels || samples[index] > highest[channel])
            highest[channel] = samples[index];
    }
    bool loud = false;
    for (DWORD channel = 0; channel < kMostChannels; ++channel)
        loud |= highest[channel] - lowest[channel] >= kSilentSpan;
    level.bytes += bytes;
    level.loudBuffers += loud;
    FollowSilence(loud, inputClock.queuedBytes, bytes);
}

bool InputWasSilent()
{
    const InputLevel& level = recordingInput.level;
    const ULONGLONG opens = 1 + static_cast<ULONGLONG>(inputClock.gaps.count);
    return level.bytes >= BytesFor(inputClock, kSilenceJudgedAfterMs) && level.loudBuffers <= opens * kClicksPerOpen;
}

int OnInputAudio(HWND dialog, const void* data, DWORD bytes, bool deviceCaptures)
{
    // What a lost device had finished closes no gap; audio from a device that captures does.
    if (bytes > 0 && deviceCaptures) {
        EndGap(dialog, bytes);
        FillStall(dialog, bytes);
    }
    CountBuffer(&inputClock, bytes);
    if (bytes > 0) {
        NoteLevel(data, bytes);
        currentQueue->Append(data, bytes);
    }
    // The queue's message runs a message loop, in which the recording may have been stopped.
    return recordingInput.stopped ? 0 : ShowCounters(dialog, ReadClock());
}

// The gap is marked before the device's last audio is queued, whose message may run a message loop
// in which the device comes back. A device lost before its first buffer began capturing less than a
// buffer's time before now: silence stands in for the time before, and its audio ends that gap.
int OnInputLost(HWND dialog, const void* lastAudio, DWORD lastBytes, bool beforeItsFirstBuffer)
{
    if (beforeItsFirstBuffer && lastBytes > 0) {
        if (SilenceDue(inputClock, ReadClock(), lastBytes) > 0)
            MarkGap(dialog, true);
        EndGap(dialog, lastBytes);
    }
    MarkGap(dialog, true);
    const int reached = lastBytes > 0 ? OnInputAudio(dialog, lastAudio, lastBytes, false) : 0;
    KeepWallClock(dialog, ReadClock(), 0);
    return reached;
}

int KeepTime(HWND dialog, DWORD now, bool heldUp, bool deviceAway)
{
    const ULONGLONG elapsed = AdvanceClock(&inputClock, now);
    if (deviceAway) {
        KeepWallClock(dialog, elapsed, 0);
    } else if (heldUp) {
        // The buffer that was being filled when the program stopped is still to come.
        KeepWallClock(dialog, elapsed, kMillisecondsPerSecond);
    }
    if (inputClock.behind)
        return ShowCounters(dialog, elapsed);
    return TimeLimitOverdue(&inputClock, elapsed, kLimitGraceMs) ? kTimeLimitReached : 0;
}

void FillUpToTheStop(HWND dialog)
{
    if (inputClock.behind)
        KeepWallClock(dialog, inputClock.stoppedAtMs, 0);
    MarkGap(dialog, false);
    EndSilence();
}
