#pragma once

#include <windows.h>
#include <mmsystem.h>

// The capture device's life during a recording.
enum CaptureStage {
    kCaptureIdle,  // no recording
    kCapturing,  // the buffers circulate through the device
    kCaptureStopping,  // the recording's stop: the device is handing its buffers back
    kCaptureClosing,  // the buffers are released and the device closed; its close notification is due
    kWaitingForDevice,  // the device was lost: it is opened again every few seconds
};

// What StartCapture gives.
const int kCaptureStarted = 0;
const int kCaptureNoDevice = 1;
const int kCaptureNoMemory = 2;
const int kCaptureNotFound = 3;  // no device of the chosen name is present

// A device that has not handed back a buffer this long after the previous one (one second of
// capture plus one second's grace) is lost; its first buffer after a start may take a second more.
// Its notifications wait in the same queue as the watchdog's tick and are handled first, so a busy
// program does not make a device look lost.
const DWORD kBufferOverdueMs = 2000;
const DWORD kFirstBufferDueMs = 3000;

// A device that has not answered the stop's reset or close this long is given up.
const DWORD kDeviceAnswerMs = 4000;

// What a lost device wrote to the buffer it was filling, up to a second of audio from before the
// loss, is read once its reset on the teardown thread has been tried. A driver that answers at all
// answers in milliseconds; one that hangs costs the window's thread no more than this, once a loss.
const DWORD kLostAudioWaitMs = 200;

// Before an open, devices that refused to close get this long for another try; a driver that
// blocks in it costs the open no more.
const DWORD kRetryBeforeOpenMs = 100;

// A lost device is opened again at the next tick, then this often, so that a hiccup costs little
// more than itself; an open of a device that is not there fails at once in the system's own
// enumeration, so a try a second costs a driver that is being re-enumerated nothing worth sparing.
const DWORD kReopenIntervalMs = 1000;
// The watchdog's ticks, a second apart, fall early or late: a reopen due within half a tick of one
// is tried at it, so that the cadence stays a second rather than slipping to two.
const DWORD kTickSlackMs = 500;
// Windows tells every window of a change to its devices, several times for one arrival: a lost
// device is tried at once, but no sooner than this after the previous try.
const DWORD kSoonestReopenMs = 250;
// A device away this long has most likely been unplugged; it is tried less often from then on.
const DWORD kSlowReopenAfterMs = 60000;
const DWORD kSlowReopenIntervalMs = 5000;

// A new window starts without a device.
void ResetCapture();

CaptureStage CurrentCaptureStage();

// A new recording records from the first device whose name holds wanted, or from the default
// device when it is empty; after a loss, only from that same device.
void ChooseCaptureDevice(const wchar_t* wanted);

// The name of the device the recording captures from; empty until one was found.
const wchar_t* ChosenDeviceName();

// The one start of capture, for Record and for every reopen: opens the chosen device for format,
// hands it two one-second buffers and starts it. kCaptureStarted, or what failed; a start that
// fails leaves nothing open.
int StartCapture(HWND dialog, const WAVEFORMATEX* format);

// A recording that nobody attends starts without its device and waits for it, as for a lost one.
void WaitForCaptureDevice(HWND dialog, const WAVEFORMATEX* format);

// The recording's stop: capture ends, and OnCaptureEnded follows once the device has closed (at
// once when no device is open).
void StopCapture();

// Lets the device go at once, whatever it holds; no event follows.
void AbandonCapture();

// MM_WIM_DATA: only a buffer of the recording's current device that it marked done counts.
void OnBufferDone(HWND dialog, HWAVEIN device, WAVEHDR* header);

// MM_WIM_CLOSE.
void OnDeviceClosed(HWND dialog, HWAVEIN device);

// The watchdog's tick: a device that stopped answering is lost or given up, a lost one reopened.
void OnCaptureTick();

// Windows said its devices changed: one may have arrived.
void OnDevicesChanged();

// The program itself was held up (frozen, or the machine asleep), not the device: it gets its
// grace afresh rather than being taken for lost.
void GiveDeviceGrace();

// Supplied by the recording control: the bytes of a buffer the device finished (any message that
// they bring may run a message loop), the device lost with what it last wrote (or nothing), and
// capture ended after the stop.
void OnCapturedAudio(HWND dialog, const void* data, DWORD bytes);
void OnCaptureLost(HWND dialog, const void* lastAudio, DWORD lastBytes, bool beforeItsFirstBuffer);
void OnCaptureEnded(HWND dialog);
