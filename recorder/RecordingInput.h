#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "recorder/RecordingClock.h"

// What goes into the file while a recording runs: the audio the device captured, the silence that
// stands in for it while none comes, and the counters and limits that both move. It knows neither
// the device nor the recording's stages: the control hands in each event, with what the device is
// doing, and acts on the limits that come back (kTimeLimitReached, kSizeLimitReached).

// A stretch of silent buffers this long is told, as a muted mixer or a privacy switch inside a show.
const ULONGLONG kSilenceToldMs = 60000;

// How much of the captured audio had any sound in it, to tell a recording whose input stayed silent
// and the long silences inside one that had sound.
struct InputLevel {
    ULONGLONG bytes;
    DWORD loudBuffers;
    // The silence running now: from the file's place where its first silent buffer began to where
    // its latest ended.
    bool inSilence;
    ULONGLONG silentFromBytes, silentToBytes;
    Stretches silences;  // those of kSilenceToldMs or longer
};

// The running recording's input; only the functions below change it.
struct RecordingInput {
    RecordingClock clock;
    InputLevel level;
    bool stopped;  // the recording was asked to stop: no limit is reached any more
};

extern RecordingInput recordingInput;

// The format captured: 16-bit PCM of channels at sampleRate.
WAVEFORMATEX InputFormat(int channels, int sampleRate);

// A new recording of format at bitrateKbps, with a time limit of limitMs (0: none), from reading now.
void StartInput(const WAVEFORMATEX& format, int bitrateKbps, ULONGLONG limitMs, DWORD now);

// The recording's stop at the clock's reading now.
void NoteInputStop(DWORD now);

// The bytes of a buffer the device finished (a message that they bring may run a message loop);
// only audio from a device that captures closes a gap or shows a stall. The limits reached.
int OnInputAudio(HWND dialog, const void* data, DWORD bytes, bool deviceCaptures);

// The device was lost with what it last wrote (or nothing): silence stands in from now on. The
// limits reached.
int OnInputLost(HWND dialog, const void* lastAudio, DWORD lastBytes, bool beforeItsFirstBuffer);

// The watchdog's tick: true when it came so late that the program itself was held up.
bool InputTickWasHeldUp(DWORD now);

// The watchdog's tick while the recording runs, at the clock's reading now: silence while the device
// is away or the program was held up, and the counters and the time limit, which no buffer brings
// meanwhile. The limits reached.
int KeepTime(HWND dialog, DWORD now, bool heldUp, bool deviceAway);

// Capture has ended: a recording stopped while no input came is as long as the time it ran, and
// the silence that ran to the end is told.
void FillUpToTheStop(HWND dialog);

// True when the input gave nothing but silence over seconds enough to tell.
bool InputWasSilent();
