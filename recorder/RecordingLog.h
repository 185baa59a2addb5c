#pragma once

#include <windows.h>

#include "recorder/RecordingClock.h"
#include "startup/RunOutcome.h"

// The recording log: a line for every recording at its end, and for every run that recorded
// nothing, so that weeks later a show's story is read in Notepad, not by listening to it. Text of
// code page 932, a CRLF after each line; past its limit the older half goes.

// What one line tells.
struct RecordingAccount {
    SYSTEMTIME started;  // local time
    const char* path;  // the file, of the system's code page
    ULONGLONG recordedMs;
    const wchar_t* input;  // the device's name; empty when none was found
    const wchar_t* wanted;  // the text of /D; empty: the default device
    const Stretches* gaps;  // null for a recording that never ran
    const Stretches* silences;
    RunOutcome outcome;
    const char* why;  // what stood in the way or cut it short, of code page 932; null: nothing to add
};

// The log's file; empty: none is kept.
extern char recordingLogPath[MAX_PATH];

// The log goes beside the program, with its INI: kanoru.log.
void KeepLogBesideTheProgram();

// A log that a line would take past this is cut to its newer half first.
const DWORD kLogLimitBytes = 1024 * 1024;

const int kLogLineSize = 2048;

// The account as one line, with its CRLF.
void FormatLogLine(const RecordingAccount& account, char line[kLogLineSize]);

// Adds line at the end of the log at path; false when that could not be done, which costs nothing
// else. A crash on the way leaves at worst the line itself unfinished.
bool AppendToLog(const char* path, const char* line);

// The account's line at the end of the program's log.
void LogRecording(const RecordingAccount& account);

// A run that was to record but never began: its line tells why.
void LogRunThatDidNotRecord(const char* why);
