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

std::string FileText(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char chunk[65536];
    DWORD read = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        text.append(chunk, read);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return text;
}
