#include <gtest/gtest.h>

#include <string>

#include "startup/RecordingSettings.h"

namespace {

struct RateRow {
    const char* khzLabel;
    int hz;
    int bitrates[kBitrateRowLength];
};

// The legal combinations written out independently of the program's tables.
const RateRow kLegalRates[] = {
    {"16", 16000, {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {"22", 22050, {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {"24", 24000, {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {"32", 32000, {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {"44", 44100, {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {"48", 48000, {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
};

const RecordingSettings kSentinel = {7, 12345, 999, 42};

bool SameSettings(const RecordingSettings& a, const RecordingSettings& b)
{
    return a.channels == b.channels && a.sampleRate == b.sampleRate && a.bitrateKbps == b.bitrateKbps &&
           a.sampleRateIndex == b.sampleRateIndex;
}

class RecordingSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = recordingSettings; }
    void TearDown() override { recordingSettings = saved_; }
    RecordingSettings saved_;
};

TEST_F(RecordingSettingsTest, InitialSettingsAreMono22kHz80Kbps)
{
    EXPECT_EQ(1, recordingSettings.channels);
    EXPECT_EQ(22050, recordingSettings.sampleRate);
    EXPECT_EQ(80, recordingSettings.bitrateKbps);
    EXPECT_EQ(0, recordingSettings.sampleRateIndex);
}

TEST_F(RecordingSettingsTest, EveryLegalPresetGivesExactlyItsSettings)
{
    int accepted = 0;
    for (int channels = 1; channels <= 2; ++channels) {
        for (const RateRow& rate : kLegalRates) {
            for (int kbps : rate.bitrates) {
                const std::string preset =
                    std::to_string(kbps) + "_" + rate.khzLabel + "_" + std::to_string(channels);
                recordingSettings = kSentinel;
                ASSERT_TRUE(ParsePreset(preset.c_str())) << preset;
                EXPECT_EQ(channels, recordingSettings.channels) << preset;
                EXPECT_EQ(rate.hz, recordingSettings.sampleRate) << preset;
                EXPECT_EQ(kbps, recordingSettings.bitrateKbps) << preset;
                EXPECT_EQ(kSentinel.sampleRateIndex, recordingSettings.sampleRateIndex) << preset;
                ++accepted;
            }
        }
    }
    EXPECT_EQ(168, accepted);
}

TEST_F(RecordingSettingsTest, NearMissesAreRefusedAndChangeNothing)
{
    const char* const refused[] = {
        "320_22_2", "8_44_1", "128_44100_2", "128_44_3", "0128_44_2", "128-44-2", "", "128_44_0",
        "128_44", "128_44_2_", "128_44_22", "128_44_2 ", " 128_44_2", "128_44.1_2", "128_22.05_2",
        "128_45_2", "129_44_2", "1_1_1", "128__44_2", "_128_44_2", "128_44_2x", "128_044_2",
        "8_48_2", "144_44_1", "8_32_1", "320_24_1", "128_44_-2", "+128_44_2", "128_4_2",
        "128\t44\t2", "80_22_1\n",
    };
    for (const char* text : refused) {
        recordingSettings = kSentinel;
        EXPECT_FALSE(ParsePreset(text)) << '"' << text << '"';
        EXPECT_TRUE(SameSettings(kSentinel, recordingSettings)) << '"' << text << '"';
    }
}

TEST_F(RecordingSettingsTest, NamedPresetsSelectTheirSettings)
{
    struct Case {
        const char* text;
        int channels, hz, kbps;
    } const cases[] = {
        {"128_44_2", 2, 44100, 128},
        {"8_16_1", 1, 16000, 8},
        {"80_22_1", 1, 22050, 80},
        {"320_48_2", 2, 48000, 320},
        {"160_24_1", 1, 24000, 160},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ParsePreset(c.text)) << c.text;
        EXPECT_EQ(c.channels, recordingSettings.channels) << c.text;
        EXPECT_EQ(c.hz, recordingSettings.sampleRate) << c.text;
        EXPECT_EQ(c.kbps, recordingSettings.bitrateKbps) << c.text;
    }
}

TEST(RecordingSettingsLookups, FindBitrateIndexSearchesTheRowOfTheSampleRate)
{
    EXPECT_EQ(5, FindBitrateIndex(4, 80));
    EXPECT_EQ(8, FindBitrateIndex(1, 80));
    EXPECT_EQ(-1, FindBitrateIndex(1, 192));
    EXPECT_EQ(0, FindBitrateIndex(3, 32));
    EXPECT_EQ(13, FindBitrateIndex(5, 320));
    EXPECT_EQ(13, FindBitrateIndex(2, 160));
    EXPECT_EQ(-1, FindBitrateIndex(5, 8));
    // Index -1 truncates toward zero and so searches row 0.
    EXPECT_EQ(0, FindBitrateIndex(-1, 8));
    EXPECT_EQ(-1, FindBitrateIndex(-1, 320));
}

TEST(RecordingSettingsLookups, FindSampleRateIndexKnowsOnlyTheSixRates)
{
    const int rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
    for (int index = 0; index < 6; ++index)
        EXPECT_EQ(index, FindSampleRateIndex(rates[index]));
    for (int hz : {0, -1, 8000, 11025, 22000, 44000, 96000, 16000 + 65536})
        EXPECT_EQ(-1, FindSampleRateIndex(hz)) << hz;
}

TEST(RecordingSettingsLookups, BitrateAtReadsTheRowOfTheSampleRate)
{
    for (int index = 0; index < 6; ++index) {
        for (int position = 0; position < kBitrateRowLength; ++position)
            EXPECT_EQ(kLegalRates[index].bitrates[position], BitrateAt(index, position));
    }
}

TEST(RecordingSettingsLookups, ChannelModeIndexIsZeroForMonoAndOneForStereo)
{
    EXPECT_EQ(0, ChannelModeIndex(1));
    EXPECT_EQ(1, ChannelModeIndex(2));
}

TEST(RecordingSettingsLookups, BitrateLabelsReadAsTheListShowsThem)
{
    char label[kBitrateLabelSize];
    const struct {
        int kbps;
        const char* text;
    } cases[] = {{8, "8kbps"}, {80, "80kbps"}, {128, "128kbps"}, {320, "320kbps"}};
    for (const auto& c : cases) {
        FormatBitrateLabel(c.kbps, label);
        EXPECT_STREQ(c.text, label);
    }
}

}  // namespace
