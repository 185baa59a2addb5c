#include "startup/CommandLineScanner.h"

// Free of platform calls so that it can be fuzzed natively as well.

template <typename Char>
static bool IsWhiteSpace(Char c)
{
    return c == ' ' || c == '\t';
}

template <typename Char>
const Char* SkipWhiteSpace(const Char* cursor)
{
    while (IsWhiteSpace(*cursor))
        ++cursor;
    return cursor;
}

template <typename Char>
static const Char* FindEnd(const Char* cursor, Char quote)
{
    while (*cursor && *cursor != quote && !(quote == '\0' && IsWhiteSpace(*cursor)))
        ++cursor;
    return cursor;
}

template <typename Char>
const Char* ScanArgument(const Char* cursor, ArgumentSpan<Char>* argument)
{
    if (*cursor == '"') {
        const Char* closing = FindEnd(cursor + 1, static_cast<Char>('"'));
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
    const Char* end = FindEnd(cursor, static_cast<Char>('\0'));
    argument->start = cursor;
    argument->length = static_cast<unsigned>(end - cursor);
    return end;
}

// The program splits its command line in both widths: the system's code page and UTF-16.
template const char* SkipWhiteSpace(const char*);
template const char* ScanArgument(const char*, ArgumentSpan<char>*);
template const wchar_t* SkipWhiteSpace(const wchar_t*);
template const wchar_t* ScanArgument(const wchar_t*, ArgumentSpan<wchar_t>*);
