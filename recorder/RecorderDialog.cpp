#include "recorder/RecorderDialog.h"

#include <dbt.h>


#include "encoding/EncoderWorker.h"
#include "recorder/CaptureDevice.h"
#include "recorder/DialogPosition.h"
#include "recorder/RecorderView.h"
#include "recorder/RecordingControl.h"
#include "recorder/SaveCopy.h"
#include "recorder/ScheduledRun.h"
#include "resources/resource.h"
#include "startup/RecordingSettings.h"
#include "startup/StartupOptions.h"
#include "startup/UserMessage.h"

static const char kBadSettingsMessage[] = "不正な音質設定です。";
static const int kTimeBoxShrinkPixels = 4;
// What the procedure answers for the messages it handles: to the dialog manager 0 means "not handled",
// so its default handling follows too, and WM_INITDIALOG does not move the focus.
static const INT_PTR kNotHandled = 0;
static const INT_PTR kInitialisationFailed = -1;
static const COLORREF kWaitingForInputColour = RGB(255, 0, 0);
// ENDSESSION_CLOSEAPP, which XP's headers lack.
static const LPARAM kCloseAppRequest = 0x00000001;
// Posted to itself when Windows says its devices changed.
static const UINT kDevicesChangedMessage = WM_APP + 1;

static void ShrinkTimeBox(HWND dialog, int control)
{
    HWND box = GetDlgItem(dialog, control);
    RECT rect;
    GetWindowRect(box, &rect);
    SetWindowPos(box, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top - kTimeBoxShrinkPixels,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static INT_PTR OnInitDialog(HWND dialog)
{
    RestoreDialogPosition(dialog);
    ResetRecording();
    EnableSave(dialog, false);
    ShrinkTimeBox(dialog, IDC_COUNTER);
    ShrinkTimeBox(dialog, IDC_REMAIN);
    ShowNoRecordingYet(dialog, startupOptions.timeLimitSeconds);
    if (!ApplySettingsToDialog(dialog, recordingSettings.channels, recordingSettings.sampleRate)) {
        ShowMessage(dialog, kBadSettingsMessage, kMessageCaption);
        return kInitialisationFailed;
    }
    if (startupOptions.autoStart)
        PostRecordCommand(dialog);
    return kNotHandled;
}

static bool IsSettingsButton(int control)
{
    return (control >= IDC_MONO && control <= IDC_STEREO) || (control >= IDC_16KHZ && control <= IDC_48KHZ);
}

static void OnSettingsClicked(HWND dialog)
{
    ReadSettingsFromDialog(dialog);
    ShowBitratesOfRate(dialog, recordingSettings.sampleRateIndex);
}

static void OnCommand(HWND dialog, int control, int notification)
{
    if (control == IDC_RECORD && notification == kStopOnlyNotification) {
        OnStopCommand(dialog);
    } else if (control == IDC_RECORD) {
        OnRecordCommand(dialog);
    } else if (control == IDC_SAVE) {
        if (SaveRecordingAs(dialog, startupOptions.recordingPath))
            EnableSave(dialog, false);
    } else if (IsSettingsButton(control)) {
        OnSettingsClicked(dialog);
    }
}

// The counter is drawn in red while no input comes; its read-only box asks as a static does.
static INT_PTR OnControlColour(HWND dialog, HDC context, HWND control)
{
    if (control != GetDlgItem(dialog, IDC_COUNTER) || !IsWaitingForInput())
        return FALSE;
    SetTextColor(context, kWaitingForInputColour);
    SetBkColor(context, GetSysColor(COLOR_3DFACE));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_3DFACE));
}

INT_PTR CALLBACK RecorderDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_CLOSE:
        if (!OnCloseRequest(dialog))
            DestroyWindow(dialog);
        return kNotHandled;
    case WM_DESTROY:
        SaveDialogPosition(dialog);
        PostQuitMessage(0);
        return kNotHandled;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return kNotHandled;
    case WM_TIMER:
        if (wParam == kWatchdogTimer)
            OnWatchdogTick(dialog);
        return kNotHandled;
    case WM_CTLCOLORSTATIC:
        return OnControlColour(dialog, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_ENDSESSION:
        // WM_DESTROY does not come when the session ends; a program asked to close for an update
        // must close.
        if (wParam) {
            OnSessionEnd(dialog);
            SaveDialogPosition(dialog);
            // A recording's end further up the stack closes the window once it is through.
            if ((lParam & kCloseAppRequest) && !OnCloseRequest(dialog))
                DestroyWindow(dialog);
        }
        return kNotHandled;
    case WM_DEVICECHANGE:
        // Windows waits for the answer to its broadcast: the device is tried once it has one.
        if (wParam == DBT_DEVNODES_CHANGED)
            PostMessageA(dialog, kDevicesChangedMessage, 0, 0);
        return kNotHandled;
    case kDevicesChangedMessage:
        OnDevicesChanged();
        return kNotHandled;
    case WM_COPYDATA:
        // A dialog procedure answers through DWLP_MSGRESULT.
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT,
                          OnScheduledRunOffered(dialog, reinterpret_cast<const COPYDATASTRUCT*>(lParam),
                                                recordingState.stage != kIdle));
        return TRUE;
    case kTakeScheduledRunMessage:
        if (TakeScheduledRun(dialog))
            PostRecordCommand(dialog);
        return kNotHandled;
    case MM_WIM_OPEN:
        return kNotHandled;
    case MM_WIM_DATA:
        OnBufferDone(dialog, reinterpret_cast<HWAVEIN>(wParam), reinterpret_cast<WAVEHDR*>(lParam));
        return kNotHandled;
    case MM_WIM_CLOSE:
        OnDeviceClosed(dialog, reinterpret_cast<HWAVEIN>(wParam));
        return kNotHandled;
    default:
        return FALSE;
    }
}

HWND CreateRecorderDialog(HINSTANCE module)
{
    return CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_RECORDER), nullptr, RecorderDialogProcedure, 0);
}
