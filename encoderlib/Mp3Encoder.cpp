#include <windows.h>
#include <string.h>

#include <lame.h>

#include "encoderlib/Mp3Encoder.h"
#include "encoderlib/InfoTag.h"
#include "encoderlib/MpegTables.h"
#include "encoderlib/OutputFile.h"

// LAME's own default: measured as fast as 5 and twice as fast as 2 (bench/encoder), so it keeps
// up in real time with a wide margin while keeping LAME's better noise shaping.
static const int kLameQuality = 3;
static const int kBytesPerSample = 2;
static const int kLargestFrameSamples = 1152;
// LAME's own bound for the output of one call: 1.25 times the samples plus 7200 bytes.
static const int kMp3BufferBytes = kLargestFrameSamples * 5 / 4 + 7200;
static const int kLargestTagFrameBytes = 1441;

enum Phase { kIdle, kEncoding, kEnded, kFailed };

struct EncoderState {
    Phase phase;
    MpgeResult failure;
    bool haveInput;
    unsigned long inputKind;
    EncoderInputRecord input;
    bool haveOutput;
    unsigned long outputKind;
    char outputPath[MAX_PATH];
    bool haveChannelMode;
    unsigned long channelMode;
    unsigned long bitrateKbps;
    unsigned long infoTag;
    unsigned long reserved9;
    lame_global_flags* lame;
    OutputFile file;
    TagStream tagStream;
    int tagFrameBytes;
    unsigned long blockBytes;
    bool anySamples;
    short pcm[kLargestFrameSamples * 2];
    unsigned char mp3[kMp3BufferBytes];
};

static EncoderState state = {kIdle, 0, false, 0, {}, false, 0, {0}, false, 0, 0, 1, 0, nullptr,
                             {INVALID_HANDLE_VALUE, 0, 0, 0, {}}, {0, 0, 0}, 0, 0, false, {0}, {0}};

static void Silence(const char*, va_list) {}

static MPEG_mode LameMode(unsigned long channelMode)
{
    switch (channelMode) {
    case kMpgeMono: return MONO;
    case kMpgeStereo: return STEREO;
    case kMpgeDualChannel: return DUAL_CHANNEL;
    default: return JOINT_STEREO;
    }
}

static void ReleaseEncoder()
{
    CloseOutputFile(&state.file);
    if (state.lame)
        lame_close(state.lame);
    state.lame = nullptr;
    state.phase = kIdle;
}

static MpgeResult Fail(MpgeResult failure)
{
    state.phase = kFailed;
    state.failure = failure;
    return failure;
}

static unsigned long ChannelModeFor(unsigned long channels)
{
    if (state.haveChannelMode)
        return state.channelMode;
    return channels == 1 ? kMpgeMono : kMpgeJointStereo;
}

// Everything that LAME would otherwise quietly change is refused here.
static MpgeResult CheckSettings()
{
    const EncoderInputRecord& input = state.input;
    if (!state.haveInput || state.inputKind != kMpgeInputFromCallback || !input.read || input.bitsPerSample != 16)
        return kMpgeBadInput;
    const int sampleRate = static_cast<int>(input.sampleRate);
    if (SampleRateIndex(sampleRate) < 0)
        return kMpgeBadSampleRate;
    if (input.channels != 1 && input.channels != 2)
        return kMpgeBadChannels;
    const unsigned long mode = ChannelModeFor(input.channels);
    if (mode > kMpgeDualChannel || (mode == kMpgeMono) != (input.channels == 1))
        return kMpgeBadChannels;
    if (BitrateIndex(sampleRate, static_cast<int>(state.bitrateKbps)) == 0)
        return kMpgeBadBitrate;
    if (!state.haveOutput || state.outputKind != kMpgeOutputToFile || state.outputPath[0] == '\0')
        return kMpgeBadOutput;
    return kMpgeOk;
}

static lame_global_flags* StartLame()
{
    lame_global_flags* lame = lame_init();
    if (!lame)
        return nullptr;
    lame_set_errorf(lame, Silence);
    lame_set_debugf(lame, Silence);
    lame_set_msgf(lame, Silence);
    lame_set_in_samplerate(lame, static_cast<int>(state.input.sampleRate));
    lame_set_out_samplerate(lame, static_cast<int>(state.input.sampleRate));
    lame_set_num_channels(lame, static_cast<int>(state.input.channels));
    lame_set_mode(lame, LameMode(ChannelModeFor(state.input.channels)));
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, static_cast<int>(state.bitrateKbps));
    lame_set_quality(lame, kLameQuality);
    // The tag frame is ours: LAME drops its own where the frames are too small to hold it.
    lame_set_bWriteVbrTag(lame, 0);
    if (lame_init_params(lame) < 0 || lame_get_out_samplerate(lame) != static_cast<int>(state.input.sampleRate) ||
        lame_get_brate(lame) != static_cast<int>(state.bitrateKbps)) {
        lame_close(lame);
        return nullptr;
    }
    return lame;
}

static bool WriteTagFrame(const TagFacts* facts)
{
    unsigned char frame[kLargestTagFrameBytes];
    const int size = BuildTagFrame(state.tagStream, facts, frame, sizeof frame);
    return size > 0 && WriteAtStart(&state.file, frame, static_cast<uint32_t>(size));
}

void Mp3InitializeWork()
{
    ReleaseEncoder();
    state.haveInput = state.haveOutput = state.haveChannelMode = false;
    state.bitrateKbps = 0;
    state.infoTag = 1;
    state.reserved9 = 0;
}

MpgeResult Mp3SetConfigure(unsigned long selector, unsigned long value, void* pointer)
{
    switch (selector) {
    case kMpgeInput:
        state.haveInput = pointer != nullptr;
        state.inputKind = value;
        if (pointer)
            state.input = *static_cast<const EncoderInputRecord*>(pointer);
        return kMpgeOk;
    case kMpgeOutput: {
        const char* path = static_cast<const char*>(pointer);
        state.outputKind = value;
        state.haveOutput = path && strlen(path) < MAX_PATH;
        if (state.haveOutput)
            strcpy(state.outputPath, path);
        return kMpgeOk;
    }
    case kMpgeChannelMode:
        state.haveChannelMode = true;
        state.channelMode = value;
        return kMpgeOk;
    case kMpgeBitrate:
        state.bitrateKbps = value;
        return kMpgeOk;
    case kMpgeInfoTag:
        state.infoTag = value;
        return kMpgeOk;
    case kMpgeReserved9:
        state.reserved9 = value;
        return kMpgeOk;
    default:
        return kMpgeUnknownSelector;
    }
}

MpgeResult Mp3DetectConfigure()
{
    ReleaseEncoder();
    const MpgeResult settings = CheckSettings();
    if (settings != kMpgeOk)
        return settings;
    state.lame = StartLame();
    if (!state.lame)
        return kMpgeBadBitrate;
    if (!OpenOutputFile(&state.file, state.outputPath, static_cast<int>(state.input.sampleRate))) {
        ReleaseEncoder();
        return kMpgeCannotOpenOutput;
    }
    state.tagStream.sampleRate = static_cast<int>(state.input.sampleRate);
    state.tagStream.bitrateKbps = static_cast<int>(state.bitrateKbps);
    state.tagStream.headerMode = LameMode(ChannelModeFor(state.input.channels));
    state.tagFrameBytes = state.infoTag ? FrameBytes(state.tagStream.sampleRate, TagFrameBitrate(state.tagStream)) : 0;
    // A placeholder holds the tag's place from the start, so a file cut short still decodes.
    if (state.infoTag && !WriteTagFrame(nullptr)) {
        ReleaseEncoder();
        return kMpgeCannotOpenOutput;
    }
    state.blockBytes = static_cast<unsigned long>(lame_get_framesize(state.lame)) * state.input.channels * kBytesPerSample;
    state.anySamples = false;
    state.phase = kEncoding;
    return kMpgeOk;
}

MpgeResult Mp3GetConfigure(unsigned long selector, unsigned long* value)
{
    if (!value)
        return kMpgeUnknownSelector;
    lame_global_flags* lame = state.lame;
    switch (selector) {
    case kMpgeChannelMode: *value = ChannelModeFor(state.input.channels); break;
    case kMpgeBitrate: *value = state.bitrateKbps; break;
    case kMpgeOutputSampleRate: *value = state.input.sampleRate; break;
    case kMpgeMpegVersion: *value = IsMpeg1(static_cast<int>(state.input.sampleRate)) ? 1 : 2; break;
    case kMpgeInfoTag: *value = state.infoTag; break;
    case kMpgeReserved9: *value = state.reserved9; break;
    case kMpgeFramesEncoded: *value = lame ? static_cast<unsigned long>(lame_get_frameNum(lame)) : 0; break;
    case kMpgeSamplesPerFrame: *value = lame ? static_cast<unsigned long>(lame_get_framesize(lame)) : 0; break;
    case kMpgeEncoderDelay: *value = lame ? static_cast<unsigned long>(lame_get_encoder_delay(lame)) : 0; break;
    case kMpgeBytesWritten: *value = state.file.bytesWritten + static_cast<unsigned long>(state.tagFrameBytes); break;
    default: return kMpgeUnknownSelector;
    }
    return kMpgeOk;
}

// The last block carries zeros after the last bytes; they are padding, not recording, and are left
// out so that the file trims to the recorded length (a recording cannot end in true silence shorter
// than one block and lose anything audible).
static int SamplesInLastBlock(const short* pcm, int samples, int channels)
{
    while (samples > 0) {
        bool silent = true;
        for (int channel = 0; channel < channels; ++channel)
            silent = silent && pcm[(samples - 1) * channels + channel] == 0;
        if (!silent)
            break;
        --samples;
    }
    return samples;
}

MpgeResult Mp3ProcessFrame()
{
    if (state.phase == kFailed)
        return state.failure;
    if (state.phase == kEnded)
        return kMpgeEnded;
    if (state.phase != kEncoding)
        return kMpgeNotReady;
    const int channels = static_cast<int>(state.input.channels);
    const bool ended = state.input.read(state.pcm, state.blockBytes) != kEncoderReadFilled;
    int samples = static_cast<int>(state.blockBytes) / (channels * kBytesPerSample);
    if (ended)
        samples = SamplesInLastBlock(state.pcm, samples, channels);
    // A recording that ended before any sound came still makes a file that every decoder opens:
    // one silent sample (the block is zeros), which the tag trims the stream to.
    if (ended && !state.anySamples && samples == 0)
        samples = 1;
    state.anySamples = state.anySamples || samples > 0;
    int bytes = channels == 1
                    ? lame_encode_buffer(state.lame, state.pcm, nullptr, samples, state.mp3, kMp3BufferBytes)
                    : lame_encode_buffer_interleaved(state.lame, state.pcm, samples, state.mp3, kMp3BufferBytes);
    if (bytes < 0)
        return Fail(kMpgeEncodeFailed);
    if (!WriteMusic(&state.file, state.mp3, static_cast<uint32_t>(bytes)))
        return Fail(kMpgeWriteFailed);
    if (!ended)
        return kMpgeOk;
    bytes = lame_encode_flush(state.lame, state.mp3, kMp3BufferBytes);
    if (bytes < 0)
        return Fail(kMpgeEncodeFailed);
    if (!WriteMusic(&state.file, state.mp3, static_cast<uint32_t>(bytes)))
        return Fail(kMpgeWriteFailed);
    state.phase = kEnded;
    return kMpgeEnded;
}

static TagFacts FactsOf(uint32_t audioFrames, uint32_t musicBytes, int encoderPadding, uint16_t musicCrc)
{
    TagFacts facts;
    facts.audioFrames = audioFrames;
    facts.fileBytes = musicBytes + static_cast<uint32_t>(state.tagFrameBytes);
    facts.encoderDelay = lame_get_encoder_delay(state.lame);
    facts.encoderPadding = encoderPadding;
    facts.lowpassHz = lame_get_lowpassfreq(state.lame);
    facts.quality = kLameQuality;
    facts.musicCrc = musicCrc;
    return facts;
}

// After a failed write the file keeps its whole frames, and the tag, rewritten in place where it
// needs no new space, tells their count, so that players show the length that is there.
static void TagWhatWasWritten()
{
    const WholeFrames& frames = state.file.wholeFrames;
    const TagFacts facts = FactsOf(frames.count, frames.bytes, 0, frames.crc);
    if (CutAfterWholeFrames(&state.file, static_cast<uint32_t>(state.tagFrameBytes)))
        WriteTagFrame(&facts);
}

MpgeResult Mp3CloseCoder()
{
    MpgeResult result = kMpgeOk;
    if (state.phase == kEnded && state.infoTag) {
        const TagFacts facts = FactsOf(static_cast<uint32_t>(lame_get_frameNum(state.lame)), state.file.bytesWritten,
                                       lame_get_encoder_padding(state.lame), state.file.musicCrc);
        if (!WriteTagFrame(&facts))
            result = kMpgeWriteFailed;
    } else if (state.phase == kFailed) {
        result = state.failure;
        if (state.failure == kMpgeWriteFailed && state.infoTag)
            TagWhatWasWritten();
    }
    ReleaseEncoder();
    return result;
}

void Mp3EndCoder()
{
    ReleaseEncoder();
}
