#pragma once

#include <windows.h>
#include <mmsystem.h>

// The running recording; the dialog's thread alone changes it.
struct RecordingState {
    HANDLE worker;
    WAVEHDR* firstBuffer;
    WAVEHDR* secondBuffer;
    WAVEFORMATEX format;
    DWORD estimatedBytes;
    HWAVEIN waveIn;
    LONG timeLimitHit;
    LONG sizeLimitHit;
    LONG closeAfterStop;
    LONG stopRequested;
    LONG recording;
    DWORD startTime;
    // The time limit in milliseconds, 64 bits wide so that a limit of any length stops on time.
    ULONGLONG limitMilliseconds;
    int buffersBackSinceStop;
};

extern RecordingState recordingState;

// 95 % of 2 GiB, as (2^31 - 1) / 100 * 95.
const DWORD kSizeLimitBytes = 2040109420;

// Clears the flags when the dialog is created.
void ClearRecordingFlags();

// Posts the command that starts a recording when none runs and stops it otherwise.
void PostRecordCommand(HWND dialog);

// The Record button or a posted stop command: starts a recording when none runs, otherwise stops it.
void OnRecordCommand(HWND dialog);

// True when a recording runs: it is stopped and the dialog is destroyed once it has ended.
bool OnCloseRequest(HWND dialog);

// MM_WIM_DATA from device; notifications of a device other than the recording's are ignored.
void OnBufferDone(HWND dialog, HWAVEIN device, WAVEHDR* header);

// MM_WIM_CLOSE from device.
void OnDeviceClosed(HWND dialog, HWAVEIN device);
