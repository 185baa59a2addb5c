#pragma once

#include <windows.h>

// The recorder window's procedure, for the dialog IDD_RECORDER.
INT_PTR CALLBACK RecorderDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The recorder window from the template of module, or null. A window of the wide functions, so that
// its caption reads as the template has it on a Windows of any code page.
HWND CreateRecorderDialog(HINSTANCE module);
