#include "startup/UserMessage.h"

#include "startup/ProgramText.h"

const char kMessageCaption[] = "かのるMP3";

static const int kMostOpenMessages = 16;
static const DWORD kDismissPollMs = 500;
static const char kMessageBoxClass[] = "#32770";

// The message boxes the program has open, on any thread: a slot is taken by the thread before it
// shows its box, and the box is noted as it is activated. Nested boxes on one thread take a slot each.
struct OpenMessage {
    volatile LONG threadId;
    HWND box;
};
static OpenMessage openMessages[kMostOpenMessages];

// An unattended run's deadline, counted by the watcher thread; set under the lock.
struct MessageDeadline {
    CRITICAL_SECTION lock;
    bool lockReady;
    HANDLE watcher;
    DWORD armedAt;
    ULONGLONG afterMs;
};
static MessageDeadline deadline;

static OpenMessage* TakeSlot()
{
    const LONG thread = static_cast<LONG>(GetCurrentThreadId());
    for (OpenMessage& slot : openMessages) {
        if (InterlockedCompareExchange(&slot.threadId, thread, 0) == 0) {
            slot.box = nullptr;
            return &slot;
        }
    }
    return nullptr;
}

// Notes the box of this thread's newest slot that has none yet as it is created (a box on a locked or
// other desktop is never activated), and puts a box without an owner above the always-on-top
// recorder window as it opens (Wine ignores MB_TOPMOST).
static LRESULT CALLBACK NoteMessageBox(int code, WPARAM window, LPARAM parameter)
{
    HWND box = reinterpret_cast<HWND>(window);
    char name[sizeof kMessageBoxClass + 1];
    if ((code == HCBT_CREATEWND || code == HCBT_ACTIVATE) && GetClassNameA(box, name, sizeof name) &&
        lstrcmpA(name, kMessageBoxClass) == 0) {
        const LONG thread = static_cast<LONG>(GetCurrentThreadId());
        bool noted = false;
        OpenMessage* newest = nullptr;
        for (OpenMessage& slot : openMessages) {
            noted |= slot.threadId == thread && slot.box == box;
            if (slot.threadId == thread && !slot.box)
                newest = &slot;
        }
        if (newest && !noted)
            newest->box = box;
        if (code == HCBT_ACTIVATE && !GetWindow(box, GW_OWNER))
            SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    return CallNextHookEx(nullptr, code, window, parameter);
}

// A message without an owner (the worker's, start-up's) would otherwise open behind the always-on-top
// recorder window, where nobody sees it.
static int ShowMessageBox(HWND owner, const char* text, const char* caption)
{
    OpenMessage* slot = TakeSlot();
    HHOOK note = SetWindowsHookExA(WH_CBT, NoteMessageBox, nullptr, GetCurrentThreadId());
    const UINT style = owner ? MB_OK : MB_OK | MB_TOPMOST | MB_SETFOREGROUND;
    wchar_t wideText[kLongestProgramText], wideCaption[kLongestProgramText];
    const int answer = WidenProgramText(text, wideText) && WidenProgramText(caption, wideCaption)
                           ? MessageBoxW(owner, wideText, wideCaption, style)
                           : MessageBoxA(owner, text, caption, style);
    if (note)
        UnhookWindowsHookEx(note);
    if (slot) {
        slot->box = nullptr;
        InterlockedExchange(&slot->threadId, 0);
    }
    return answer;
}

static MessageSink messageSink = ShowMessageBox;

int ShowMessage(HWND owner, const char* text, const char* caption)
{
    return messageSink(owner, text, caption);
}

static void DismissOpenMessages()
{
    for (OpenMessage& slot : openMessages) {
        HWND box = slot.box;
        if (slot.threadId && box)
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
}

// Runs until the process ends; the tick count is read twice a second, long before it wraps.
static DWORD WINAPI WatchDeadline(void*)
{
    for (;;) {
        Sleep(kDismissPollMs);
        EnterCriticalSection(&deadline.lock);
        const DWORD now = GetTickCount();
        const DWORD passed = now - deadline.armedAt;
        deadline.afterMs = deadline.afterMs > passed ? deadline.afterMs - passed : 0;
        deadline.armedAt = now;
        const bool due = deadline.afterMs == 0;
        LeaveCriticalSection(&deadline.lock);
        if (due)
            DismissOpenMessages();
    }
}

ULONGLONG DismissMessagesAfter(ULONGLONG milliseconds)
{
    // Once only, even when a watcher could not be had and is tried again.
    if (!deadline.lockReady)
        InitializeCriticalSection(&deadline.lock);
    deadline.lockReady = true;
    EnterCriticalSection(&deadline.lock);
    const DWORD now = GetTickCount();
    const DWORD passed = now - deadline.armedAt;
    ULONGLONG left = deadline.afterMs > passed ? deadline.afterMs - passed : 0;
    if (!deadline.watcher || deadline.afterMs == kNoDeadline)
        left = kNoDeadline;
    deadline.armedAt = now;
    deadline.afterMs = milliseconds;
    LeaveCriticalSection(&deadline.lock);
    if (!deadline.watcher)
        deadline.watcher = CreateThread(nullptr, 0, WatchDeadline, nullptr, 0, nullptr);
    return left;
}

MessageSink SetMessageSink(MessageSink sink)
{
    MessageSink previous = messageSink;
    messageSink = sink;
    return previous;
}
