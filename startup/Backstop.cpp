#include "startup/Backstop.h"

#include "startup/RunOutcome.h"
#include "startup/StartupOptions.h"

static const ULONGLONG kMillisecondsPerSecond = 1000;
// The watch looks this often; an end a second late costs nothing.
static const DWORD kLookMs = 1000;

struct Backstop {
    BackstopWatch watch;
    ProcessEnd end;
    volatile LONG recordingStarted;
    volatile LONG progress;
};
static Backstop backstop;
static HANDLE volatile heldLock;

BackstopWatch BackstopFor(DWORD timeLimitSeconds)
{
    BackstopWatch watch = {};
    watch.limitMs = timeLimitSeconds * kMillisecondsPerSecond + kLimitGraceMs;
    watch.marginMs = kBackstopMarginMs;
    watch.ceilingMs = kBackstopCeilingMs;
    return watch;
}

bool RunHasHung(const BackstopWatch& watch, ULONGLONG nowMs)
{
    const ULONGLONG limitEnds = (watch.recordingStarted ? watch.recordingStartMs : 0) + watch.limitMs;
    if (nowMs < limitEnds)
        return false;
    const ULONGLONG quietSince = watch.lastProgressMs > limitEnds ? watch.lastProgressMs : limitEnds;
    return nowMs - quietSince >= watch.marginMs || nowMs - limitEnds >= watch.ceilingMs;
}

void NoteRecordingStart()
{
    InterlockedExchange(&backstop.recordingStarted, 1);
}

void NoteEncoderProgress()
{
    InterlockedIncrement(&backstop.progress);
}

void EndThisProcess(UINT exitCode)
{
    // Not ExitProcess: it runs every library's detach, and a hung driver may hold the loader's lock.
    TerminateProcess(GetCurrentProcess(), exitCode);
}

void HoldTheLock(HANDLE lock)
{
    heldLock = lock;
}

void LetGoOfTheLock()
{
    if (HANDLE lock = InterlockedExchangePointer(const_cast<HANDLE*>(&heldLock), nullptr))
        CloseHandle(lock);
}

void EndHoldingTheLock(UINT exitCode)
{
    LetGoOfTheLock();
    EndThisProcess(exitCode);
}

static DWORD WINAPI WatchThenEnd(void*)
{
    BackstopWatch& watch = backstop.watch;
    DWORD lastTick = GetTickCount();
    LONG seenProgress = InterlockedCompareExchange(&backstop.progress, 0, 0);
    // 64 bits from the 32-bit tick, read at least once a second, so that limits of months hold.
    for (ULONGLONG now = 0; !RunHasHung(watch, now);) {
        Sleep(kLookMs);
        const DWORD tick = GetTickCount();
        now += tick - lastTick;
        lastTick = tick;
        if (!watch.recordingStarted && InterlockedCompareExchange(&backstop.recordingStarted, 0, 0)) {
            watch.recordingStarted = true;
            watch.recordingStartMs = now;
        }
        const LONG progress = InterlockedCompareExchange(&backstop.progress, 0, 0);
        if (progress != seenProgress)
            watch.lastProgressMs = now;
        seenProgress = progress;
    }
    NoteRunOutcome(kEndedEarly);
    backstop.end(static_cast<UINT>(WorstRunOutcome()));
    return 0;
}

bool StartBackstop(const BackstopWatch& watch, ProcessEnd end)
{
    backstop.watch = watch;
    backstop.end = end;
    // A recording of the window's own before this run's does not count as its start.
    InterlockedExchange(&backstop.recordingStarted, 0);
    HANDLE thread = CreateThread(nullptr, 0, WatchThenEnd, nullptr, 0, nullptr);
    if (!thread)
        return false;
    CloseHandle(thread);
    return true;
}
