#pragma once

#include <windows.h>

// The recording's output file: the name the command line gives, and the check a start makes of it.

// Makes name a full path into path, a relative one from the current folder, or from the program's
// folder when the current one is the Windows folder or below it (a scheduled task's default);
// false after a message when it cannot be made one, or when the full path does not fit, which is
// never cut short.
bool MakeOutputPath(const char* name, char path[MAX_PATH]);

// The program's own folder, with its final backslash, where its INI and its log go too.
bool ProgramFolder(char folder[MAX_PATH]);

const int kUnusableOutputMessageSize = 256 + MAX_PATH;

// Fills the pattern of name with when: %Y the year's four digits, %m %d %H %M %S two digits each,
// %% one percent sign; any other percent sign stays as written. False when the result does not
// fit in a path, which is never cut short.
bool FillNamePattern(const char* name, const SYSTEMTIME& when, char path[MAX_PATH]);

// The message that names a pattern whose filled name is too long for a path.
void FormatTooLongNameMessage(const char* name, char text[kUnusableOutputMessageSize]);

// True when path can take a recording. Not: a folder, a folder that does not exist, a device, a
// read-only file. A file that another program holds is left to the encoder, whose message says so.
// made tells whether the check itself created the file, which a start that fails removes again.
bool OutputPathTakesARecording(const char* path, bool* made);

// The message that names a path that cannot take a recording.
void FormatUnusableOutputMessage(const char* path, char text[kUnusableOutputMessageSize]);

// The file of a recording that starts at when: name's pattern filled into path, and checked as
// above. False, with the message that names what stands in the way in text, and in path the name
// as far as it could be filled; made as above.
bool PrepareRecordingPath(const char* name, const SYSTEMTIME& when, char path[MAX_PATH], bool* made,
                          char text[kUnusableOutputMessageSize]);
