#pragma once

#include <stdint.h>

// The first frame of every file: an "Info" tag (with LAME's extension) that tells decoders the
// frame count, the encoder delay and the padding, so that they show the true length and trim to
// the exact sample count.

struct TagStream {
    int sampleRate;  // Hz
    int bitrateKbps;  // the audio frames' bitrate
    int headerMode;  // the frame header's channel mode: 0 stereo, 1 joint, 2 dual, 3 mono
};

struct TagFacts {
    uint32_t audioFrames;
    uint32_t fileBytes;  // the whole file, the tag frame included
    int encoderDelay;  // samples
    int encoderPadding;  // samples
    int lowpassHz;
    int quality;
    uint16_t musicCrc;  // over every byte after the tag frame
};

// The bitrate of the tag frame: the stream's own when its frames can hold the tag, otherwise the
// smallest larger bitrate of the same MPEG version that can (low bitrates leave too little room).
int TagFrameBitrate(const TagStream& stream);

// Bytes in a frame without padding.
int FrameBytes(int sampleRate, int bitrateKbps);

// Writes the tag frame (FrameBytes of the tag's bitrate) into frame. Without facts it writes a
// placeholder with no fields, which decoders skip as well, for a file still being recorded.
int BuildTagFrame(const TagStream& stream, const TagFacts* facts, uint8_t* frame, int frameSize);

// CRC-16 as the tag uses it (polynomial 0x8005, reflected), continued from crc.
uint16_t TagCrc16(const uint8_t* bytes, uint32_t length, uint16_t crc);
