#pragma once

#include <windows.h>

// The recording's output file as a start meets it.

// True when path can take a recording. Not: a folder, a folder that does not exist, a device, a
// read-only file. A file that another program holds is left to the encoder, whose message says so.
// made tells whether the check itself created the file, which a start that fails removes again.
bool OutputPathTakesARecording(const char* path, bool* made);

const int kUnusableOutputMessageSize = 256 + MAX_PATH;

// The message that names a path that cannot take a recording.
void FormatUnusableOutputMessage(const char* path, char text[kUnusableOutputMessageSize]);
