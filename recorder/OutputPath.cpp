#include "recorder/OutputPath.h"

static const char kDevicePathPrefix[] = "\\\\.\\";
static const char kUnusableOutputMessage[] =
    "このファイルには録音できません。\n%s\nフォルダ名やデバイス名、読み取り専用のファイルではない、書き込めるファイル名を指定してください。";
static_assert(sizeof kUnusableOutputMessage + MAX_PATH <= kUnusableOutputMessageSize, "the message holds any path");

static bool NamesADevice(const char* path)
{
    const int kPrefixLength = sizeof kDevicePathPrefix - 1;
    int same = 0;
    while (same < kPrefixLength && path[same] == kDevicePathPrefix[same])
        ++same;
    return same == kPrefixLength;
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
    wsprintfA(text, kUnusableOutputMessage, path);
}
