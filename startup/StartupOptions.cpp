#include "startup/StartupOptions.h"

#include "startup/CommandLine.h"
#include "startup/OutputPath.h"
#include "startup/RecordingSettings.h"
#include "startup/UserMessage.h"

StartupOptions startupOptions = {0, 0, 0, {0}, {0}, {0}};

static const char kDefaultOutputName[] = "kanoru.mp3";
static const char kBadPresetMessage[] = "不正なパラメータです。/P";

static bool IsSwitch(const char* argument)
{
    return argument[0] == '/' || argument[0] == '-';
}

static bool IsSwitchLetter(char c, char upper)
{
    return c == upper || c == upper - 'A' + 'a';
}

// Digits only, zero digits included; an absurdly long value holds at the largest count instead of
// wrapping round to a short limit.
static bool ParseTimeLimit(const char* digits, DWORD* seconds)
{
    const DWORD kLargest = 0xFFFFFFFF;
    DWORD value = 0;
    for (const char* c = digits; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        const DWORD digit = static_cast<DWORD>(*c - '0');
        value = value > (kLargest - digit) / 10 ? kLargest : value * 10 + digit;
    }
    *seconds = value;
    return true;
}

static int ApplySwitch(const char* argument)
{
    if (IsSwitchLetter(argument[1], 'P')) {
        if (!ParsePreset(argument + 2)) {
            ShowMessage(nullptr, kBadPresetMessage, kMessageCaption);
            return kStartupRefused;
        }
    } else if (IsSwitchLetter(argument[1], 'A') && argument[2] == '\0') {
        startupOptions.autoStart = 1;
    } else if (IsSwitchLetter(argument[1], 'D')) {
        lstrcpynA(startupOptions.deviceName, argument + 2, MAX_PATH);
    } else if (IsSwitchLetter(argument[1], 'T')) {
        if (ParseTimeLimit(argument + 2, &startupOptions.timeLimitSeconds))
            startupOptions.exitAfterTimeLimit = 1;
    }
    return 0;
}

void ApplyUnattendedSwitches()
{
    for (int index = 1; index < argc; ++index) {
        const char* argument = argv[index];
        if (IsSwitch(argument) && (IsSwitchLetter(argument[1], 'A') || IsSwitchLetter(argument[1], 'T')))
            ApplySwitch(argument);
    }
}

bool ClosesItselfAfterItsLimit()
{
    return startupOptions.exitAfterTimeLimit && startupOptions.timeLimitSeconds > 0;
}

bool IsUnattendedRun()
{
    return startupOptions.autoStart && ClosesItselfAfterItsLimit();
}

int ApplyCommandLine()
{
    if (!MakeOutputPath(kDefaultOutputName, startupOptions.outputPath))
        return kStartupRefused;
    for (int index = 1; index < argc; ++index) {
        const char* argument = argv[index];
        if (!IsSwitch(argument)) {
            if (!MakeOutputPath(argument, startupOptions.outputPath))
                return kStartupRefused;
        } else if (ApplySwitch(argument) == kStartupRefused) {
            return kStartupRefused;
        }
    }
    return 0;
}
