// What Windows answers and Wine does not: the Save copy and the INI path driven through their seams.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include "recorder/DialogPosition.h"
#include "recorder/SaveCopy.h"
#include "tests/support/MessageRecorder.h"

namespace {

struct ShellAnswer {
    int result;
    BOOL aborted;
};
ShellAnswer shellAnswer;

BOOL ChooseName(OPENFILENAMEA* request)
{
    lstrcpyA(request->lpstrFile, "C:\\kept.mp3");
    return TRUE;
}

int AnswerAsTheShell(SHFILEOPSTRUCTA* request)
{
    request->fAnyOperationsAborted = shellAnswer.aborted;
    return shellAnswer.result;
}

TEST(SaveCopy, OnlyACopyThatNobodyAbortedIsSuccess)
{
    const SaveCopyCalls saved = saveCopyCalls;
    saveCopyCalls = {ChooseName, AnswerAsTheShell};
    // No at the overwrite prompt or Cancel in the progress window: 0, with the aborted flag set.
    const struct {
        ShellAnswer answer;
        bool saved;
    } cases[] = {{{0, FALSE}, true}, {{0, TRUE}, false}, {{ERROR_ACCESS_DENIED, FALSE}, false}};
    for (const auto& c : cases) {
        shellAnswer = c.answer;
        EXPECT_EQ(c.saved, SaveRecordingAs(nullptr, "C:\\kanoru.mp3")) << c.answer.result << " " << c.answer.aborted;
    }
    saveCopyCalls = saved;
}

bool terminatesName;

// A name that does not fit: Windows XP fills the whole buffer without a NUL, later versions cut it
// one short; both return the buffer's size.
DWORD WINAPI LongModuleName(HMODULE, LPSTR path, DWORD size)
{
    memset(path, 'a', size);
    if (terminatesName)
        memcpy(path + size - 5, ".EXE", 5);
    else
        memcpy(path + size - 4, ".EXE", 4);
    return size;
}

TEST(IniPath, ModuleNameThatFillsTheBufferIsAFailure)
{
    const auto saved = moduleFileName;
    moduleFileName = LongModuleName;
    for (bool terminated : {false, true}) {
        terminatesName = terminated;
        MessageRecorder messages;
        char path[MAX_PATH];
        EXPECT_FALSE(GetIniPath(path)) << terminated;
        ASSERT_EQ(1u, messages.messages().size());
        EXPECT_EQ("GetModuleFileName()に失敗しました。:DialogPosition", messages.messages()[0].text);
    }
    moduleFileName = saved;
}

}  // namespace
