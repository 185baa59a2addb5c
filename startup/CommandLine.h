#pragma once

// The process's argument vector, argument 0 being the program; alive from entry to exit.
extern char** argv;
extern int argc;

// The same arguments as the system gave them in UTF-16, with the characters that the system's code
// page lacks: what a user typed (a device's name, a file's) is read from here.
extern wchar_t** wideArgv;
extern int wideArgc;

// Splits the process command line into heap-owned vectors: the system's UTF-16 one into wideArgv,
// and each argument of it in the system's code page into *vector, as Windows writes it (a character
// the code page lacks as a lookalike), so that the two always hold the same arguments.
void SplitCommandLine(char*** vector, int* count);

// The same from any UTF-16 text.
void SplitBothWidths(const wchar_t* text, char*** vector, int* count);

// The same splitting on any text of the system's code page.
const char* SplitCommandLineText(const char* text, char*** vector, int* count);

// Frees every argument, then the array, and clears the array pointer.
void FreeCommandLine(char*** vector, int count);
void FreeWideCommandLine(wchar_t*** vector, int count);
