// Reads and drives the recorder's real window from outside, as a user would: run in the same
// Wine prefix, it finds windows by caption and prints what it sees on standard output.
//   probe wait CAPTION MS        the window exists (exit 0) or not within MS (exit 1)
//   probe gone CAPTION MS        the window has disappeared within MS
//   probe state CAPTION          one line per control: id, enabled, checked, text; list entries
//   probe click CAPTION ID       presses a button
//   probe close CAPTION          asks the window to close, as its close box does
//   probe message CAPTION MS     prints a message box's text and presses its OK button
//   probe peek CAPTION MS        prints a message box's text and leaves it open
//   probe foreground CAPTION     1 when the window is the foreground window
//   probe topmost CAPTION        1 when the window stays on top of others
//   probe move CAPTION X Y       moves the window
//   probe rect CAPTION           prints the window's left, top, right and bottom
//   probe settext CAPTION ID T   sets a control's text, as typing would
//   probe fit CAPTION            per label and button: id, its text's width in the dialog's font, the
//                                width it has
//   probe red CAPTION ID         how many of a control's pixels on the screen are red
//   probe answers CAPTION MS     the window answers a sent message within MS (exit 0) or not (exit 1)
//   probe hold PATH MS           opens a file without sharing it and keeps it open for MS
// CAPTION "owned-by:C" names the enabled window that the window captioned C owns (its dialog
// box); "rect" also prints the window's caption. Arguments and output are in code page 932 and go
// through the wide functions, whatever the system's code page, so that a run in another locale
// reads the same.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const DWORD kPollMs = 50;
static const UINT kReplyTimeoutMs = 5000;
static const int kMessageTextId = 0xFFFF;

static const char kOwnedPrefix[] = "owned-by:";
static const UINT kHarnessCodePage = 932;
static const int kLongestText = 1024;

static void Widen(const char* text, wchar_t* wide)
{
    if (!MultiByteToWideChar(kHarnessCodePage, 0, text, -1, wide, kLongestText))
        wide[0] = L'\0';
}

struct OwnedSearch {
    HWND owner;
    HWND found;
};

static BOOL CALLBACK FindOwned(HWND window, LPARAM parameter)
{
    OwnedSearch* search = reinterpret_cast<OwnedSearch*>(parameter);
    if (GetWindow(window, GW_OWNER) == search->owner && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND Find(const char* caption)
{
    const size_t prefix = sizeof kOwnedPrefix - 1;
    wchar_t wide[kLongestText];
    const bool owned = strncmp(caption, kOwnedPrefix, prefix) == 0;
    Widen(owned ? caption + prefix : caption, wide);
    if (!owned)
        return FindWindowW(nullptr, wide);
    OwnedSearch search = {FindWindowW(nullptr, wide), nullptr};
    if (search.owner)
        EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

static HWND WaitForWindow(const char* caption, DWORD timeoutMs)
{
    const DWORD started = GetTickCount();
    for (;;) {
        HWND window = Find(caption);
        if (window || GetTickCount() - started >= timeoutMs)
            return window;
        Sleep(kPollMs);
    }
}

static void TextOf(HWND window, char* text, int size)
{
    DWORD_PTR copied = 0;
    wchar_t wide[kLongestText] = L"";
    SendMessageTimeoutW(window, WM_GETTEXT, kLongestText, reinterpret_cast<LPARAM>(wide), SMTO_ABORTIFHUNG,
                        kReplyTimeoutMs, &copied);
    if (!WideCharToMultiByte(kHarnessCodePage, 0, wide, -1, text, size, nullptr, nullptr))
        text[0] = '\0';
    for (char* c = text; *c; ++c) {
        if (*c == '\n')
            *c = '|';
    }
}

static LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

static void PrintList(HWND list)
{
    const LRESULT count = Ask(list, CB_GETCOUNT, 0, 0);
    printf("list %d selected %d", GetDlgCtrlID(list), static_cast<int>(Ask(list, CB_GETCURSEL, 0, 0)));
    for (LRESULT i = 0; i < count; ++i) {
        // Asked in UTF-16: Wine hands an ANSI entry across processes cut to its first character.
        WCHAR wide[64] = L"";
        char entry[128] = "";
        DWORD_PTR length = 0;
        if (SendMessageTimeoutW(list, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &length) &&
            length < sizeof wide / sizeof wide[0])
            SendMessageTimeoutW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide), SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                                &length);
        WideCharToMultiByte(CP_ACP, 0, wide, -1, entry, sizeof entry, nullptr, nullptr);
        printf(" %s", entry);
    }
    printf("\n");
}

static BOOL CALLBACK PrintControl(HWND control, LPARAM)
{
    char text[256];
    char kind[64];
    TextOf(control, text, sizeof text);
    GetClassNameA(control, kind, sizeof kind);
    const bool isButton = lstrcmpiA(kind, "Button") == 0;
    printf("control %d enabled %d checked %d text %s\n", GetDlgCtrlID(control), IsWindowEnabled(control) ? 1 : 0,
           isButton && Ask(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0, text);
    if (lstrcmpiA(kind, "ComboBox") == 0)
        PrintList(control);
    return TRUE;
}

// The recorder's dialog font, made as Wine's dialog manager makes it from the template (any character set).
static HFONT DialogFont(HDC dc)
{
    const int kPoints = 9, kPointsPerInch = 72;
    return CreateFontA(-MulDiv(kPoints, GetDeviceCaps(dc, LOGPIXELSY), kPointsPerInch), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                       "MS UI Gothic");
}

// The width a control leaves its text in dc: a frame's edges, a button's edges, or a radio button's
// mark (12 pixels at 96 dpi, plus one) and half a digit's gap, as Wine's buttons draw them.
static int TextRoom(HWND control, HDC dc, int width)
{
    const int kFrameMargin = 8, kButtonMargin = 4, kMarkPixelsAt96Dpi = 12, kDpi96 = 96;
    const LONG style = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    char kind[64];
    GetClassNameA(control, kind, sizeof kind);
    if (lstrcmpiA(kind, "Button") != 0)
        return width;
    if (style == BS_GROUPBOX)
        return width - kFrameMargin;
    if (style == BS_AUTORADIOBUTTON || style == BS_RADIOBUTTON || style == BS_AUTOCHECKBOX || style == BS_CHECKBOX) {
        INT digit = 0;
        GetCharWidth32A(dc, '0', '0', &digit);
        return width - (kMarkPixelsAt96Dpi * GetDeviceCaps(dc, LOGPIXELSX) / kDpi96 + 1) - digit / 2;
    }
    return width - kButtonMargin;
}

static BOOL CALLBACK PrintFit(HWND control, LPARAM)
{
    char text[256];
    char kind[64];
    TextOf(control, text, sizeof text);
    GetClassNameA(control, kind, sizeof kind);
    if (!text[0] || (lstrcmpiA(kind, "Static") != 0 && lstrcmpiA(kind, "Button") != 0))
        return TRUE;
    HDC dc = GetDC(control);
    HFONT font = DialogFont(dc);
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE extent = {};
    GetTextExtentPoint32A(dc, text, lstrlenA(text), &extent);
    RECT client;
    GetClientRect(control, &client);
    const int room = TextRoom(control, dc, client.right);
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(control, dc);
    printf("fit %d %s %ld %d\n", GetDlgCtrlID(control), text, extent.cx, room);
    return TRUE;
}

// Read back from the screen, as a user would see the control.
static int RedPixels(HWND control)
{
    const BYTE kBright = 160, kDim = 100;
    RECT rect;
    GetWindowRect(control, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    int red = 0;
    const RGBQUAD* pixel = static_cast<const RGBQUAD*>(bits);
    for (int i = 0; bits && i < width * height; ++i)
        red += pixel[i].rgbRed > kBright && pixel[i].rgbGreen < kDim && pixel[i].rgbBlue < kDim;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return red;
}

static int WaitGone(const char* caption, DWORD timeoutMs)
{
    const DWORD started = GetTickCount();
    while (Find(caption)) {
        if (GetTickCount() - started >= timeoutMs)
            return 1;
        Sleep(kPollMs);
    }
    return 0;
}

static int ReadMessage(const char* caption, DWORD timeoutMs, bool pressOk)
{
    HWND box = WaitForWindow(caption, timeoutMs);
    if (!box)
        return 1;
    char text[1024];
    TextOf(GetDlgItem(box, kMessageTextId), text, sizeof text);
    printf("%s\n", text);
    if (pressOk)
        PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    return 0;
}

// The arguments as the harness wrote them, in code page 932 rather than the system's.
static char** ArgumentsIn932(int* count)
{
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), count);
    char** arguments = static_cast<char**>(calloc(*count + 1, sizeof(char*)));
    for (int index = 0; index < *count; ++index) {
        arguments[index] = static_cast<char*>(calloc(kLongestText, 1));
        WideCharToMultiByte(kHarnessCodePage, 0, wide[index], -1, arguments[index], kLongestText, nullptr, nullptr);
    }
    return arguments;
}

int main()
{
    // Aware of the scale like the program, so that both measure in the screen's pixels.
    typedef BOOL(WINAPI * SetAware)();
    SetAware setAware = reinterpret_cast<SetAware>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware")));
    if (setAware)
        setAware();
    int argc = 0;
    char** argv = ArgumentsIn932(&argc);
    if (argc < 3)
        return 2;
    const char* command = argv[1];
    const char* caption = argv[2];
    const DWORD timeoutMs = argc > 3 ? strtoul(argv[3], nullptr, 10) : 0;
    if (strcmp(command, "wait") == 0)
        return WaitForWindow(caption, timeoutMs) ? 0 : 1;
    if (strcmp(command, "gone") == 0)
        return WaitGone(caption, timeoutMs);
    if (strcmp(command, "message") == 0 || strcmp(command, "peek") == 0)
        return ReadMessage(caption, timeoutMs, strcmp(command, "message") == 0);
    if (strcmp(command, "hold") == 0) {
        HANDLE file = CreateFileA(caption, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        Sleep(timeoutMs);
        CloseHandle(file);
        return file == INVALID_HANDLE_VALUE ? 1 : 0;
    }
    HWND window = Find(caption);
    if (!window)
        return 1;
    if (strcmp(command, "state") == 0) {
        EnumChildWindows(window, PrintControl, 0);
    } else if (strcmp(command, "click") == 0 && argc > 3) {
        PostMessageA(GetDlgItem(window, atoi(argv[3])), BM_CLICK, 0, 0);
    } else if (strcmp(command, "close") == 0) {
        PostMessageA(window, WM_CLOSE, 0, 0);
    } else if (strcmp(command, "foreground") == 0) {
        printf("%d\n", GetForegroundWindow() == window ? 1 : 0);
    } else if (strcmp(command, "fit") == 0) {
        EnumChildWindows(window, PrintFit, 0);
    } else if (strcmp(command, "answers") == 0) {
        char title[256];
        DWORD_PTR copied = 0;
        return SendMessageTimeoutA(window, WM_GETTEXT, sizeof title, reinterpret_cast<LPARAM>(title), SMTO_ABORTIFHUNG,
                                   timeoutMs, &copied) ? 0 : 1;
    } else if (strcmp(command, "red") == 0 && argc > 3) {
        printf("%d\n", RedPixels(GetDlgItem(window, atoi(argv[3]))));
    } else if (strcmp(command, "topmost") == 0) {
        printf("%d\n", GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST ? 1 : 0);
    } else if (strcmp(command, "rect") == 0) {
        RECT rect;
        GetWindowRect(window, &rect);
        char title[256];
        TextOf(window, title, sizeof title);
        printf("%ld %ld %ld %ld %s\n", rect.left, rect.top, rect.right, rect.bottom, title);
    } else if (strcmp(command, "settext") == 0 && argc > 4) {
        Ask(GetDlgItem(window, atoi(argv[3])), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
    } else if (strcmp(command, "move") == 0 && argc > 4) {
        SetWindowPos(window, nullptr, atoi(argv[3]), atoi(argv[4]), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        return 2;
    }
    fflush(stdout);
    return 0;
}
