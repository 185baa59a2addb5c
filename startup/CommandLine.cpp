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

const char* SplitCommandLineText(const char* text, char*** vector, int* count)
{
    return SplitText(text, vector, count);
}

void SplitBothWidths(const wchar_t* text, char*** vector, int* count)
{
    SplitText(text, &wideArgv, &wideArgc);
    *vector = nullptr;
    *count = 0;
    int room = 0;
    for (int index = 0; index < wideArgc && EnsureRoom(vector, *count, &room); ++index) {
        const int bytes = WideCharToMultiByte(CP_ACP, 0, wideArgv[index], -1, nullptr, 0, nullptr, nullptr);
        char* copy = bytes > 0 ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, bytes)) : nullptr;
        if (!copy)
            break;
        WideCharToMultiByte(CP_ACP, 0, wideArgv[index], -1, copy, bytes, nullptr, nullptr);
        (*vector)[(*count)++] = copy;
    }
    // Each argument has its counterpart in both, even where the system's line would be split otherwise.
    if (*count < wideArgc) {
        FreeVector(&wideArgv, wideArgc);
        wideArgc = 0;
    }
}

void SplitCommandLine(char*** vector, int* count)
{
    SplitBothWidths(GetCommandLineW(), vector, count);
}


void FreeCommandLine(char*** vector, int count)
{
    FreeVector(vector, count);
}

void FreeWideCommandLine(wchar_t*** vector, int count)
{
    FreeVector(vector, count);
}
