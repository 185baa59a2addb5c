// The smallest modeless dialog program: the baseline for the recorder's start-up time and for
// what Wine costs an idle window. With /capture it also keeps two one-second wave-input buffers
// circulating at 48 kHz stereo, as the recorder does, and throws the audio away: Wine's own cost
// of capture. With /poll a second thread wakes every 20 ms, as the recorder's encoder thread does
// while it waits for captured data.
#include <windows.h>
#include <mmsystem.h>
#include <string.h>

#include "bench/MinimalDialog.h"

static const DWORD kRate = 48000;
static const WORD kChannels = 2;
static const WORD kBitsPerSample = 16;
static WAVEHDR buffers[2];
static HWAVEIN device = nullptr;

static void StartCapture(HWND dialog)
{
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kChannels;
    format.nSamplesPerSec = kRate;
    format.wBitsPerSample = kBitsPerSample;
    format.nBlockAlign = kChannels * kBitsPerSample / 8;
    format.nAvgBytesPerSec = kRate * format.nBlockAlign;
    if (waveInOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(dialog), 0, CALLBACK_WINDOW))
        return;
    for (WAVEHDR& buffer : buffers) {
        buffer.lpData = static_cast<LPSTR>(HeapAlloc(GetProcessHeap(), 0, format.nAvgBytesPerSec));
        buffer.dwBufferLength = format.nAvgBytesPerSec;
        waveInPrepareHeader(device, &buffer, sizeof buffer);
        waveInAddBuffer(device, &buffer, sizeof buffer);
    }
    waveInStart(device);
}

static const DWORD kPollMilliseconds = 20;

static DWORD WINAPI Poll(void*)
{
    for (;;)
        Sleep(kPollMilliseconds);
}

static INT_PTR CALLBACK MinimalProcedure(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message == MM_WIM_DATA && device)
        waveInAddBuffer(device, reinterpret_cast<WAVEHDR*>(lParam), sizeof(WAVEHDR));
    else if (message == WM_CLOSE)
        DestroyWindow(dialog);
    else if (message == WM_DESTROY)
        PostQuitMessage(0);
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MINIMAL), nullptr, MinimalProcedure, 0);
    if (!dialog)
        return 1;
    if (strstr(commandLine, "/capture"))
        StartCapture(dialog);
    if (strstr(commandLine, "/poll"))
        CloseHandle(CreateThread(nullptr, 0, Poll, nullptr, 0, nullptr));
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
