#include "recorder/RecordingLog.h"

#include "recorder/RecorderView.h"
#include "startup/CommandLine.h"
#include "startup/OutputPath.h"
#include "startup/ProgramText.h"
#include "startup/StartupOptions.h"

char recordingLogPath[MAX_PATH] = "";

static const char kLogName[] = "kanoru.log";
static const char kLogLockName[] = "kanoru.log writer";
static const DWORD kLogLockWaitMs = 2000;
// The log's newer half is written here first, then takes the log's place.
static const char kCutLogSuffix[] = ".new";
static const DWORD kNewerHalfBytes = kLogLimitBytes / 2;
static const ULONGLONG kMillisecondsPerSecond = 1000;
static const char kSeparator[] = " | ";
static const char kLineEnd[] = "\r\n";
static const char kListSeparator[] = ", ";
static const char kDefaultDevice[] = "the default device";
static const char kNotFound[] = " (not found)";
static const int kFieldSize = 640;

void KeepLogBesideTheProgram()
{
    char folder[MAX_PATH];
    recordingLogPath[0] = '\0';
    if (ProgramFolder(folder) && lstrlenA(folder) + lstrlenA(kLogName) < MAX_PATH) {
        lstrcpyA(recordingLogPath, folder);
        lstrcatA(recordingLogPath, kLogName);
    }
}

// The bytes of the character at text, of code page 932.
static int CharacterBytes(const char* text)
{
    return IsDBCSLeadByteEx(kProgramCodePage, static_cast<BYTE>(*text)) && text[1] ? 2 : 1;
}

// Adds part to line as far as it fits, never half a character, and always leaving room for the
// line's end.
static void Add(char line[kLogLineSize], const char* part)
{
    const int room = kLogLineSize - static_cast<int>(sizeof kLineEnd);
    int length = lstrlenA(line);
    for (const char* at = part; *at;) {
        const int bytes = CharacterBytes(at);
        if (length + bytes > room)
            break;
        memcpy(line + length, at, bytes);
        length += bytes;
        at += bytes;
    }
    line[length] = '\0';
}

static void AddField(char line[kLogLineSize], const char* field)
{
    Add(line, kSeparator);
    Add(line, field);
}

static void AddInput(char line[kLogLineSize], const RecordingAccount& account)
{
    char name[kFieldSize];
    if (account.input[0] && WideTextToProgramText(account.input, name, sizeof name)) {
        AddField(line, name);
    } else if (account.wanted[0] && WideTextToProgramText(account.wanted, name, sizeof name)) {
        AddField(line, name);
        Add(line, kNotFound);
    } else {
        AddField(line, kDefaultDevice);
    }
}

// The nearest whole second.
static ULONGLONG Rounded(ULONGLONG milliseconds)
{
    return (milliseconds + kMillisecondsPerSecond / 2) / kMillisecondsPerSecond;
}

// "2 gaps: 00:12:03 5 s, 00:40:10 12 s", the first few of them and a count of the rest.
static void AddStretches(char line[kLogLineSize], const Stretches* stretches, const char* one, const char* many,
                         const char* none)
{
    if (!stretches || stretches->count == 0) {
        AddField(line, none);
        return;
    }
    char field[kFieldSize];
    wsprintfA(field, "%d %s:", stretches->count, stretches->count == 1 ? one : many);
    AddField(line, field);
    for (int index = 0; index < stretches->count && index < kStretchesKept; ++index) {
        const Stretch& stretch = stretches->first[index];
        char at[kTimeTextSize];
        FormatTime(static_cast<DWORD>(Rounded(stretch.atMs)), at);
        wsprintfA(field, "%s%s %lu s", index == 0 ? " " : kListSeparator, at,
                  static_cast<unsigned long>(Rounded(stretch.lengthMs)));
        Add(line, field);
    }
    if (stretches->count > kStretchesKept) {
        wsprintfA(field, " and %d more", stretches->count - kStretchesKept);
        Add(line, field);
    }
}

// A message's lines, as one.
static void AddOnOneLine(char line[kLogLineSize], const char* text)
{
    const int from = lstrlenA(line);
    Add(line, text);
    for (char* at = line + from; *at; at += CharacterBytes(at)) {
        if (*at == '\r' || *at == '\n')
            *at = ' ';
    }
}

void FormatLogLine(const RecordingAccount& account, char line[kLogLineSize])
{
    const SYSTEMTIME& t = account.started;
    wsprintfA(line, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    char field[kFieldSize];
    SystemTextToProgramText(account.path, field, sizeof field);
    AddField(line, field);
    wsprintfA(field, "%lu s", static_cast<unsigned long>(account.recordedMs / kMillisecondsPerSecond));
    AddField(line, field);
    AddInput(line, account);
    AddStretches(line, account.gaps, "gap", "gaps", "no gaps");
    AddStretches(line, account.silences, "silence", "silences", "no silence");
    wsprintfA(field, "%d %s", static_cast<int>(account.outcome), OutcomeWords(account.outcome));
    AddField(line, field);
    if (account.why) {
        Add(line, ": ");
        AddOnOneLine(line, account.why);
    }
    // The fields left it room.
    lstrcatA(line, kLineEnd);
}

static bool WriteAll(HANDLE file, const void* data, DWORD bytes)
{
    DWORD written = 0;
    return WriteFile(file, data, bytes, &written, nullptr) && written == bytes;
}

// The log's newest half, from its first whole line, then line, go to a file beside it, which then
// takes the log's place: a crash on the way leaves the old log as it was.
static bool CutToNewerHalf(const char* path, HANDLE log, DWORD size, const char* line)
{
    char cutPath[MAX_PATH];
    if (lstrlenA(path) + lstrlenA(kCutLogSuffix) >= MAX_PATH) {
        CloseHandle(log);
        return false;
    }
    lstrcpyA(cutPath, path);
    lstrcatA(cutPath, kCutLogSuffix);
    const DWORD kept = size < kNewerHalfBytes ? size : kNewerHalfBytes;
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kept));
    DWORD read = 0;
    bool done = text && SetFilePointer(log, static_cast<LONG>(size - kept), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                ReadFile(log, text, kept, &read, nullptr) && read == kept;
    DWORD from = 0;
    while (done && from < kept && text[from] != '\n')
        ++from;
    from = from < kept ? from + 1 : kept;
    HANDLE cut = done ? CreateFileA(cutPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_WRITE_THROUGH, nullptr)
                      : INVALID_HANDLE_VALUE;
    done = cut != INVALID_HANDLE_VALUE && WriteAll(cut, text + from, kept - from) &&
           WriteAll(cut, line, static_cast<DWORD>(lstrlenA(line)));
    if (cut != INVALID_HANDLE_VALUE)
        CloseHandle(cut);
    if (text)
        HeapFree(GetProcessHeap(), 0, text);
    // The log may be replaced only once nothing holds it open.
    CloseHandle(log);
    done = done && MoveFileExA(cutPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!done)
        DeleteFileA(cutPath);
    return done;
}

bool AppendToLog(const char* path, const char* line)
{
    if (!path[0])
        return false;
    HANDLE log = CreateFileA(path, FILE_READ_DATA | FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return false;
    const DWORD size = GetFileSize(log, nullptr);
    const DWORD length = static_cast<DWORD>(lstrlenA(line));
    if (size != INVALID_FILE_SIZE && size + length > kLogLimitBytes) {
        if (CutToNewerHalf(path, log, size, line))
            return true;
        // A log that another program holds open cannot be replaced: the line still goes in, and the
        // next one tries the cut again.
        log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (log == INVALID_HANDLE_VALUE)
            return false;
    }
    const bool written = size != INVALID_FILE_SIZE && SetFilePointer(log, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                         WriteAll(log, line, length);
    CloseHandle(log);
    return written;
}

// Two copies may end at once (a scheduled run that the open window refused): one writes at a time,
// so that a cut never drops the other's line. One that waited too long writes all the same.
void LogRecording(const RecordingAccount& account)
{
    char line[kLogLineSize];
    FormatLogLine(account, line);
    HANDLE lock = CreateMutexA(nullptr, FALSE, kLogLockName);
    const DWORD waited = lock ? WaitForSingleObject(lock, kLogLockWaitMs) : WAIT_FAILED;
    AppendToLog(recordingLogPath, line);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ReleaseMutex(lock);
    if (lock)
        CloseHandle(lock);
}

// A run that stopped before its command line was applied is told by its arguments.
static void ArgumentsAsGiven(char text[MAX_PATH])
{
    text[0] = '\0';
    for (int index = 1; index < argc; ++index) {
        const int length = lstrlenA(text);
        if (index > 1 && length + 1 < MAX_PATH)
            lstrcatA(text, " ");
        lstrcpynA(text + lstrlenA(text), argv[index], MAX_PATH - lstrlenA(text));
    }
}

void LogRunThatDidNotRecord(const char* why)
{
    RecordingAccount account = {};
    GetLocalTime(&account.started);
    char arguments[MAX_PATH];
    ArgumentsAsGiven(arguments);
    account.path = startupOptions.outputPath[0] ? startupOptions.outputPath : arguments;
    account.input = L"";
    account.wanted = startupOptions.deviceName;
    account.outcome = kNothingRecorded;
    account.why = why;
    LogRecording(account);
}
