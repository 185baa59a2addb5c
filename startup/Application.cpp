#include "startup/Application.h"

#include "encoding/EncoderLibrary.h"
#include "recorder/RecorderDialog.h"
#include "recorder/RecordingLog.h"
#include "recorder/ScheduledRun.h"
#include "recorder/UnclosedDevices.h"
#include "recorder/WaveInput.h"
#include "resources/resource.h"
#include "startup/Backstop.h"
#include "startup/ProgramText.h"
#include "startup/RunOutcome.h"
#include "startup/StartupOptions.h"
#include "startup/UserMessage.h"

static const char kMutexName[] = "かのる二重起動防止ミューテクス";
static const char kDialogCaption[] = "かのる";
// A dialog's class, so that a folder window of the same name is not taken for the program.
static const char kDialogClass[] = "#32770";
static const wchar_t kDialogClassW[] = L"#32770";
static const char kMutexMessage[] = "ミューテクス生成に失敗しました。";
static const char kLibraryNotFoundMessage[] =
    "gogo.dllが見つかりませんでした。\nDLLをEXEファイルと同じディレクトリへ複写してください。\n";
static const char kLibraryIncompleteMessage[] = "DLLの内容を正しく識別することが出来ませんでした。\n";
static const int kRefused = -1;
// A scheduled run that starts while the previous one completes its file waits this long for it:
// the last buffer, the encoder's backlog, the tag and the exit take a few seconds.
static const DWORD kPreviousRunWaitMs = 10000;
// An unattended run waits out even a previous one that hung, until that one's backstop ends it.
static const DWORD kHungRunWaitMs = kLimitGraceMs + kBackstopCeilingMs + kPreviousRunWaitMs;
static const DWORD kPreviousRunPollMs = 250;
// At the end, devices that refused to close get this long for a last try.
static const DWORD kLastCloseTryMs = 1000;
// Why a run that was to record never began, in the log's words.
static const char kWindowWasRecordingWords[] = "the open window was recording";
static const char kPreviousRunWords[] = "a previous run never let go";
static const char kNoLockWords[] = "the single-instance lock could not be made";
static const char kNoEncoderWords[] = "gogo.dll was missing or incomplete";
static const char kNoWindowWords[] = "the window could not be made";

// Only a run that was to record on its own has a line for not recording: a second start that
// brings the window to the front is no run.
static void LogUnstartedRun(const char* why)
{
    if (startupOptions.autoStart)
        LogRunThatDidNotRecord(why);
}


static HWND RunningCopysWindow()
{
    wchar_t caption[kLongestProgramText];
    return WidenProgramText(kDialogCaption, caption) ? FindWindowW(kDialogClassW, caption)
                                                     : FindWindowA(kDialogClass, kDialogCaption);
}

// The copy that already runs keeps its recording; it is only brought to the front.
static void BringRunningCopyToFront()
{
    if (HWND running = RunningCopysWindow())
        SetForegroundWindow(running);
}

static bool LockIsHeld()
{
    wchar_t name[kLongestProgramText];
    HANDLE mutex = WidenProgramText(kMutexName, name) ? CreateMutexW(nullptr, FALSE, name)
                                                      : CreateMutexA(nullptr, FALSE, kMutexName);
    const DWORD error = GetLastError();
    if (mutex)
        CloseHandle(mutex);
    return mutex ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
}

// A run with /A that finds the program open hands itself to its window, so that a window left open
// never costs a show. True when the window answered for good, with the exit code in *exitCode.
static bool HandToTheOpenWindow(int* exitCode)
{
    HWND window = startupOptions.autoStart && LockIsHeld() ? RunningCopysWindow() : nullptr;
    int outcome = kEndedEarly;
    const int answer = window ? OfferScheduledRun(window, LimitAndGraceMs() + kBackstopCeilingMs, &outcome)
                              : kRunNotTaken;
    if (answer == kRunNotTaken)
        return false;
    if (answer == kRunRefused) {
        BringRunningCopyToFront();
        NoteRunOutcome(kNothingRecorded);
        LogUnstartedRun(kWindowWasRecordingWords);
    } else if (outcome >= kRecordedAsAsked) {
        NoteRunOutcome(static_cast<RunOutcome>(outcome));
    }
    *exitCode = answer == kRunTaken && outcome < kRecordedAsAsked ? kRefused : RunExitCode();
    return true;
}

static bool LoadEncoder()
{
    const int loaded = LoadEncoderLibrary();
    if (loaded != 0) {
        NoteRunOutcome(kNothingRecorded);
        LogUnstartedRun(kNoEncoderWords);
    }
    if (loaded == kEncoderLibraryNotFound)
        ShowMessage(nullptr, kLibraryNotFoundMessage, kMessageCaption);
    else if (loaded == kEncoderLibraryIncomplete)
        ShowMessage(nullptr, kLibraryIncompleteMessage, kMessageCaption);
    return loaded == 0;
}

static int RunRecorder(HINSTANCE module)
{
    if (!LoadEncoder())
        return RunExitCode();
    if (ApplyCommandLine() == kStartupRefused)
        return kRefused;
    UseSystemWaveInput();
    if (!CreateRecorderDialog(module)) {
        NoteRunOutcome(kNothingRecorded);
        LogUnstartedRun(kNoWindowWords);
        UnloadEncoderLibrary();
        return IsUnattendedRun() ? RunExitCode() : kRefused;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    UnloadEncoderLibrary();
    return RunExitCode();
}

// The single-instance lock, or null; alreadyHeld tells whether another copy holds it (one started
// with other rights is refused to us). A start with /A gives a copy that holds it a few seconds to end,
// an unattended one as long as a hung copy can last.
static HANDLE TakeLock(bool* alreadyHeld)
{
    wchar_t name[kLongestProgramText];
    const bool wideName = WidenProgramText(kMutexName, name);
    const DWORD waitMs = IsUnattendedRun() ? kHungRunWaitMs : kPreviousRunWaitMs;
    for (DWORD waited = 0;; waited += kPreviousRunPollMs) {
        HANDLE mutex = wideName ? CreateMutexW(nullptr, FALSE, name) : CreateMutexA(nullptr, FALSE, kMutexName);
        const DWORD error = GetLastError();
        *alreadyHeld = mutex ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
        if (!*alreadyHeld || !startupOptions.autoStart || waited >= waitMs)
            return mutex;
        if (mutex)
            CloseHandle(mutex);
        Sleep(kPreviousRunPollMs);
    }
}

int RunApplication(HINSTANCE module)
{
    ApplyUnattendedSwitches();
    KeepLogBesideTheProgram();
    if (IsUnattendedRun())
        DismissMessagesAfter(LimitAndGraceMs());
    int handedExitCode = 0;
    if (HandToTheOpenWindow(&handedExitCode))
        return handedExitCode;
    bool alreadyHeld = false;
    HANDLE mutex = TakeLock(&alreadyHeld);
    if (alreadyHeld) {
        BringRunningCopyToFront();
        NoteRunOutcome(kNothingRecorded);
        LogUnstartedRun(kPreviousRunWords);
    } else if (!mutex) {
        NoteRunOutcome(kNothingRecorded);
        LogUnstartedRun(kNoLockWords);
        ShowMessage(nullptr, kMutexMessage, kMessageCaption);
        return RunExitCode();
    }
    // Whatever hangs from here on costs this run, never the next.
    HoldTheLock(alreadyHeld ? nullptr : mutex);
    if (!alreadyHeld && IsUnattendedRun())
        StartBackstop(BackstopFor(startupOptions.timeLimitSeconds), EndHoldingTheLock);
    const int exitCode = alreadyHeld ? RunExitCode() : RunRecorder(module);
    if (alreadyHeld && mutex)
        CloseHandle(mutex);
    // The file is complete. A device handle that never closed may hang its library's detach, and its
    // driver's pending I/O may keep even a terminated process from exiting: the lock goes first, so
    // that the next run is never held, and the process ends without the detach.
    RetryUnclosedDevices(kLastCloseTryMs);
    if (UnclosedDeviceCount() > 0)
        EndHoldingTheLock(static_cast<UINT>(exitCode));
    LetGoOfTheLock();
    return exitCode;
}
