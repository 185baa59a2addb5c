// The recording's clock driven by readings and byte counts alone: no window, no device.
#include <gtest/gtest.h>
#include <windows.h>

#include "recorder/RecordingClock.h"

namespace {

const DWORD kNearTheWrap = 0xFFFFF000;
const DWORD kGraceMs = 2000;

WAVEFORMATEX Format(DWORD rate, WORD channels)
{
    WAVEFORMATEX format = {};
    format.nBlockAlign = static_cast<WORD>(channels * 2);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

RecordingClock Started(DWORD rate, WORD channels, int kbps, ULONGLONG limitMs)
{
    RecordingClock clock;
    StartClock(&clock, Format(rate, channels), kbps, limitMs, kNearTheWrap);
    return clock;
}

// The counters and the limits at one reading, after so many buffers and so much silence.
TEST(RecordingClock, CountersAndLimitsAtAReading)
{
    const ULONGLONG kThirtyDaysMs = 30ull * 86400 * 1000;
    const DWORD kSilentSecondsAt320 = kSizeLimitBytes / 40000 + 1;
    const struct {
        const char* name;
        ULONGLONG limitMs;
        int kbps;
        DWORD buffers;
        DWORD silentSeconds;  // of 48 kHz stereo
        ULONGLONG elapsedMs;
        bool showsRemaining;
        DWORD remainingSeconds;
        int reached;
    } rows[] = {
        {"a buffer a little after its whole second", 5000, 80, 4, 0, 4010, true, 0, kTimeLimitReached},
        {"a buffer on its whole second leaves a second", 5000, 80, 4, 0, 4000, true, 1, 0},
        {"the limit itself", 5000, 80, 5, 0, 5000, false, 0, kTimeLimitReached},
        {"past the limit", 5000, 80, 9, 0, 9000, false, 0, kTimeLimitReached},
        {"no limit", 0, 80, 9, 0, 9000, false, 0, 0},
        {"a limit beyond 25 days", kThirtyDaysMs, 8, 1, 0, 1000, true, 30 * 86400 - 1, 0},
        {"a limit beyond 25 days, at its last second", kThirtyDaysMs, 8, 1, 0, kThirtyDaysMs - 500, true, 0,
         kTimeLimitReached},
        {"buffers up to the size limit", 0, 320, kSizeLimitBytes / 40000, 0, 1000, false, 0, 0},
        {"buffers past the size limit", 0, 320, kSizeLimitBytes / 40000 + 1, 0, 1000, false, 0, kSizeLimitReached},
        {"silence counts toward the size", 0, 320, 0, kSilentSecondsAt320, 1000, false, 0, kSizeLimitReached},
        {"silence and buffers together", 0, 320, 1, kSilentSecondsAt320 - 1, 1000, false, 0, kSizeLimitReached},
        {"both limits at one reading", 3000, 320, kSizeLimitBytes / 40000 + 1, 0, 2500, true, 0,
         kTimeLimitReached | kSizeLimitReached},
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
        if (row.showsRemaining) {
            EXPECT_EQ(row.remainingSeconds, readout.remainingSeconds);
        }
        EXPECT_EQ(row.reached, LimitsReached(&clock, row.elapsedMs));
        EXPECT_EQ(0, LimitsReached(&clock, row.elapsedMs)) << "each limit is reached once";
    }
}

// The silence that brings the file to a time, at 44.1 kHz stereo: whole frames, never past the limit,
// less what is still coming.
TEST(RecordingClock, SilenceDueUpToATime)
{
    const ULONGLONG kSecond = 176400;
    const struct {
        const char* name;
        ULONGLONG limitMs;
        ULONGLONG queuedBytes;
        ULONGLONG untilMs;
        ULONGLONG arrivingBytes;
        ULONGLONG silence;
    } rows[] = {
        {"three seconds behind", 0, kSecond, 4000, 0, 3 * kSecond},
        {"the arriving buffer counts", 0, kSecond, 4000, kSecond, 2 * kSecond},
        {"never past the limit", 3000, kSecond, 60000, 0, 2 * kSecond},
        {"ahead of the clock", 0, 5 * kSecond, 4000, 0, 0},
        {"whole frames only", 0, 0, 3, 0, 528},
        {"at the clock already", 0, kSecond, 1000, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingClock clock = Started(44100, 2, 128, row.limitMs);
        CountBuffer(&clock, row.queuedBytes);
        EXPECT_EQ(row.silence, SilenceDue(clock, row.untilMs, row.arrivingBytes));
    }
}

// Readings across the 32-bit clock's wrap, the ticks that tell a held-up program, and the gaps.
TEST(RecordingClock, ReadingsTicksAndGaps)
{
    const struct {
        DWORD sinceStartMs;
        bool tick;
        bool heldUp;
    } readings[] = {
        {1000, true, false}, {4000, true, false}, {5000, false, false}, {8001, true, true},
        {9000, true, false}, {86400000, true, true},
    };
    RecordingClock clock = Started(22050, 1, 80, 0);
    for (const auto& reading : readings) {
        SCOPED_TRACE(reading.sinceStartMs);
        const DWORD now = kNearTheWrap + reading.sinceStartMs;
        EXPECT_EQ(reading.sinceStartMs, AdvanceClock(&clock, now));
        if (reading.tick) {
            EXPECT_EQ(reading.heldUp, TickWasHeldUp(&clock, now));
        }
    }
    NoteStop(&clock, kNearTheWrap + 86401000);
    EXPECT_EQ(86401000u, clock.stoppedAtMs);

    EXPECT_TRUE(MarkBehind(&clock, true));
    EXPECT_FALSE(MarkBehind(&clock, true)) << "one gap however long it lasts";
    EXPECT_TRUE(MarkBehind(&clock, false));
    EXPECT_TRUE(MarkBehind(&clock, true));
    EXPECT_EQ(2, clock.gaps);
    CountSilence(&clock, 3 * 44100 + 44099);
    EXPECT_EQ(3u, SilenceSeconds(clock));
}

// A time limit that no buffer brought is kept once the grace has passed, once.
TEST(RecordingClock, OverdueTimeLimit)
{
    const struct {
        ULONGLONG limitMs;
        ULONGLONG elapsedMs;
        bool overdue;
    } rows[] = {
        {3000, 3000 + kGraceMs - 1, false}, {3000, 3000 + kGraceMs, true}, {0, 1000000, false}};
    for (const auto& row : rows) {
        RecordingClock clock = Started(22050, 1, 80, row.limitMs);
        EXPECT_EQ(row.overdue, TimeLimitOverdue(&clock, row.elapsedMs, kGraceMs)) << row.elapsedMs;
        if (row.overdue) {
            EXPECT_FALSE(TimeLimitOverdue(&clock, row.elapsedMs + 1000, kGraceMs)) << "once";
        }
    }
    RecordingClock reached = Started(22050, 1, 80, 3000);
    EXPECT_EQ(kTimeLimitReached, LimitsReached(&reached, 2500));
    EXPECT_FALSE(TimeLimitOverdue(&reached, 10000, kGraceMs)) << "a limit a buffer brought is not brought again";
}

}  // namespace
