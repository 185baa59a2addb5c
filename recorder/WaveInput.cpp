#include "recorder/WaveInput.h"

WaveInput waveInput = {};

// Filled at run time: the system functions' addresses are only known once the program is loaded.
void UseSystemWaveInput()
{
    waveInput = {waveInOpen,  waveInPrepareHeader, waveInUnprepareHeader, waveInAddBuffer,        waveInStart,
                 waveInReset, waveInClose,         timeGetTime,           SetThreadExecutionState};
}
