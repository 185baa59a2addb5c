#include "recorder/DeviceChoice.h"

#include "recorder/WaveInput.h"
#include "startup/ProgramText.h"

// Asks the wave mapper which device it prefers; Windows has answered it since 2000.
static const UINT kPreferredDeviceQuery = 0x2000 + 21;

static bool DeviceName(UINT id, wchar_t name[MAXPNAMELEN])
{
    WAVEINCAPSW caps = {};
    if (waveInput.deviceCaps(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
        return false;
    lstrcpynW(name, caps.szPname, MAXPNAMELEN);
    return true;
}

// Whether name holds part, ignoring case and width, as a text typed with the IME on may be full-width.
static bool NameHolds(const wchar_t* name, const wchar_t* part)
{
    const int nameLength = lstrlenW(name), partLength = lstrlenW(part);
    for (int at = 0; at + partLength <= nameLength; ++at) {
        if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE | NORM_IGNOREWIDTH, name + at, partLength, part, partLength) == CSTR_EQUAL)
            return true;
    }
    return false;
}

static bool SameName(const wchar_t* a, const wchar_t* b)
{
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

void ChooseDevice(DeviceChoice* choice, const wchar_t* wanted)
{
    *choice = {};
    lstrcpynW(choice->wanted, wanted, MAX_PATH);
}

// The first device whose name is the one given, or holds the text wanted.
static bool FindByName(const wchar_t* text, bool whole, UINT* id)
{
    const UINT count = waveInput.deviceCount();
    for (UINT device = 0; device < count; ++device) {
        wchar_t name[MAXPNAMELEN];
        if (DeviceName(device, name) && (whole ? SameName(name, text) : NameHolds(name, text))) {
            *id = device;
            return true;
        }
    }
    return false;
}

bool FindChosenDevice(DeviceChoice* choice, UINT* id)
{
    if (choice->name[0] && FindByName(choice->name, true, id))
        return true;
    // The user's own text still finds a device that Windows renamed on its return ("2- USB Audio").
    if (choice->wanted[0])
        return FindByName(choice->wanted, false, id) && DeviceName(*id, choice->name);
    if (choice->name[0])
        return false;
    DWORD preferred = 0, status = 0;
    if (waveInput.message(reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(WAVE_MAPPER)), kPreferredDeviceQuery,
                          reinterpret_cast<DWORD_PTR>(&preferred), reinterpret_cast<DWORD_PTR>(&status)) !=
            MMSYSERR_NOERROR ||
        preferred >= waveInput.deviceCount()) {
        // Without a name the device cannot be told from another: the mapper chooses, as before.
        *id = WAVE_MAPPER;
        return true;
    }
    *id = preferred;
    return DeviceName(*id, choice->name);
}

void ListDevices(char* text, int size)
{
    text[0] = '\0';
    const UINT count = waveInput.deviceCount();
    for (UINT device = 0; device < count; ++device) {
        wchar_t name[MAXPNAMELEN];
        char line[MAXPNAMELEN * 2 + 2];
        if (!DeviceName(device, name) || !WideTextToProgramText(name, line, sizeof line - 1))
            continue;
        lstrcatA(line, "\n");
        if (lstrlenA(text) + lstrlenA(line) < size)
            lstrcatA(text, line);
    }
}
