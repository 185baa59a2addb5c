#include "encoding/MemoryStream.h"

#include <new>
#include <string.h>

#include "startup/UserMessage.h"

static const DWORD kChunkCapacity = 65536;
// Doubling past this would wrap the 32-bit capacity round to zero.
static const DWORD kLargestChunkCapacity = 0x80000000;
// A silence run stays well inside the 32-bit chunk size; longer silence takes several runs.
static const DWORD kLongestSilenceRun = 0x40000000;
static const LONG kMostAvailable = 0x7FFFFFFF;
static const char kAllocationFailedMessage[] = "Failed to HeapAlloc()";
static const char kAllocationFailedCaption[] = "CMemoryStream";

static LONG ReadShared(const volatile LONG* word)
{
    return InterlockedCompareExchange(const_cast<volatile LONG*>(word), 0, 0);
}

CMemoryStream::CMemoryStream(const void* source, DWORD length)
    : readPos(0), size(0), data(nullptr), capacity(0), next(nullptr)
{
    Allocate(length);
    if (capacity - size >= length) {
        memcpy(data + size, source, length);
        size += length;
    }
}

CMemoryStream::CMemoryStream(DWORD silentBytes)
    : readPos(0), size(silentBytes), data(nullptr), capacity(silentBytes), next(nullptr)
{
}

CMemoryStream::~CMemoryStream()
{
    if (data)
        HeapFree(GetProcessHeap(), 0, data);
}

DWORD CMemoryStream::Allocate(DWORD requested)
{
    if (data)
        return 0;
    readPos = 0;
    size = 0;
    capacity = 0;
    DWORD wanted = kChunkCapacity;
    while (wanted < requested) {
        if (wanted == kLargestChunkCapacity)
            return 0;
        wanted *= 2;
    }
    data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, wanted));
    if (data)
        capacity = wanted;
    return capacity;
}

int CMemoryStream::Write(const void* source, DWORD length)
{
    if (capacity - size < length)
        return -1;
    memcpy(data + size, source, length);
    size += length;
    return static_cast<int>(length);
}

CMemoryStreamList::CMemoryStreamList() : available(0), head(nullptr), tail(nullptr), finished(0), queued(0)
{
    InitializeCriticalSection(&lock);
}

CMemoryStreamList::~CMemoryStreamList()
{
    while (PopHead())
        ;
    DeleteCriticalSection(&lock);
}

int CMemoryStreamList::Append(const void* source, DWORD length)
{
    if (IsFinished())
        return -1;
    DWORD stored = length;
    EnterCriticalSection(&lock);
    if (!tail || tail->Write(source, length) < 0) {
        CMemoryStream* chunk = new (std::nothrow) CMemoryStream(source, length);
        if (chunk && chunk->capacity >= length) {
            if (tail)
                tail->next = chunk;
            tail = chunk;
            if (!head)
                head = chunk;
        } else {
            delete chunk;
            stored = 0;
        }
    }
    Count(stored);
    LeaveCriticalSection(&lock);
    // Shown outside the lock: the message box's own message loop may deliver the next captured
    // buffer to Append on this same thread.
    if (stored != length)
        ShowMessage(nullptr, kAllocationFailedMessage, kAllocationFailedCaption);
    return 0;
}

DWORD CMemoryStreamList::Read(void* destination, DWORD length)
{
    BYTE* out = static_cast<BYTE*>(destination);
    DWORD remaining = length;
    EnterCriticalSection(&lock);
    while (head) {
        DWORD n = head->size - head->readPos;
        if (n > remaining)
            n = remaining;
        if (head->data)
            memcpy(out, head->data + head->readPos, n);
        else
            memset(out, 0, n);
        head->readPos += n;
        out += n;
        remaining -= n;
        if (remaining == 0)
            break;
        if (n == 0)
            PopHead();
    }
    const DWORD copied = length - remaining;
    Count(-static_cast<LONGLONG>(copied));
    LeaveCriticalSection(&lock);
    return copied;
}

ULONGLONG CMemoryStreamList::AppendSilence(ULONGLONG bytes)
{
    if (IsFinished())
        return 0;
    ULONGLONG left = bytes;
    EnterCriticalSection(&lock);
    while (left > 0) {
        if (!tail || tail->data || tail->size >= kLongestSilenceRun) {
            CMemoryStream* run = new (std::nothrow) CMemoryStream(0u);
            if (!run)
                break;
            if (tail)
                tail->next = run;
            tail = run;
            if (!head)
                head = run;
        }
        const DWORD room = kLongestSilenceRun - tail->size;
        const DWORD added = left < room ? static_cast<DWORD>(left) : room;
        tail->size += added;
        tail->capacity += added;
        left -= added;
        Count(added);
    }
    LeaveCriticalSection(&lock);
    return bytes - left;
}

// Under the lock; the full barrier of the exchange makes each count visible before a later flag.
void CMemoryStreamList::Count(LONGLONG change)
{
    queued += change;
    InterlockedExchange(&available, queued > static_cast<ULONGLONG>(kMostAvailable) ? kMostAvailable
                                                                                   : static_cast<LONG>(queued));
}

LONG CMemoryStreamList::Available() const
{
    return ReadShared(&available);
}

void CMemoryStreamList::SetFinished()
{
    // A full barrier: every append counted in available is visible before the flag is.
    InterlockedExchange(&finished, 1);
}

LONG CMemoryStreamList::IsFinished() const
{
    return ReadShared(&finished);
}

ULONGLONG CMemoryStreamList::DropUnread()
{
    EnterCriticalSection(&lock);
    const ULONGLONG dropped = queued;
    while (PopHead()) {
    }
    Count(-static_cast<LONGLONG>(dropped));
    LeaveCriticalSection(&lock);
    return dropped;
}

CMemoryStream* CMemoryStreamList::PopHead()
{
    EnterCriticalSection(&lock);
    CMemoryStream* removed = head;
    if (removed) {
        head = removed->next;
        if (tail == removed)
            tail = nullptr;
        delete removed;
    }
    CMemoryStream* newHead = head;
    LeaveCriticalSection(&lock);
    return newHead;
}
