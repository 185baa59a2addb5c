#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "encoding/MemoryStream.h"
#include "tests/support/MessageRecorder.h"

namespace {

const DWORD kChunk = 65536;
// Marks a chunk without storage in a list of chunk sizes, which stay below 2 GiB.
const DWORD kSilentChunk = 0x80000000;

// The byte expected at a position of the stream, so that order and completeness can be checked.
BYTE PatternByte(DWORD position)
{
    return static_cast<BYTE>((position * 2654435761u) >> 24);
}

std::vector<BYTE> Pattern(DWORD from, DWORD length)
{
    std::vector<BYTE> bytes(length);
    for (DWORD index = 0; index < length; ++index)
        bytes[index] = PatternByte(from + index);
    return bytes;
}

std::vector<DWORD> ChunkCapacities(const CMemoryStreamList& list)
{
    std::vector<DWORD> capacities;
    for (const CMemoryStream* chunk = list.head; chunk; chunk = chunk->next)
        capacities.push_back(chunk->capacity);
    return capacities;
}

TEST(MemoryStreamCapacity, ChunksAreSixtyFourKibibytesAndGrowInPowersOfTwo)
{
    const struct {
        std::vector<DWORD> appends;
        std::vector<DWORD> capacities;
    } cases[] = {
        {{44100, 44100}, {kChunk, kChunk}},
        {{32000, 32000}, {kChunk}},
        {{kChunk}, {kChunk}},
        {{kChunk + 1}, {2 * kChunk}},
        {{2 * kChunk}, {2 * kChunk}},
        {{4 * 48000}, {4 * kChunk}},
        {{0, kChunk}, {kChunk}},
        {{kChunk, 1}, {kChunk, kChunk}},
        {{192000, 192000, 60000}, {4 * kChunk, 4 * kChunk}},
    };
    for (const auto& c : cases) {
        CMemoryStreamList list;
        DWORD total = 0;
        for (DWORD length : c.appends) {
            const std::vector<BYTE> bytes = Pattern(total, length);
            ASSERT_EQ(0, list.Append(bytes.data(), length));
            total += length;
        }
        EXPECT_EQ(c.capacities, ChunkCapacities(list));
        EXPECT_EQ(static_cast<LONG>(total), list.Available());
        std::vector<BYTE> out(total);
        EXPECT_EQ(total, list.Read(out.data(), total));
        EXPECT_EQ(Pattern(0, total), out);
    }
}

TEST(MemoryStreamCapacity, StreamWriteRefusesWhatDoesNotFit)
{
    const std::vector<BYTE> bytes = Pattern(0, kChunk);
    CMemoryStream stream(bytes.data(), 1000);
    EXPECT_EQ(kChunk, stream.capacity);
    EXPECT_EQ(1000u, stream.size);
    EXPECT_EQ(0u, stream.Allocate(10)) << "storage is taken only once";
    EXPECT_EQ(-1, stream.Write(bytes.data(), kChunk - 999));
    EXPECT_EQ(1000u, stream.size);
    EXPECT_EQ(static_cast<int>(kChunk - 1000), stream.Write(bytes.data(), kChunk - 1000));
    EXPECT_EQ(kChunk, stream.size);
    EXPECT_EQ(0, stream.Write(bytes.data(), 0));
}

TEST(MemoryStreamRead, ReadingMoreThanIsQueuedFreesEveryEmptiedChunk)
{
    CMemoryStreamList list;
    const std::vector<BYTE> bytes = Pattern(0, 3 * 44100);
    for (int index = 0; index < 3; ++index)
        list.Append(bytes.data() + index * 44100, 44100);
    ASSERT_EQ(3u, ChunkCapacities(list).size());

    std::vector<BYTE> out(4 * 44100);
    EXPECT_EQ(3u * 44100, list.Read(out.data(), static_cast<DWORD>(out.size())));
    EXPECT_EQ(0, list.Available());
    out.resize(3 * 44100);
    EXPECT_EQ(bytes, out);
    EXPECT_EQ(nullptr, list.head);
    EXPECT_EQ(nullptr, list.tail);

    list.Append(bytes.data(), 10);
    EXPECT_EQ(1u, ChunkCapacities(list).size()) << "after the tail was freed an append starts a new chunk";
    EXPECT_EQ(10, list.Available());
}

TEST(MemoryStreamRead, ReadingZeroBytesChangesNothing)
{
    CMemoryStreamList list;
    BYTE out[1] = {0x5a};
    EXPECT_EQ(0u, list.Read(out, 0));
    const std::vector<BYTE> bytes = Pattern(0, 100);
    list.Append(bytes.data(), 100);
    EXPECT_EQ(0u, list.Read(out, 0));
    EXPECT_EQ(0x5a, out[0]);
    EXPECT_EQ(100, list.Available());
    EXPECT_EQ(0u, list.head->readPos);
}

TEST(MemoryStreamRead, ChunkEmptiedExactlyStaysAndKeepsFillingBehindTheReadPosition)
{
    CMemoryStreamList list;
    const std::vector<BYTE> bytes = Pattern(0, 3000);
    list.Append(bytes.data(), 1000);
    std::vector<BYTE> out(3000);
    EXPECT_EQ(1000u, list.Read(out.data(), 1000));
    CMemoryStream* chunk = list.head;
    ASSERT_NE(nullptr, chunk);
    list.Append(bytes.data() + 1000, 2000);
    EXPECT_EQ(chunk, list.head);
    EXPECT_EQ(chunk, list.tail);
    EXPECT_EQ(2000u, list.Read(out.data() + 1000, 2000));
    EXPECT_EQ(bytes, out);
}

TEST(MemoryStreamFinished, AppendAfterTheEndIsRefused)
{
    CMemoryStreamList list;
    const std::vector<BYTE> bytes = Pattern(0, 10);
    list.Append(bytes.data(), 10);
    EXPECT_EQ(0, list.IsFinished());
    list.SetFinished();
    EXPECT_EQ(1, list.IsFinished());
    EXPECT_EQ(-1, list.Append(bytes.data(), 10));
    EXPECT_EQ(0u, list.AppendSilence(10)) << "silence after the end is neither queued nor counted";
    EXPECT_EQ(10, list.Available());
}

std::vector<DWORD> ChunkSizes(const CMemoryStreamList& list)
{
    std::vector<DWORD> sizes;
    for (const CMemoryStream* chunk = list.head; chunk; chunk = chunk->next)
        sizes.push_back(chunk->data ? chunk->size : chunk->size | kSilentChunk);
    return sizes;
}

// Silence takes no storage: runs of at most a gibibyte, never inside a chunk that holds audio,
// counted exactly however long, and read back as zeros in their place.
TEST(MemoryStreamSilence, RunsWithoutStorageReadAsZerosInTheirPlace)
{
    const DWORD kRun = 0x40000000;
    const struct {
        const char* name;
        DWORD audioBefore;
        std::vector<ULONGLONG> silences;
        DWORD audioAfter;
        std::vector<DWORD> chunks;  // sizes; silent ones marked
    } rows[] = {
        {"between audio", 1000, {44100}, 1000, {1000, 44100 | kSilentChunk, 1000}},
        {"one run grows in place", 0, {100, 200}, 0, {300 | kSilentChunk}},
        {"a run that fills its bound, then more", 0, {kRun, 1}, 0, {kRun | kSilentChunk, 1 | kSilentChunk}},
        {"longer than 2 GiB", 10, {2ull * kRun + 5}, 0, {10, kRun | kSilentChunk, kRun | kSilentChunk, 5 | kSilentChunk}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CMemoryStreamList list;
        const std::vector<BYTE> before = Pattern(0, row.audioBefore), after = Pattern(row.audioBefore, row.audioAfter);
        if (row.audioBefore > 0)
            list.Append(before.data(), row.audioBefore);
        ULONGLONG silent = 0;
        for (ULONGLONG bytes : row.silences) {
            EXPECT_EQ(bytes, list.AppendSilence(bytes));
            silent += bytes;
        }
        if (row.audioAfter > 0)
            list.Append(after.data(), row.audioAfter);
        EXPECT_EQ(row.chunks, ChunkSizes(list));
        const ULONGLONG total = row.audioBefore + silent + row.audioAfter;
        EXPECT_EQ(total, list.queued);
        EXPECT_EQ(static_cast<LONG>(total < 0x7FFFFFFF ? total : 0x7FFFFFFF), list.Available()) << "at most LONG's largest";
        if (total > kChunk)
            continue;
        std::vector<BYTE> out(static_cast<size_t>(total), 0xEE);
        EXPECT_EQ(total, list.Read(out.data(), static_cast<DWORD>(total)));
        std::vector<BYTE> expected = before;
        expected.resize(static_cast<size_t>(row.audioBefore + silent), 0);
        expected.insert(expected.end(), after.begin(), after.end());
        EXPECT_EQ(expected, out);
    }
}

TEST(MemoryStreamFinished, DestroyingAListThatHoldsDataFreesEverything)
{
    HANDLE heap = GetProcessHeap();
    PROCESS_HEAP_ENTRY entry;
    auto busyBytes = [&]() {
        SIZE_T busy = 0;
        entry.lpData = nullptr;
        HeapLock(heap);
        while (HeapWalk(heap, &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        }
        HeapUnlock(heap);
        return busy;
    };
    const std::vector<BYTE> bytes = Pattern(0, 192000);
    const SIZE_T before = busyBytes();
    CMemoryStreamList* list = new CMemoryStreamList;
    for (int index = 0; index < 20; ++index)
        list->Append(bytes.data(), 192000);
    EXPECT_GT(busyBytes(), before + 20 * 192000);
    delete list;
    EXPECT_LT(busyBytes(), before + kChunk) << "the chunks' storage went back to the heap";
}

// Reads the list's lock from another thread, so a message shown with the lock held shows up as a
// reader that cannot get in.
DWORD WINAPI ReadNothing(void* parameter)
{
    BYTE unused;
    static_cast<CMemoryStreamList*>(parameter)->Read(&unused, 0);
    return 0;
}

bool LockIsFree(CMemoryStreamList* list)
{
    HANDLE reader = CreateThread(nullptr, 0, ReadNothing, list, 0, nullptr);
    const bool free = WaitForSingleObject(reader, 2000) == WAIT_OBJECT_0;
    if (!free)
        TerminateThread(reader, 1);
    CloseHandle(reader);
    return free;
}

CMemoryStreamList* listUnderTest = nullptr;
bool lockWasFree = false;

TEST(MemoryStreamAllocation, FailedStorageDropsTheBytesWithAMessageShownOutsideTheLock)
{
    CMemoryStreamList list;
    const std::vector<BYTE> bytes = Pattern(0, 100);
    list.Append(bytes.data(), 100);
    listUnderTest = &list;
    MessageSink previous = SetMessageSink([](HWND owner, const char* text, const char* caption) {
        lockWasFree = LockIsFree(listUnderTest);
        EXPECT_EQ(nullptr, owner);
        EXPECT_STREQ("Failed to HeapAlloc()", text);
        EXPECT_STREQ("CMemoryStream", caption);
        return IDOK;
    });
    // Two gibibytes cannot be had in a 32-bit process; the length never reaches the copy.
    EXPECT_EQ(0, list.Append(bytes.data(), 0x7FFFFFF0));
    SetMessageSink(previous);
    EXPECT_TRUE(lockWasFree);
    EXPECT_EQ(100, list.Available()) << "the lost bytes are not counted";

    list.Append(bytes.data(), 50);
    std::vector<BYTE> out(200);
    EXPECT_EQ(150u, list.Read(out.data(), 200));
}

TEST(MemoryStreamAllocation, LengthsBeyondTheLargestChunkAreRefusedNotLoopedOn)
{
    MessageRecorder messages;
    CMemoryStreamList list;
    BYTE unused = 0;
    EXPECT_EQ(0, list.Append(&unused, 0x80000001));
    EXPECT_EQ(0, list.Append(&unused, 0xFFFFFFFF));
    EXPECT_EQ(2u, messages.messages().size());
    EXPECT_EQ(0, list.Available());
}

// A producer appends several minutes of capture in varied sizes while a consumer reads varied
// blocks the way the encoder's read callback does.
struct Transfer {
    CMemoryStreamList list;
    DWORD totalBytes = 0;
    DWORD received = 0;
    DWORD mismatches = 0;
    LONG lowestAvailable = 0;
    bool endSeenEarly = false;
};

DWORD NextRandom(DWORD* state)
{
    *state ^= *state << 13;
    *state ^= *state >> 17;
    *state ^= *state << 5;
    return *state;
}

DWORD WINAPI Produce(void* parameter)
{
    Transfer* transfer = static_cast<Transfer*>(parameter);
    DWORD state = 12345;
    std::vector<BYTE> chunk;
    for (DWORD sent = 0; sent < transfer->totalBytes;) {
        DWORD length = NextRandom(&state) % 200000;
        if (length > transfer->totalBytes - sent)
            length = transfer->totalBytes - sent;
        chunk = Pattern(sent, length);
        transfer->list.Append(chunk.data(), length);
        sent += length;
        if (NextRandom(&state) % 8 == 0)
            Sleep(1);
    }
    transfer->list.SetFinished();
    return 0;
}

DWORD WINAPI Consume(void* parameter)
{
    Transfer* transfer = static_cast<Transfer*>(parameter);
    DWORD state = 67890;
    std::vector<BYTE> block(20000);
    for (;;) {
        const LONG finished = transfer->list.IsFinished();
        const LONG available = transfer->list.Available();
        if (available < transfer->lowestAvailable)
            transfer->lowestAvailable = available;
        const DWORD length = 1 + NextRandom(&state) % static_cast<DWORD>(block.size());
        const DWORD got = transfer->list.Read(block.data(), length);
        for (DWORD index = 0; index < got; ++index) {
            if (block[index] != PatternByte(transfer->received + index))
                ++transfer->mismatches;
        }
        transfer->received += got;
        if (finished && available == 0) {
            transfer->endSeenEarly = transfer->received != transfer->totalBytes;
            return 0;
        }
        if (got == 0)
            Sleep(1);
    }
}

TEST(MemoryStreamThreads, EveryByteArrivesOnceInOrderAndTheEndComesLast)
{
    Transfer transfer;
    transfer.totalBytes = 3 * 60 * 176400;  // three minutes of 44.1 kHz stereo
    HANDLE consumer = CreateThread(nullptr, 0, Consume, &transfer, 0, nullptr);
    HANDLE producer = CreateThread(nullptr, 0, Produce, &transfer, 0, nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(producer, 120000));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(consumer, 120000));
    CloseHandle(producer);
    CloseHandle(consumer);
    EXPECT_EQ(transfer.totalBytes, transfer.received);
    EXPECT_EQ(0u, transfer.mismatches);
    EXPECT_GE(transfer.lowestAvailable, 0);
    EXPECT_FALSE(transfer.endSeenEarly);
    EXPECT_EQ(0, transfer.list.Available());
}

}  // namespace
