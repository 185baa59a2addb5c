#pragma once

#include <windows.h>

// How an unattended run went: its exit code, which the task scheduler shows as the last run's
// result and scripts can test. Worse outcomes have higher codes; the worst seen is the one told.
enum RunOutcome {
    kRecordedAsAsked = 0,
    kRecordedWithGaps = 1,  // the input was missing for a while: silence stands in for it
    kRecordedSilence = 2,  // the input was silent throughout: a muted or unplugged line-in
    kEndedEarly = 3,  // the size limit, the encoder or the disk ended it: the file holds what came before
    kNothingRecorded = 4,  // no file: the path, the device, the encoder or the previous run stood in the way
};

// The outcome in a few words, as the readmes tell it ("input missing for a while").
const char* OutcomeWords(RunOutcome outcome);

// A finding about this run; one better than what was already found changes nothing.
void NoteRunOutcome(RunOutcome outcome);

// The worst outcome noted so far.
RunOutcome WorstRunOutcome();

// The process's exit code: the worst outcome for an unattended run, 0 for one with someone there.
int RunExitCode();
