#include "startup/ProgramText.h"

bool WidenProgramText(const char* text, wchar_t wide[kLongestProgramText])
{
    return MultiByteToWideChar(kProgramCodePage, 0, text, -1, wide, kLongestProgramText) > 0;
}

void SystemTextToProgramText(const char* text, char* converted, int size)
{
    wchar_t wide[MAX_PATH * 2];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, ARRAYSIZE(wide)) == 0 ||
        !WideTextToProgramText(wide, converted, size))
        lstrcpynA(converted, text, size);
}

bool WideTextToProgramText(const wchar_t* wide, char* converted, int size)
{
    return WideCharToMultiByte(kProgramCodePage, 0, wide, -1, converted, size, nullptr, nullptr) > 0;
}
