#pragma once

#include <windows.h>

// The recorder window's procedure, for the dialog IDD_RECORDER.
INT_PTR CALLBACK RecorderDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows channels, sampleRate and the current bitrate; false when the bitrate is not one of the rate's.
bool ApplySettingsToDialog(HWND dialog, int channels, int sampleRate);

// Takes channels, sample rate and its index from the radio buttons.
void ReadSettingsFromDialog(HWND dialog);

// Lists the bitrates of the row of sampleRateIndex.
void FillBitrateList(HWND list, int sampleRateIndex);

// The channel and sample-rate buttons and the bitrate list, not Record and Save.
void EnableSettingsControls(HWND dialog, bool enable);

// Shows seconds as "hh:mm:ss" in the box control.
void SetTimeText(HWND dialog, int control, DWORD seconds);
