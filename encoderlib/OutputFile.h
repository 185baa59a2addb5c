#pragma once

#include <windows.h>
#include <stdint.h>

#include "encoderlib/MpegTables.h"

// The platform's file calls the encoder writes through; a test replaces them to make writes fail.
struct FileOperations {
    HANDLE(WINAPI* create)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* write)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    DWORD(WINAPI* seek)(HANDLE, LONG, PLONG, DWORD);
    BOOL(WINAPI* setEnd)(HANDLE);
    BOOL(WINAPI* close)(HANDLE);
};

extern FileOperations fileOperations;

// The whole frames among the music written, so that a file cut short by a failed write can be
// given a tag that tells just those.
struct WholeFrames {
    uint32_t count;
    uint32_t bytes;
    uint16_t crc;  // over those bytes
    uint8_t header[kFrameHeaderBytes];  // of the frame being written
    uint32_t bytesSeen;  // of that frame
    uint32_t length;  // of that frame, once its header is in; 0 before
};

struct OutputFile {
    HANDLE handle;
    int sampleRate;  // of every frame, which gives each frame's length from its header
    uint32_t bytesWritten;  // everything after the tag frame: the music
    uint16_t musicCrc;
    WholeFrames wholeFrames;
};

// Opens path for writing without disturbing it when that fails (held by another program,
// read-only, missing folder); only a file that opened is emptied.
bool OpenOutputFile(OutputFile* file, const char* path, int sampleRate);

// Appends the whole of bytes; false when the file cannot take them all.
bool WriteMusic(OutputFile* file, const uint8_t* bytes, uint32_t length);

// Writes bytes at the very start of the file, then returns to its end.
bool WriteAtStart(OutputFile* file, const uint8_t* bytes, uint32_t length);

// Cuts the file after its last whole frame, behind a tag frame of tagBytes.
bool CutAfterWholeFrames(OutputFile* file, uint32_t tagBytes);

void CloseOutputFile(OutputFile* file);
