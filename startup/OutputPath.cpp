#include "startup/OutputPath.h"

#include <string.h>

#include "startup/ProgramText.h"
#include "startup/StartupOptions.h"
#include "startup/UserMessage.h"

static const char kFullPathFailedMessage[] = "ファイル名をフルパス名に変換できませんでした。";
static const char kDevicePathPrefix[] = "\\\\.\\";
static const char kLongPathPrefix[] = "\\\\?\\";
static const char kLongUncPrefix[] = "UNC\\";
static const char kUnusableOutputMessage[] =
    "このファイルには録音できません。\n%s\nフォルダ名やデバイス名、読み取り専用のファイルではない、書き込めるファイル名を指定してください。";
static_assert(sizeof kUnusableOutputMessage + MAX_PATH <= kUnusableOutputMessageSize, "the message holds any path");

bool SetOutputPath(const char* name)
{
    char fullPath[MAX_PATH];
    const DWORD length = GetFullPathNameA(name, MAX_PATH, fullPath, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        ShowMessage(nullptr, kFullPathFailedMessage, kMessageCaption);
        return false;
    }
    memcpy(startupOptions.outputPath, fullPath, length + 1);
    return true;
}

// ASCII letters in lower case, every other byte as it is.
static char Folded(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

static bool StartsWith(const char* text, const char* prefix)
{
    while (*prefix && Folded(*text) == Folded(*prefix)) {
        ++text;
        ++prefix;
    }
    return *prefix == '\0';
}

// \\.\ names a device, and so does \\?\ unless a drive or a share follows it: a volume or a disk
// would pass the check for a file on disk.
static bool NamesADevice(const char* path)
{
    if (StartsWith(path, kDevicePathPrefix))
        return true;
    if (!StartsWith(path, kLongPathPrefix))
        return false;
    const char* rest = path + sizeof kLongPathPrefix - 1;
    const char letter = Folded(rest[0]);
    const bool drivePath = letter >= 'a' && letter <= 'z' && rest[1] == ':' && rest[2] == '\\';
    return !drivePath && !StartsWith(rest, kLongUncPrefix);
}

bool OutputPathTakesARecording(const char* path, bool* made)
{
    *made = false;
    if (NamesADevice(path))
        return false;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return false;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    *made = GetLastError() != ERROR_ALREADY_EXISTS;
    const bool onDisk = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    return onDisk;
}

void FormatUnusableOutputMessage(const char* path, char text[kUnusableOutputMessageSize])
{
    // Within the message's room for a path, however the conversion lengthens it.
    char shown[MAX_PATH];
    SystemTextToProgramText(path, shown, sizeof shown);
    wsprintfA(text, kUnusableOutputMessage, shown);
}
