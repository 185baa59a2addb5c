#include "encoding/EncoderWorker.h"

#include <string.h>

#include "encoding/EncoderLibrary.h"
#include "resources/resource.h"
#include "startup/Backstop.h"
#include "startup/RecordingSettings.h"
#include "startup/StartupOptions.h"
#include "startup/UserMessage.h"

CMemoryStreamList* currentQueue = nullptr;

static const DWORD kPcmWaitMilliseconds = 20;
static const unsigned long kBitsPerSample = 16;
static const unsigned long kFirstEncoderFailure = kMpgeWriteFailed;
static const char kNoFpuMessage[] = "FPU(浮動小数点演算ユニット)が存在しません。\n";
static const char kInitializeFailedMessage[] = "エンコーダの初期化に失敗しました。\n";
static const char kNoSse2Message[] = "このプロセッサはSSE2に対応していないため、エンコーダを使えません。\n";
static const char kBadConfigurationMessage[] =
    "エンコード設定が正しくありません。\nMP3ファイルが他のアプリで使用されていないか確認してください。";
static const char kEncodeFailedMessage[] =
    "MP3ファイルの書き込みに失敗しました。\n録音を中止しました。ディスクの空き容量を確認してください。";
static const unsigned long kQueriedSelectors[] = {3, 4, 5, 6, 9, 11, 10, 12, 16};

int MPGE_CALL ReadPcm(void* buffer, unsigned long length)
{
    const LONG wanted = static_cast<LONG>(length);
    // Each read is the encoder moving on: a run that still encodes its backlog has not hung.
    NoteEncoderProgress();
    if (currentQueue->Available() >= wanted) {
        currentQueue->Read(buffer, length);
        return kEncoderReadFilled;
    }
    for (;;) {
        Sleep(kPcmWaitMilliseconds);
        // The flag first: no append follows it, so the amount seen after it is final.
        const LONG finished = currentQueue->IsFinished();
        if (currentQueue->Available() >= wanted) {
            currentQueue->Read(buffer, length);
            return kEncoderReadFilled;
        }
        if (finished) {
            const DWORD copied = currentQueue->Read(buffer, length);
            memset(static_cast<BYTE*>(buffer) + copied, 0, length - copied);
            return kEncoderReadEnded;
        }
    }
}

void PostStopCommand(HWND dialog)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD, kStopOnlyNotification), 0);
}

static void ConfigureEncoder(EncoderInputRecord* input)
{
    const EncoderLibrary& e = encoderLibrary;
    *input = {ReadPcm, kMpgeUnknownInputSize, kBitsPerSample, static_cast<unsigned long>(recordingSettings.sampleRate),
              recordingSettings.channels};
    e.setConfigure(kMpgeInput, kMpgeInputFromCallback, input);
    e.setConfigure(kMpgeOutput, kMpgeOutputToFile, startupOptions.recordingPath);
    e.setConfigure(kMpgeChannelMode, recordingSettings.channels == 1 ? kMpgeMono : kMpgeJointStereo, nullptr);
    e.setConfigure(kMpgeBitrate, static_cast<unsigned long>(recordingSettings.bitrateKbps), nullptr);
    e.setConfigure(kMpgeInfoTag, 1, nullptr);
    e.setConfigure(kMpgeReserved9, 1, nullptr);
}

static const char* InitializeFailureMessage(MpgeResult result)
{
    if (result == kMpgeNoFpu)
        return kNoFpuMessage;
    return result == kMpgeNoSse2 ? kNoSse2Message : kInitializeFailedMessage;
}

DWORD WINAPI EncoderWorker(void* dialogWindow)
{
    HWND dialog = static_cast<HWND>(dialogWindow);
    const EncoderLibrary& e = encoderLibrary;
    const MpgeResult initialized = e.initializeWork();
    if (initialized != kMpgeOk) {
        // Nobody would read the queue any more: the recording stops rather than grow it for hours.
        PostStopCommand(dialog);
        ShowMessage(nullptr, InitializeFailureMessage(initialized), kMessageCaption);
        return kWorkerDidNotStart;
    }
    EncoderInputRecord input;
    ConfigureEncoder(&input);
    const MpgeResult detected = e.detectConfigure();
    if (detected != kMpgeOk) {
        PostStopCommand(dialog);
        ShowMessage(nullptr, kBadConfigurationMessage, kMessageCaption);
        return kWorkerDidNotStart;
    }
    for (unsigned long selector : kQueriedSelectors) {
        unsigned long answer = 0;
        e.getConfigure(selector, &answer);
    }
    MpgeResult frame;
    do {
        frame = e.processFrame();
    } while (frame == kMpgeOk);
    // A failed frame leaves the file closed as far as it was written; a tag that could not be
    // written leaves a file whose length decoders cannot trust. Either way Save stays disabled.
    const MpgeResult closed = e.closeCoder();
    const MpgeResult failure = frame >= kFirstEncoderFailure ? frame : closed;
    if (failure != kMpgeOk) {
        PostStopCommand(dialog);
        ShowMessage(nullptr, kEncodeFailedMessage, kMessageCaption);
        return failure;
    }
    return 0;
}
