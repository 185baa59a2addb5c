// The outcome an unattended run's exit code tells, and how long such a run may live.
#include <gtest/gtest.h>
#include <windows.h>

#include "startup/Backstop.h"
#include "startup/RunOutcome.h"
#include "startup/StartupOptions.h"

namespace {

TEST(RunOutcome, WorstFindingIsToldOnlyByAnUnattendedRun)
{
    struct Run {
        LONG autoStart, exitAfterTimeLimit;
        DWORD limitSeconds;
        int exitCode;
    };
    const Run runs[] = {
        {1, 1, 5, kNothingRecorded},  // /A /T5: nobody is there
        {1, 0, 0, 0},  // /A alone: someone stops it
        {0, 1, 5, 0},  // /T5 alone: someone pressed Record
        {1, 1, 0, 0},  // /A /T0: no limit
    };
    NoteRunOutcome(kRecordedWithGaps);
    NoteRunOutcome(kNothingRecorded);
    NoteRunOutcome(kRecordedSilence);
    EXPECT_EQ(kNothingRecorded, WorstRunOutcome()) << "a better finding changes nothing";
    for (const Run& run : runs) {
        startupOptions = StartupOptions{};
        startupOptions.autoStart = run.autoStart;
        startupOptions.exitAfterTimeLimit = run.exitAfterTimeLimit;
        startupOptions.timeLimitSeconds = run.limitSeconds;
        EXPECT_EQ(run.exitCode, RunExitCode()) << run.autoStart << run.exitAfterTimeLimit << run.limitSeconds;
    }
}

// A /T5 run: its limit counts from the recording's start, and past it and its grace the run has hung
// once the encoder has stood still for the margin, or at the ceiling however it moves.
TEST(Backstop, RunHasHungOnlyWhenItsEncoderStandsStillPastItsLimit)
{
    const ULONGLONG kLimitEnds = 5000 + kLimitGraceMs, kNever = 0;
    const struct {
        const char* name;
        ULONGLONG recordingStartMs, lastProgressMs, nowMs;
        bool hung;
    } rows[] = {
        {"a recording that never starts", kNever, 0, kLimitEnds + kBackstopMarginMs - 1, false},
        {"a recording that never starts, at the margin", kNever, 0, kLimitEnds + kBackstopMarginMs, true},
        {"a recording that a slow disk held up for 40 s", 40000, 0, 41000, false},
        {"a file that took 40 s to open", 40000, 40000 + kLimitEnds - 1000, 40000 + kLimitEnds + 1000, false},
        {"its encoder still for the margin", 40000, 40000 + kLimitEnds, 40000 + kLimitEnds + kBackstopMarginMs, true},
        {"an encoder that moves, within the ceiling", 0, kLimitEnds + kBackstopCeilingMs - 2, kLimitEnds + kBackstopCeilingMs - 1,
         false},
        {"an encoder that moves, at the ceiling", 0, kLimitEnds + kBackstopCeilingMs - 1, kLimitEnds + kBackstopCeilingMs,
         true},
    };
    for (const auto& row : rows) {
        BackstopWatch watch = BackstopFor(5);
        watch.recordingStarted = row.recordingStartMs != kNever;
        watch.recordingStartMs = row.recordingStartMs;
        watch.lastProgressMs = row.lastProgressMs;
        EXPECT_EQ(row.hung, RunHasHung(watch, row.nowMs)) << row.name;
    }
    // A limit of years, past the 32-bit millisecond count.
    EXPECT_FALSE(RunHasHung(BackstopFor(100000000), 100000000ull * 1000));
}

}  // namespace
