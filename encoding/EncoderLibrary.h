#pragma once

#include <windows.h>

#include "encoderlib/EncoderApi.h"

const int kEncoderLibraryNotFound = 1001;
const int kEncoderLibraryIncomplete = 1002;

// The loaded encoder library's entry points; null while it is not loaded.
struct EncoderLibrary {
    HMODULE module;
    decltype(&MPGE_initializeWork) initializeWork;
    decltype(&MPGE_setConfigure) setConfigure;
    decltype(&MPGE_getConfigure) getConfigure;
    decltype(&MPGE_detectConfigure) detectConfigure;
    decltype(&MPGE_processFrame) processFrame;
    decltype(&MPGE_closeCoder) closeCoder;
    decltype(&MPGE_endCoder) endCoder;
    decltype(&MPGE_getVersion) getVersion;
    decltype(&MPGE_getUnitStates) getUnitStates;
};

extern EncoderLibrary encoderLibrary;

// Finds gogo.dll by the library search, then at the fixed path, then by the registry's INSTPATH;
// 0, kEncoderLibraryNotFound, or kEncoderLibraryIncomplete (the library is then freed).
int LoadEncoderLibrary();

// Ends the encoder and frees the library when it agrees; returns MPGE_endCoder's result.
int UnloadEncoderLibrary();
