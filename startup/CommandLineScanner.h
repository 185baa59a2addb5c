#pragma once

// The command line's own splitting rules, on plain text: only space and tab separate, a leading
// double quote runs to the next one, and there is no escape character.

struct ArgumentSpan {
    const char* start;
    unsigned length;
};

// Skips spaces and tabs.
const char* SkipWhiteSpace(const char* cursor);

// Takes the argument that begins at cursor (which is not NUL) and returns where the next one is
// looked for; never reads past the text's terminating NUL.
const char* ScanArgument(const char* cursor, ArgumentSpan* argument);
