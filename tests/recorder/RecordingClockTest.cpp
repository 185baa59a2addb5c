// The recording's clock driven by readings and byte counts alone: no window, no device.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "recorder/RecordingClock.h"

namespace {

const DWORD kNearTheWrap = 0xFFFFF000;
const DWORD kGraceMs = 2000;
const DWORD kBuffersToTheSizeLimitAt320 = kSizeLimitBytes / 40000;

RecordingClock Started(DWORD rate, WORD channels, int kbps, ULONGLONG limitMs)
{
    WAVEFORMATEX format = {};
    format.nBlockAlign = static_cast<WORD>(channels * 2);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    RecordingClock clock;
    StartClock(&clock, format, kbps, limitMs, kNearTheWrap);
    return clock;
}

// The counters and the limits at one reading, after so many buffers and seconds of silence (48 kHz
// stereo); each limit is reached once, and one that no buffer brought once its grace has passed.
TEST(RecordingClock, CountersAndLimitsAtAReading)
{
    const struct {
        const char* name;
        ULONGLONG limitMs;
        int kbps;
        DWORD buffers, silentSeconds;
        ULONGLONG elapsedMs;
        bool showsRemaining;
        DWORD remainingSeconds;
        int reached;
        bool overdue;  // instead, with no buffer
    } rows[] = {
        {"a buffer a little after its whole second", 5000, 80, 4, 0, 4010, true, 0, kTimeLimitReached, false},
        {"a buffer on its whole second leaves a second", 5000, 80, 4, 0, 4000, true, 1, 0, false},
        {"past the limit, within its grace", 5000, 80, 9, 0, 5000 + kGraceMs - 1, false, 0, kTimeLimitReached, false},
        {"past the limit and its grace", 5000, 80, 9, 0, 5000 + kGraceMs, false, 0, kTimeLimitReached, true},
        {"no limit", 0, 80, 9, 0, 9000, false, 0, 0, false},
        {"a limit beyond 25 days", 30ull * 86400000, 8, 1, 0, 1000, true, 30 * 86400 - 1, 0, false},
        {"buffers up to the size limit", 0, 320, kBuffersToTheSizeLimitAt320, 0, 1000, false, 0, 0, false},
        {"buffers past the size limit", 0, 320, kBuffersToTheSizeLimitAt320 + 1, 0, 1000, false, 0, kSizeLimitReached,
         false},
        {"silence counts toward the size", 0, 320, 1, kBuffersToTheSizeLimitAt320, 1000, false, 0, kSizeLimitReached,
         false},
        {"a sleep of days queued at once passes the size limit, however far", 0, 320, 1, 108000, 1000, false, 0,
         kSizeLimitReached, false},
        {"both limits at one reading", 3000, 320, kBuffersToTheSizeLimitAt320 + 1, 0, 2500, true, 0,
         kTimeLimitReached | kSizeLimitReached, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingClock clock = Started(48000, 2, row.kbps, row.limitMs);
        for (DWORD n = 0; n < row.buffers; ++n)
            CountBuffer(&clock, 0);
        CountSilence(&clock, static_cast<ULONGLONG>(row.silentSeconds) * clock.bytesPerSecond);
        const ClockReadout readout = ReadCounters(clock, row.elapsedMs);
        EXPECT_EQ(row.elapsedMs / 1000, readout.elapsedSeconds);
        EXPECT_EQ(row.showsRemaining, readout.showsRemaining);
        EXPECT_EQ(row.showsRemaining ? row.remainingSeconds : 0, readout.remainingSeconds);
        RecordingClock unbrought = clock;
        EXPECT_EQ(row.overdue, TimeLimitOverdue(&unbrought, row.elapsedMs, kGraceMs));
        EXPECT_FALSE(TimeLimitOverdue(&unbrought, row.elapsedMs, kGraceMs)) << "once";
        EXPECT_EQ(row.reached, LimitsReached(&clock, row.elapsedMs));
        EXPECT_EQ(0, LimitsReached(&clock, row.elapsedMs)) << "once";
        EXPECT_FALSE(TimeLimitOverdue(&clock, row.elapsedMs, kGraceMs)) << "a limit a buffer brought";
    }
}

// The silence that brings the file to a time, at 44.1 kHz stereo: whole frames, never past the
// limit, less what is still coming.
TEST(RecordingClock, SilenceDueUpToATime)
{
    const ULONGLONG kSecond = 176400;
    const struct {
        const char* name;
        ULONGLONG limitMs, queuedBytes, untilMs, arrivingBytes, silence;
    } rows[] = {
        {"three seconds behind", 0, kSecond, 4000, 0, 3 * kSecond},
        {"the arriving buffer counts", 0, kSecond, 4000, kSecond, 2 * kSecond},
        {"never past the limit", 3000, kSecond, 60000, 0, 2 * kSecond},
        {"ahead of the clock", 0, 5 * kSecond, 4000, 0, 0},
        {"whole frames only", 0, 0, 3, 0, 528},
    };
    for (const auto& row : rows) {
        RecordingClock clock = Started(44100, 2, 128, row.limitMs);
        CountBuffer(&clock, row.queuedBytes);
        EXPECT_EQ(row.silence, SilenceDue(clock, row.untilMs, row.arrivingBytes)) << row.name;
    }
}

// Readings across the 32-bit clock's wrap, the ticks that tell a held-up program, and the gaps.
TEST(RecordingClock, ReadingsTicksAndGaps)
{
    const struct {
        DWORD sinceStartMs;
        bool heldUp;
    } ticks[] = {{1000, false}, {4000, false}, {8001, true}, {9000, false}, {86400000, true}};
    RecordingClock clock = Started(22050, 1, 80, 0);
    for (const auto& tick : ticks) {
        const DWORD now = kNearTheWrap + tick.sinceStartMs;
        EXPECT_EQ(tick.sinceStartMs, AdvanceClock(&clock, now));
        EXPECT_EQ(tick.heldUp, TickWasHeldUp(&clock, now)) << tick.sinceStartMs;
    }
    NoteStop(&clock, kNearTheWrap + 86401000);
    EXPECT_EQ(86401000u, clock.stoppedAtMs);
    // A second of audio, a gap that a second and a half of silence fills, and one still running.
    CountBuffer(&clock, 44100);
    std::vector<bool> changes = {MarkBehind(&clock, true), MarkBehind(&clock, true)};
    CountSilence(&clock, 66150);
    changes.push_back(MarkBehind(&clock, false));
    changes.push_back(MarkBehind(&clock, true));
    EXPECT_EQ((std::vector<bool>{true, false, true, true}), changes);
    EXPECT_EQ(2, clock.gaps.count) << "one gap however long it lasts";
    EXPECT_EQ((std::vector<ULONGLONG>{1000, 1500, 2500}),
              (std::vector<ULONGLONG>{clock.gaps.first[0].atMs, clock.gaps.first[0].lengthMs, clock.gaps.first[1].atMs}))
        << "each gap at its place in the file";
    CountSilence(&clock, 3 * 44100 + 44099 - 66150);
    EXPECT_EQ(3u, SilenceSeconds(clock));
}

}  // namespace
