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
