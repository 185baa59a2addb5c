#pragma once

#include <windows.h>
#include <mmsystem.h>

// Which wave-input device a recording captures from. Device numbers shift as devices come and go,
// and Windows cuts names to 31 characters, so that two devices may share one: the device is found
// at every open, first as the first whose name holds the text the user gave, or as the default
// device of the moment the recording started; from then on as the endpoint of that identity where
// Windows gives one (7 on), otherwise by that same name, with or without the "2- " that Windows puts
// before a device that returns beside its twin. A device without a twin that comes back as a new
// endpoint (plugged into another port) is known again by its name.
const int kDeviceIdentityLength = 128;

struct DeviceChoice {
    wchar_t wanted[MAX_PATH];  // empty: the default device; longer than any name, it matches none
    wchar_t name[MAXPNAMELEN];  // the device the recording started on; empty until it has been found
    wchar_t identity[kDeviceIdentityLength];  // its endpoint's; empty where Windows gives none
    bool twinned;  // another device of its name was present: only its identity tells it
};

// A new recording's choice: the text of /D, or the default device.
void ChooseDevice(DeviceChoice* choice, const wchar_t* wanted);

// The number to open now with WAVE_MAPPED, or WAVE_MAPPER when the default device cannot be named;
// false when the chosen device is not present.
bool FindChosenDevice(DeviceChoice* choice, UINT* id);

// The names of the devices present, one a line, in the program's code page.
void ListDevices(char* text, int size);
