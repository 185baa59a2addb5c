#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "encoding/EncoderLibrary.h"
#include "tests/support/WindowsPaths.h"

namespace {

const char kRegistryKey[] = "Software\\MarineCat\\GOGO_DLL";
const char kRegistryValue[] = "INSTPATH";

class EncoderLibraryTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (encoderLibrary.module && encoderLibrary.endCoder)
            UnloadEncoderLibrary();
        if (key_)
            RegCloseKey(key_);
        RegDeleteKeyA(HKEY_CURRENT_USER, kRegistryKey);
    }

    LONG SetInstallPath(DWORD type, const std::string& path)
    {
        return RegSetValueExA(key_, kRegistryValue, 0, type, reinterpret_cast<const BYTE*>(path.c_str()),
                              static_cast<DWORD>(path.size() + 1));
    }

    HKEY key_ = nullptr;
};

TEST_F(EncoderLibraryTest, MissingEntryPointGives1002AndFreesTheLibrary)
{
    ASSERT_TRUE(EnterFolder(FAKES_DIR "/incomplete"));
    EXPECT_EQ(kEncoderLibraryIncomplete, LoadEncoderLibrary());
    EXPECT_EQ(nullptr, encoderLibrary.module);
    EXPECT_EQ(nullptr, encoderLibrary.initializeWork);
    EXPECT_EQ(nullptr, GetModuleHandleA("gogo.dll"));
}

// One case, because the registry value is shared by every process of the prefix.
TEST_F(EncoderLibraryTest, NotFoundAnywhereGives1001UntilTheRegistryNamesTheFile)
{
    ASSERT_TRUE(EnterFolder(FAKES_DIR "/empty"));
    RegDeleteKeyA(HKEY_CURRENT_USER, kRegistryKey);
    EXPECT_EQ(kEncoderLibraryNotFound, LoadEncoderLibrary());
    EXPECT_EQ(nullptr, encoderLibrary.module);

    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key_, nullptr));
    const std::string folderOnly = WindowsPath(ENCODER_BIN_DIR);
    ASSERT_EQ(ERROR_SUCCESS, SetInstallPath(REG_SZ, folderOnly));
    EXPECT_EQ(kEncoderLibraryNotFound, LoadEncoderLibrary()) << "a folder is not the library file";

    const std::string file = folderOnly + "\\gogo.dll";
    ASSERT_EQ(ERROR_SUCCESS, SetInstallPath(REG_EXPAND_SZ, file));
    EXPECT_EQ(kEncoderLibraryNotFound, LoadEncoderLibrary()) << "only a plain string counts";

    ASSERT_EQ(ERROR_SUCCESS, SetInstallPath(REG_SZ, "C:\\" + std::string(300, 'x') + "\\gogo.dll"));
    EXPECT_EQ(kEncoderLibraryNotFound, LoadEncoderLibrary());

    ASSERT_EQ(ERROR_SUCCESS, SetInstallPath(REG_SZ, file));
    ASSERT_EQ(0, LoadEncoderLibrary());
    EXPECT_NE(nullptr, encoderLibrary.getUnitStates);
    EXPECT_EQ(0, UnloadEncoderLibrary());
    EXPECT_EQ(nullptr, encoderLibrary.module);
}

}  // namespace
