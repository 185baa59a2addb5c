#include "recorder/RecorderView.h"

#include "resources/resource.h"
#include "startup/RecordingSettings.h"

static const char kNoTime[] = "--:--:--";
static const char kStopLabel[] = "Stop";
// The button's label once a recording has been made, as the window has always shown it.
static const char kRecordAgainLabel[] = "Recode";
static const int kSecondsPerMinute = 60;
static const int kSecondsPerHour = 3600;
// 48 kHz, the last rate, is taken when none of the buttons before it is selected.
static const int kRateIndexWhenNoneChecked = kSampleRateCount - 1;
static const int kSettingsControls[] = {IDC_16KHZ, IDC_22KHZ, IDC_24KHZ, IDC_32KHZ, IDC_44KHZ,
                                        IDC_48KHZ, IDC_MONO,  IDC_STEREO, IDC_BITRATE};

void FormatTime(DWORD seconds, char text[kTimeTextSize])
{
    wsprintfA(text, "%02d:%02d:%02d", static_cast<int>(seconds / kSecondsPerHour),
              static_cast<int>(seconds / kSecondsPerMinute % kSecondsPerMinute), static_cast<int>(seconds % kSecondsPerMinute));
}

void ShowTime(HWND dialog, int control, DWORD seconds)
{
    char text[kTimeTextSize];
    FormatTime(seconds, text);
    SetDlgItemTextA(dialog, control, text);
}

void ShowNoRecordingYet(HWND dialog, DWORD limitSeconds)
{
    SetDlgItemTextA(dialog, IDC_COUNTER, kNoTime);
    if (limitSeconds > 0)
        ShowTime(dialog, IDC_REMAIN, limitSeconds);
    else
        SetDlgItemTextA(dialog, IDC_REMAIN, kNoTime);
}

static void FillBitrateList(HWND list, int sampleRateIndex)
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
    int index = kRateIndexWhenNoneChecked;
    for (int checked = 0; checked < kRateIndexWhenNoneChecked; ++checked) {
        if (IsDlgButtonChecked(dialog, IDC_16KHZ + checked) == BST_CHECKED) {
            index = checked;
            break;
        }
    }
    recordingSettings.sampleRate = kSampleRates[index];
    recordingSettings.sampleRateIndex = FindSampleRateIndex(recordingSettings.sampleRate);
}

void ReadRecordingSettingsFromDialog(HWND dialog)
{
    ReadSettingsFromDialog(dialog);
    LRESULT position = SendDlgItemMessageA(dialog, IDC_BITRATE, CB_GETCURSEL, 0, 0);
    // With nothing selected the row's first entry is taken, as after a click on a setting.
    if (position < 0 || position >= kBitrateRowLength)
        position = 0;
    recordingSettings.bitrateKbps = BitrateAt(recordingSettings.sampleRateIndex, static_cast<int>(position));
}

void ShowBitratesOfRate(HWND dialog, int sampleRateIndex)
{
    HWND list = GetDlgItem(dialog, IDC_BITRATE);
    FillBitrateList(list, sampleRateIndex);
    SendMessageA(list, CB_SETCURSEL, 0, 0);
}

static void EnableSettingsControls(HWND dialog, bool enable)
{
    for (int control : kSettingsControls)
        EnableWindow(GetDlgItem(dialog, control), enable);
}

void ShowRecording(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_RECORD, kStopLabel);
    EnableSettingsControls(dialog, false);
    EnableSave(dialog, false);
    ShowTime(dialog, IDC_COUNTER, 0);
}

void ShowRecordingEnded(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_RECORD, kRecordAgainLabel);
    EnableSettingsControls(dialog, true);
}

void EnableSave(HWND dialog, bool enable)
{
    EnableWindow(GetDlgItem(dialog, IDC_SAVE), enable);
}

void RedrawCounter(HWND dialog)
{
    InvalidateRect(GetDlgItem(dialog, IDC_COUNTER), nullptr, TRUE);
}
