#include "startup/Application.h"

#include "encoding/EncoderLibrary.h"
#include "recorder/RecorderDialog.h"
#include "recorder/WaveInput.h"
#include "resources/resource.h"
#include "startup/StartupOptions.h"
#include "startup/UserMessage.h"

static const char kMutexName[] = "かのる二重起動防止ミューテクス";
static const char kDialogCaption[] = "かのる";
static const char kMutexMessage[] = "ミューテクス生成に失敗しました。";
static const char kLibraryNotFoundMessage[] =
    "gogo.dllが見つかりませんでした。\nDLLをEXEファイルと同じディレクトリへ複写してください。\n";
static const char kLibraryIncompleteMessage[] = "DLLの内容を正しく識別することが出来ませんでした。\n";
static const int kRefused = -1;

// The copy that already runs keeps its recording; it is only brought to the front.
static void BringRunningCopyToFront()
{
    HWND running = FindWindowA(nullptr, kDialogCaption);
    if (running)
        SetForegroundWindow(running);
}

static bool LoadEncoder()
{
    const int loaded = LoadEncoderLibrary();
    if (loaded == kEncoderLibraryNotFound)
        ShowMessage(nullptr, kLibraryNotFoundMessage, kMessageCaption);
    else if (loaded == kEncoderLibraryIncomplete)
        ShowMessage(nullptr, kLibraryIncompleteMessage, kMessageCaption);
    return loaded == 0;
}

static int RunRecorder(HINSTANCE module)
{
    if (!LoadEncoder())
        return 0;
    if (ApplyCommandLine() == kStartupRefused)
        return kRefused;
    UseSystemWaveInput();
    if (!CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_RECORDER), nullptr, RecorderDialogProcedure, 0))
        return kRefused;
    MSG message;
    message.wParam = 0;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    UnloadEncoderLibrary();
    return static_cast<int>(message.wParam);
}

int RunApplication(HINSTANCE module)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
    if (!mutex) {
        ShowMessage(nullptr, kMutexMessage, kMessageCaption);
        return 0;
    }
    int exitCode = 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        BringRunningCopyToFront();
    else
        exitCode = RunRecorder(module);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return exitCode;
}
