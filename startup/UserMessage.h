#pragma once

#include <windows.h>

// The caption of every message box of the program unless a message names its own.
extern const char kMessageCaption[];

// Shows a modal message box with a single OK button; every message of the program passes here.
int ShowMessage(HWND owner, const char* text, const char* caption);

// Closes the program's message boxes open on the thread, as if their OK were pressed.
void DismissMessages(DWORD threadId);

// Where messages go: the real message box, or a test's observer.
typedef int (*MessageSink)(HWND owner, const char* text, const char* caption);

// Replaces the sink and returns the previous one.
MessageSink SetMessageSink(MessageSink sink);
