// The smallest modeless dialog program: the baseline for the recorder's start-up time.
#include <windows.h>

#include "bench/MinimalDialog.h"

static INT_PTR CALLBACK MinimalProcedure(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE)
        DestroyWindow(dialog);
    else if (message == WM_DESTROY)
        PostQuitMessage(0);
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MINIMAL), nullptr, MinimalProcedure, 0);
    if (!dialog)
        return 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
