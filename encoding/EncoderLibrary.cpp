#include "encoding/EncoderLibrary.h"

#include <stddef.h>

EncoderLibrary encoderLibrary = {};

static const char kLibraryName[] = "gogo.dll";
static const char kFixedLibraryPath[] = "C:\\Program Files\\WinGOGO\\gogo.dll";
static const char kRegistryKey[] = "Software\\MarineCat\\GOGO_DLL";
static const char kRegistryValue[] = "INSTPATH";
static const DWORD kRegistryPathBytes = 268;

// A missing, unreadable, too long or non-string value counts as not found.
static HMODULE LoadFromRegistry()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return nullptr;
    char path[kRegistryPathBytes + 1] = {0};
    DWORD type = 0;
    DWORD size = kRegistryPathBytes;
    const LONG status = RegQueryValueExA(key, kRegistryValue, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return nullptr;
    return LoadLibraryA(path);
}

// Each entry point by name and the field of encoderLibrary that holds it.
struct EntryPoint {
    const char* name;
    size_t field;
};

static const EntryPoint kEntryPoints[] = {
    {"MPGE_initializeWork", offsetof(EncoderLibrary, initializeWork)},
    {"MPGE_setConfigure", offsetof(EncoderLibrary, setConfigure)},
    {"MPGE_getConfigure", offsetof(EncoderLibrary, getConfigure)},
    {"MPGE_detectConfigure", offsetof(EncoderLibrary, detectConfigure)},
    {"MPGE_processFrame", offsetof(EncoderLibrary, processFrame)},
    {"MPGE_closeCoder", offsetof(EncoderLibrary, closeCoder)},
    {"MPGE_endCoder", offsetof(EncoderLibrary, endCoder)},
    {"MPGE_getVersion", offsetof(EncoderLibrary, getVersion)},
    {"MPGE_getUnitStates", offsetof(EncoderLibrary, getUnitStates)},
};

static bool ResolveEntryPoints(EncoderLibrary* library)
{
    for (const EntryPoint& entry : kEntryPoints) {
        const FARPROC found = GetProcAddress(library->module, entry.name);
        if (!found)
            return false;
        *reinterpret_cast<FARPROC*>(reinterpret_cast<char*>(library) + entry.field) = found;
    }
    return true;
}

int LoadEncoderLibrary()
{
    if (!encoderLibrary.module) {
        encoderLibrary.module = LoadLibraryA(kLibraryName);
        if (!encoderLibrary.module)
            encoderLibrary.module = LoadLibraryA(kFixedLibraryPath);
        if (!encoderLibrary.module)
            encoderLibrary.module = LoadFromRegistry();
        if (!encoderLibrary.module)
            return kEncoderLibraryNotFound;
    }
    if (!ResolveEntryPoints(&encoderLibrary)) {
        FreeLibrary(encoderLibrary.module);
        encoderLibrary = EncoderLibrary{};
        return kEncoderLibraryIncomplete;
    }
    return 0;
}

int UnloadEncoderLibrary()
{
    const int result = static_cast<int>(encoderLibrary.endCoder());
    if (result == 0) {
        FreeLibrary(encoderLibrary.module);
        encoderLibrary = EncoderLibrary{};
    }
    return result;
}
