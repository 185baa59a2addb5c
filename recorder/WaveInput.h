#pragma once

#include <windows.h>
#include <mmsystem.h>

// The wave-input device, the millisecond clock and the system's power request as the recording
// uses them, so that a test can script them.
struct WaveInput {
    MMRESULT(WINAPI* open)(HWAVEIN* device, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
    MMRESULT(WINAPI* prepareHeader)(HWAVEIN device, WAVEHDR* header, UINT size);
    MMRESULT(WINAPI* unprepareHeader)(HWAVEIN device, WAVEHDR* header, UINT size);
    MMRESULT(WINAPI* addBuffer)(HWAVEIN device, WAVEHDR* header, UINT size);
    MMRESULT(WINAPI* start)(HWAVEIN device);
    MMRESULT(WINAPI* reset)(HWAVEIN device);
    MMRESULT(WINAPI* close)(HWAVEIN device);
    DWORD(WINAPI* now)();
    EXECUTION_STATE(WINAPI* setExecutionState)(EXECUTION_STATE state);
    BOOL(WINAPI* powerStatus)(SYSTEM_POWER_STATUS* status);
    // Null where Windows lacks them (XP).
    BOOL(WINAPI* blockShutdown)(HWND window, LPCWSTR reason);
    BOOL(WINAPI* unblockShutdown)(HWND window);
    // The devices present, by number, and the number of the default one.
    UINT(WINAPI* deviceCount)();
    MMRESULT(WINAPI* deviceCaps)(UINT_PTR id, WAVEINCAPSW* caps, UINT size);
    MMRESULT(WINAPI* message)(HWAVEIN device, UINT message, DWORD_PTR first, DWORD_PTR second);
};

extern WaveInput waveInput;

// Points waveInput at the system's wave input, clock and power request.
void UseSystemWaveInput();
