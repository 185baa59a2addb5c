// The compiled resources as the program carries them: the recorder's dialog template read back
// control by control, the icon group and the manifest.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/WindowsPaths.h"

namespace {

// Reads the fields of an extended dialog template in their order.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* at) : at_(at) {}

    WORD Word() { return Take<WORD>(); }
    DWORD Dword() { return Take<DWORD>(); }
    short Short() { return Take<short>(); }
    BYTE Byte() { return Take<BYTE>(); }

    // A string, or "#n" for an ordinal.
    std::string NameOrOrdinal()
    {
        if (*reinterpret_cast<const WORD*>(at_) == 0xFFFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        return Text();
    }

    std::string Text()
    {
        const WCHAR* text = reinterpret_cast<const WCHAR*>(at_);
        const int length = lstrlenW(text);
        at_ += (length + 1) * sizeof(WCHAR);
        char ansi[256] = "";
        WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof ansi, nullptr, nullptr);
        return ansi;
    }

    void AlignToDword()
    {
        while (reinterpret_cast<UINT_PTR>(at_) % sizeof(DWORD))
            ++at_;
    }
    void Skip(size_t bytes) { at_ += bytes; }

private:
    template <typename T>
    T Take()
    {
        T value;
        memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    const BYTE* at_;
};

const BYTE* Resource(const char* type, int id, DWORD* size = nullptr)
{
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), type);
    if (!found)
        return nullptr;
    if (size)
        *size = SizeofResource(nullptr, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
}

struct Control {
    int id;
    const char* windowClass;
    const char* text;
    DWORD style;
    short x, y, width, height;
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kLabel = kChild | SS_LEFT | WS_GROUP;
const DWORD kTimeBox = kChild | ES_READONLY | ES_RIGHT;
const DWORD kPushButton = kChild | BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | WS_TABSTOP;
const DWORD kGroupBox = kChild | BS_GROUPBOX | BS_LEFT;
const DWORD kRadio = kChild | BS_AUTORADIOBUTTON;
const char* const kButton = "#128";
const char* const kEdit = "#129";
const char* const kStatic = "#130";
const char* const kComboBox = "#133";

const Control kControls[] = {
    {-1, kStatic, "Remain", kLabel, 3, 52, 24, 8},
    {-1, kStatic, "Counter", kLabel, 3, 34, 24, 8},
    {IDC_REMAIN, kEdit, "", kTimeBox, 2, 60, 30, 12},
    {IDC_COUNTER, kEdit, "", kTimeBox, 2, 42, 30, 12},
    {IDC_RECORD, kButton, "Record", kPushButton, 2, 16, 33, 14},
    {IDC_SAVE, kButton, "Save", kPushButton, 2, 1, 33, 14},
    {-1, kButton, "Ch.", kGroupBox, 1, 72, 36, 31},
    {-1, kButton, "Frq.", kGroupBox, 1, 105, 36, 73},
    {IDC_MONO, kButton, "mono", kRadio | WS_GROUP, 4, 81, 31, 9},
    {IDC_STEREO, kButton, "stereo", kRadio, 4, 91, 31, 9},
    {IDC_16KHZ, kButton, "16kHz", kRadio | WS_GROUP, 4, 116, 31, 9},
    {IDC_22KHZ, kButton, "22kHz", kRadio, 4, 126, 31, 9},
    {IDC_32KHZ, kButton, "32kHz", kRadio, 4, 146, 31, 9},
    {IDC_44KHZ, kButton, "44kHz", kRadio, 4, 156, 31, 9},
    {IDC_48KHZ, kButton, "48kHz", kRadio, 4, 166, 31, 9},
    {IDC_24KHZ, kButton, "24kHz", kRadio, 4, 136, 31, 9},
    {IDC_BITRATE, kComboBox, "", kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 1, 191, 36, 63},
    {-1, kStatic, "Bitrate", kLabel, 4, 182, 25, 8},
};

TEST(RecorderTemplate, IsTheNarrowToolWindowWithItsControlsInOrder)
{
    const BYTE* data = Resource(RT_DIALOG, IDD_RECORDER);
    ASSERT_NE(nullptr, data);
    TemplateReader t(data);
    EXPECT_EQ(1, t.Word());
    EXPECT_EQ(0xFFFF, t.Word()) << "an extended template";
    t.Dword();
    EXPECT_EQ(static_cast<DWORD>(WS_EX_TOOLWINDOW), t.Dword());
    EXPECT_EQ(static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | DS_SYSMODAL | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU),
              t.Dword());
    const WORD count = t.Word();
    EXPECT_EQ(50, t.Short());
    EXPECT_EQ(50, t.Short());
    EXPECT_EQ(38, t.Short());
    EXPECT_EQ(207, t.Short());
    EXPECT_EQ("", t.NameOrOrdinal()) << "no menu";
    EXPECT_EQ("", t.NameOrOrdinal()) << "the standard dialog class";
    EXPECT_EQ("かのる", t.Text());
    EXPECT_EQ(9, t.Word());
    EXPECT_EQ(FW_NORMAL, t.Word());
    EXPECT_EQ(0, t.Byte());
    EXPECT_EQ(SHIFTJIS_CHARSET, t.Byte());
    EXPECT_EQ("MS UI Gothic", t.Text());
    ASSERT_EQ(sizeof kControls / sizeof kControls[0], count);
    for (const Control& expected : kControls) {
        t.AlignToDword();
        t.Dword();
        EXPECT_EQ(0u, t.Dword()) << expected.text;
        EXPECT_EQ(expected.style, t.Dword()) << expected.text;
        EXPECT_EQ(expected.x, t.Short()) << expected.text;
        EXPECT_EQ(expected.y, t.Short()) << expected.text;
        EXPECT_EQ(expected.width, t.Short()) << expected.text;
        EXPECT_EQ(expected.height, t.Short()) << expected.text;
        EXPECT_EQ(static_cast<DWORD>(expected.id), t.Dword()) << expected.text;
        EXPECT_EQ(expected.windowClass, t.NameOrOrdinal()) << expected.text;
        EXPECT_EQ(expected.text, t.NameOrOrdinal());
        t.Skip(t.Word());
    }
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitsPerPixel;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(ProgramIcon, OneGroupWith32And16PixelImagesInSixteenColours)
{
    const BYTE* group = Resource(RT_GROUP_ICON, IDI_PROGRAM);
    ASSERT_NE(nullptr, group);
    const WORD count = reinterpret_cast<const WORD*>(group)[2];
    ASSERT_EQ(2, count);
    const IconGroupEntry* entries = reinterpret_cast<const IconGroupEntry*>(group + 3 * sizeof(WORD));
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        sizes.push_back(entries[i].width);
        EXPECT_EQ(entries[i].width, entries[i].height);
        EXPECT_EQ(4, entries[i].bitsPerPixel);
        EXPECT_EQ(16, entries[i].colours);
        const BITMAPINFOHEADER* image =
            reinterpret_cast<const BITMAPINFOHEADER*>(Resource(RT_ICON, entries[i].id));
        ASSERT_NE(nullptr, image);
        EXPECT_EQ(entries[i].width, image->biWidth);
        EXPECT_EQ(4, image->biBitCount);
    }
    EXPECT_EQ((std::vector<int>{32, 16}), sizes);
}

// The manifest loads as an activation context, names Common Controls 6 for x86, asks to run as its
// invoker (no file virtualisation), is aware of the system's scale and names the Windows it supports.
TEST(ProgramManifest, LoadsAndSaysWhatWindowsMustKnow)
{
    DWORD size = 0;
    const BYTE* manifest = Resource(RT_MANIFEST, IDR_MANIFEST, &size);
    ASSERT_NE(nullptr, manifest);
    const std::string text(reinterpret_cast<const char*>(manifest), size);
    const size_t controls = text.find("name=\"Microsoft.Windows.Common-Controls\"");
    ASSERT_NE(std::string::npos, controls);
    const std::string identity = text.substr(controls, text.find("/>", controls) - controls);
    EXPECT_NE(std::string::npos, identity.find("version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, identity.find("processorArchitecture=\"x86\""));
    for (const char* fragment : {"<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
                                 ">true</dpiAware>", "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
                                 "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                                 "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(std::string::npos, text.find(fragment)) << fragment;
    ACTCTXW context = {};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = GetModuleHandleW(nullptr);
    context.lpResourceName = MAKEINTRESOURCEW(IDR_MANIFEST);
    HANDLE loaded = CreateActCtxW(&context);
    EXPECT_NE(INVALID_HANDLE_VALUE, loaded) << "the manifest parses, error " << GetLastError();
    if (loaded != INVALID_HANDLE_VALUE)
        ReleaseActCtx(loaded);
}

BOOL CALLBACK NoteResourceId(HMODULE, LPCSTR, LPSTR name, LONG_PTR ids)
{
    reinterpret_cast<std::vector<ULONG_PTR>*>(ids)->push_back(IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : 0);
    return TRUE;
}

// Windows reads an EXE's manifest from its RT_MANIFEST resource 1 only: the built program's resource
// table holds exactly that one, and Windows builds an activation context from it.
TEST(ProgramManifest, BuiltProgramHoldsItUnderTheOneIdWindowsReads)
{
    const std::string program = WindowsPath(PROGRAM_FILE);
    HMODULE image = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, image) << program;
    std::vector<ULONG_PTR> ids;
    EnumResourceNamesA(image, RT_MANIFEST, NoteResourceId, reinterpret_cast<LONG_PTR>(&ids));
    HRSRC found = FindResourceA(image, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    const char* held = found ? static_cast<const char*>(LockResource(LoadResource(image, found))) : nullptr;
    const std::string text = held ? std::string(held, SizeofResource(image, found)) : "";
    FreeLibrary(image);
    for (const char* fragment : {"level=\"asInvoker\"", ">true</dpiAware>", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(std::string::npos, text.find(fragment)) << fragment;
    EXPECT_EQ(std::vector<ULONG_PTR>{reinterpret_cast<ULONG_PTR>(CREATEPROCESS_MANIFEST_RESOURCE_ID)}, ids);
    ACTCTXA context = {};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = program.c_str();
    context.lpResourceName = CREATEPROCESS_MANIFEST_RESOURCE_ID;
    HANDLE loaded = CreateActCtxA(&context);
    EXPECT_NE(INVALID_HANDLE_VALUE, loaded) << "the program's own manifest parses, error " << GetLastError();
    if (loaded != INVALID_HANDLE_VALUE)
        ReleaseActCtx(loaded);
}

}  // namespace
