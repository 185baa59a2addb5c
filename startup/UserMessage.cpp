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

MessageSink SetMessageSink(MessageSink sink)
{
    MessageSink previous = messageSink;
    messageSink = sink;
    return previous;
}
