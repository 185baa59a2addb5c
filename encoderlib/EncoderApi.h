#pragma once

// The MP3 encoder library's interface, shared by the library (gogo.dll) and the program that loads
// it. Every entry point and the read callback use the C calling convention (__cdecl); the library
// exports the names undecorated.

#ifdef __cplusplus
extern "C" {
#endif

#define MPGE_CALL __cdecl

typedef unsigned long MpgeResult;

// Fills buffer with length bytes of 16-bit PCM: 0 when the buffer is full, 1 when the input has
// ended (the buffer then holds the last bytes followed by zeros).
typedef int(MPGE_CALL* EncoderReadCallback)(void* buffer, unsigned long length);

enum {
    kEncoderReadFilled = 0,
    kEncoderReadEnded = 1,
};

// Passed by address with kMpgeInput.
typedef struct EncoderInputRecord {
    EncoderReadCallback read;
    unsigned long inputSize;  // kMpgeUnknownInputSize: no size given in advance
    unsigned long bitsPerSample;  // 16
    unsigned long sampleRate;  // Hz
    unsigned long channels;  // 1 or 2
} EncoderInputRecord;

#define kMpgeUnknownInputSize 0xFFFFFFFFul

// Selectors of MPGE_setConfigure and MPGE_getConfigure.
enum {
    kMpgeInput = 1,  // value kMpgeInputFromCallback, pointer: EncoderInputRecord*
    kMpgeOutput = 2,  // value kMpgeOutputToFile, pointer: the file's path in the ANSI code page
    kMpgeChannelMode = 3,  // value kMpgeMono ... kMpgeDualChannel
    kMpgeBitrate = 4,  // value kbit/s, one of the bitrates of the sample rate's MPEG version
    kMpgeOutputSampleRate = 5,  // get only: Hz, always the input's rate
    kMpgeMpegVersion = 6,  // get only: 1 for MPEG-1 (32-48 kHz), 2 for MPEG-2 (16-24 kHz)
    kMpgeInfoTag = 8,  // value 1: complete the Info tag at close (the default); 0: leave no tag frame
    kMpgeReserved9 = 9,  // accepted and reported back; no effect on the file
    kMpgeFramesEncoded = 10,  // get only: MP3 frames of audio written so far
    kMpgeSamplesPerFrame = 11,  // get only: 1152 (MPEG-1) or 576 (MPEG-2) per channel
    kMpgeEncoderDelay = 12,  // get only: samples of encoder delay at the start of the stream
    kMpgeBytesWritten = 16,  // get only: bytes of the file written so far
};

enum {
    kMpgeInputFromCallback = 2,
    kMpgeOutputToFile = 0,
};

enum {
    kMpgeMono = 0,
    kMpgeStereo = 1,
    kMpgeJointStereo = 2,
    kMpgeDualChannel = 3,
};

// Results. MPGE_processFrame gives kMpgeOk while encoding goes on, kMpgeEnded once the input has
// ended and all of it is written, and a failure from kMpgeWriteFailed on; a failure repeats on
// every later call. MPGE_detectConfigure gives kMpgeOk or one of the refusals.
enum {
    kMpgeOk = 0,
    kMpgeEnded = 1,
    kMpgeWriteFailed = 2,  // the file could not be written (disk full, device gone)
    kMpgeEncodeFailed = 3,  // the encoder itself failed
    kMpgeNotReady = 4,  // called before a successful MPGE_detectConfigure
    kMpgeNoFpu = 12,  // MPGE_initializeWork: no floating-point unit
    kMpgeNoSse2 = 13,  // MPGE_initializeWork: the processor lacks SSE2, which this build relies on
    kMpgeBadInput = 20,  // no input record, callback, or 16-bit samples
    kMpgeBadSampleRate = 21,  // not 16000, 22050, 24000, 32000, 44100 or 48000 Hz
    kMpgeBadChannels = 22,  // not 1 or 2 channels, or a channel mode that does not fit them
    kMpgeBadBitrate = 23,  // not a bitrate of the sample rate's MPEG version
    kMpgeBadOutput = 24,  // no output path
    kMpgeCannotOpenOutput = 25,  // the file cannot be opened for writing (held, read-only, no folder)
    kMpgeUnknownSelector = 26,  // MPGE_setConfigure or MPGE_getConfigure with a selector not listed
};

MpgeResult MPGE_CALL MPGE_initializeWork(void);
MpgeResult MPGE_CALL MPGE_setConfigure(unsigned long selector, unsigned long value, void* pointer);
MpgeResult MPGE_CALL MPGE_getConfigure(unsigned long selector, unsigned long* value);
MpgeResult MPGE_CALL MPGE_detectConfigure(void);
MpgeResult MPGE_CALL MPGE_processFrame(void);
MpgeResult MPGE_CALL MPGE_closeCoder(void);
MpgeResult MPGE_CALL MPGE_endCoder(void);
// Writes the library's version (major * 100 + minor) and, when text is not null, its name.
MpgeResult MPGE_CALL MPGE_getVersion(unsigned long* version, char* text, unsigned long textSize);
// Writes kMpgeUnitSse2 when the processor has SSE2, which this build of the encoder relies on.
MpgeResult MPGE_CALL MPGE_getUnitStates(unsigned long* units);

#define kMpgeUnitSse2 0x1ul

#ifdef __cplusplus
}
#endif
