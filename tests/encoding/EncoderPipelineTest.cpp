#include <gtest/gtest.h>
#include <windows.h>
#include <math.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "encoding/EncoderLibrary.h"
#include "encoding/EncoderWorker.h"
#include "resources/resource.h"
#include "startup/RecordingSettings.h"
#include "startup/StartupOptions.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/WindowsPaths.h"

namespace {

// A window of the test thread that receives the worker's stop command while the test waits.
HANDLE stopArrived = nullptr;

LRESULT CALLBACK StopWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_RECORD && HIWORD(wParam) == kStopOnlyNotification && lParam == 0)
        SetEvent(stopArrived);
    return DefWindowProcA(window, message, wParam, lParam);
}

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = StopWindowProcedure;
        windowClass.lpszClassName = "WorkerTestWindow";
        RegisterClassA(&windowClass);
        window_ = CreateWindowA("WorkerTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        stopArrived = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        queue_ = new CMemoryStreamList;
        currentQueue = queue_;
        recordingSettings = RecordingSettings{2, 44100, 128, 4};
    }
    void TearDown() override
    {
        if (encoderLibrary.module)
            UnloadEncoderLibrary();
        currentQueue = nullptr;
        delete queue_;
        DestroyWindow(window_);
        CloseHandle(stopArrived);
    }

    // Runs the worker as the dialog's thread would: handling posted messages until it ends.
    DWORD RunWorker()
    {
        const DWORD kWorkerTimeoutMs = 120000;
        HANDLE worker = CreateThread(nullptr, 0, EncoderWorker, window_, 0, nullptr);
        const DWORD started = GetTickCount();
        while (MsgWaitForMultipleObjects(1, &worker, FALSE, kWorkerTimeoutMs, QS_ALLINPUT) == WAIT_OBJECT_0 + 1 &&
               GetTickCount() - started < kWorkerTimeoutMs) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
        }
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 0)) << "the worker did not end";
        DWORD exitCode = 0xDEAD;
        GetExitCodeThread(worker, &exitCode);
        CloseHandle(worker);
        return exitCode;
    }

    bool StopWasPosted() { return WaitForSingleObject(stopArrived, 0) == WAIT_OBJECT_0; }

    HWND window_ = nullptr;
    CMemoryStreamList* queue_ = nullptr;
};

typedef void(MPGE_CALL* FakeSetResults)(MpgeResult, MpgeResult, int, MpgeResult);
typedef const char*(MPGE_CALL* FakeCalls)(void);

class FakeWorkerTest : public WorkerTest {
protected:
    void SetUp() override
    {
        WorkerTest::SetUp();
        ASSERT_TRUE(EnterFolder(FAKES_DIR "/recording"));
        ASSERT_EQ(0, LoadEncoderLibrary());
        setResults_ = reinterpret_cast<FakeSetResults>(reinterpret_cast<void (*)()>(GetProcAddress(encoderLibrary.module, "FakeSetResults")));
        calls_ = reinterpret_cast<FakeCalls>(reinterpret_cast<void (*)()>(GetProcAddress(encoderLibrary.module, "FakeCalls")));
        std::vector<char> second(44100 * 4, 1);
        queue_->Append(second.data(), static_cast<DWORD>(second.size()));
        queue_->SetFinished();
    }
    FakeSetResults setResults_ = nullptr;
    FakeCalls calls_ = nullptr;
};

TEST_F(FakeWorkerTest, DrivesTheEncoderInItsOrderAndEndsWithZero)
{
    setResults_(kMpgeOk, kMpgeOk, -1, kMpgeOk);
    EXPECT_EQ(0u, RunWorker());
    EXPECT_STREQ("init set1=2 [44100 Hz 2 ch] set2=0 set3=2 set4=128 set8=1 set9=1 detect get3 get4 get5 get6 get9 "
                 "get11 get10 get12 get16 silent=0 frames=39 close ",
                 calls_());
    EXPECT_FALSE(StopWasPosted());
}

// Each failure posts the stop before its message, so capture ends while the message is up.
struct FailureSeen {
    std::string message;
    bool stopCameFirst;
};
FailureSeen failureSeen;

int NoteFailureMessage(HWND, const char* text, const char*)
{
    const DWORD kStopWaitMs = 5000;
    failureSeen.stopCameFirst = WaitForSingleObject(stopArrived, kStopWaitMs) == WAIT_OBJECT_0;
    failureSeen.message = text;
    return IDOK;
}

TEST_F(FakeWorkerTest, FailuresStopTheRecordingShowTheirMessageAndExitNonZero)
{
    const struct {
        MpgeResult initialize, detect;
        int failAfterFrames;
        MpgeResult close;
        const char* message;
        DWORD exitCode;
        const char* calls;
    } cases[] = {
        {kMpgeNoFpu, kMpgeOk, -1, kMpgeOk, "FPU(浮動小数点演算ユニット)が存在しません。\n", 1, "init "},
        {kMpgeNoSse2, kMpgeOk, -1, kMpgeOk, "このプロセッサはSSE2に対応していないため、エンコーダを使えません。\n", 1, "init "},
        {kMpgeNoSse2 + 1, kMpgeOk, -1, kMpgeOk, "エンコーダの初期化に失敗しました。\n", 1, "init "},
        {kMpgeOk, 25, -1, kMpgeOk, "エンコード設定が正しくありません。\nMP3ファイルが他のアプリで使用されていないか確認してください。", 1,
         "init set1=2 [44100 Hz 2 ch] set2=0 set3=2 set4=128 set8=1 set9=1 detect "},
        {kMpgeOk, kMpgeOk, 5, kMpgeOk, "MP3ファイルの書き込みに失敗しました。\n録音を中止しました。ディスクの空き容量を確認してください。", 2,
         "init set1=2 [44100 Hz 2 ch] set2=0 set3=2 set4=128 set8=1 set9=1 detect get3 get4 get5 get6 get9 "
         "get11 get10 get12 get16 close "},
        // The tag could not be written at the close (after the frame failure, it reads the rest of the queue).
        {kMpgeOk, kMpgeOk, -1, kMpgeWriteFailed, "MP3ファイルの書き込みに失敗しました。\n録音を中止しました。ディスクの空き容量を確認してください。", 2,
         "init set1=2 [44100 Hz 2 ch] set2=0 set3=2 set4=128 set8=1 set9=1 detect get3 get4 get5 get6 get9 "
         "get11 get10 get12 get16 silent=0 frames=34 close "},
    };
    for (const auto& c : cases) {
        setResults_(c.initialize, c.detect, c.failAfterFrames, c.close);
        ResetEvent(stopArrived);
        failureSeen = {};
        MessageSink previous = SetMessageSink(NoteFailureMessage);
        EXPECT_EQ(c.exitCode, RunWorker()) << c.message;
        SetMessageSink(previous);
        EXPECT_EQ(c.message, failureSeen.message);
        EXPECT_TRUE(failureSeen.stopCameFirst) << c.message;
        EXPECT_STREQ(c.calls, calls_());
    }
}

// The real library, fed as capture feeds it: the files are decoded afterwards by ffprobe, mpg123
// and ffmpeg (encoding.pipeline_files_decode_whole), which must give back exactly what was queued.
const double kTone = 441.0;

std::vector<short> Tone(int frames)
{
    std::vector<short> pcm;
    for (int n = 0;; ++n) {
        const short value = static_cast<short>(lround(12000 * sin(2 * 3.14159265358979 * kTone * n / 44100)));
        if (n >= frames && pcm.back() != 0)
            break;
        pcm.push_back(value);
        pcm.push_back(value);
    }
    return pcm;
}

struct Production {
    std::vector<short> pcm;
    DWORD chunkBytes;
    DWORD pauseMs;  // between chunks
    DWORD pauseBeforeEndMs;
    DWORD endTick;
};

DWORD WINAPI Produce(void* parameter)
{
    Production* p = static_cast<Production*>(parameter);
    const char* bytes = reinterpret_cast<const char*>(p->pcm.data());
    const DWORD total = static_cast<DWORD>(p->pcm.size() * sizeof(short));
    for (DWORD at = 0; at < total; at += p->chunkBytes) {
        currentQueue->Append(bytes + at, total - at < p->chunkBytes ? total - at : p->chunkBytes);
        Sleep(p->pauseMs);
    }
    Sleep(p->pauseBeforeEndMs);
    p->endTick = GetTickCount();
    currentQueue->SetFinished();
    return 0;
}

class EncoderWorkerRealLibrary : public WorkerTest {
protected:
    void SetUp() override
    {
        WorkerTest::SetUp();
        ASSERT_TRUE(EnterFolder(ENCODER_BIN_DIR));
        ASSERT_EQ(0, LoadEncoderLibrary());
    }

    void Record(const char* name, Production* production)
    {
        const std::string folder = WindowsPath(PIPELINE_DIR);
        const std::string path = folder + "\\" + name + ".mp3";
        lstrcpyA(startupOptions.recordingPath, path.c_str());
        HANDLE producer = CreateThread(nullptr, 0, Produce, production, 0, nullptr);
        EXPECT_EQ(0u, RunWorker());
        const DWORD finishedTick = GetTickCount();
        WaitForSingleObject(producer, INFINITE);
        CloseHandle(producer);
        printf("%s: file finished %lu ms after the end was declared\n", name, finishedTick - production->endTick);
        FILE* manifest = fopen((folder + "\\" + name + ".manifest").c_str(), "w");
        fprintf(manifest, "%s.mp3 44100 128 2 %u %.1f\n", name, static_cast<unsigned>(production->pcm.size() / 2), kTone);
        fclose(manifest);
        EXPECT_EQ(0, queue_->Available());
    }
};

TEST_F(EncoderWorkerRealLibrary, OneSecondChunksThenAPartialOne)
{
    Production p = {Tone(5 * 44100 + 16317), 44100 * 4, 1000, 0, 0};
    Record("chunks", &p);
}

TEST_F(EncoderWorkerRealLibrary, RecordingShorterThanOneSecond)
{
    Production p = {Tone(17640), 17640 * 4, 0, 0, 0};
    Record("short", &p);
}

TEST_F(EncoderWorkerRealLibrary, SixtySecondBacklogAtTheEnd)
{
    Production p = {Tone(60 * 44100), 44100 * 4, 0, 0, 0};
    Record("backlog", &p);
}

TEST_F(EncoderWorkerRealLibrary, EndArrivesWhileTheEncoderWaits)
{
    Production p = {Tone(2 * 44100 + 999), 44100 * 4, 300, 250, 0};
    Record("waiting", &p);
}

}  // namespace
