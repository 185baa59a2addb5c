#include "recorder/SaveCopy.h"

#include "startup/UserMessage.h"

// The layout without the Windows 2000 fields, which every version of the save dialog accepts.
static const DWORD kSaveRequestSize = 76;
static const DWORD kFileTitleSize = MAX_PATH;
static const char kFilters[] = "mp3ファイル(*.mp3)\0*.mp3\0全てのﾌｧｲﾙ(*.*)\0*.*\0";
static const char kDefaultExtension[] = "mp3";
static const char kNoComdlgMessage[] = "Comdlg32.dllがロードできませんでした。";
static const char kNoSaveDialogMessage[] = "Comdlg32.dllにGetSaveFileNameAが見つかりません。";
static const char kNoShellMessage[] = "shell32.dllがロードできませんでした。";
static const char kNoFileOperationMessage[] = "shell32.dllにSHFileOperationAが見つかりません。";
static const char kNoCaption[] = "";
static const int kUnreachable = -1;

typedef BOOL(WINAPI* GetSaveFileNameFunction)(OPENFILENAMEA*);
typedef int(WINAPI* ShFileOperationFunction)(SHFILEOPSTRUCTA*);

// Finds entry in library, loaded for this one call; null after the matching message.
static FARPROC LoadEntry(const char* library, const char* entry, const char* noLibrary, const char* noEntry,
                         HMODULE* module)
{
    *module = LoadLibraryA(library);
    if (!*module) {
        ShowMessage(nullptr, noLibrary, kNoCaption);
        return nullptr;
    }
    FARPROC found = GetProcAddress(*module, entry);
    if (!found) {
        ShowMessage(nullptr, noEntry, kNoCaption);
        FreeLibrary(*module);
    }
    return found;
}

BOOL CallGetSaveFileName(OPENFILENAMEA* request)
{
    HMODULE module;
    auto getSaveFileName = reinterpret_cast<GetSaveFileNameFunction>(reinterpret_cast<void (*)()>(
        LoadEntry("Comdlg32.dll", "GetSaveFileNameA", kNoComdlgMessage, kNoSaveDialogMessage, &module)));
    if (!getSaveFileName)
        return FALSE;
    const BOOL result = getSaveFileName(request);
    FreeLibrary(module);
    return result;
}

int CallShFileOperation(SHFILEOPSTRUCTA* request)
{
    HMODULE module;
    auto shFileOperation = reinterpret_cast<ShFileOperationFunction>(reinterpret_cast<void (*)()>(
        LoadEntry("shell32.dll", "SHFileOperationA", kNoShellMessage, kNoFileOperationMessage, &module)));
    if (!shFileOperation)
        return kUnreachable;
    const int result = shFileOperation(request);
    FreeLibrary(module);
    return result;
}

SaveCopyCalls saveCopyCalls = {CallGetSaveFileName, CallShFileOperation};

// Copies name into a list of one name, ended by two NULs, as the shell wants it.
static void OneNameList(char list[MAX_PATH + 1], const char* name)
{
    lstrcpynA(list, name, MAX_PATH);
    list[lstrlenA(list) + 1] = '\0';
}

bool SaveRecordingAs(HWND dialog, const char* sourcePath)
{
    char chosen[MAX_PATH];
    lstrcpynA(chosen, sourcePath, MAX_PATH);
    OPENFILENAMEA request = {};
    request.lStructSize = kSaveRequestSize;
    request.hwndOwner = dialog;
    request.lpstrFilter = kFilters;
    request.lpstrFile = chosen;
    request.nMaxFile = MAX_PATH;
    request.nMaxFileTitle = kFileTitleSize;
    // Not OFN_FILEMUSTEXIST: the point of saving is a name that does not exist yet.
    request.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    request.lpstrDefExt = kDefaultExtension;
    if (!saveCopyCalls.getSaveFileName(&request))
        return false;
    char source[MAX_PATH + 1];
    char destination[MAX_PATH + 1];
    OneNameList(source, sourcePath);
    OneNameList(destination, chosen);
    SHFILEOPSTRUCTA copy = {};
    copy.hwnd = dialog;
    copy.wFunc = FO_COPY;
    copy.pFrom = source;
    copy.pTo = destination;
    // The shell answers 0 also when the user declined to replace a file or cancelled the copy.
    return saveCopyCalls.shFileOperation(&copy) == 0 && !copy.fAnyOperationsAborted;
}
