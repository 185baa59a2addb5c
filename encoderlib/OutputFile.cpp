#include "encoderlib/OutputFile.h"

#include "encoderlib/InfoTag.h"

FileOperations fileOperations = {CreateFileA, WriteFile, SetFilePointer, SetEndOfFile, CloseHandle};

// OPEN_ALWAYS rather than CREATE_ALWAYS: a file that cannot be shared is refused before anything
// of it is cut away.
bool OpenOutputFile(OutputFile* file, const char* path)
{
    file->bytesWritten = 0;
    file->musicCrc = 0;
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

bool WriteMusic(OutputFile* file, const uint8_t* bytes, uint32_t length)
{
    if (!WriteAll(file->handle, bytes, length))
        return false;
    file->musicCrc = TagCrc16(bytes, length, file->musicCrc);
    file->bytesWritten += length;
    return true;
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
