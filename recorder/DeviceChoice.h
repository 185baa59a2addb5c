#pragma once

#include <windows.h>
#include <mmsystem.h>

// Which wave-input device a recording captures from. Device numbers shift as devices come and go,
// so the device is found by its name at every open: the first whose name holds the text the user
// gave, or the default device of the moment the recording started; once found, a device of that
// same name, or, for the user's text, one that holds it still (Windows may rename a device that
// returns on another port).
struct DeviceChoice {
    wchar_t wanted[MAX_PATH];  // empty: the default device; longer than any name, it matches none
    wchar_t name[MAXPNAMELEN];  // the device the recording started on; empty until it has been found
};

// A new recording's choice: the text of /D, or the default device.
void ChooseDevice(DeviceChoice* choice, const wchar_t* wanted);

// The number to open now with WAVE_MAPPED, or WAVE_MAPPER when the default device cannot be named;
// false when the chosen device is not present.
bool FindChosenDevice(DeviceChoice* choice, UINT* id);

// The names of the devices present, one a line, in the program's code page.
void ListDevices(char* text, int size);
