#include "recorder/RecordingClock.h"

static const ULONGLONG kMillisecondsPerSecond = 1000;
static const ULONGLONG kBitsPerByte = 8;

void StartClock(RecordingClock* clock, const WAVEFORMATEX& format, int bitrateKbps, ULONGLONG limitMs, DWORD reading)
{
    *clock = {};
    clock->bytesPerSecond = format.nAvgBytesPerSec;
    clock->blockAlign = format.nBlockAlign;
    clock->bitrateKbps = static_cast<DWORD>(bitrateKbps);
    clock->limitMs = limitMs;
    clock->lastReading = clock->lastTickReading = reading;
}

ULONGLONG AdvanceClock(RecordingClock* clock, DWORD reading)
{
    clock->elapsedMs += reading - clock->lastReading;
    clock->lastReading = reading;
    return clock->elapsedMs;
}

bool TickWasHeldUp(RecordingClock* clock, DWORD reading)
{
    const bool heldUp = reading - clock->lastTickReading > kProgramHeldUpMs;
    clock->lastTickReading = reading;
    return heldUp;
}

void NoteStop(RecordingClock* clock, DWORD reading)
{
    clock->stoppedAtMs = AdvanceClock(clock, reading);
}

void AddStretch(Stretches* stretches, ULONGLONG atMs, ULONGLONG lengthMs)
{
    if (stretches->count < kStretchesKept)
        stretches->first[stretches->count] = {atMs, lengthMs};
    ++stretches->count;
    stretches->totalMs += lengthMs;
}

ULONGLONG MillisecondsIn(const RecordingClock& clock, ULONGLONG bytes)
{
    return bytes * kMillisecondsPerSecond / clock.bytesPerSecond;
}

ULONGLONG BytesFor(const RecordingClock& clock, ULONGLONG milliseconds)
{
    const ULONGLONG bytes = milliseconds * clock.bytesPerSecond / kMillisecondsPerSecond;
    return bytes - bytes % clock.blockAlign;
}

ULONGLONG SilenceDue(const RecordingClock& clock, ULONGLONG untilMs, ULONGLONG arrivingBytes)
{
    const ULONGLONG until = clock.limitMs > 0 && untilMs > clock.limitMs ? clock.limitMs : untilMs;
    const ULONGLONG due = BytesFor(clock, until);
    const ULONGLONG coming = clock.queuedBytes + arrivingBytes;
    return due > coming ? due - coming : 0;
}

// The drift moves toward the whole shortfall by at most kDriftFollowedPerBufferMs an arrival.
static void FollowDrift(RecordingClock* clock, ULONGLONG shortfall)
{
    const ULONGLONG step = BytesFor(*clock, kDriftFollowedPerBufferMs);
    if (shortfall > clock->driftBytes)
        clock->driftBytes += shortfall - clock->driftBytes < step ? shortfall - clock->driftBytes : step;
    else
        clock->driftBytes -= clock->driftBytes - shortfall < step ? clock->driftBytes - shortfall : step;
}

ULONGLONG StallSilenceDue(RecordingClock* clock, ULONGLONG elapsedMs, ULONGLONG arrivingBytes)
{
    const ULONGLONG whole = SilenceDue(*clock, elapsedMs, arrivingBytes);
    FollowDrift(clock, whole);
    // Silence that stood in for a sleep or a gap may leave the file nearer the clock than the drift.
    const ULONGLONG shortfall = whole > clock->driftBytes ? whole - clock->driftBytes : 0;
    const ULONGLONG shownTwice = shortfall < clock->shortfallBytes ? shortfall : clock->shortfallBytes;
    const ULONGLONG silence = shownTwice > BytesFor(*clock, kStallToleranceMs) ? shownTwice : 0;
    clock->shortfallBytes = shortfall - silence;
    return silence;
}

// The MP3's size estimate: a second's worth of the bitrate for every buffer returned, and for every
// second of silence.
static DWORD EstimatedSize(const RecordingClock& clock)
{
    const ULONGLONG perSecond = clock.bitrateKbps * kMillisecondsPerSecond / kBitsPerByte;
    const ULONGLONG estimate = clock.buffersReturned * perSecond + clock.silenceBytes * perSecond / clock.bytesPerSecond;
    return estimate > MAXDWORD ? MAXDWORD : static_cast<DWORD>(estimate);
}

void CountBuffer(RecordingClock* clock, ULONGLONG bytes)
{
    ++clock->buffersReturned;
    clock->queuedBytes += bytes;
}

void CountSilence(RecordingClock* clock, ULONGLONG bytes)
{
    clock->queuedBytes += bytes;
    clock->silenceBytes += bytes;
}

bool MarkBehind(RecordingClock* clock, bool behind)
{
    if (clock->behind == behind)
        return false;
    clock->behind = behind;
    if (behind) {
        clock->gapFromSilenceBytes = clock->silenceBytes;
        AddStretch(&clock->gaps, MillisecondsIn(*clock, clock->queuedBytes), 0);
        return true;
    }
    // Only silence went into the file during the gap: it ends where the file is now.
    const ULONGLONG gapBytes = clock->silenceBytes - clock->gapFromSilenceBytes;
    const ULONGLONG lengthMs = MillisecondsIn(*clock, gapBytes);
    const int latest = clock->gaps.count - 1;
    if (latest < kStretchesKept)
        clock->gaps.first[latest] = {MillisecondsIn(*clock, clock->queuedBytes - gapBytes), lengthMs};
    clock->gaps.totalMs += lengthMs;
    return true;
}

static LONGLONG RemainingMs(const RecordingClock& clock, ULONGLONG elapsedMs)
{
    return static_cast<LONGLONG>(clock.limitMs - elapsedMs);
}

ClockReadout ReadCounters(const RecordingClock& clock, ULONGLONG elapsedMs)
{
    ClockReadout readout = {};
    readout.elapsedSeconds = static_cast<DWORD>(elapsedMs / kMillisecondsPerSecond);
    const LONGLONG remaining = RemainingMs(clock, elapsedMs);
    readout.showsRemaining = clock.limitMs > 0 && remaining > 0;
    if (readout.showsRemaining)
        readout.remainingSeconds = static_cast<DWORD>(remaining / static_cast<LONGLONG>(kMillisecondsPerSecond));
    return readout;
}

int LimitsReached(RecordingClock* clock, ULONGLONG elapsedMs)
{
    int reached = 0;
    if (clock->limitMs > 0 && !clock->timeLimitReached &&
        RemainingMs(*clock, elapsedMs) < static_cast<LONGLONG>(kMillisecondsPerSecond)) {
        clock->timeLimitReached = true;
        reached |= kTimeLimitReached;
    }
    if (!clock->sizeLimitReached && EstimatedSize(*clock) > kSizeLimitBytes) {
        clock->sizeLimitReached = true;
        reached |= kSizeLimitReached;
    }
    return reached;
}

bool TimeLimitOverdue(RecordingClock* clock, ULONGLONG elapsedMs, DWORD graceMs)
{
    if (clock->limitMs == 0 || clock->timeLimitReached || elapsedMs < clock->limitMs + graceMs)
        return false;
    clock->timeLimitReached = true;
    return true;
}

DWORD SilenceSeconds(const RecordingClock& clock)
{
    return static_cast<DWORD>(clock.silenceBytes / clock.bytesPerSecond);
}
