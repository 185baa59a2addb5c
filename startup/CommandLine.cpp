#include "startup/CommandLine.h"

#include <windows.h>
#include <string.h>

#include "startup/CommandLineScanner.h"

char** argv = nullptr;
int argc = 0;
wchar_t** wideArgv = nullptr;
int wideArgc = 0;

static const int kInitialArgumentRoom = 16;

template <typename Char>
static Char* CopyArgument(const ArgumentSpan<Char>& argument)
{
    Char* copy = static_cast<Char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (argument.length + 1) * sizeof(Char)));
    if (copy)
        memcpy(copy, argument.start, argument.length * sizeof(Char));
    return copy;
}

// Makes room for one more pointer, doubling the array when it is full.
template <typename Char>
static bool EnsureRoom(Char*** vector, int count, int* room)
{
    if (*vector == nullptr) {
        *vector = static_cast<Char**>(HeapAlloc(GetProcessHeap(), 0, kInitialArgumentRoom * sizeof(Char*)));
        *room = kInitialArgumentRoom;
        return *vector != nullptr;
    }
    if (count < *room)
        return true;
    Char** grown = static_cast<Char**>(HeapReAlloc(GetProcessHeap(), 0, *vector, 2 * *room * sizeof(Char*)));
    if (!grown)
        return false;
    *vector = grown;
    *room *= 2;
    return true;
}

template <typename Char>
static const Char* SplitText(const Char* text, Char*** vector, int* count)
{
    const Char* rest = text;
    const Char* cursor = text;
    int room = 0;
    *vector = nullptr;
    *count = 0;
    while (*cursor) {
        ArgumentSpan<Char> argument;
        cursor = ScanArgument(cursor, &argument);
        if (!EnsureRoom(vector, *count, &room))
            break;
        Char* copy = CopyArgument(argument);
        if (!copy)
            break;
        (*vector)[(*count)++] = copy;
        cursor = SkipWhiteSpace(cursor);
        if (*count == 1)
            rest = cursor;
    }
    return rest;
}

const char* SplitCommandLineText(const char* text, char*** vector, int* count)
{
    return SplitText(text, vector, count);
}

void SplitWideCommandLineText(const wchar_t* text, wchar_t*** vector, int* count)
{
    SplitText(text, vector, count);
}

const char* SplitCommandLine(char*** vector, int* count)
{
    SplitWideCommandLineText(GetCommandLineW(), &wideArgv, &wideArgc);
    return SplitCommandLineText(GetCommandLineA(), vector, count);
}

template <typename Char>
static void FreeVector(Char*** vector, int count)
{
    if (*vector == nullptr)
        return;
    for (int index = 0; index < count; ++index)
        HeapFree(GetProcessHeap(), 0, (*vector)[index]);
    HeapFree(GetProcessHeap(), 0, *vector);
    *vector = nullptr;
}

void FreeCommandLine(char*** vector, int count)
{
    FreeVector(vector, count);
}

void FreeWideCommandLine(wchar_t*** vector, int count)
{
    FreeVector(vector, count);
}
