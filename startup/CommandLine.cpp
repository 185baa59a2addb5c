#include "startup/CommandLine.h"

#include <windows.h>
#include <string.h>

#include "startup/CommandLineScanner.h"

char** argv = nullptr;
int argc = 0;

static const int kInitialArgumentRoom = 16;

static char* CopyArgument(const ArgumentSpan& argument)
{
    char* copy = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, argument.length + 1));
    if (copy)
        memcpy(copy, argument.start, argument.length);
    return copy;
}

// Makes room for one more pointer, doubling the array when it is full.
static bool EnsureRoom(char*** vector, int count, int* room)
{
    if (*vector == nullptr) {
        *vector = static_cast<char**>(HeapAlloc(GetProcessHeap(), 0, kInitialArgumentRoom * sizeof(char*)));
        *room = kInitialArgumentRoom;
        return *vector != nullptr;
    }
    if (count < *room)
        return true;
    char** grown = static_cast<char**>(HeapReAlloc(GetProcessHeap(), 0, *vector, 2 * *room * sizeof(char*)));
    if (!grown)
        return false;
    *vector = grown;
    *room *= 2;
    return true;
}

const char* SplitCommandLineText(const char* text, char*** vector, int* count)
{
    const char* rest = text;
    const char* cursor = text;
    int room = 0;
    *vector = nullptr;
    *count = 0;
    while (*cursor) {
        ArgumentSpan argument;
        cursor = ScanArgument(cursor, &argument);
        if (!EnsureRoom(vector, *count, &room))
            break;
        char* copy = CopyArgument(argument);
        if (!copy)
            break;
        (*vector)[(*count)++] = copy;
        cursor = SkipWhiteSpace(cursor);
        if (*count == 1)
            rest = cursor;
    }
    return rest;
}

const char* SplitCommandLine(char*** vector, int* count)
{
    return SplitCommandLineText(GetCommandLineA(), vector, count);
}

void FreeCommandLine(char*** vector, int count)
{
    if (*vector == nullptr)
        return;
    for (int index = 0; index < count; ++index)
        HeapFree(GetProcessHeap(), 0, (*vector)[index]);
    HeapFree(GetProcessHeap(), 0, *vector);
    *vector = nullptr;
}
