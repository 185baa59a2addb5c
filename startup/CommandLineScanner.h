#pragma once

// The command line's own splitting rules, on plain text of either width: only space and tab
// separate, a leading double quote runs to the next one, and there is no escape character.

template <typename Char>
struct ArgumentSpan {
    const Char* start;
    unsigned length;
};

// Skips spaces and tabs.
template <typename Char>
const Char* SkipWhiteSpace(const Char* cursor);

// Takes the argument that begins at cursor (which is not NUL) and returns where the next one is
// looked for; never reads past the text's terminating NUL.
template <typename Char>
const Char* ScanArgument(const Char* cursor, ArgumentSpan<Char>* argument);
