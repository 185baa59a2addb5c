#include "recorder/RecorderDialog.h"

#include "encoding/EncoderWorker.h"
#include "recorder/CaptureDevice.h"
#include "recorder/DialogPosition.h"
#include "recorder/RecordingControl.h"
#include "recorder/SaveCopy.h"
#include "resources/resource.h"
#include "startup/RecordingSettings.h"
#include "startup/StartupOptions.h"
#include "startup/UserMessage.h"

static const char kNoTime[] = "--:--:--";
static const char kBadSettingsMessage[] = "不正な音質設定です。";
static const int kTimeBoxShrinkPixels = 4;
static const int kSecondsPerMinute = 60;
static const int kSecondsPerHour = 3600;
// What the procedure answers for the messages it handles: to the dialog manager 0 means "not handled",
// so its default handling follows too, and WM_INITDIALOG does not move the focus.
static const INT_PTR kNotHandled = 0;
static const INT_PTR kInitialisationFailed = -1;
static const COLORREF kWaitingForInputColour = RGB(255, 0, 0);
// ENDSESSION_CLOSEAPP, which XP's headers lack.
static const LPARAM kCloseAppRequest = 0x00000001;

// 48 kHz, the last rate, is taken when none of the buttons before it is selected.
static const int kRateIndexWhenNoneTested = kSampleRateCount - 1;

void SetTimeText(HWND dialog, int control, DWORD seconds)
{
    char text[32];
    wsprintfA(text, "%02d:%02d:%02d", static_cast<int>(seconds / kSecondsPerHour),
              static_cast<int>(seconds / kSecondsPerMinute % kSecondsPerMinute), static_cast<int>(seconds % kSecondsPerMinute));
    SetDlgItemTextA(dialog, control, text);
}

void FillBitrateList(HWND list, int sampleRateIndex)
{
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (int position = 0; position < kBitrateRowLength; ++position) {
        char label[kBitrateLabelSize];
        FormatBitrateLabel(BitrateAt(sampleRateIndex, position), label);
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
    }
}

bool ApplySettingsToDialog(HWND dialog, int channels, int sampleRate)
{
    const int mode = ChannelModeIndex(static_cast<uint16_t>(channels));
    if (mode >= 0 && mode < 2)
        CheckRadioButton(dialog, IDC_MONO, IDC_STEREO, IDC_MONO + mode);
    const int index = FindSampleRateIndex(sampleRate);
    if (index >= 0)
        CheckRadioButton(dialog, IDC_16KHZ, IDC_48KHZ, IDC_16KHZ + index);
    const int position = FindBitrateIndex(index, recordingSettings.bitrateKbps);
    if (position == -1)
        return false;
    HWND list = GetDlgItem(dialog, IDC_BITRATE);
    FillBitrateList(list, index);
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    return true;
}

void ReadSettingsFromDialog(HWND dialog)
{
    recordingSettings.channels = IsDlgButtonChecked(dialog, IDC_MONO) == BST_CHECKED ? 1 : 2;
    int index = kRateIndexWhenNoneTested;
    for (int tested = 0; tested < kRateIndexWhenNoneTested; ++tested) {
        if (IsDlgButtonChecked(dialog, IDC_16KHZ + tested) == BST_CHECKED) {
            index = tested;
            break;
        }
    }
    recordingSettings.sampleRate = kSampleRates[index];
    recordingSettings.sampleRateIndex = FindSampleRateIndex(recordingSettings.sampleRate);
}

void EnableSettingsControls(HWND dialog, bool enable)
{
    static const int kSettingsControls[] = {IDC_16KHZ, IDC_22KHZ, IDC_24KHZ, IDC_32KHZ, IDC_44KHZ,
                                            IDC_48KHZ, IDC_MONO,  IDC_STEREO, IDC_BITRATE};
    for (int control : kSettingsControls)
        EnableWindow(GetDlgItem(dialog, control), enable);
}

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
    ClearRecordingFlags();
    EnableWindow(GetDlgItem(dialog, IDC_SAVE), FALSE);
    ShrinkTimeBox(dialog, IDC_COUNTER);
    ShrinkTimeBox(dialog, IDC_REMAIN);
    SetDlgItemTextA(dialog, IDC_COUNTER, kNoTime);
    if (startupOptions.timeLimitSeconds > 0)
        SetTimeText(dialog, IDC_REMAIN, startupOptions.timeLimitSeconds);
    else
        SetDlgItemTextA(dialog, IDC_REMAIN, kNoTime);
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
    HWND list = GetDlgItem(dialog, IDC_BITRATE);
    FillBitrateList(list, recordingSettings.sampleRateIndex);
    SendMessageA(list, CB_SETCURSEL, 0, 0);
}

static void OnCommand(HWND dialog, int control, int notification)
{
    if (control == IDC_RECORD) {
        // A stop that arrives after the recording has ended must not start another.
        if (notification == kStopOnlyNotification && !recordingState.recording)
            return;
        OnRecordCommand(dialog);
    } else if (control == IDC_SAVE) {
        if (SaveRecordingAs(dialog, startupOptions.outputPath))
            EnableWindow(GetDlgItem(dialog, IDC_SAVE), FALSE);
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
            if (lParam & kCloseAppRequest)
                DestroyWindow(dialog);
        }
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
