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

static DWORD WINAPI ShowBox(void*)
{
    return ShowMessage(nullptr, "waiting for its OK", kShownCaption);
}

// The program's own message box, whatever a recorder has put in its place.
static const MessageSink realSink = [] {
    const MessageSink sink = SetMessageSink(nullptr);
    SetMessageSink(sink);
    return sink;
}();

ShownMessageBox::ShownMessageBox()
{
    const MessageSink current = SetMessageSink(realSink);
    thread_ = CreateThread(nullptr, 0, ShowBox, nullptr, 0, nullptr);
    for (int poll = 0; poll < 250 && !FindWindowA(nullptr, kShownCaption); ++poll)
        Sleep(20);
    SetMessageSink(current);
}

ShownMessageBox::~ShownMessageBox()
{
    if (HWND box = FindWindowA(nullptr, kShownCaption))
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
}

bool ShownMessageBox::stillOpen() const
{
    return WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT && FindWindowA(nullptr, kShownCaption);
}
