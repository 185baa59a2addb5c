#pragma once

// The process's argument vector, argument 0 being the program; alive from entry to exit.
extern char** argv;
extern int argc;

// Splits the process command line into a heap-owned vector and returns the text after the first
// argument and its white space.
const char* SplitCommandLine(char*** vector, int* count);

// The same splitting on any text.
const char* SplitCommandLineText(const char* text, char*** vector, int* count);

// Frees every argument, then the array, and clears the array pointer.
void FreeCommandLine(char*** vector, int count);
