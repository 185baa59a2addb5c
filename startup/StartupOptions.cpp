#include "startup/StartupOptions.h"

#include "startup/CommandLine.h"
#include "startup/OutputPath.h"
#include "startup/ProgramText.h"
#include "startup/RecordingSettings.h"
#include "startup/UserMessage.h"

StartupOptions startupOptions = {0, 0, 0, {0}, {0}, {0}};

static const char kDefaultOutputName[] = "kanoru.mp3";
static const ULONGLONG kMillisecondsPerSecond = 1000;
static const char kBadPresetMessage[] = "不正なパラメータです。/P";
static const char kUnwritableNameMessage[] =
    "ファイル名に、このWindowsの文字コードで表せない文字があります。\n%s\n別の名前を指定してください。";
static const int kShownNameSize = MAX_PATH * 2;
static_assert(sizeof kUnwritableNameMessage + kShownNameSize <= kLongestProgramText, "the message holds any name");

// The argument at index as the system gave it in UTF-16, or null where the two vectors differ.
static const wchar_t* WideArgument(int index)
{
    return wideArgc == argc && index < wideArgc ? wideArgv[index] : nullptr;
}

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

static void TakeDeviceName(const char* argument, const wchar_t* wide)
{
    if (wide)
        lstrcpynW(startupOptions.deviceName, wide + 2, MAX_PATH);
    else if (MultiByteToWideChar(CP_ACP, 0, argument + 2, -1, startupOptions.deviceName, MAX_PATH) == 0)
        startupOptions.deviceName[0] = L'\0';
}

static int ApplySwitch(const char* argument, const wchar_t* wide)
{
    if (IsSwitchLetter(argument[1], 'P')) {
        if (!ParsePreset(argument + 2)) {
            ShowMessage(nullptr, kBadPresetMessage, kMessageCaption);
            return kStartupRefused;
        }
    } else if (IsSwitchLetter(argument[1], 'A') && argument[2] == '\0') {
        startupOptions.autoStart = 1;
    } else if (IsSwitchLetter(argument[1], 'D')) {
        TakeDeviceName(argument, wide);
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
            ApplySwitch(argument, nullptr);
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

ULONGLONG LimitAndGraceMs()
{
    return startupOptions.timeLimitSeconds * kMillisecondsPerSecond + kLimitGraceMs;
}

// True when the file functions, which take names in the system's code page, can take wide exactly:
// a character the code page lacks, or one it would write as a lookalike (a yen sign as the
// backslash of code page 932), is never written to another path. Code page 65001 lacks none.
static bool FileFunctionsCanTake(const wchar_t* wide)
{
    if (!wide || GetACP() == CP_UTF8)
        return true;
    BOOL usedDefault = FALSE;
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &usedDefault) > 0 &&
           !usedDefault;
}

static bool TakeOutputName(const char* argument, const wchar_t* wide)
{
    if (FileFunctionsCanTake(wide))
        return MakeOutputPath(argument, startupOptions.outputPath);
    char shown[kShownNameSize];
    char text[kLongestProgramText];
    if (!WideTextToProgramText(wide, shown, sizeof shown))
        shown[0] = '\0';
    wsprintfA(text, kUnwritableNameMessage, shown);
    ShowMessage(nullptr, text, kMessageCaption);
    return false;
}

int ApplyCommandLine()
{
    if (!MakeOutputPath(kDefaultOutputName, startupOptions.outputPath))
        return kStartupRefused;
    for (int index = 1; index < argc; ++index) {
        const char* argument = argv[index];
        if (!IsSwitch(argument)) {
            if (!TakeOutputName(argument, WideArgument(index)))
                return kStartupRefused;
        } else if (ApplySwitch(argument, WideArgument(index)) == kStartupRefused) {
            return kStartupRefused;
        }
    }
    return 0;
}
