#pragma once

// The process's argument vector, argument 0 being the program; alive from entry to exit.
extern char** argv;
extern int argc;

// The same arguments as the system gave them in UTF-16, with the characters that the system's code
// page lacks: what a user typed (a device's name, a file's) is read from here.
extern wchar_t** wideArgv;
extern int wideArgc;

// Splits the process command line, in both widths, into heap-owned vectors (the wide one into
// wideArgv) and returns the text after the first argument and its white space.
const char* SplitCommandLine(char*** vector, int* count);

// The same splitting on any text.
const char* SplitCommandLineText(const char* text, char*** vector, int* count);
void SplitWideCommandLineText(const wchar_t* text, wchar_t*** vector, int* count);

// Frees every argument, then the array, and clears the array pointer.
void FreeCommandLine(char*** vector, int count);
void FreeWideCommandLine(wchar_t*** vector, int count);
