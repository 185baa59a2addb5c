#include "encoding/EncoderLibrary.h"

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

static FARPROC Find(const char* name)
{
    return GetProcAddress(encoderLibrary.module, name);
}

template <typename Entry>
static bool Resolve(Entry* entry, const char* name)
{
    *entry = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(Find(name)));
    return *entry != nullptr;
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
    EncoderLibrary& e = encoderLibrary;
    const bool complete = Resolve(&e.initializeWork, "MPGE_initializeWork") && Resolve(&e.setConfigure, "MPGE_setConfigure") &&
                          Resolve(&e.getConfigure, "MPGE_getConfigure") && Resolve(&e.detectConfigure, "MPGE_detectConfigure") &&
                          Resolve(&e.processFrame, "MPGE_processFrame") && Resolve(&e.closeCoder, "MPGE_closeCoder") &&
                          Resolve(&e.endCoder, "MPGE_endCoder") && Resolve(&e.getVersion, "MPGE_getVersion") &&
                          Resolve(&e.getUnitStates, "MPGE_getUnitStates");
    if (!complete) {
        FreeLibrary(e.module);
        e = EncoderLibrary{};
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
