#pragma once

#include <windows.h>

// The program's own texts (messages, captions, the window's caption, the lock's name) are written
// in code page 932, and are read in it on every Windows, whatever the system's code page: they go
// to the wide functions, converted here.

const UINT kProgramCodePage = 932;

// The longest text converted, terminator included.
const int kLongestProgramText = 1024;

// text, of code page 932, as UTF-16 in wide; false when it does not fit or the system lacks the
// code page, for which the caller falls back to the ANSI function.
bool WidenProgramText(const char* text, wchar_t wide[kLongestProgramText]);

// A name of the system's code page (a file name), in code page 932, to be shown inside a program
// text; a character 932 lacks becomes a question mark.
void SystemTextToProgramText(const char* text, char* converted, int size);

// A name the system gave in UTF-16 (a device's), likewise; false when it does not fit.
bool WideTextToProgramText(const wchar_t* wide, char* converted, int size);
