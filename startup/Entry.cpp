// The process starts here, without the C runtime's start-up code.
#include <windows.h>

#include "startup/Application.h"
#include "startup/CommandLine.h"

extern "C" void WINAPI Entry()
{
    SplitCommandLine(&argv, &argc);
    const int exitCode = RunApplication(GetModuleHandleA(nullptr));
    FreeCommandLine(&argv, argc);
    ExitProcess(static_cast<UINT>(exitCode));
}
