#pragma once

#include <windows.h>

#include "encoderlib/EncoderApi.h"

// The encoder behind the library's entry points. It is built for SSE2: nothing here may run before
// the entry points have found SSE2 present.

// Forgets every setting and any encoding under way.
void Mp3InitializeWork();
MpgeResult Mp3SetConfigure(unsigned long selector, unsigned long value, void* pointer);
MpgeResult Mp3GetConfigure(unsigned long selector, unsigned long* value);
MpgeResult Mp3DetectConfigure();
MpgeResult Mp3ProcessFrame();
MpgeResult Mp3CloseCoder();
void Mp3EndCoder();

// Asks the platform whether the processor has a feature; a test replaces it.
extern BOOL(WINAPI* processorFeaturePresent)(DWORD feature);
