#pragma once

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

// Asks where to keep the working file sourcePath and copies it there with the shell's copy;
// true when the copy succeeded.
bool SaveRecordingAs(HWND dialog, const char* sourcePath);

// The save dialog from Comdlg32.dll, loaded now; its result, or 0 after a message when unreachable.
BOOL CallGetSaveFileName(OPENFILENAMEA* request);

// The shell's file operation from shell32.dll, loaded now; 0 on success, -1 after a message when unreachable.
int CallShFileOperation(SHFILEOPSTRUCTA* request);

// The two calls the Save copy goes through, the functions above unless a test replaces them.
struct SaveCopyCalls {
    BOOL (*getSaveFileName)(OPENFILENAMEA* request);
    int (*shFileOperation)(SHFILEOPSTRUCTA* request);
};

extern SaveCopyCalls saveCopyCalls;
