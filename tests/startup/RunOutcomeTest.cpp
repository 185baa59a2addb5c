// The outcome an unattended run's exit code tells.
#include <gtest/gtest.h>
#include <windows.h>

#include "startup/RunOutcome.h"
#include "startup/StartupOptions.h"

namespace {

TEST(RunOutcome, WorstFindingIsToldOnlyByAnUnattendedRun)
{
    startupOptions = StartupOptions{};
    NoteRunOutcome(kRecordedWithGaps);
    NoteRunOutcome(kNothingRecorded);
    NoteRunOutcome(kRecordedSilence);
    EXPECT_EQ(0, RunExitCode()) << "someone was there";
    startupOptions.autoStart = startupOptions.exitAfterTimeLimit = 1;
    startupOptions.timeLimitSeconds = 5;
    EXPECT_EQ(kNothingRecorded, RunExitCode());
}

}  // namespace
