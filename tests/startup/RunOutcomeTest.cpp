// The outcome an unattended run's exit code tells, and the backstop that ends a run that hung.
#include <gtest/gtest.h>
#include <windows.h>

#include "startup/RunOutcome.h"
#include "startup/StartupOptions.h"

namespace {

HANDLE ended;
volatile LONG endedWith = -1;

void NoteEnd(UINT exitCode)
{
    endedWith = static_cast<LONG>(exitCode);
    SetEvent(ended);
}

TEST(RunOutcome, WorstFindingIsToldOnlyByAnUnattendedRunAndABackstopEndsItEarly)
{
    startupOptions = StartupOptions{};
    NoteRunOutcome(kRecordedWithGaps);
    NoteRunOutcome(kNothingRecorded);
    NoteRunOutcome(kRecordedSilence);
    EXPECT_EQ(0, RunExitCode()) << "someone was there";
    startupOptions.autoStart = startupOptions.exitAfterTimeLimit = 1;
    startupOptions.timeLimitSeconds = 5;
    EXPECT_EQ(kNothingRecorded, RunExitCode());

    const DWORD kAfterMs = 600;
    ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(StartBackstop(kAfterMs, NoteEnd));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(ended, kAfterMs / 2));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ended, kAfterMs * 3));
    EXPECT_EQ(kEndedEarly, endedWith);
    CloseHandle(ended);
}

}  // namespace
