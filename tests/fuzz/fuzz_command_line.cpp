#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "startup/CommandLineScanner.h"

// Splits any text the way the program splits its command line; ASan reports any read outside the
// exactly-sized copy, and the checks below any argument that is not a piece of the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = static_cast<char*>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = '\0';
    const char* end = text + strlen(text);
    const char* cursor = text;
    while (*cursor) {
        ArgumentSpan<char> argument;
        const char* next = ScanArgument(cursor, &argument);
        if (next < cursor || next > end)
            abort();
        if (argument.start < cursor || argument.start + argument.length > next)
            abort();
        if (memchr(argument.start, '\0', argument.length))
            abort();
        const char* following = SkipWhiteSpace(next);
        if (following <= cursor)
            abort();
        cursor = following;
    }
    free(text);
    return 0;
}
