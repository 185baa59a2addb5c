#pragma once

#include <windows.h>

// One heap chunk of the PCM queue; bytes are appended at size and taken at readPos. A chunk without
// storage is a run of silence that the reader expands into zeros, so silence costs no memory.
class CMemoryStream {
public:
    CMemoryStream(const void* source, DWORD length);
    explicit CMemoryStream(DWORD silentBytes);
    virtual ~CMemoryStream();

    // Takes storage of 64 KiB, or the next power-of-two multiple of it that holds requested;
    // returns the capacity, 0 when storage already exists or cannot be had.
    DWORD Allocate(DWORD requested);

    // Appends all of source and returns length, or -1 (nothing written) when it does not fit.
    int Write(const void* source, DWORD length);

    DWORD readPos;
    DWORD size;
    BYTE* data;
    DWORD capacity;
    CMemoryStream* next;
};

// The first-in first-out byte queue between capture (the producer) and the encoder (the consumer).
class CMemoryStreamList {
public:
    CMemoryStreamList();
    virtual ~CMemoryStreamList();

    // Queues a copy of source; -1 once the end has been declared. Bytes that find no storage are
    // dropped after a message and never counted.
    int Append(const void* source, DWORD length);

    // Queues that many bytes of silence; returns how many were queued (0 once the end is declared).
    ULONGLONG AppendSilence(ULONGLONG bytes);

    // Takes up to length bytes in order and returns how many were copied.
    DWORD Read(void* destination, DWORD length);

    // Bytes queued and not yet read, at most LONG's largest value (a long silence may queue more);
    // safe to poll from the consumer without the lock.
    LONG Available() const;

    // Declares that no more data will come; call only after the last Append.
    void SetFinished();
    LONG IsFinished() const;

    // Drops every byte not yet read, as if the end had come where the reader is; how many.
    ULONGLONG DropUnread();

    // Destroys the head chunk and returns the new head (null when none).
    CMemoryStream* PopHead();

    volatile LONG available;
    CMemoryStream* head;
    CMemoryStream* tail;
    CRITICAL_SECTION lock;
    volatile LONG finished;
    // The exact count behind available, changed under the lock.
    ULONGLONG queued;

private:
    void Count(LONGLONG change);
};
