// The output path's check against real files and folders. Wine refuses to open the device names
// that Windows would open, so those are left to reading.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "startup/OutputPath.h"

namespace {

TEST(OutputPath, OnlyAFileOnDiskTakesARecording)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string base = std::string(folder) + "output-path-check";
    CreateDirectoryA(base.c_str(), nullptr);
    const std::string existing = base + "\\existing.mp3", readOnly = base + "\\read-only.mp3", made = base + "\\new.mp3";
    for (const std::string& file : {existing, readOnly}) {
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        CloseHandle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    DeleteFileA(made.c_str());
    const struct {
        std::string path;
        bool takes, made;
    } rows[] = {
        {existing, true, false},
        {made, true, true},
        // A long path to a file is a file, not a device.
        {"\\\\?\\" + existing, true, false},
        {base, false, false},
        {base + "\\missing\\take.mp3", false, false},
        {readOnly, false, false},
    };
    for (const auto& row : rows) {
        bool madeByTheCheck = !row.made;
        EXPECT_EQ(row.takes, OutputPathTakesARecording(row.path.c_str(), &madeByTheCheck)) << row.path;
        EXPECT_EQ(row.made, madeByTheCheck) << row.path;
    }
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    for (const std::string& file : {existing, readOnly, made})
        DeleteFileA(file.c_str());
    RemoveDirectoryA(base.c_str());
}

}  // namespace
