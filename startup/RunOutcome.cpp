#include "startup/RunOutcome.h"

#include "startup/StartupOptions.h"

static volatile LONG worstOutcome = kRecordedAsAsked;

static const char* const kOutcomeWords[] = {"recorded as asked", "input missing for a while", "input silent throughout",
                                            "ended early", "nothing recorded"};

const char* OutcomeWords(RunOutcome outcome)
{
    return kOutcomeWords[outcome];
}

void NoteRunOutcome(RunOutcome outcome)
{
    for (LONG seen = worstOutcome; outcome > seen; seen = worstOutcome) {
        if (InterlockedCompareExchange(&worstOutcome, outcome, seen) == seen)
            return;
    }
}

int RunExitCode()
{
    return IsUnattendedRun() ? static_cast<int>(WorstRunOutcome()) : 0;
}

RunOutcome WorstRunOutcome()
{
    return static_cast<RunOutcome>(worstOutcome);
}
