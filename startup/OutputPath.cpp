#include "startup/OutputPath.h"

#include <string.h>

#include "startup/ProgramText.h"
#include "startup/UserMessage.h"

static const char kFullPathFailedMessage[] = "ファイル名をフルパス名に変換できませんでした。";
static const char kDevicePathPrefix[] = "\\\\.\\";
static const char kLongPathPrefix[] = "\\\\?\\";
static const char kLongUncPrefix[] = "UNC\\";
static const char kUnusableOutputMessage[] =
    "このファイルには録音できません。\n%s\nフォルダ名やデバイス名、読み取り専用のファイルではない、書き込めるファイル名を指定してください。";
static const char kTooLongNameMessage[] =
    "日付と時刻を入れると、録音ファイルの名前が長くなりすぎます。\n%s\nもっと短い名前か、浅いフォルダを指定してください。";
static_assert(sizeof kUnusableOutputMessage + MAX_PATH <= kUnusableOutputMessageSize, "the message holds any path");
static_assert(sizeof kTooLongNameMessage + MAX_PATH <= kUnusableOutputMessageSize, "the message holds any name");
static const char kPatternMark = '%';
static const int kYearDigits = 4;
static const int kFieldDigits = 2;
static const int kDecimalBase = 10;

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// The part of name that Windows takes from the current folder: all of a name with no drive and no
// root, the rest of one that names the current folder's drive without a root ("C:take.mp3"); null
// for any other.
static const char* RelativePart(const char* name, const char* current)
{
    if (IsSeparator(name[0]))
        return nullptr;
    if (!name[0] || name[1] != ':')
        return name;
    const bool currentDrive = CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, 1, current, 1) == CSTR_EQUAL &&
                              current[1] == ':';
    return currentDrive && !IsSeparator(name[2]) ? name + 2 : nullptr;
}

// True when folder is the Windows folder or lies below it.
static bool UnderTheWindowsFolder(const char* folder)
{
    char windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || lstrlenA(folder) < static_cast<int>(length))
        return false;
    const char after = folder[length];
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, folder, length, windows, length) == CSTR_EQUAL &&
           (after == '\\' || after == '\0' || windows[length - 1] == '\\');
}

bool ProgramFolder(char folder[MAX_PATH])
{
    const DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    char* name = folder + length;
    while (name > folder && name[-1] != '\\')
        --name;
    *name = '\0';
    return name > folder;
}

// A task that the task scheduler starts without a folder of its own runs in the system folder, under
// the Windows folder, where no recording belongs: a relative name goes beside the program there.
// The part to place there, with the program's folder in folder; null when it stays as given.
static const char* BelongsBesideTheProgram(const char* name, char folder[MAX_PATH])
{
    char current[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, current);
    if (length == 0 || length >= MAX_PATH || !UnderTheWindowsFolder(current) || !ProgramFolder(folder))
        return nullptr;
    return RelativePart(name, current);
}

bool MakeOutputPath(const char* name, char path[MAX_PATH])
{
    char placed[MAX_PATH];
    const char* relative = BelongsBesideTheProgram(name, placed);
    const bool fits = !relative || lstrlenA(placed) + lstrlenA(relative) < MAX_PATH;
    if (relative && fits)
        name = lstrcatA(placed, relative);
    char fullPath[MAX_PATH];
    const DWORD length = fits ? GetFullPathNameA(name, MAX_PATH, fullPath, nullptr) : 0;
    if (length == 0 || length >= MAX_PATH) {
        ShowMessage(nullptr, kFullPathFailedMessage, kMessageCaption);
        return false;
    }
    memcpy(path, fullPath, length + 1);
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

// Appends value in digits decimal digits at path[*length]; false when they do not fit.
static bool AppendNumber(char path[MAX_PATH], int* length, int value, int digits)
{
    if (*length + digits >= MAX_PATH)
        return false;
    for (int place = digits - 1; place >= 0; --place, value /= kDecimalBase)
        path[*length + place] = static_cast<char>('0' + value % kDecimalBase);
    *length += digits;
    return true;
}

// The value that the pattern letter stands for, and how many digits it takes; false for no such letter.
static bool PatternField(char letter, const SYSTEMTIME& when, int* value, int* digits)
{
    *digits = kFieldDigits;
    switch (letter) {
    case 'Y': *value = when.wYear; *digits = kYearDigits; return true;
    case 'm': *value = when.wMonth; return true;
    case 'd': *value = when.wDay; return true;
    case 'H': *value = when.wHour; return true;
    case 'M': *value = when.wMinute; return true;
    case 'S': *value = when.wSecond; return true;
    default: return false;
    }
}

bool FillNamePattern(const char* name, const SYSTEMTIME& when, char path[MAX_PATH])
{
    int length = 0;
    for (const char* at = name; *at;) {
        int value = 0, digits = 0;
        if (at[0] == kPatternMark && PatternField(at[1], when, &value, &digits)) {
            if (!AppendNumber(path, &length, value, digits))
                return false;
            at += 2;
            continue;
        }
        // A double-byte character is copied whole, so that its second byte is never read as a mark.
        const int bytes = at[0] == kPatternMark && at[1] == kPatternMark ? 2 : IsDBCSLeadByte(*at) && at[1] ? 2 : 1;
        const bool escaped = at[0] == kPatternMark && bytes == 2;
        const int copied = escaped ? 1 : bytes;
        if (length + copied >= MAX_PATH)
            return false;
        memcpy(path + length, at, copied);
        length += copied;
        at += bytes;
    }
    path[length] = '\0';
    return true;
}

static void FormatPathMessage(const char* format, const char* path, char text[kUnusableOutputMessageSize])
{
    // Within the message's room for a path, however the conversion lengthens it.
    char shown[MAX_PATH];
    SystemTextToProgramText(path, shown, sizeof shown);
    wsprintfA(text, format, shown);
}

void FormatTooLongNameMessage(const char* name, char text[kUnusableOutputMessageSize])
{
    FormatPathMessage(kTooLongNameMessage, name, text);
}

void FormatUnusableOutputMessage(const char* path, char text[kUnusableOutputMessageSize])
{
    FormatPathMessage(kUnusableOutputMessage, path, text);
}

bool PrepareRecordingPath(const char* name, const SYSTEMTIME& when, char path[MAX_PATH], bool* made,
                          char text[kUnusableOutputMessageSize])
{
    *made = false;
    if (!FillNamePattern(name, when, path)) {
        FormatTooLongNameMessage(name, text);
        // The name as given stands for the recording that could not be.
        lstrcpynA(path, name, MAX_PATH);
        return false;
    }
    if (!OutputPathTakesARecording(path, made)) {
        FormatUnusableOutputMessage(path, text);
        return false;
    }
    return true;
}
