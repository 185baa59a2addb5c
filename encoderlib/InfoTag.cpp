#include "encoderlib/InfoTag.h"

#include <string.h>

#include "encoderlib/MpegTables.h"

static const int kHeaderModeMono = 3;

static const int kXingFieldsBytes = 4 + 4 + 4 + 4 + 100 + 4;  // "Info", flags, frames, bytes, TOC, quality
static const int kLameExtensionBytes = 36;
static const int kTagCrcOffsetInExtension = 34;
static const uint32_t kFlagFrames = 0x1, kFlagBytes = 0x2, kFlagToc = 0x4, kFlagQuality = 0x8;
static const int kCbrMethod = 1;
static const int kLargestDelayOrPadding = 0xFFF;

static int SideInfoBytes(const TagStream& stream)
{
    const bool mono = stream.headerMode == kHeaderModeMono;
    if (IsMpeg1(stream.sampleRate))
        return mono ? 17 : 32;
    return mono ? 9 : 17;
}

static int TagBytes(const TagStream& stream)
{
    return kFrameHeaderBytes + SideInfoBytes(stream) + kXingFieldsBytes + kLameExtensionBytes;
}

int FrameBytes(int sampleRate, int bitrateKbps)
{
    const int slotsPerSecond = IsMpeg1(sampleRate) ? 144000 : 72000;
    return slotsPerSecond * bitrateKbps / sampleRate;
}

int TagFrameBitrate(const TagStream& stream)
{
    const int* bitrates = VersionOf(stream.sampleRate).bitrates;
    for (int position = 0; position < kBitratesPerVersion; ++position) {
        if (bitrates[position] >= stream.bitrateKbps &&
            FrameBytes(stream.sampleRate, bitrates[position]) >= TagBytes(stream))
            return bitrates[position];
    }
    return bitrates[kBitratesPerVersion - 1];
}

static void WriteHeader(const TagStream& stream, int kbps, uint8_t* frame)
{
    const int versionBits = IsMpeg1(stream.sampleRate) ? 3 : 2;
    const int layerThree = 1, noCrc = 1, original = 1;
    frame[0] = 0xFF;
    frame[1] = static_cast<uint8_t>(0xE0 | versionBits << 3 | layerThree << 1 | noCrc);
    frame[2] = static_cast<uint8_t>(BitrateIndex(stream.sampleRate, kbps) << 4 | SampleRateIndex(stream.sampleRate) << 2);
    frame[3] = static_cast<uint8_t>(stream.headerMode << 6 | original << 2);
}

static uint8_t* PutBigEndian32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
    return at + 4;
}

static void PutBigEndian16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

static int Clamp12Bits(int value)
{
    return value < 0 ? 0 : value > kLargestDelayOrPadding ? kLargestDelayOrPadding : value;
}

static int SourceRateBits(int sampleRate)
{
    return sampleRate == 44100 ? 1 : sampleRate == 48000 ? 2 : 0;
}

static void WriteLameExtension(const TagStream& stream, const TagFacts& facts, uint8_t* at)
{
    memcpy(at, "LAME3.100", 9);
    at[9] = kCbrMethod;
    at[10] = static_cast<uint8_t>(facts.lowpassHz / 100 > 255 ? 255 : facts.lowpassHz / 100);
    at[20] = static_cast<uint8_t>(stream.bitrateKbps > 255 ? 255 : stream.bitrateKbps);
    const int delay = Clamp12Bits(facts.encoderDelay), padding = Clamp12Bits(facts.encoderPadding);
    at[21] = static_cast<uint8_t>(delay >> 4);
    at[22] = static_cast<uint8_t>((delay & 0xF) << 4 | padding >> 8);
    at[23] = static_cast<uint8_t>(padding);
    at[24] = static_cast<uint8_t>(SourceRateBits(stream.sampleRate) << 6);
    PutBigEndian32(at + 28, facts.fileBytes);
    PutBigEndian16(at + 32, facts.musicCrc);
}

int BuildTagFrame(const TagStream& stream, const TagFacts* facts, uint8_t* frame, int frameSize)
{
    const int kbps = TagFrameBitrate(stream);
    const int size = FrameBytes(stream.sampleRate, kbps);
    if (size > frameSize || size < TagBytes(stream))
        return 0;
    memset(frame, 0, size);
    WriteHeader(stream, kbps, frame);
    uint8_t* xing = frame + kFrameHeaderBytes + SideInfoBytes(stream);
    memcpy(xing, "Info", 4);
    if (!facts)
        return size;
    uint8_t* at = PutBigEndian32(xing + 4, kFlagFrames | kFlagBytes | kFlagToc | kFlagQuality);
    at = PutBigEndian32(at, facts->audioFrames);
    at = PutBigEndian32(at, facts->fileBytes);
    for (int point = 0; point < 100; ++point)
        *at++ = static_cast<uint8_t>(point * 256 / 100);  // constant bitrate: the table is linear
    at = PutBigEndian32(at, static_cast<uint32_t>(facts->quality));
    WriteLameExtension(stream, *facts, at);
    const int crcOffset = static_cast<int>(at - frame) + kTagCrcOffsetInExtension;
    PutBigEndian16(frame + crcOffset, TagCrc16(frame, static_cast<uint32_t>(crcOffset), 0));
    return size;
}

uint16_t TagCrc16(const uint8_t* bytes, uint32_t length, uint16_t crc)
{
    for (uint32_t index = 0; index < length; ++index) {
        crc ^= bytes[index];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}
