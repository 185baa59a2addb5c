#pragma once

#include <windows.h>
#include <stdint.h>

// The platform's file calls the encoder writes through; a test replaces them to make writes fail.
struct FileOperations {
    HANDLE(WINAPI* create)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* write)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    DWORD(WINAPI* seek)(HANDLE, LONG, PLONG, DWORD);
    BOOL(WINAPI* setEnd)(HANDLE);
    BOOL(WINAPI* close)(HANDLE);
};

extern FileOperations fileOperations;

struct OutputFile {
    HANDLE handle;
    uint32_t bytesWritten;  // everything after the tag frame: the music
    uint16_t musicCrc;
};

// Opens path for writing without disturbing it when that fails (held by another program,
// read-only, missing folder); only a file that opened is emptied.
bool OpenOutputFile(OutputFile* file, const char* path);

// Appends the whole of bytes; false when the file cannot take them all.
bool WriteMusic(OutputFile* file, const uint8_t* bytes, uint32_t length);

// Writes bytes at the very start of the file, then returns to its end.
bool WriteAtStart(OutputFile* file, const uint8_t* bytes, uint32_t length);

void CloseOutputFile(OutputFile* file);
