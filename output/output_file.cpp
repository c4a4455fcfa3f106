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

bool file_seek(HANDLE file, uint32_t offset)
{
    LONG high = 0; // offsets up to 4 GiB: the high part carries bit 31 and above
    SetLastError(ERROR_SUCCESS);
    DWORD low = SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return false;
    return high == 0 && low == offset; // where the next write goes, not merely a call that returned
}

bool file_cut(HANDLE file, uint32_t offset)
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
