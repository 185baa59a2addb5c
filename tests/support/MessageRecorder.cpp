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
static const DWORD kBoxAppearsWithinMs = 5000;
static const DWORD kPollMs = 20;

static HWND FindShownBox()
{
    return FindWindowA("#32770", kShownCaption);
}

static DWORD WINAPI ShowBox(void*)
{
    ShowMessage(nullptr, "waiting for its OK", kShownCaption);
    return 0;
}

ShownMessageBox::ShownMessageBox() : thread_(CreateThread(nullptr, 0, ShowBox, nullptr, 0, nullptr))
{
    for (DWORD waited = 0; !FindShownBox() && waited < kBoxAppearsWithinMs; waited += kPollMs)
        Sleep(kPollMs);
}

ShownMessageBox::~ShownMessageBox()
{
    HWND box = FindShownBox();
    if (box)
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
}

bool ShownMessageBox::stillOpen() const
{
    return WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT && FindShownBox();
}
