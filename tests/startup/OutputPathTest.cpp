// The output path's check against real files and folders. Wine refuses to open the device names
// that Windows would open, so those are left to reading.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "startup/OutputPath.h"

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

}  // namespace
