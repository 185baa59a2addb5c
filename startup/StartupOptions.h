#pragma once

#include <windows.h>

// What the command line chose besides the recording settings.
struct StartupOptions {
    LONG autoStart;
    LONG exitAfterTimeLimit;
    DWORD timeLimitSeconds;  // 0: no limit
    char outputPath[MAX_PATH];
};

extern StartupOptions startupOptions;

const int kStartupRefused = -1;

// How far past its time limit an unattended run may go before its messages give way and it ends.
const DWORD kLimitGraceMs = 2000;

// Takes /A and /T ahead of the rest of the command line, so that an unattended run is known as one
// before anything can show a message.
void ApplyUnattendedSwitches();

// Started with /A and a time limit: nobody may be there to answer a message.
bool IsUnattendedRun();

// Interprets argv into startupOptions and recordingSettings; 0 to go on, or kStartupRefused after
// a message when a file name cannot be made a full path or a /P value is not a legal preset.
int ApplyCommandLine();
