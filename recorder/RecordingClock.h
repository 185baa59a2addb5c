#pragma once

#include <windows.h>
#include <mmsystem.h>

// The recording's time and size, with no window and no device in it: the clock's readings and the
// bytes that arrived go in; the silence that keeps the file at the wall clock, the counters' values
// and the limits' events come out.

// Stretches of the file, by their place in it: every one counted, the first few kept for the log.
const int kStretchesKept = 5;
struct Stretch {
    ULONGLONG atMs;
    ULONGLONG lengthMs;
};
struct Stretches {
    Stretch first[kStretchesKept];
    int count;
    ULONGLONG totalMs;
};

// Counts a stretch that lasted lengthMs from atMs into the file.
void AddStretch(Stretches* stretches, ULONGLONG atMs, ULONGLONG lengthMs);

struct RecordingClock {
    DWORD bytesPerSecond;
    DWORD blockAlign;
    DWORD bitrateKbps;
    ULONGLONG limitMs;  // 0: no time limit
    // The time since the start, 64 bits wide and advanced from each reading, so that limits of any
    // length are kept across the 32-bit clock's wrap.
    ULONGLONG elapsedMs;
    DWORD lastReading;
    DWORD lastTickReading;
    ULONGLONG stoppedAtMs;
    // What the file has been given: captured audio and silence, in bytes of the format.
    ULONGLONG queuedBytes;
    ULONGLONG silenceBytes;
    // How far behind the wall clock the device's own drift has taken the file, followed slowly,
    // and how far beyond that the file was when the previous buffer arrived.
    ULONGLONG driftBytes;
    ULONGLONG shortfallBytes;
    // Each counts as a whole second in the size estimate.
    DWORD buffersReturned;
    // Stretches without input, each counted as it begins and placed once it ends; whether the file is
    // behind the wall clock now, since the silence count stood at gapFromSilenceBytes.
    Stretches gaps;
    bool behind;
    ULONGLONG gapFromSilenceBytes;
    bool timeLimitReached;
    bool sizeLimitReached;
};

// 95 % of 2 GiB, as (2^31 - 1) / 100 * 95.
const DWORD kSizeLimitBytes = 2040109420;

// Watchdog ticks this far apart mean the program itself was held up (frozen, or the machine
// asleep): silence stands in for the time, and the device is not taken for lost.
const DWORD kProgramHeldUpMs = 3000;

// What LimitsReached reports, each once a recording.
const int kTimeLimitReached = 1;
const int kSizeLimitReached = 2;

// The counters' values at one reading.
struct ClockReadout {
    DWORD elapsedSeconds;
    bool showsRemaining;  // a time limit with time left: the remain box shows remainingSeconds
    DWORD remainingSeconds;
};

// A new recording of format at bitrateKbps, with a time limit of limitMs (0: none), from reading.
void StartClock(RecordingClock* clock, const WAVEFORMATEX& format, int bitrateKbps, ULONGLONG limitMs, DWORD reading);

// The time since the start at reading; the clock is read at least once a second, long before it wraps.
ULONGLONG AdvanceClock(RecordingClock* clock, DWORD reading);

// A watchdog tick at reading: true when it comes so late that the program itself was held up.
bool TickWasHeldUp(RecordingClock* clock, DWORD reading);

// The stop's moment, up to which a recording stopped without input is filled.
void NoteStop(RecordingClock* clock, DWORD reading);

// The time that bytes of the format last.
ULONGLONG MillisecondsIn(const RecordingClock& clock, ULONGLONG bytes);

// Whole sample frames of the format for a time.
ULONGLONG BytesFor(const RecordingClock& clock, ULONGLONG milliseconds);

// The silence that brings the file up to untilMs (never past the time limit) once arrivingBytes
// more have come; 0 when the file is there already.
ULONGLONG SilenceDue(const RecordingClock& clock, ULONGLONG untilMs, ULONGLONG arrivingBytes);

// A device that stalls without being lost delivers less than the wall clock: past this shortfall,
// at two arrivals in a row, the time lost is filled. A shortfall that the next arrival makes up
// (the program was busy, and two buffers come at once) is not filled.
const DWORD kStallToleranceMs = 1500;
// The drift of a device's clock against the system's (tens of parts per million, a second in a few
// hours) is no stall: the shortfall that builds up this slowly, up to a millisecond a buffer
// (1000 parts per million), is followed and never filled; a stall's second comes at once.
const DWORD kDriftFollowedPerBufferMs = 1;

// The silence that stands in for what stalls lost, as arrivingBytes arrive at elapsedMs: the
// shortfall beyond the drift that this arrival and the previous one both show, once past
// kStallToleranceMs; 0 otherwise.
ULONGLONG StallSilenceDue(RecordingClock* clock, ULONGLONG elapsedMs, ULONGLONG arrivingBytes);

// A buffer the device handed back, with the bytes of it that were queued.
void CountBuffer(RecordingClock* clock, ULONGLONG bytes);

// Silence that was queued.
void CountSilence(RecordingClock* clock, ULONGLONG bytes);

// The file falls behind the wall clock or catches up; true when that changed. A gap is counted
// each time it falls behind, and placed in the file, with its silence, once it has caught up.
bool MarkBehind(RecordingClock* clock, bool behind);

// The counters at elapsedMs.
ClockReadout ReadCounters(const RecordingClock& clock, ULONGLONG elapsedMs);

// The limits that elapsedMs and the size estimate reach for the first time: the time limit at the
// reading that leaves less than a second, the size limit once the estimate passes it.
int LimitsReached(RecordingClock* clock, ULONGLONG elapsedMs);

// True, once, when no buffer has brought the time limit and elapsedMs is past it by graceMs.
bool TimeLimitOverdue(RecordingClock* clock, ULONGLONG elapsedMs, DWORD graceMs);

// Whole seconds of silence the file was given.
DWORD SilenceSeconds(const RecordingClock& clock);
