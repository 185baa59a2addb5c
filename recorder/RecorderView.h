#pragma once

#include <windows.h>

// What the recorder window shows and what its controls say, for the dialog's procedure and the
// recording control alike.

const int kTimeTextSize = 16;

// Writes seconds as "hh:mm:ss".
void FormatTime(DWORD seconds, char text[kTimeTextSize]);

// Shows seconds as "hh:mm:ss" in the box control.
void ShowTime(HWND dialog, int control, DWORD seconds);

// The counters before any recording: no time yet, and the time limit when there is one.
void ShowNoRecordingYet(HWND dialog, DWORD limitSeconds);

// Shows channels, sampleRate and the current bitrate; false when the bitrate is not one of the rate's.
bool ApplySettingsToDialog(HWND dialog, int channels, int sampleRate);

// Takes channels, sample rate and its index from the radio buttons.
void ReadSettingsFromDialog(HWND dialog);

// All the settings for a recording: the buttons' and the bitrate list's.
void ReadRecordingSettingsFromDialog(HWND dialog);

// Lists the bitrates of the row of sampleRateIndex, the first one selected.
void ShowBitratesOfRate(HWND dialog, int sampleRateIndex);

// While a recording runs: the button stops it, the settings and Save wait, the counter starts at 0.
void ShowRecording(HWND dialog);

// Once the recording's capture has ended: the button records again and the settings can be changed.
void ShowRecordingEnded(HWND dialog);

void EnableSave(HWND dialog, bool enable);

// The counter is drawn again, in the colour that says whether input comes.
void RedrawCounter(HWND dialog);
