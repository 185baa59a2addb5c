// The process starts here, without the C runtime's start-up code.
#include <windows.h>

#include "startup/Application.h"
#include "startup/CommandLine.h"

extern "C" void WINAPI Entry()
{
    // Windows' own error boxes (no disk in a drive, a crash) would wait for a user that an
    // unattended run does not have, holding the single-instance lock meanwhile.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
    SplitCommandLine(&argv, &argc);
    const int exitCode = RunApplication(GetModuleHandleA(nullptr));
    FreeCommandLine(&argv, argc);
    FreeWideCommandLine(&wideArgv, wideArgc);
    ExitProcess(static_cast<UINT>(exitCode));
}
