#include "recorder/WaveInput.h"

WaveInput waveInput = {};

typedef BOOL(WINAPI* BlockShutdown)(HWND, LPCWSTR);
typedef BOOL(WINAPI* UnblockShutdown)(HWND);

// Filled at run time: the system functions' addresses are only known once the program is loaded,
// and the shutdown block reasons came with Vista.
void UseSystemWaveInput()
{
    HMODULE user = GetModuleHandleA("user32.dll");
    waveInput = {waveInOpen,
                 waveInPrepareHeader,
                 waveInUnprepareHeader,
                 waveInAddBuffer,
                 waveInStart,
                 waveInReset,
                 waveInClose,
                 timeGetTime,
                 SetThreadExecutionState,
                 GetSystemPowerStatus,
                 reinterpret_cast<BlockShutdown>(reinterpret_cast<void (*)()>(GetProcAddress(user, "ShutdownBlockReasonCreate"))),
                 reinterpret_cast<UnblockShutdown>(
                     reinterpret_cast<void (*)()>(GetProcAddress(user, "ShutdownBlockReasonDestroy"))),
                 waveInGetNumDevs,
                 waveInGetDevCapsW,
                 waveInMessage};
}
