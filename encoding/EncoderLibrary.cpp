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

// Stores the entry point called name through the field's own type; false when it is missing.
template <typename Function>
static bool Resolve(HMODULE module, const char* name, Function* field)
{
    const FARPROC found = GetProcAddress(module, name);
    *field = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
    return found != nullptr;
}

static bool ResolveEntryPoints(EncoderLibrary* l)
{
    HMODULE m = l->module;
    return Resolve(m, "MPGE_initializeWork", &l->initializeWork) && Resolve(m, "MPGE_setConfigure", &l->setConfigure) &&
           Resolve(m, "MPGE_getConfigure", &l->getConfigure) && Resolve(m, "MPGE_detectConfigure", &l->detectConfigure) &&
           Resolve(m, "MPGE_processFrame", &l->processFrame) && Resolve(m, "MPGE_closeCoder", &l->closeCoder) &&
           Resolve(m, "MPGE_endCoder", &l->endCoder) && Resolve(m, "MPGE_getVersion", &l->getVersion) &&
           Resolve(m, "MPGE_getUnitStates", &l->getUnitStates);
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
