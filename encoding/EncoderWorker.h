#pragma once

#include <windows.h>

#include "encoderlib/EncoderApi.h"
#include "encoding/MemoryStream.h"

// The queue of the running recording: set before the worker starts, valid until it has ended.
extern CMemoryStreamList* currentQueue;

// Sent with IDC_RECORD by whoever only means to end a recording (the worker, the time and size
// limits): it stops a running recording and never starts one, unlike the button's own command.
const WORD kStopOnlyNotification = 1;

// Posts that stop to the dialog.
void PostStopCommand(HWND dialog);

const DWORD kWorkerDidNotStart = 1;

// Runs the encoder for one recording from currentQueue into recordingPath; exit code 0 when the file
// is complete, kWorkerDidNotStart when the encoder did not initialise or refused its settings (no
// file was written), otherwise the encoder's failure value.
DWORD WINAPI EncoderWorker(void* dialogWindow);

// The encoder's read callback: a full block (0), or, once the end is declared and less than a
// block remains, the rest followed by zeros (1).
int MPGE_CALL ReadPcm(void* buffer, unsigned long length);
