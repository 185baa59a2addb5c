#pragma once

#include <windows.h>

// What the command line chose besides the recording settings.
struct StartupOptions {
    LONG autoStart;
    LONG exitAfterTimeLimit;
    DWORD timeLimitSeconds;  // 0: no limit
    char outputPath[MAX_PATH];  // as given, with any date and time pattern in it
    char recordingPath[MAX_PATH];  // the file of the latest recording: the name, its pattern filled
    wchar_t deviceName[MAX_PATH];  // part of the name of the device to record from; empty: the default
};

extern StartupOptions startupOptions;

const int kStartupRefused = -1;

// How far past its time limit an unattended run may go before its messages give way and it ends.
const DWORD kLimitGraceMs = 2000;

// Takes /A and /T ahead of the rest of the command line, so that an unattended run is known as one
// before anything can show a message.
void ApplyUnattendedSwitches();

// A time limit given with /T: the program closes once the limit has passed, and once a recording
// has ended by itself.
bool ClosesItselfAfterItsLimit();

// Started with /A besides: nobody may be there to answer a message, from the start on.
bool IsUnattendedRun();

// The time limit and its grace, from the start: an unattended run's messages give way then.
ULONGLONG LimitAndGraceMs();

// Interprets argv into startupOptions and recordingSettings; 0 to go on, or kStartupRefused after
// a message when a file name cannot be made a full path, has a character that the file functions'
// code page lacks, or a /P value is not a legal preset. /D names the device: the first whose name
// holds its text, ignoring case. /D and the file name are read from wideArgv where it matches argv.
int ApplyCommandLine();
