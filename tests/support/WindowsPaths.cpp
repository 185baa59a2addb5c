#include "tests/support/WindowsPaths.h"

#include <windows.h>

std::string WindowsPath(const char* unixPath)
{
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(unixPath, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return full;
}

bool EnterFolder(const char* unixPath)
{
    const std::string folder = WindowsPath(unixPath);
    return !folder.empty() && SetCurrentDirectoryA(folder.c_str());
}
