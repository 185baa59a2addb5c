// The output path's check against real files and folders. Wine refuses to open the device names
// that Windows would open, so those are left to reading.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "startup/OutputPath.h"
#include "tests/support/MessageRecorder.h"

namespace {

TEST(OutputPath, AFileOnDiskTakesARecordingAndTheCheckSaysWhetherItMadeIt)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string existing = std::string(folder) + "output-path-existing.mp3";
    const std::string made = std::string(folder) + "output-path-new.mp3";
    CloseHandle(CreateFileA(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DeleteFileA(made.c_str());
    const struct {
        std::string path;
        bool takes, made;
    } rows[] = {{existing, true, false}, {made, true, true}, {"\\\\?\\" + existing, true, false}, {folder, false, false}};
    for (const auto& row : rows) {
        bool madeByTheCheck = !row.made;
        EXPECT_EQ(row.takes, OutputPathTakesARecording(row.path.c_str(), &madeByTheCheck)) << row.path;
        EXPECT_EQ(row.made, madeByTheCheck) << row.path;
    }
    DeleteFileA(existing.c_str());
    DeleteFileA(made.c_str());
}

// The pattern filled with the moment of a start; names without one, or with other percent signs,
// stay as written, and a name too long once filled is refused, never cut short.
TEST(OutputPath, NamePatternIsFilledWithTheStartsDateAndTime)
{
    const SYSTEMTIME when = {2026, 12, 2, 8, 5, 4, 3, 0};
    const std::string longest(MAX_PATH - 1 - 8, 'n');
    const struct {
        std::string name;
        bool fits;
        std::string path;
    } rows[] = {
        {"C:\\rec_%Y%m%d_%H%M%S.mp3", true, "C:\\rec_20261208_050403.mp3"},
        {"C:\\100%.mp3", true, "C:\\100%.mp3"},
        {"C:\\%%Y %q%Y%", true, "C:\\%Y %q2026%"},
        {"C:\\番組%d.mp3", true, "C:\\番組08.mp3"},
        {longest + "%Y%m%d", true, longest + "20261208"},
        {longest + "%Y%m%d%H", false, ""},
        // A path that fills the buffer leaves no room for its end.
        {longest + "%Y%m%dx", false, ""},
        {longest + "x%Y%m%d", false, ""},
    };
    for (const auto& row : rows) {
        char path[MAX_PATH] = "untouched";
        EXPECT_EQ(row.fits, FillNamePattern(row.name.c_str(), when, path)) << row.name;
        if (row.fits) {
            EXPECT_EQ(row.path, path);
        }
    }
}

// A relative name goes beside the program while the current folder is the Windows folder or below
// it, as a scheduled task's is by default, and into the current folder everywhere else.
TEST(OutputPath, RelativeNameUnderTheWindowsFolderGoesBesideTheProgram)
{
    char program[MAX_PATH], windows[MAX_PATH], temp[MAX_PATH], saved[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    *(strrchr(program, '\\') + 1) = '\0';
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    GetTempPathA(MAX_PATH, temp);
    GetCurrentDirectoryA(MAX_PATH, saved);
    const std::string system = std::string(windows) + "\\system32", alike = std::string(windows) + "-alike";
    CreateDirectoryA(alike.c_str(), nullptr);
    const struct {
        std::string current, name, path;
    } rows[] = {
        {system, "take.mp3", std::string(program) + "take.mp3"},
        {windows, "shows\\take.mp3", std::string(program) + "shows\\take.mp3"},
        {system, "C:\\rec\\take.mp3", "C:\\rec\\take.mp3"},
        {system, "\\take.mp3", "C:\\take.mp3"},
        // The current drive without a root is the current folder too; another drive's is its own.
        {system, "c:take.mp3", std::string(program) + "take.mp3"},
        {system, "Z:take.mp3", "Z:\\take.mp3"},
        {temp, "take.mp3", std::string(temp) + "take.mp3"},
        {alike, "take.mp3", alike + "\\take.mp3"},
        {system, std::string(MAX_PATH - 2, 'n'), ""},
    };
    MessageRecorder messages;
    for (const auto& row : rows) {
        ASSERT_TRUE(SetCurrentDirectoryA(row.current.c_str())) << row.current;
        char path[MAX_PATH] = "";
        EXPECT_EQ(!row.path.empty(), MakeOutputPath(row.name.c_str(), path)) << row.current << " " << row.name;
        EXPECT_EQ(row.path, path) << row.current << " " << row.name;
    }
    EXPECT_EQ(1u, messages.messages().size()) << "the name that does not fit beside the program is refused";
    SetCurrentDirectoryA(saved);
    RemoveDirectoryA(alike.c_str());
}

}  // namespace
