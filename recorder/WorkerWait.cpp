#include "recorder/WorkerWait.h"

#include "encoding/EncoderWorker.h"

// Windows takes a window whose thread has not looked at its queue for five seconds for hung.
static const DWORD kQueueLookMs = 1000;

// Waits up to timeoutMs (INFINITE: for as long as it takes) for thread to end; true when it has.
static bool WaitAnswering(HANDLE thread, DWORD timeoutMs)
{
    const DWORD started = GetTickCount();
    for (;;) {
        const DWORD waited = GetTickCount() - started;
        if (timeoutMs != INFINITE && waited >= timeoutMs)
            return false;
        const DWORD left = timeoutMs == INFINITE ? kQueueLookMs : timeoutMs - waited;
        if (MsgWaitForMultipleObjects(1, &thread, FALSE, left < kQueueLookMs ? left : kQueueLookMs, QS_SENDMESSAGE) ==
            WAIT_OBJECT_0)
            return true;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void WaitForTheEncoder(HANDLE worker, DWORD backlogMs)
{
    if (backlogMs != INFINITE && !WaitAnswering(worker, backlogMs))
        currentQueue->DropUnread();
    WaitAnswering(worker, INFINITE);
}

DWORD EndEncoderWorker(HANDLE* worker, DWORD backlogMs)
{
    WaitForTheEncoder(*worker, backlogMs);
    DWORD exitCode = 1;
    GetExitCodeThread(*worker, &exitCode);
    CloseHandle(*worker);
    *worker = nullptr;
    return exitCode;
}
