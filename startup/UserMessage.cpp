#include "startup/UserMessage.h"

const char kMessageCaption[] = "かのるMP3";

static int ShowMessageBox(HWND owner, const char* text, const char* caption)
{
    return MessageBoxA(owner, text, caption, MB_OK);
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
