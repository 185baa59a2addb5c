#pragma once

#include <windows.h>

// The recording's output file: the name the command line gives, and the check a start makes of it.

// Makes name a full path into startupOptions.outputPath; false after a message when it cannot be
// made one, or when the full path does not fit, which is never cut short.
bool SetOutputPath(const char* name);

// True when path can take a recording. Not: a folder, a folder that does not exist, a device, a
// read-only file. A file that another program holds is left to the encoder, whose message says so.
// made tells whether the check itself created the file, which a start that fails removes again.
bool OutputPathTakesARecording(const char* path, bool* made);

const int kUnusableOutputMessageSize = 256 + MAX_PATH;

// The message that names a path that cannot take a recording.
void FormatUnusableOutputMessage(const char* path, char text[kUnusableOutputMessageSize]);
