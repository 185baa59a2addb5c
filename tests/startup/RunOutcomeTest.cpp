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

TEST(Backstop, RunLivesItsLimitGraceAndMargin)
{
    EXPECT_EQ(5000u + kLimitGraceMs + kBackstopMarginMs, BackstopDelayMs(5));
    // A limit of years, past the 32-bit millisecond count.
    EXPECT_EQ(100000000ull * 1000 + kLimitGraceMs + kBackstopMarginMs, BackstopDelayMs(100000000));
}

}  // namespace
