#include "startup/UserMessage.h"

const char kMessageCaption[] = "かのるMP3";

// Puts the message box above the always-on-top recorder window as it opens; Wine ignores MB_TOPMOST.
static LRESULT CALLBACK RaiseMessageBox(int code, WPARAM window, LPARAM parameter)
{
    if (code == HCBT_ACTIVATE)
        SetWindowPos(reinterpret_cast<HWND>(window), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return CallNextHookEx(nullptr, code, window, parameter);
}

// A message without an owner (the worker's, start-up's) would otherwise open behind the always-on-top
// recorder window, where nobody sees it.
static int ShowMessageBox(HWND owner, const char* text, const char* caption)
{
    if (owner)
        return MessageBoxA(owner, text, caption, MB_OK);
    HHOOK raise = SetWindowsHookExA(WH_CBT, RaiseMessageBox, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxA(owner, text, caption, MB_OK | MB_TOPMOST | MB_SETFOREGROUND);
    if (raise)
        UnhookWindowsHookEx(raise);
    return answer;
}

static MessageSink messageSink = ShowMessageBox;

int ShowMessage(HWND owner, const char* text, const char* caption)
{
    return messageSink(owner, text, caption);
}

// A message box is a dialog of the system's class with the program's caption.
static BOOL CALLBACK DismissIfMessage(HWND window, LPARAM)
{
    static const char kDialogClass[] = "#32770";
    char name[sizeof kDialogClass + 1];
    char caption[64];
    if (GetClassNameA(window, name, sizeof name) && lstrcmpA(name, kDialogClass) == 0 &&
        GetWindowTextA(window, caption, sizeof caption) && lstrcmpA(caption, kMessageCaption) == 0)
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

void DismissMessages(DWORD threadId)
{
    EnumThreadWindows(threadId, DismissIfMessage, 0);
}

MessageSink SetMessageSink(MessageSink sink)
{
    MessageSink previous = messageSink;
    messageSink = sink;
    return previous;
}
