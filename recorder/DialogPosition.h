#pragma once

#include <windows.h>

// The INI file beside the executable: its path with the ".exe" ending replaced by ".INI"; false
// after a message when the executable's name does not allow it.
bool GetIniPath(char path[MAX_PATH]);

// Remembers the window's top-left corner when it lies on the primary screen; true when written.
bool SaveDialogPosition(HWND dialog);

// Moves the window to the remembered corner; true when it was moved.
bool RestoreDialogPosition(HWND dialog);

// The executable's file name as the platform gives it, unless a test replaces it.
extern DWORD(WINAPI* moduleFileName)(HMODULE module, LPSTR path, DWORD size);
