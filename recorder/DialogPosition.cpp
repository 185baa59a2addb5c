#include "recorder/DialogPosition.h"

#include "startup/UserMessage.h"

static const char kSection[] = "かのるMP3";
static const char kKeyX[] = "x";
static const char kKeyY[] = "y";
static const char kExtension[] = ".EXE";
static const char kIniExtension[] = "INI";
static const int kExtensionLength = 4;
static const int kIniExtensionLength = 3;
// A window this close to the right or bottom edge is no longer worth remembering.
static const int kEdgeMargin = 16;
static const INT kNothingRemembered = 0x7FFFFFFF;
static const char kModuleNameMessage[] = "GetModuleFileName()に失敗しました。:DialogPosition";
static const char kShortNameMessage[] = "EXEファイルの名前が短すぎます。:DialogPosition";
static const char kExtensionMessage[] = "拡張子がEXEではありませんでした。:DialogPosition";
static const char kWriteMessage[] = "WritePrivateProfileString()に失敗しました。:DialogPosition";

static void Complain(const char* message)
{
    ShowMessage(nullptr, message, kMessageCaption);
}

static DWORD WINAPI SystemModuleFileName(HMODULE module, LPSTR path, DWORD size)
{
    return GetModuleFileNameA(module, path, size);
}

DWORD(WINAPI* moduleFileName)(HMODULE module, LPSTR path, DWORD size) = SystemModuleFileName;

bool GetIniPath(char path[MAX_PATH])
{
    const int length = static_cast<int>(moduleFileName(nullptr, path, MAX_PATH));
    // A name that fills the buffer was cut short, and Windows XP leaves it without its NUL then.
    if (length == 0 || length >= MAX_PATH) {
        Complain(kModuleNameMessage);
        return false;
    }
    if (length < kExtensionLength) {
        Complain(kShortNameMessage);
        return false;
    }
    if (lstrcmpiA(path + length - kExtensionLength, kExtension) != 0) {
        Complain(kExtensionMessage);
        return false;
    }
    lstrcpyA(path + length - kIniExtensionLength, kIniExtension);
    return true;
}

bool SaveDialogPosition(HWND dialog)
{
    char iniPath[MAX_PATH];
    if (!GetIniPath(iniPath))
        return false;
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(dialog, &placement))
        return false;
    const LONG left = placement.rcNormalPosition.left;
    const LONG top = placement.rcNormalPosition.top;
    if (left < 0 || top < 0 || left > GetSystemMetrics(SM_CXSCREEN) - kEdgeMargin ||
        top > GetSystemMetrics(SM_CYSCREEN) - kEdgeMargin)
        return false;
    char number[16];
    wsprintfA(number, "%d", static_cast<int>(left));
    if (!WritePrivateProfileStringA(kSection, kKeyX, number, iniPath)) {
        Complain(kWriteMessage);
        return false;
    }
    wsprintfA(number, "%d", static_cast<int>(top));
    if (!WritePrivateProfileStringA(kSection, kKeyY, number, iniPath)) {
        Complain(kWriteMessage);
        return false;
    }
    return true;
}

bool RestoreDialogPosition(HWND dialog)
{
    char iniPath[MAX_PATH];
    if (!GetIniPath(iniPath))
        return false;
    const int x = static_cast<int>(GetPrivateProfileIntA(kSection, kKeyX, kNothingRemembered, iniPath));
    const int y = static_cast<int>(GetPrivateProfileIntA(kSection, kKeyY, kNothingRemembered, iniPath));
    if (x >= GetSystemMetrics(SM_CXSCREEN) - kEdgeMargin || y >= GetSystemMetrics(SM_CYSCREEN) - kEdgeMargin)
        return false;
    return SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}
