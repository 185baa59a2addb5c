// The recording log's lines and its limit, on real files.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "recorder/RecordingLog.h"
#include "tests/support/WindowsPaths.h"

namespace {

// A show's line tells every gap and silence by its place in the file, the first few of many, and
// the device by its name; a start that was refused tells why, on one line.
TEST(RecordingLog, LineTellsTheShowsStory)
{
    Stretches gaps = {};
    for (ULONGLONG minute = 1; minute <= 7; ++minute)
        AddStretch(&gaps, minute * 60000 + 600, 4600);
    Stretches silences = {};
    AddStretch(&silences, 1200000, 1200400);
    const SYSTEMTIME started = {2026, 12, 0, 6, 21, 0, 5, 0};
    const struct {
        RecordingAccount account;
        const char* line;
    } rows[] = {
        {{started, "D:\\Radio\\show-20261206.mp3", 3599400, L"Line (USB Audio CODEC)", L"usb", &gaps, &silences,
          kRecordedWithGaps, nullptr},
         "2026-12-06 21:00:05 | D:\\Radio\\show-20261206.mp3 | 3599 s | Line (USB Audio CODEC) | 7 gaps: 00:01:01 5 s, "
         "00:02:01 5 s, 00:03:01 5 s, 00:04:01 5 s, 00:05:01 5 s and 2 more | 1 silence: 00:20:00 1200 s | 1 input "
         "missing for a while\r\n"},
        {{started, "D:\\Radio\\folder.mp3", 0, L"", L"", nullptr, nullptr, kNothingRecorded,
          "このファイルには録音できません。|\nD:\\Radio\\folder.mp3"},
         "2026-12-06 21:00:05 | D:\\Radio\\folder.mp3 | 0 s | the default device | no gaps | no silence | 4 nothing "
         "recorded: このファイルには録音できません。| D:\\Radio\\folder.mp3\r\n"},
        {{started, "show.mp3", 3000, L"", L"USB", &silences, nullptr, kEndedEarly, "closed before its limit"},
         "2026-12-06 21:00:05 | show.mp3 | 3 s | USB (not found) | 1 gap: 00:20:00 1200 s | no silence | 3 ended early: "
         "closed before its limit\r\n"},
    };
    for (const auto& row : rows) {
        char line[kLogLineSize];
        FormatLogLine(row.account, line);
        EXPECT_EQ(row.line, std::string(line));
    }
}

// Past its limit the log keeps its newer half from a whole line on, the new line last; a log that
// cannot be written is refused and left as it was.
TEST(RecordingLog, LogPastItsLimitKeepsItsNewerHalf)
{
    char folder[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, folder));
    const std::string path = std::string(folder) + "kanoru-log-test.log";
    std::string old;
    for (int number = 0; old.size() < kLogLimitBytes - 10; ++number)
        old += "an earlier show's line, number " + std::to_string(number) + "\r\n";
    DeleteFileA(path.c_str());
    ASSERT_TRUE(AppendToLog(path.c_str(), old.c_str())) << "a log of up to the limit is written whole";

    const std::string newest = "the newest show\r\n";
    ASSERT_TRUE(AppendToLog(path.c_str(), newest.c_str()));
    const std::string cut = FileText(path);
    EXPECT_LE(cut.size(), kLogLimitBytes / 2 + newest.size());
    EXPECT_GE(cut.size(), kLogLimitBytes / 2 - 64);
    EXPECT_EQ(0u, cut.find("an earlier show's line, number ")) << "it starts with a whole line";
    EXPECT_EQ(old.substr(old.size() - (cut.size() - newest.size())) + newest, cut) << "the newer half, in order";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + ".new").c_str())) << "nothing is left beside it";

    ASSERT_TRUE(AppendToLog(path.c_str(), newest.c_str()));
    EXPECT_EQ(cut + newest, FileText(path)) << "below the limit a line is added at the end";

    EXPECT_FALSE(AppendToLog(folder, newest.c_str())) << "a folder";
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(AppendToLog(path.c_str(), newest.c_str())) << "a log another program holds";
    CloseHandle(held);
    EXPECT_EQ(cut + newest, FileText(path));

    // A log that a viewer holds open cannot be replaced as it is cut: it still gets the line.
    DeleteFileA(path.c_str());
    ASSERT_TRUE(AppendToLog(path.c_str(), old.c_str()));
    HANDLE viewer = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE(AppendToLog(path.c_str(), newest.c_str()));
    CloseHandle(viewer);
    const std::string viewed = FileText(path);
    EXPECT_EQ(newest, viewed.substr(viewed.size() - newest.size()));
    DeleteFileA(path.c_str());
}

}  // namespace
