#pragma once

#include <windows.h>

// The recorder window's procedure, for the dialog IDD_RECORDER.
INT_PTR CALLBACK RecorderDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
