#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "startup/CommandLine.h"

namespace {

struct Split {
    std::vector<std::string> arguments;
    std::string rest;
};

// Splits text, checks the vector's heap layout, and frees it again.
Split SplitText(const char* text)
{
    char** vector = reinterpret_cast<char**>(1);
    int count = -1;
    Split split;
    split.rest = SplitCommandLineText(text, &vector, &count);
    for (int index = 0; index < count; ++index) {
        const std::string argument = vector[index];
        EXPECT_EQ(argument.size() + 1, HeapSize(GetProcessHeap(), 0, vector[index]))
            << "each argument has a buffer of exactly its length plus one";
        split.arguments.push_back(argument);
    }
    FreeCommandLine(&vector, count);
    EXPECT_EQ(nullptr, vector);
    return split;
}

using Arguments = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheSplittingRules)
{
    const struct {
        const char* text;
        Arguments arguments;
        const char* rest;
    } cases[] = {
        {"", {}, ""},
        {"kanoru.exe", {"kanoru.exe"}, ""},
        {"kanoru.exe   ", {"kanoru.exe"}, ""},
        {"\"C:\\Program Files\\kanoru.exe\" \"C:\\My Music\\take.mp3\" /a /t90 /p128_44_2",
         {"C:\\Program Files\\kanoru.exe", "C:\\My Music\\take.mp3", "/a", "/t90", "/p128_44_2"},
         "\"C:\\My Music\\take.mp3\" /a /t90 /p128_44_2"},
        {"a\tb \t c", {"a", "b", "c"}, "b \t c"},
        {"x \"a\"b", {"x", "a", "b"}, "\"a\"b"},
        {"x \"\" y", {"x", "", "y"}, "\"\" y"},
        {"x \"\"", {"x", ""}, "\"\""},
        {"\"\"", {""}, ""},
        {"x a\"b c", {"x", "a\"b", "c"}, "a\"b c"},
        {"x \"abc def", {"x", "\"abc def"}, "\"abc def"},
        {"x \"", {"x", "\""}, "\""},
        {"x a\\\"b \\\\server\\share\\", {"x", "a\\\"b", "\\\\server\\share\\"}, "a\\\"b \\\\server\\share\\"},
        {"\"a b\"\"c d\"", {"a b", "c d"}, "\"c d\""},
        {"x\r\ny", {"x\r\ny"}, ""},
        // Only a leading quote opens a quoted argument, and leading white space is not skipped.
        {" x", {"", "x"}, "x"},
        {"x \"a\tb\" c", {"x", "a\tb", "c"}, "\"a\tb\" c"},
    };
    for (const auto& c : cases) {
        const Split split = SplitText(c.text);
        EXPECT_EQ(c.arguments, split.arguments) << '[' << c.text << ']';
        EXPECT_EQ(c.rest, split.rest) << '[' << c.text << ']';
    }
}

TEST(SplitCommandLine, GrowsPastSixteenThirtyTwoAndSixtyFourArguments)
{
    for (int count : {1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 129, 1000}) {
        std::string text;
        Arguments expected;
        for (int index = 0; index < count; ++index) {
            expected.push_back("arg" + std::to_string(index));
            text += (index % 3 == 0 ? "\"" + expected.back() + "\"" : expected.back()) + (index % 2 ? "\t" : " ");
        }
        EXPECT_EQ(expected, SplitText(text.c_str()).arguments) << count;
    }
}

TEST(SplitCommandLine, SplitsSixtyFourKibibytesOfArguments)
{
    std::string text;
    Arguments expected;
    for (int index = 0; text.size() < 65536; ++index) {
        std::string argument(1 + index % 97, static_cast<char>('a' + index % 26));
        if (index % 5 == 0)
            argument += " with spaces";
        expected.push_back(argument);
        text += (index % 5 == 0 ? "\"" + argument + "\"" : argument) + ' ';
    }
    const Split split = SplitText(text.c_str());
    EXPECT_EQ(expected, split.arguments);
}

// The text ends on the last byte of a page whose neighbour cannot be read, so any read past the
// terminating NUL faults.
class GuardedText {
public:
    GuardedText()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        pageSize_ = info.dwPageSize;
        base_ = static_cast<char*>(VirtualAlloc(nullptr, 2 * pageSize_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        VirtualProtect(base_ + pageSize_, pageSize_, PAGE_NOACCESS, &old);
    }
    ~GuardedText() { VirtualFree(base_, 0, MEM_RELEASE); }

    const char* Place(const std::string& text)
    {
        char* start = base_ + pageSize_ - text.size() - 1;
        memcpy(start, text.c_str(), text.size() + 1);
        return start;
    }

private:
    DWORD pageSize_;
    char* base_;
};

TEST(SplitCommandLine, NeverReadsPastTheEndOfTheText)
{
    GuardedText guarded;
    const char* const texts[] = {"\"", "x \"", "x \"open quote", "a", "a ", "a\t", "\"\"", "x \"a\"b",
                                 "x a\"", "  ", "\t"};
    for (const char* text : texts) {
        char** vector = nullptr;
        int count = 0;
        SplitCommandLineText(guarded.Place(text), &vector, &count);
        EXPECT_GT(count, 0) << text;
        FreeCommandLine(&vector, count);
    }
}

TEST(SplitCommandLine, SplitsTheProcessCommandLine)
{
    char** vector = nullptr;
    int count = 0;
    SplitCommandLine(&vector, &count);
    ASSERT_GE(count, 1);
    EXPECT_NE(std::string::npos, std::string(vector[0]).find("startup_tests"));
    EXPECT_EQ(count, wideArgc) << "every argument in both widths";
    FreeCommandLine(&vector, count);
    FreeWideCommandLine(&wideArgv, wideArgc);
    wideArgc = 0;
}

}  // namespace
