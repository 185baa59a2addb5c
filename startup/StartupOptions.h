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

// Interprets argv into startupOptions and recordingSettings; 0 to go on, or kStartupRefused after
// a message when a file name cannot be made a full path or a /P value is not a legal preset.
int ApplyCommandLine();
