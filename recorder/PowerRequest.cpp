#include "recorder/PowerRequest.h"

#include "recorder/WaveInput.h"

// XP's headers and XP itself know no away mode; XP refuses a request for it.
static const EXECUTION_STATE kAwayModeRequired = 0x00000040;
static const BYTE kNoSystemBattery = 128;
static const BYTE kBatteryUnknown = 255;

// A battery that cannot be told counts as one: only a system known to have none gets away mode.
static bool HasNoBattery()
{
    SYSTEM_POWER_STATUS status;
    return waveInput.powerStatus(&status) && status.BatteryFlag != kBatteryUnknown && (status.BatteryFlag & kNoSystemBattery);
}

void KeepSystemAwake(bool awake)
{
    if (!awake) {
        waveInput.setExecutionState(ES_CONTINUOUS);
        return;
    }
    const EXECUTION_STATE awakeState = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
    if (!HasNoBattery() || !waveInput.setExecutionState(awakeState | kAwayModeRequired))
        waveInput.setExecutionState(awakeState);
}
