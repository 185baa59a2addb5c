#include "recorder/DeviceChoice.h"

#include <mmddk.h>

#include "recorder/WaveInput.h"
#include "startup/ProgramText.h"

// Asks the wave mapper which device it prefers; Windows has answered it since 2000.
static const UINT kPreferredDeviceQuery = 0x2000 + 21;
// What Windows puts before the name of a device that returns beside a twin: a number and this.
static const wchar_t kTwinMark[] = L"- ";
static const int kTwinMarkLength = 2;

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

static HWAVEIN AsDevice(UINT id)
{
    return reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(id));
}

// The endpoint's identity of the device numbered id, which Windows answers from 7 on, the bytes it
// takes first; empty where Windows gives none.
static void DeviceIdentity(UINT id, wchar_t identity[kDeviceIdentityLength])
{
    identity[0] = L'\0';
    ULONG size = 0;
    if (waveInput.message(AsDevice(id), DRV_QUERYFUNCTIONINSTANCEIDSIZE, reinterpret_cast<DWORD_PTR>(&size), 0) != MMSYSERR_NOERROR ||
        size == 0 || size > kDeviceIdentityLength * sizeof(wchar_t))
        return;
    if (waveInput.message(AsDevice(id), DRV_QUERYFUNCTIONINSTANCEID, reinterpret_cast<DWORD_PTR>(identity), size) != MMSYSERR_NOERROR)
        identity[0] = L'\0';
    identity[kDeviceIdentityLength - 1] = L'\0';
}

// The name without the number and mark that Windows may have put before it, at its start or inside
// its brackets ("Line (2- USB Audio CODEC)").
static const wchar_t* TwinMarkEnd(const wchar_t* name, const wchar_t** markAt)
{
    for (const wchar_t* at = name; *at; ++at) {
        if (at != name && at[-1] != L'(')
            continue;
        const wchar_t* digits = at;
        while (*digits >= L'0' && *digits <= L'9')
            ++digits;
        // Read a character at a time, never past the name's end.
        if (digits != at && digits[0] == kTwinMark[0] && digits[1] == kTwinMark[1]) {
            *markAt = at;
            return digits + kTwinMarkLength;
        }
    }
    return nullptr;
}

// The name as Windows would give it without a twin's mark.
static void WithoutTwinMark(const wchar_t* name, wchar_t plain[MAXPNAMELEN])
{
    const wchar_t* markAt = nullptr;
    const wchar_t* rest = TwinMarkEnd(name, &markAt);
    if (!rest) {
        lstrcpynW(plain, name, MAXPNAMELEN);
        return;
    }
    lstrcpynW(plain, name, static_cast<int>(markAt - name) + 1);
    lstrcatW(plain, rest);
}

// The same device's name, with or without the mark of a twin. The mark takes its room from the end
// of a name at Windows' limit: such a name matches the start of the other.
static bool SameName(const wchar_t* a, const wchar_t* b)
{
    wchar_t plainA[MAXPNAMELEN], plainB[MAXPNAMELEN];
    WithoutTwinMark(a, plainA);
    WithoutTwinMark(b, plainB);
    int lengthA = lstrlenW(plainA), lengthB = lstrlenW(plainB);
    if (lstrlenW(a) == MAXPNAMELEN - 1 && lengthA < lstrlenW(a) && lengthB > lengthA)
        lengthB = lengthA;
    if (lstrlenW(b) == MAXPNAMELEN - 1 && lengthB < lstrlenW(b) && lengthA > lengthB)
        lengthA = lengthB;
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, plainA, lengthA, plainB, lengthB) == CSTR_EQUAL;
}

void ChooseDevice(DeviceChoice* choice, const wchar_t* wanted)
{
    *choice = {};
    lstrcpynW(choice->wanted, wanted, MAX_PATH);
}

enum DeviceMatch { kHoldsTheText, kSameName, kSameIdentity };

static bool Matches(UINT device, const wchar_t* text, DeviceMatch match)
{
    wchar_t name[MAXPNAMELEN];
    if (match == kSameIdentity) {
        wchar_t identity[kDeviceIdentityLength];
        DeviceIdentity(device, identity);
        return lstrcmpW(identity, text) == 0;
    }
    return DeviceName(device, name) && (match == kSameName ? SameName(name, text) : NameHolds(name, text));
}

// The first device that matches text, and how many do.
static UINT FindDevice(const wchar_t* text, DeviceMatch match, UINT* id)
{
    const UINT count = waveInput.deviceCount();
    UINT matching = 0;
    for (UINT device = 0; device < count; ++device) {
        if (Matches(device, text, match) && matching++ == 0)
            *id = device;
    }
    return matching;
}

// The device found is the recording's from now on.
static bool KeepFound(DeviceChoice* choice, UINT id)
{
    DeviceIdentity(id, choice->identity);
    if (!DeviceName(id, choice->name))
        return false;
    UINT first = id;
    choice->twinned = FindDevice(choice->name, kSameName, &first) > 1;
    return true;
}

bool FindChosenDevice(DeviceChoice* choice, UINT* id)
{
    if (choice->identity[0]) {
        if (FindDevice(choice->identity, kSameIdentity, id))
            return true;
        // A device plugged into another port is a new endpoint under its old name; a twin's name is no proof.
        return !choice->twinned && FindDevice(choice->name, kSameName, id) && KeepFound(choice, *id);
    }
    if (choice->name[0])
        return FindDevice(choice->name, kSameName, id);
    if (choice->wanted[0])
        return FindDevice(choice->wanted, kHoldsTheText, id) && KeepFound(choice, *id);
    // The count comes first: Wine answers the preferred device only once its devices are counted.
    const UINT count = waveInput.deviceCount();
    DWORD preferred = 0, status = 0;
    if (waveInput.message(AsDevice(WAVE_MAPPER), kPreferredDeviceQuery, reinterpret_cast<DWORD_PTR>(&preferred),
                          reinterpret_cast<DWORD_PTR>(&status)) != MMSYSERR_NOERROR ||
        preferred >= count) {
        // Without a name the device cannot be told from another: the mapper chooses, as before.
        *id = WAVE_MAPPER;
        return true;
    }
    *id = preferred;
    return KeepFound(choice, *id);
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
