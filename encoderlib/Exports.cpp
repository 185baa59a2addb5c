// The library's entry points. This file is built without SSE2, unlike the encoder behind it, so
// that on a processor without SSE2 every entry point answers instead of crashing the program.
#include "encoderlib/Mp3Encoder.h"

static const int kLibraryVersion = 100;
static const char kLibraryName[] = "kanoru MP3 encoder over LAME 3.100";

static BOOL WINAPI SystemProcessorFeaturePresent(DWORD feature)
{
    return IsProcessorFeaturePresent(feature);
}

BOOL(WINAPI* processorFeaturePresent)(DWORD feature) = SystemProcessorFeaturePresent;

// The feature also tells that the system saves the SSE registers across thread switches.
static bool ProcessorCanEncode()
{
    return processorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE;
}

extern "C" {

MpgeResult MPGE_CALL MPGE_initializeWork(void)
{
    if (processorFeaturePresent(PF_FLOATING_POINT_EMULATED))
        return kMpgeNoFpu;
    if (!ProcessorCanEncode())
        return kMpgeNoSse2;
    Mp3InitializeWork();
    return kMpgeOk;
}

MpgeResult MPGE_CALL MPGE_setConfigure(unsigned long selector, unsigned long value, void* pointer)
{
    if (!ProcessorCanEncode())
        return kMpgeNotReady;
    return Mp3SetConfigure(selector, value, pointer);
}

MpgeResult MPGE_CALL MPGE_getConfigure(unsigned long selector, unsigned long* value)
{
    if (!ProcessorCanEncode())
        return kMpgeNotReady;
    return Mp3GetConfigure(selector, value);
}

MpgeResult MPGE_CALL MPGE_detectConfigure(void)
{
    if (!ProcessorCanEncode())
        return kMpgeNotReady;
    return Mp3DetectConfigure();
}

MpgeResult MPGE_CALL MPGE_processFrame(void)
{
    if (!ProcessorCanEncode())
        return kMpgeNotReady;
    return Mp3ProcessFrame();
}

MpgeResult MPGE_CALL MPGE_closeCoder(void)
{
    if (!ProcessorCanEncode())
        return kMpgeNotReady;
    return Mp3CloseCoder();
}

// Without SSE2 nothing was ever started, so there is nothing to end and the library may be freed.
MpgeResult MPGE_CALL MPGE_endCoder(void)
{
    if (ProcessorCanEncode())
        Mp3EndCoder();
    return kMpgeOk;
}

MpgeResult MPGE_CALL MPGE_getVersion(unsigned long* version, char* text, unsigned long textSize)
{
    if (version)
        *version = kLibraryVersion;
    if (text && textSize > 0)
        lstrcpynA(text, kLibraryName, static_cast<int>(textSize));
    return kMpgeOk;
}

MpgeResult MPGE_CALL MPGE_getUnitStates(unsigned long* units)
{
    if (units)
        *units = ProcessorCanEncode() ? kMpgeUnitSse2 : 0;
    return kMpgeOk;
}

}  // extern "C"
