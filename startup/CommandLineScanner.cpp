#include "startup/CommandLineScanner.h"

// Free of platform calls so that it can be fuzzed natively as well.

static bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t';
}

const char* SkipWhiteSpace(const char* cursor)
{
    while (IsWhiteSpace(*cursor))
        ++cursor;
    return cursor;
}

static const char* FindEnd(const char* cursor, char quote)
{
    while (*cursor && *cursor != quote && !(quote == '\0' && IsWhiteSpace(*cursor)))
        ++cursor;
    return cursor;
}

const char* ScanArgument(const char* cursor, ArgumentSpan* argument)
{
    if (*cursor == '"') {
        const char* closing = FindEnd(cursor + 1, '"');
        if (*closing == '"') {
            argument->start = cursor + 1;
            argument->length = static_cast<unsigned>(closing - argument->start);
            return closing + 1;
        }
        // An unclosed quote keeps the rest of the line, the quote included.
        argument->start = cursor;
        argument->length = static_cast<unsigned>(closing - cursor);
        return closing;
    }
    const char* end = FindEnd(cursor, '\0');
    argument->start = cursor;
    argument->length = static_cast<unsigned>(end - cursor);
    return end;
}
