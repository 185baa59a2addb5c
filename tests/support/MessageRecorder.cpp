#include "tests/support/MessageRecorder.h"

static std::vector<RecordedMessage> recorded;

static int RecordMessage(HWND owner, const char* text, const char* caption)
{
    recorded.push_back(RecordedMessage{owner, text, caption});
    return IDOK;
}

MessageRecorder::MessageRecorder() : previous_(SetMessageSink(RecordMessage))
{
    recorded.clear();
}

MessageRecorder::~MessageRecorder()
{
    SetMessageSink(previous_);
}

const std::vector<RecordedMessage>& MessageRecorder::messages() const
{
    return recorded;
}

static const char kShownCaption[] = "dismissal under test";

// Windows never activates a box on a locked or another desktop: once the box is being created, a
// hook newer than the program's keeps every activation from the thread's windows and its hooks.
static HHOOK activationRefusal;

static LRESULT CALLBACK RefuseActivation(int code, WPARAM window, LPARAM parameter)
{
    return code == HCBT_ACTIVATE ? 1 : CallNextHookEx(nullptr, code, window, parameter);
}

static LRESULT CALLBACK RefuseActivationFromCreation(int code, WPARAM window, LPARAM parameter)
{
    if (code == HCBT_CREATEWND && !activationRefusal)
        activationRefusal = SetWindowsHookExA(WH_CBT, RefuseActivation, nullptr, GetCurrentThreadId());
    return CallNextHookEx(nullptr, code, window, parameter);
}

static DWORD WINAPI ShowBox(void* activated)
{
    HHOOK watch = activated ? nullptr
                            : SetWindowsHookExA(WH_CBT, RefuseActivationFromCreation, nullptr, GetCurrentThreadId());
    const int answer = ShowMessage(nullptr, "waiting for its OK", kShownCaption);
    if (watch)
        UnhookWindowsHookEx(watch);
    if (activationRefusal)
        UnhookWindowsHookEx(activationRefusal);
    activationRefusal = nullptr;
    return answer;
}

// The program's own message box, whatever a recorder has put in its place.
static const MessageSink realSink = [] {
    const MessageSink sink = SetMessageSink(nullptr);
    SetMessageSink(sink);
    return sink;
}();

// This process's box: test programs that run side by side show boxes of the same caption.
static HWND OwnBox()
{
    for (HWND box = FindWindowExA(nullptr, nullptr, nullptr, kShownCaption); box;
         box = FindWindowExA(nullptr, box, nullptr, kShownCaption)) {
        DWORD process = 0;
        GetWindowThreadProcessId(box, &process);
        if (process == GetCurrentProcessId())
            return box;
    }
    return nullptr;
}

ShownMessageBox::ShownMessageBox(bool activated)
{
    const MessageSink current = SetMessageSink(realSink);
    thread_ = CreateThread(nullptr, 0, ShowBox, activated ? this : nullptr, 0, nullptr);
    for (int poll = 0; poll < 250 && !OwnBox(); ++poll)
        Sleep(20);
    SetMessageSink(current);
}

ShownMessageBox::~ShownMessageBox()
{
    if (HWND box = OwnBox())
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
}

bool ShownMessageBox::stillOpen() const
{
    return WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT && OwnBox();
}
