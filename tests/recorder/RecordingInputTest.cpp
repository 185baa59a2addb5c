// What the input makes of the audio it is handed, with no window and no device.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "encoding/EncoderWorker.h"
#include "recorder/RecordingInput.h"
#include "tests/support/ScriptedDevice.h"

namespace {

// Four seconds of 22050 Hz audio, each channel at an offset of its own, and a tone on one channel
// or none: silence is judged per channel, so that offsets apart do not pass for sound.
TEST(RecordingInput, SilenceIsJudgedChannelByChannel)
{
    const struct {
        const char* name;
        WORD channels;
        SHORT offsets[2];
        int toneChannel;  // -1: none
        bool silent;
    } rows[] = {
        {"stereo at one offset", 2, {0, 0}, -1, true},
        {"stereo at offsets 0 and 300", 2, {0, 300}, -1, true},
        {"a tone on the right", 2, {0, 300}, 1, false},
        {"a mono converter's offset", 1, {3000, 0}, -1, true},
        {"a mono tone", 1, {0, 0}, 0, false},
    };
    const DWORD kRate = 22050, kSeconds = 4, kToneSpan = 1000;
    // Its clock.
    InstallScriptedDevice();
    for (const auto& row : rows) {
        const WAVEFORMATEX format = InputFormat(row.channels, kRate);
        currentQueue = new CMemoryStreamList;
        StartInput(format, 64, 0, 0);
        std::vector<SHORT> second(kRate * row.channels);
        for (size_t index = 0; index < second.size(); ++index) {
            const int channel = static_cast<int>(index % row.channels);
            const bool tone = channel == row.toneChannel && (index / row.channels) % 2;
            second[index] = static_cast<SHORT>(row.offsets[channel] + (tone ? kToneSpan : 0));
        }
        for (DWORD n = 0; n < kSeconds; ++n)
            OnInputAudio(nullptr, second.data(), format.nAvgBytesPerSec, true);
        EXPECT_EQ(row.silent, InputWasSilent()) << row.name;
        delete currentQueue;
        currentQueue = nullptr;
    }
}

const DWORD kMonoRate = 22050;
const std::vector<SHORT> kSilentSecond(kMonoRate);

// Silent mono seconds handed to an input started afresh on the scripted device's clock.
static void HandSilentSeconds(int seconds)
{
    for (int second = 0; second < seconds; ++second) {
        device.now += 1000;
        OnInputAudio(nullptr, kSilentSecond.data(), kMonoRate * sizeof(SHORT), true);
    }
}

static void StartMonoInput()
{
    InstallScriptedDevice();
    currentQueue = new CMemoryStreamList;
    StartInput(InputFormat(1, kMonoRate), 64, 0, device.now);
}

static void EndMonoInput()
{
    FillUpToTheStop(nullptr);
    delete currentQueue;
    currentQueue = nullptr;
}

// A silence is of the audio that came: thirty silent seconds on each side of a gap are no minute.
TEST(RecordingInput, GapEndsASilence)
{
    StartMonoInput();
    HandSilentSeconds(30);
    OnInputLost(nullptr, nullptr, 0, false);
    device.now += 40000;
    KeepTime(nullptr, device.now, false, true);
    HandSilentSeconds(30);
    EndMonoInput();
    EXPECT_EQ(1, recordingInput.clock.gaps.count);
    EXPECT_EQ(0, recordingInput.level.silences.count);
}

// A device opened again inside a gap and lost before its first buffer: what it had captured came
// just before the loss, so the gap ends there and a second begins after it.
TEST(RecordingInput, LastAudioOfADeviceLostInsideAGapEndsIt)
{
    StartMonoInput();
    const DWORD started = device.now;
    HandSilentSeconds(10);
    OnInputLost(nullptr, nullptr, 0, false);
    device.now = started + 11000;
    KeepTime(nullptr, device.now, false, true);
    // One opened at 11 s is lost at 12 s with nothing written; the next, opened at once, gives nothing
    // until it is lost at 14.5 s with half a second written.
    device.now = started + 12000;
    OnInputLost(nullptr, nullptr, 0, true);
    device.now = started + 14500;
    KeepTime(nullptr, device.now, false, false);
    OnInputLost(nullptr, kSilentSecond.data(), kMonoRate * sizeof(SHORT) / 2, true);
    device.now = started + 16000;
    KeepTime(nullptr, device.now, false, true);
    HandSilentSeconds(1);
    EndMonoInput();
    const Stretches& gaps = recordingInput.clock.gaps;
    ASSERT_EQ(2, gaps.count);
    EXPECT_EQ(10000u, gaps.first[0].atMs);
    EXPECT_EQ(4000u, gaps.first[0].lengthMs);
    EXPECT_EQ(14500u, gaps.first[1].atMs);
    EXPECT_EQ(1500u, gaps.first[1].lengthMs);
    EXPECT_EQ(17000u, MillisecondsIn(recordingInput.clock, recordingInput.clock.queuedBytes));
}

}  // namespace
