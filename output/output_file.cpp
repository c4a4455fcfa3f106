// The output file's byte and pointer moves, shared by the track output and the WAV container;
// see output_file.h.
#include "output/output_file.h"

uint32_t file_put(HANDLE file, const void *data, uint32_t bytes)
{
    DWORD written = 0;
    WriteFile(file, data, bytes, &written, nullptr); // the count says what happened
    return written;
}

bool file_read(HANDLE file, void *buffer, uint32_t bytes, bool *failed)
{
    DWORD got = 0;
    *failed = !ReadFile(file, buffer, bytes, &got, nullptr);
    return !*failed && got == bytes;
}

bool file_seek(HANDLE file, uint64_t offset)
{
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(ERROR_SUCCESS);
    DWORD low = SetFilePointer(file, static_cast<LONG>(static_cast<uint32_t>(offset)), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return false;
    // Where the next write goes, not merely a call that returned.
    return ((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low) == offset;
}

bool file_cut(HANDLE file, uint64_t offset)
{
    return file_seek(file, offset) && SetEndOfFile(file);
}

bool file_size(HANDLE file, uint64_t *bytes)
{
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return false;
    *bytes = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}
