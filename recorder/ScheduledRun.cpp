#include "recorder/ScheduledRun.h"

#include "recorder/RecorderView.h"
#include "startup/Backstop.h"
#include "startup/CommandLine.h"
#include "startup/RecordingSettings.h"
#include "startup/RunOutcome.h"
#include "startup/StartupOptions.h"
#include "startup/UserMessage.h"

// Marks the program's own offer among the data other programs may send.
static const ULONG_PTR kScheduledRunData = 0x6B616E6F;
// Posted to the scheduled process's thread with the outcome in wParam.
static const UINT kScheduledRunOutcomeMessage = WM_APP + 3;
// A window that takes longer to answer is taken for busy.
static const UINT kOfferAnswerMs = 5000;
static const int kRefusedCommandLine = -1;
// The longest command line Windows passes, in UTF-16 units.
static const DWORD kLongestCommandLine = 32768;

// What an offer carries: the thread that waits, the folder its names are relative to, then its
// command line.
struct Offer {
    DWORD replyThread;
    wchar_t currentFolder[MAX_PATH];
    wchar_t commandLine[1];
};

// The run taken, from its offer until its outcome is told.
static wchar_t* takenCommandLine;
static wchar_t takenFolder[MAX_PATH];
static DWORD waitingThread;

static void TellWaitingThread(int outcome)
{
    if (waitingThread)
        PostThreadMessageW(waitingThread, kScheduledRunOutcomeMessage, static_cast<WPARAM>(outcome), 0);
    waitingThread = 0;
}

// Waits for the outcome or for the window's process to end, whichever comes first.
static int WaitForOutcome(HWND window, ULONGLONG waitMs)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    const DWORD started = GetTickCount();
    int outcome = kEndedEarly;
    for (ULONGLONG waited = 0; waited < waitMs; waited = GetTickCount() - started) {
        const ULONGLONG left = waitMs - waited;
        const DWORD wait = left < INFINITE - 1 ? static_cast<DWORD>(left) : INFINITE - 1;
        const DWORD woke = MsgWaitForMultipleObjects(process ? 1 : 0, &process, FALSE, wait, QS_POSTMESSAGE);
        MSG message;
        if (PeekMessageW(&message, nullptr, kScheduledRunOutcomeMessage, kScheduledRunOutcomeMessage, PM_REMOVE)) {
            outcome = static_cast<int>(message.wParam);
            break;
        }
        if (woke != WAIT_OBJECT_0 + (process ? 1 : 0))
            break;
    }
    if (process)
        CloseHandle(process);
    return outcome;
}

int OfferScheduledRun(HWND window, ULONGLONG waitMs, int* exitCode)
{
    // The thread's message queue, for the outcome, exists before the window can post to it.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    const wchar_t* commandLine = GetCommandLineW();
    const DWORD length = static_cast<DWORD>(lstrlenW(commandLine)) + 1;
    const DWORD bytes = sizeof(Offer) + length * sizeof(wchar_t);
    Offer* offer = static_cast<Offer*>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (!offer)
        return kRunNotTaken;
    offer->replyThread = GetCurrentThreadId();
    const DWORD folder = GetCurrentDirectoryW(MAX_PATH, offer->currentFolder);
    if (folder == 0 || folder >= MAX_PATH)
        offer->currentFolder[0] = L'\0';
    lstrcpyW(offer->commandLine, commandLine);
    COPYDATASTRUCT data = {kScheduledRunData, bytes, offer};
    DWORD_PTR answer = kRunNotTaken;
    if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG | SMTO_BLOCK,
                             kOfferAnswerMs, &answer))
        answer = kRunNotTaken;
    HeapFree(GetProcessHeap(), 0, offer);
    if (answer == kRunTaken)
        *exitCode = WaitForOutcome(window, waitMs);
    return static_cast<int>(answer);
}

// The command line of an offer, when it is one of the program's and ends inside what was sent.
static const wchar_t* CommandLineOf(const COPYDATASTRUCT* data)
{
    if (!data || data->dwData != kScheduledRunData || data->cbData < sizeof(Offer) || !data->lpData)
        return nullptr;
    const Offer* offer = static_cast<const Offer*>(data->lpData);
    bool folderEnds = false;
    for (const wchar_t unit : offer->currentFolder)
        folderEnds |= unit == L'\0';
    if (!folderEnds)
        return nullptr;
    const DWORD units = (data->cbData - offsetof(Offer, commandLine)) / sizeof(wchar_t);
    for (DWORD at = 0; at < units && at < kLongestCommandLine; ++at) {
        if (offer->commandLine[at] == L'\0')
            return offer->commandLine;
    }
    return nullptr;
}

int OnScheduledRunOffered(HWND dialog, const COPYDATASTRUCT* data, bool recordingRuns)
{
    const wchar_t* commandLine = CommandLineOf(data);
    // A run that closes itself ends soon: the offer waits for it as for any previous run.
    if (!commandLine || IsUnattendedRun() || takenCommandLine)
        return kRunNotTaken;
    if (recordingRuns)
        return kRunRefused;
    const int bytes = (lstrlenW(commandLine) + 1) * static_cast<int>(sizeof(wchar_t));
    takenCommandLine = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (!takenCommandLine)
        return kRunNotTaken;
    CopyMemory(takenCommandLine, commandLine, bytes);
    lstrcpyW(takenFolder, static_cast<const Offer*>(data->lpData)->currentFolder);
    waitingThread = static_cast<const Offer*>(data->lpData)->replyThread;
    PostMessageW(dialog, kTakeScheduledRunMessage, 0, 0);
    return kRunTaken;
}

// The command line of the run, in both widths, as the process's own.
static bool TakeCommandLine(const wchar_t* commandLine)
{
    FreeCommandLine(&argv, argc);
    FreeWideCommandLine(&wideArgv, wideArgc);
    SplitBothWidths(commandLine, &argv, &argc);
    return argc > 0;
}

bool TakeScheduledRun(HWND dialog)
{
    wchar_t* commandLine = takenCommandLine;
    takenCommandLine = nullptr;
    if (!commandLine)
        return false;
    const bool taken = TakeCommandLine(commandLine);
    HeapFree(GetProcessHeap(), 0, commandLine);
    // A run started fresh has the starting settings but for what its command line chooses.
    startupOptions = StartupOptions{};
    recordingSettings = kStartingSettings;
    ApplyUnattendedSwitches();
    // Taken, the run is as unattended as it was: its messages give way, and a hang ends it.
    if (IsUnattendedRun()) {
        DismissMessagesAfter(LimitAndGraceMs());
        StartBackstop(BackstopFor(startupOptions.timeLimitSeconds), EndHoldingTheLock);
    }
    // Its names are the scheduled process's, relative to its own folder.
    wchar_t ownFolder[MAX_PATH];
    const DWORD own = GetCurrentDirectoryW(MAX_PATH, ownFolder);
    const bool moved = takenFolder[0] && own > 0 && own < MAX_PATH && SetCurrentDirectoryW(takenFolder);
    const bool applied = taken && ApplyCommandLine() != kStartupRefused;
    if (moved)
        SetCurrentDirectoryW(ownFolder);
    if (!applied) {
        TellWaitingThread(kRefusedCommandLine);
        return false;
    }
    ShowNoRecordingYet(dialog, startupOptions.timeLimitSeconds);
    ApplySettingsToDialog(dialog, recordingSettings.channels, recordingSettings.sampleRate);
    return true;
}

void TellScheduledRun(int outcome)
{
    TellWaitingThread(outcome);
}
