#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "encoderlib/EncoderApi.h"
#include "encoderlib/InfoTag.h"
#include "encoderlib/MpegTables.h"
#include "encoderlib/Mp3Encoder.h"
#include "encoderlib/OutputFile.h"

namespace {

std::vector<short> tone;
size_t toneRead = 0;

int MPGE_CALL ReadEndlessTone(void* buffer, unsigned long length)
{
    char* out = static_cast<char*>(buffer);
    const size_t total = tone.size() * sizeof(short);
    for (unsigned long index = 0; index < length; ++index, ++toneRead)
        out[index] = reinterpret_cast<const char*>(tone.data())[toneRead % total];
    return kEncoderReadFilled;
}

std::string TempPath(const char* name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

void WriteText(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadText(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buffer[256];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    return std::string(buffer, read);
}

struct Settings {
    bool setInput = true;
    unsigned long inputKind = kMpgeInputFromCallback;
    unsigned long bits = 16;
    unsigned long rate = 44100;
    unsigned long channels = 2;
    bool setMode = true;
    unsigned long mode = kMpgeJointStereo;
    unsigned long kbps = 128;
    bool setOutput = true;
    unsigned long outputKind = kMpgeOutputToFile;
};

EncoderInputRecord input;

MpgeResult Configure(const Settings& settings, const std::string& path)
{
    EXPECT_EQ(static_cast<MpgeResult>(kMpgeOk), MPGE_initializeWork());
    input = {ReadEndlessTone, kMpgeUnknownInputSize, settings.bits, settings.rate, settings.channels};
    if (settings.setInput)
        MPGE_setConfigure(kMpgeInput, settings.inputKind, &input);
    if (settings.setOutput)
        MPGE_setConfigure(kMpgeOutput, settings.outputKind, const_cast<char*>(path.c_str()));
    if (settings.setMode)
        MPGE_setConfigure(kMpgeChannelMode, settings.mode, nullptr);
    MPGE_setConfigure(kMpgeBitrate, settings.kbps, nullptr);
    MPGE_setConfigure(kMpgeInfoTag, 1, nullptr);
    MPGE_setConfigure(kMpgeReserved9, 1, nullptr);
    return MPGE_detectConfigure();
}

class Mp3EncoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tone.assign(4410 * 2, 0);
        for (size_t index = 0; index < tone.size(); ++index)
            tone[index] = static_cast<short>((index / 2) % 100 * 200 - 10000);
        // One file per test, as CTest runs tests side by side.
        path_ = TempPath((std::string("kanoru-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".mp3").c_str());
        WriteText(path_, "previous recording");
    }
    void TearDown() override
    {
        MPGE_endCoder();
        fileOperations = saved_;
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path_.c_str());
    }
    std::string path_;
    FileOperations saved_ = fileOperations;
};

TEST_F(Mp3EncoderTest, DetectRefusesWhatItCannotEncodeExactlyAndLeavesTheFileAlone)
{
    const struct {
        const char* why;
        Settings settings;
        MpgeResult expected;
    } cases[] = {
        {"8 kbit/s at 44.1 kHz", [] { Settings s; s.kbps = 8; return s; }(), kMpgeBadBitrate},
        {"320 kbit/s at 22.05 kHz", [] { Settings s; s.rate = 22050; s.kbps = 320; return s; }(), kMpgeBadBitrate},
        {"144 kbit/s at 48 kHz", [] { Settings s; s.rate = 48000; s.kbps = 144; return s; }(), kMpgeBadBitrate},
        {"no bitrate", [] { Settings s; s.kbps = 0; return s; }(), kMpgeBadBitrate},
        {"44 kHz", [] { Settings s; s.rate = 44000; return s; }(), kMpgeBadSampleRate},
        {"8 kHz", [] { Settings s; s.rate = 8000; s.kbps = 8; return s; }(), kMpgeBadSampleRate},
        {"mono mode for two channels", [] { Settings s; s.mode = kMpgeMono; return s; }(), kMpgeBadChannels},
        {"joint stereo for one channel", [] { Settings s; s.channels = 1; return s; }(), kMpgeBadChannels},
        {"unknown mode", [] { Settings s; s.mode = 7; return s; }(), kMpgeBadChannels},
        {"three channels", [] { Settings s; s.channels = 3; return s; }(), kMpgeBadChannels},
        {"8-bit samples", [] { Settings s; s.bits = 8; return s; }(), kMpgeBadInput},
        {"no input", [] { Settings s; s.setInput = false; return s; }(), kMpgeBadInput},
        {"input not from the callback", [] { Settings s; s.inputKind = 1; return s; }(), kMpgeBadInput},
        {"no output", [] { Settings s; s.setOutput = false; return s; }(), kMpgeBadOutput},
        {"output not to a file", [] { Settings s; s.outputKind = 1; return s; }(), kMpgeBadOutput},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, Configure(c.settings, path_)) << c.why;
        EXPECT_EQ(static_cast<MpgeResult>(kMpgeNotReady), MPGE_processFrame()) << c.why;
        EXPECT_EQ("previous recording", ReadText(path_)) << c.why;
    }
}

TEST_F(Mp3EncoderTest, FileThatCannotBeOpenedIsRefusedWithoutTruncatingIt)
{
    HANDLE held = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(static_cast<MpgeResult>(kMpgeCannotOpenOutput), Configure(Settings(), path_));
    CloseHandle(held);
    EXPECT_EQ("previous recording", ReadText(path_));

    SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(static_cast<MpgeResult>(kMpgeCannotOpenOutput), Configure(Settings(), path_));
    EXPECT_EQ("previous recording", ReadText(path_));

    const std::string missingFolder = TempPath("kanoru-no-such-folder\\take.mp3");
    EXPECT_EQ(static_cast<MpgeResult>(kMpgeCannotOpenOutput), Configure(Settings(), missingFolder));
    EXPECT_EQ("<missing>", ReadText(missingFolder));
}

TEST_F(Mp3EncoderTest, ConfigurationQueriesAnswerWhatWasSet)
{
    ASSERT_EQ(static_cast<MpgeResult>(kMpgeOk), Configure(Settings(), path_));
    const struct {
        unsigned long selector;
        unsigned long value;
    } expected[] = {{kMpgeChannelMode, kMpgeJointStereo}, {kMpgeBitrate, 128}, {kMpgeOutputSampleRate, 44100},
                    {kMpgeMpegVersion, 1}, {kMpgeReserved9, 1}, {kMpgeSamplesPerFrame, 1152},
                    {kMpgeFramesEncoded, 0}, {kMpgeEncoderDelay, 576}, {kMpgeBytesWritten, 417}};
    for (const auto& e : expected) {
        unsigned long value = 0xDEAD;
        EXPECT_EQ(static_cast<MpgeResult>(kMpgeOk), MPGE_getConfigure(e.selector, &value)) << e.selector;
        EXPECT_EQ(e.value, value) << "selector " << e.selector;
    }
    unsigned long value = 0;
    EXPECT_NE(static_cast<MpgeResult>(kMpgeOk), MPGE_getConfigure(99, &value));
}

int writesBeforeFailure = 0;
bool failWithShortWrite = false;

// A disk that fills up after writesBeforeFailure writes: from then on a write that would make the
// file longer fails, and one within what the file already holds succeeds.
BOOL WINAPI FailingWrite(HANDLE file, LPCVOID bytes, DWORD length, LPDWORD written, LPOVERLAPPED overlapped)
{
    const DWORD position = SetFilePointer(file, 0, nullptr, FILE_CURRENT);
    if (writesBeforeFailure-- > 0 || position + length <= GetFileSize(file, nullptr))
        return WriteFile(file, bytes, length, written, overlapped);
    *written = 0;
    if (failWithShortWrite)
        return TRUE;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// The file holds the tag frame and whole frames only, and the tag counts them (44.1 kHz joint stereo).
void ExpectTagCountsTheWholeFrames(const std::string& path)
{
    const int kSampleRate = 44100, kInfoAt = 4 + 32, kFramesAt = kInfoAt + 8;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::vector<uint8_t> bytes(GetFileSize(file, nullptr));
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    ASSERT_GT(bytes.size(), 1000u);
    ASSERT_EQ(0, memcmp(bytes.data() + kInfoAt, "Info", 4));
    const uint32_t tagFrames = (bytes[kFramesAt] << 24) | (bytes[kFramesAt + 1] << 16) | (bytes[kFramesAt + 2] << 8) |
                               bytes[kFramesAt + 3];
    size_t at = 0;
    uint32_t frames = 0;
    for (; at + 4 <= bytes.size(); ++frames) {
        ASSERT_EQ(0xFF, bytes[at]) << "a frame header at " << at;
        const int kbps = VersionOf(kSampleRate).bitrates[(bytes[at + 2] >> 4) - 1];
        at += FrameBytes(kSampleRate, kbps) + ((bytes[at + 2] >> 1) & 1);
    }
    EXPECT_EQ(bytes.size(), at) << "the file ends with a whole frame";
    EXPECT_GT(tagFrames, 10u);
    EXPECT_EQ(frames - 1, tagFrames) << "the tag counts the frames after it";
}

TEST_F(Mp3EncoderTest, WriteFailureMidFileIsReportedAtOnceAndForEver)
{
    for (bool shortWrite : {false, true}) {
        fileOperations = saved_;
        ASSERT_EQ(static_cast<MpgeResult>(kMpgeOk), Configure(Settings(), path_));
        fileOperations.write = FailingWrite;
        writesBeforeFailure = 50;
        failWithShortWrite = shortWrite;
        int calls = 0;
        MpgeResult result = kMpgeOk;
        // The encoder writes on most calls, so the failure must show within a few dozen calls.
        while (result == kMpgeOk && calls < 1000) {
            result = MPGE_processFrame();
            ++calls;
        }
        EXPECT_EQ(static_cast<MpgeResult>(kMpgeWriteFailed), result);
        EXPECT_LT(calls, 200);
        for (int again = 0; again < 3; ++again)
            EXPECT_EQ(static_cast<MpgeResult>(kMpgeWriteFailed), MPGE_processFrame());
        EXPECT_EQ(static_cast<MpgeResult>(kMpgeWriteFailed), MPGE_closeCoder());
        ExpectTagCountsTheWholeFrames(path_);
    }
}

BOOL WINAPI NoFeatures(DWORD)
{
    return FALSE;
}

BOOL WINAPI EmulatedFloatingPoint(DWORD feature)
{
    return feature == PF_FLOATING_POINT_EMULATED;
}

TEST_F(Mp3EncoderTest, ProcessorWithoutSse2IsRefusedAndNothingElseRuns)
{
    const auto saved = processorFeaturePresent;
    processorFeaturePresent = EmulatedFloatingPoint;
    EXPECT_EQ(static_cast<MpgeResult>(kMpgeNoFpu), MPGE_initializeWork());
    processorFeaturePresent = NoFeatures;
    const MpgeResult refusal = MPGE_initializeWork();
    EXPECT_NE(static_cast<MpgeResult>(kMpgeOk), refusal);
    EXPECT_NE(static_cast<MpgeResult>(kMpgeNoFpu), refusal) << "the program says the encoder did not initialise";
    EXPECT_EQ(static_cast<MpgeResult>(kMpgeNotReady), MPGE_detectConfigure());
    EXPECT_EQ(static_cast<MpgeResult>(kMpgeNotReady), MPGE_processFrame());
    unsigned long units = kMpgeUnitSse2;
    MPGE_getUnitStates(&units);
    EXPECT_EQ(0ul, units);
    EXPECT_EQ(static_cast<MpgeResult>(kMpgeOk), MPGE_endCoder()) << "so that the program can free the library";
    EXPECT_EQ("previous recording", ReadText(path_));
    processorFeaturePresent = saved;
}

TEST(InfoTag, LowBitratesGetATagFrameLargeEnoughToHoldTheTag)
{
    const struct {
        TagStream stream;
        int tagBitrate;
    } cases[] = {
        {{44100, 128, 1}, 128}, {{44100, 32, 1}, 64},  {{44100, 32, 3}, 56}, {{16000, 8, 3}, 40},
        {{16000, 8, 1}, 40},    {{24000, 160, 1}, 160}, {{48000, 320, 1}, 320}, {{22050, 64, 3}, 64},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.tagBitrate, TagFrameBitrate(c.stream)) << c.stream.sampleRate << " " << c.stream.bitrateKbps;
        uint8_t frame[1441];
        EXPECT_EQ(FrameBytes(c.stream.sampleRate, c.tagBitrate), BuildTagFrame(c.stream, nullptr, frame, sizeof frame));
    }
}

TEST(InfoTag, TagCrcIsTheCrc16ThatDecodersCheck)
{
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(0xBB3D, TagCrc16(check, sizeof check, 0));
    EXPECT_EQ(0xBB3D, TagCrc16(check + 4, 5, TagCrc16(check, 4, 0)));
}

}  // namespace
