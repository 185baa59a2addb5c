#pragma once

#include <windows.h>

// The caption of every message box of the program unless a message names its own.
extern const char kMessageCaption[];

// Shows a modal message box with a single OK button; every message of the program passes here.
int ShowMessage(HWND owner, const char* text, const char* caption);

// For an unattended run: once that long from now has passed, every message box the program has
// open or opens, on any thread and whatever its caption, is closed as if its OK were pressed. A
// later call sets a new deadline; each returns what was left of the one it replaces. Called from
// one thread.
ULONGLONG DismissMessagesAfter(ULONGLONG milliseconds);

// No deadline: messages wait for the user.
const ULONGLONG kNoDeadline = ~0ull;

// Where messages go: the real message box, or a test's observer.
typedef int (*MessageSink)(HWND owner, const char* text, const char* caption);

// Replaces the sink and returns the previous one.
MessageSink SetMessageSink(MessageSink sink);
