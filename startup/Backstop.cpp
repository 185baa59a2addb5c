#include "startup/Backstop.h"

#include "startup/RunOutcome.h"
#include "startup/StartupOptions.h"

static const ULONGLONG kMillisecondsPerSecond = 1000;
// A limit of months is waited out in days, as one Sleep holds at most 49 of them.
static const DWORD kLongestSleepMs = 24 * 60 * 60 * 1000;

struct Backstop {
    ULONGLONG afterMs;
    ProcessEnd end;
};
static Backstop backstop;

ULONGLONG BackstopDelayMs(DWORD timeLimitSeconds)
{
    return timeLimitSeconds * kMillisecondsPerSecond + kLimitGraceMs + kBackstopMarginMs;
}

void EndThisProcess(UINT exitCode)
{
    // Not ExitProcess: it runs every library's detach, and a hung driver may hold the loader's lock.
    TerminateProcess(GetCurrentProcess(), exitCode);
}

static DWORD WINAPI WaitThenEnd(void*)
{
    for (ULONGLONG left = backstop.afterMs; left > 0;) {
        const DWORD step = left < kLongestSleepMs ? static_cast<DWORD>(left) : kLongestSleepMs;
        Sleep(step);
        left -= step;
    }
    NoteRunOutcome(kEndedEarly);
    backstop.end(static_cast<UINT>(WorstRunOutcome()));
    return 0;
}

bool StartBackstop(ULONGLONG afterMs, ProcessEnd end)
{
    backstop = {afterMs, end};
    HANDLE thread = CreateThread(nullptr, 0, WaitThenEnd, nullptr, 0, nullptr);
    if (!thread)
        return false;
    CloseHandle(thread);
    return true;
}
