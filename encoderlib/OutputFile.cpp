#include "encoderlib/OutputFile.h"

#include "encoderlib/InfoTag.h"
#include "encoderlib/MpegTables.h"

FileOperations fileOperations = {CreateFileA, WriteFile, SetFilePointer, SetEndOfFile, CloseHandle};

// OPEN_ALWAYS rather than CREATE_ALWAYS: a file that cannot be shared is refused before anything
// of it is cut away.
bool OpenOutputFile(OutputFile* file, const char* path, int sampleRate)
{
    file->sampleRate = sampleRate;
    file->bytesWritten = 0;
    file->musicCrc = 0;
    file->wholeFrames = {};
    file->handle = INVALID_HANDLE_VALUE;
    // Asked first: an administrator's open would otherwise get through the read-only attribute.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    file->handle = fileOperations.create(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file->handle == INVALID_HANDLE_VALUE)
        return false;
    if (!fileOperations.setEnd(file->handle)) {
        CloseOutputFile(file);
        return false;
    }
    return true;
}

static bool WriteAll(HANDLE handle, const uint8_t* bytes, uint32_t length)
{
    while (length > 0) {
        DWORD written = 0;
        if (!fileOperations.write(handle, bytes, length, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        length -= written;
    }
    return true;
}

// A frame's length from its header: the bitrate's index and the padding bit; 0 for an index that
// gives no length (free format, or not a bitrate).
static uint32_t FrameLength(int sampleRate, const uint8_t header[kFrameHeaderBytes])
{
    const int kPaddingBit = 0x02;
    const int bitrateIndex = header[2] >> 4;
    if (bitrateIndex < 1 || bitrateIndex > kBitratesPerVersion)
        return 0;
    const int kbps = VersionOf(sampleRate).bitrates[bitrateIndex - 1];
    return static_cast<uint32_t>(FrameBytes(sampleRate, kbps) + ((header[2] & kPaddingBit) ? 1 : 0));
}

// Walks the frames through bytes and carries the music's CRC over them: one pass for both.
static void CountWholeFrames(OutputFile* file, const uint8_t* bytes, uint32_t length)
{
    WholeFrames& frames = file->wholeFrames;
    uint16_t crc = file->musicCrc;
    for (uint32_t at = 0; at < length; ++at) {
        crc = TagCrc16(bytes + at, 1, crc);
        if (frames.bytesSeen < kFrameHeaderBytes)
            frames.header[frames.bytesSeen] = bytes[at];
        if (++frames.bytesSeen == kFrameHeaderBytes)
            frames.length = FrameLength(file->sampleRate, frames.header);
        if (frames.bytesSeen == frames.length) {
            ++frames.count;
            frames.bytes += frames.length;
            frames.crc = crc;
            frames.bytesSeen = frames.length = 0;
        }
    }
    file->musicCrc = crc;
}

bool WriteMusic(OutputFile* file, const uint8_t* bytes, uint32_t length)
{
    if (!WriteAll(file->handle, bytes, length))
        return false;
    CountWholeFrames(file, bytes, length);
    file->bytesWritten += length;
    return true;
}

bool CutAfterWholeFrames(OutputFile* file, uint32_t tagBytes)
{
    const LONG end = static_cast<LONG>(tagBytes + file->wholeFrames.bytes);
    return fileOperations.seek(file->handle, end, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           fileOperations.setEnd(file->handle);
}

bool WriteAtStart(OutputFile* file, const uint8_t* bytes, uint32_t length)
{
    if (fileOperations.seek(file->handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    const bool written = WriteAll(file->handle, bytes, length);
    return fileOperations.seek(file->handle, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER && written;
}

void CloseOutputFile(OutputFile* file)
{
    if (file->handle != INVALID_HANDLE_VALUE && file->handle != nullptr)
        fileOperations.close(file->handle);
    file->handle = INVALID_HANDLE_VALUE;
}
