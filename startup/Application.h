#pragma once

#include <windows.h>

// The program from the single-instance lock to the end of the message loop; the process's exit code.
int RunApplication(HINSTANCE module);
