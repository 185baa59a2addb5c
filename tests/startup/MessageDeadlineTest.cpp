// The dismissal of an unattended run's messages, watched on a real message box.
#include <gtest/gtest.h>
#include <windows.h>

#include "startup/UserMessage.h"
#include "tests/support/MessageRecorder.h"

namespace {

TEST(MessageDeadline, BoxesGiveWayAtTheDeadlineAndNotBefore)
{
    const struct {
        ULONGLONG afterMs;
        DWORD lookAtMs;
        bool open;
        bool activated;
    } rows[] = {{2500, 1800, true, true}, {500, 1800, false, true}, {kNoDeadline, 1200, true, true},
                {500, 1800, false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.afterMs);
        SCOPED_TRACE(row.activated);
        ShownMessageBox box(row.activated);
        DismissMessagesAfter(row.afterMs);
        Sleep(row.lookAtMs);
        EXPECT_EQ(row.open, box.stillOpen());
        DismissMessagesAfter(kNoDeadline);
    }
}

}  // namespace
