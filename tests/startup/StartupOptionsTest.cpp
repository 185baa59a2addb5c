#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "startup/CommandLine.h"
#include "startup/RecordingSettings.h"
#include "startup/StartupOptions.h"
#include "tests/support/MessageRecorder.h"

namespace {

const char kFullPathMessage[] = "ファイル名をフルパス名に変換できませんでした。";
const char kPresetMessage[] = "不正なパラメータです。/P";
const char kCaption[] = "かのるMP3";

class ApplyCommandLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedSettings_ = recordingSettings;
        char directory[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, directory);
        currentDirectory_ = directory;
        if (currentDirectory_.back() != '\\')
            currentDirectory_ += '\\';
    }

    void TearDown() override
    {
        FreeCommandLine(&argv, argc);
        FreeWideCommandLine(&wideArgv, wideArgc);
        argc = wideArgc = 0;
        recordingSettings = savedSettings_;
        startupOptions = StartupOptions{0, 0, 0, {0}, {0}, {0}};
    }

    int Apply(const std::string& arguments)
    {
        FreeWideCommandLine(&wideArgv, wideArgc);
        wideArgc = 0;
        FreeCommandLine(&argv, argc);
        startupOptions = StartupOptions{0, 0, 0, {0}, {0}, {0}};
        SplitCommandLineText(("kanoru.exe " + arguments).c_str(), &argv, &argc);
        return ApplyCommandLine();
    }

    // As the program splits the wide command line Windows gives it.
    int ApplyWide(const std::wstring& arguments)
    {
        FreeWideCommandLine(&wideArgv, wideArgc);
        FreeCommandLine(&argv, argc);
        startupOptions = StartupOptions{0, 0, 0, {0}, {0}, {0}};
        SplitBothWidths((L"kanoru.exe " + arguments).c_str(), &argv, &argc);
        return ApplyCommandLine();
    }

    std::string InCurrentDirectory(const std::string& name) const { return currentDirectory_ + name; }

    RecordingSettings savedSettings_;
    std::string currentDirectory_;
    MessageRecorder messages_;
};

TEST_F(ApplyCommandLineTest, NoArgumentsGiveTheDefaults)
{
    ASSERT_EQ(0, Apply(""));
    EXPECT_EQ(InCurrentDirectory("kanoru.mp3"), startupOptions.outputPath);
    EXPECT_EQ(0, startupOptions.autoStart);
    EXPECT_EQ(0, startupOptions.exitAfterTimeLimit);
    EXPECT_EQ(0u, startupOptions.timeLimitSeconds);
    EXPECT_EQ(1, recordingSettings.channels);
    EXPECT_EQ(22050, recordingSettings.sampleRate);
    EXPECT_EQ(80, recordingSettings.bitrateKbps);
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(ApplyCommandLineTest, UnattendedRecordingArguments)
{
    ASSERT_EQ(0, Apply("\"C:\\My Music\\take.mp3\" /a /t90 /p128_44_2 \"/dUSB Audio\""));
    EXPECT_STREQ("C:\\My Music\\take.mp3", startupOptions.outputPath);
    EXPECT_STREQ(L"USB Audio", startupOptions.deviceName);
    EXPECT_EQ(1, startupOptions.autoStart);
    EXPECT_EQ(1, startupOptions.exitAfterTimeLimit);
    EXPECT_EQ(90u, startupOptions.timeLimitSeconds);
    EXPECT_EQ(2, recordingSettings.channels);
    EXPECT_EQ(44100, recordingSettings.sampleRate);
    EXPECT_EQ(128, recordingSettings.bitrateKbps);
}

TEST_F(ApplyCommandLineTest, TimeLimitTakesDigitsOnly)
{
    const struct {
        const char* arguments;
        LONG exitAfterTimeLimit;
        DWORD seconds;
    } cases[] = {
        {"/T", 1, 0},
        {"/t90", 1, 90},
        {"-T3600", 1, 3600},
        {"/T1m", 0, 0},
        {"/T-5", 0, 0},
        {"/T 5", 1, 0},
        {"/T00000000000000000090", 1, 90},
        {"/T4294967295", 1, 4294967295u},
        // Past 32 bits the limit holds at the largest count instead of wrapping to a short one.
        {"/T4294967296", 1, 4294967295u},
        {"/T99999999999999999999999999", 1, 4294967295u},
        {"/T90 /Tx", 1, 90},
        {"/T90 /T30", 1, 30},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(0, Apply(c.arguments)) << c.arguments;
        EXPECT_EQ(c.exitAfterTimeLimit, startupOptions.exitAfterTimeLimit) << c.arguments;
        EXPECT_EQ(c.seconds, startupOptions.timeLimitSeconds) << c.arguments;
    }
}

TEST_F(ApplyCommandLineTest, SwitchesAndIgnoredArguments)
{
    const struct {
        const char* arguments;
        LONG autoStart;
    } cases[] = {
        {"/A", 1}, {"/a", 1}, {"-A", 1}, {"/Auto", 0}, {"/AA", 0}, {"/", 0},
        {"-", 0},  {"/X", 0}, {"-Q7", 0}, {"//A", 0},  {"/A/", 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(0, Apply(c.arguments)) << c.arguments;
        EXPECT_EQ(c.autoStart, startupOptions.autoStart) << c.arguments;
        EXPECT_EQ(0, startupOptions.exitAfterTimeLimit) << c.arguments;
        EXPECT_EQ(InCurrentDirectory("kanoru.mp3"), startupOptions.outputPath) << c.arguments;
    }
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(ApplyCommandLineTest, FileNamesBecomeFullPathsAndTheLastWins)
{
    ASSERT_EQ(0, Apply("first.mp3 /a second.mp3"));
    EXPECT_EQ(InCurrentDirectory("second.mp3"), startupOptions.outputPath);
    ASSERT_EQ(0, Apply("/T 30"));
    EXPECT_EQ(InCurrentDirectory("30"), startupOptions.outputPath);
    EXPECT_EQ(0u, startupOptions.timeLimitSeconds);
    ASSERT_EQ(0, Apply("D:\\rec\\..\\tapes\\side-a.mp3"));
    EXPECT_STREQ("D:\\tapes\\side-a.mp3", startupOptions.outputPath);
}

// What a user types is read as typed: a device's name with a character the code page lacks is
// kept, and a file name that the file functions would write elsewhere is refused, naming it.
TEST_F(ApplyCommandLineTest, WideArgumentsAreReadAsTyped)
{
    const struct {
        std::wstring arguments;
        int result;
        std::wstring deviceName;
        std::string outputPath;
    } rows[] = {
        {L"\"/DMicrophone (Intel\u00AE Smart Sound)\" C:\\番組.mp3", 0, L"Microphone (Intel\u00AE Smart Sound)",
         "C:\\番組.mp3"},
        {L"C:\\\u00AE.mp3", kStartupRefused, L"", ""},
        // A yen sign would become the backslash of code page 932: another folder.
        {L"C:\\rec\u00A5take.mp3 /A", kStartupRefused, L"", ""},
        // A no-break space, which the system's own ANSI line writes as a space: one name all the same.
        {L"C:\\rec\u00A0take.mp3 /A", kStartupRefused, L"", ""},
    };
    for (const auto& row : rows) {
        MessageRecorder messages;
        EXPECT_EQ(row.result, ApplyWide(row.arguments));
        EXPECT_STREQ(row.deviceName.c_str(), startupOptions.deviceName);
        if (row.result == 0) {
            EXPECT_EQ(row.outputPath, startupOptions.outputPath);
            EXPECT_TRUE(messages.messages().empty());
        } else {
            ASSERT_EQ(1u, messages.messages().size());
            EXPECT_EQ(0u, messages.messages()[0].text.find("ファイル名に、このWindowsの文字コードで表せない文字があります。\nC:\\"))
                << messages.messages()[0].text;
            EXPECT_EQ(0, startupOptions.autoStart) << "arguments after the refusal are not applied";
        }
    }
}

TEST_F(ApplyCommandLineTest, IllegalPresetIsRefusedWithItsMessage)
{
    for (const char* arguments : {"/P320_22_2", "-p", "/p128_44_2x", "/P128_44_2 /P8_44_1 /A"}) {
        MessageRecorder messages;
        EXPECT_EQ(kStartupRefused, Apply(arguments)) << arguments;
        ASSERT_EQ(1u, messages.messages().size()) << arguments;
        EXPECT_EQ(kPresetMessage, messages.messages()[0].text);
        EXPECT_EQ(kCaption, messages.messages()[0].caption);
        EXPECT_EQ(nullptr, messages.messages()[0].owner);
        EXPECT_EQ(0, startupOptions.autoStart) << "arguments after the refusal are not applied";
    }
}

TEST_F(ApplyCommandLineTest, FullPathThatDoesNotFitIsRefusedLikeAFailedConversion)
{
    // The full path of a name is the current directory and the name; MAX_PATH counts the NUL.
    const size_t room = MAX_PATH - 1 - currentDirectory_.size();
    ASSERT_EQ(0, Apply(std::string(room, 'n')));
    EXPECT_EQ(InCurrentDirectory(std::string(room, 'n')), startupOptions.outputPath);
    EXPECT_TRUE(messages_.messages().empty());

    for (const std::string& name : {std::string(room + 1, 'n'), std::string(1000, 'n'),
                                    "C:\\" + std::string(400, 'd') + "\\take.mp3"}) {
        MessageRecorder messages;
        EXPECT_EQ(kStartupRefused, Apply("/A " + name + " /T5"));
        ASSERT_EQ(1u, messages.messages().size());
        EXPECT_EQ(kFullPathMessage, messages.messages()[0].text);
        EXPECT_EQ(kCaption, messages.messages()[0].caption);
        EXPECT_EQ(nullptr, messages.messages()[0].owner);
        EXPECT_EQ(0, startupOptions.exitAfterTimeLimit);
    }
}

TEST_F(ApplyCommandLineTest, EmptyFileNameIsDecidedByTheFullPathConversion)
{
    const int result = Apply("\"\"");
    if (result == kStartupRefused) {
        ASSERT_EQ(1u, messages_.messages().size());
        EXPECT_EQ(kFullPathMessage, messages_.messages()[0].text);
    } else {
        EXPECT_EQ(0, result);
        EXPECT_TRUE(messages_.messages().empty());
        EXPECT_NE('\0', startupOptions.outputPath[0]);
    }
}

}  // namespace
