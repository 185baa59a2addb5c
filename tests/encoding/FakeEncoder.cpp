// A stand-in for gogo.dll that records how it is driven and fails on request.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "encoderlib/EncoderApi.h"

#define FAKE_EXPORT __declspec(dllexport)

static char calls[8192];
static MpgeResult initializeResult = kMpgeOk;
static MpgeResult detectResult = kMpgeOk;
static int framesBeforeFailure = -1;
static MpgeResult closeResult = kMpgeOk;
static EncoderInputRecord input;
static int frames = 0;
static int silentFrames = 0;
// An encoder no faster than this many frames a millisecond, or any speed at 0.
static int framesPerMillisecond = 0;

static const size_t kBlockBytes = 4608;

// Compared whole, so that hours of silence pass quickly.
static bool IsSilent(const char* block)
{
    static const char kZeros[kBlockBytes] = {};
    return memcmp(block, kZeros, kBlockBytes) == 0;
}

static void Note(const char* format, unsigned long a, unsigned long b)
{
    char entry[64];
    snprintf(entry, sizeof entry, format, a, b);
    strncat(calls, entry, sizeof calls - strlen(calls) - 1);
}

extern "C" {

FAKE_EXPORT void MPGE_CALL FakeSetResults(MpgeResult initialize, MpgeResult detect, int failAfterFrames, MpgeResult close)
{
    closeResult = close;
    initializeResult = initialize;
    detectResult = detect;
    framesBeforeFailure = failAfterFrames;
    calls[0] = '\0';
}

FAKE_EXPORT void MPGE_CALL FakeSetFramesPerMillisecond(int most)
{
    framesPerMillisecond = most;
}

FAKE_EXPORT const char* MPGE_CALL FakeCalls(void)
{
    return calls;
}

FAKE_EXPORT MpgeResult MPGE_CALL MPGE_initializeWork(void)
{
    Note("init ", 0, 0);
    frames = silentFrames = 0;
    return initializeResult;
}

FAKE_EXPORT MpgeResult MPGE_CALL MPGE_setConfigure(unsigned long selector, unsigned long value, void* pointer)
{
    Note("set%lu=%lu ", selector, value);
    if (selector == kMpgeInput)
        input = *static_cast<EncoderInputRecord*>(pointer);
    if (selector == kMpgeInput)
        Note("[%lu Hz %lu ch] ", input.sampleRate, input.channels);
    return kMpgeOk;
}

FAKE_EXPORT MpgeResult MPGE_CALL MPGE_getConfigure(unsigned long selector, unsigned long* value)
{
    Note("get%lu ", selector, 0);
    *value = 0;
    return kMpgeOk;
}

FAKE_EXPORT MpgeResult MPGE_CALL MPGE_detectConfigure(void)
{
    Note("detect ", 0, 0);
    return detectResult;
}

FAKE_EXPORT MpgeResult MPGE_CALL MPGE_processFrame(void)
{
    if (framesBeforeFailure >= 0 && frames >= framesBeforeFailure)
        return kMpgeWriteFailed;
    ++frames;
    if (framesPerMillisecond > 0 && frames % framesPerMillisecond == 0)
        Sleep(1);
    char block[kBlockBytes];
    const int read = input.read(block, sizeof block);
    silentFrames += IsSilent(block);
    if (read != kEncoderReadFilled) {
        Note("silent=%lu frames=%lu ", static_cast<unsigned long>(silentFrames), static_cast<unsigned long>(frames));
        return kMpgeEnded;
    }
    return kMpgeOk;
}

FAKE_EXPORT MpgeResult MPGE_CALL MPGE_closeCoder(void)
{
    Note("close ", 0, 0);
    return closeResult;
}

FAKE_EXPORT MpgeResult MPGE_CALL MPGE_endCoder(void)
{
    return kMpgeOk;
}

FAKE_EXPORT MpgeResult MPGE_CALL MPGE_getVersion(unsigned long* version, char*, unsigned long)
{
    *version = 0;
    return kMpgeOk;
}

#ifndef FAKE_WITHOUT_UNIT_STATES
FAKE_EXPORT MpgeResult MPGE_CALL MPGE_getUnitStates(unsigned long* units)
{
    *units = 0;
    return kMpgeOk;
}
#endif

}  // extern "C"
