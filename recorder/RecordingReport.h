#pragma once

#include <windows.h>

#include "recorder/RecordingClock.h"
#include "startup/RunOutcome.h"

// What the end of a recording tells: the run's outcome from what happened to the recording, and the
// messages for whoever is there. Nothing here looks at a window or a device.

// What happened to one recording, as its end knows it.
struct RecordingFacts {
    DWORD workerExitCode;  // 0 once the file is complete; kWorkerDidNotStart when none was begun
    bool cutShort;  // the size limit, the end of the session or a close before the limit ended it
    ULONGLONG capturedBytes;  // audio from the device, silence not counted
    bool silent;  // nothing but silence came, over seconds enough to tell
    int gaps;
    int silences;  // long silences inside a recording that had sound
};

// The outcome of the recording: the worst thing that happened to it.
RunOutcome OutcomeOf(const RecordingFacts& facts);

extern const char kDeviceMessage[];
extern const char kPreparationMessage[];
extern const char kSizeLimitMessage[];
extern const char kSilentInputMessage[];

// What cut a recording short, in the log's words.
extern const char kEncoderFailedWords[];
extern const char kSizeLimitWords[];
extern const char kSessionEndWords[];
extern const char kClosedBeforeItsLimitWords[];

// Room for the message of the gaps and the long silences, with their counts and times.
const int kGapsMessageSize = 256;

// "N gaps, this much silence filled in", then "N long silences, this long in all", each when there
// were any.
void FormatGapsMessage(int gaps, DWORD filledSeconds, const Stretches& silences, char text[kGapsMessageSize]);

// wsprintfA writes at most 1024 characters: the wanted text and the list of devices are bounded to fit.
const int kNoSuchDeviceMessageSize = 1024;

// "No device named so; these are present", with wanted as the user gave it.
void FormatNoSuchDeviceMessage(const wchar_t* wanted, char text[kNoSuchDeviceMessageSize]);
