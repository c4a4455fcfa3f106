// Byte and pointer moves on a file handle, shared by the track's files, the WAV container and the
// single file's append; see handle_io.h.
#include "output/handle_io.h"

#include <string.h>

uint32_t handle_put(HANDLE file, const void *data, uint32_t bytes)
{
    DWORD written = 0;
    WriteFile(file, data, bytes, &written, nullptr); // the count says what happened
    return written;
}

bool handle_read(HANDLE file, void *buffer, uint32_t bytes, bool *failed)
{
    DWORD got = 0;
    *failed = !ReadFile(file, buffer, bytes, &got, nullptr);
    return !*failed && got == bytes;
}

bool handle_seek(HANDLE file, uint64_t offset)
{
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(ERROR_SUCCESS);
    DWORD low = SetFilePointer(file, static_cast<LONG>(static_cast<uint32_t>(offset)), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return false;
    // Where the next write goes, not merely a call that returned.
    return ((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low) == offset;
}

bool handle_cut(HANDLE file, uint64_t offset)
{
    return handle_seek(file, offset) && SetEndOfFile(file);
}

bool handle_size(HANDLE file, uint64_t *bytes)
{
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return false;
    *bytes = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

constexpr unsigned max_temporary_number = 99;

HANDLE handle_create_beside(const char *path, char *temporary)
{
    size_t stem = strlen(path) - 4;
    memcpy(temporary, path, stem);
    for (unsigned number = 1; number <= max_temporary_number; number++) {
        wsprintfA(temporary + stem, ".~%02u", number);
        HANDLE file = CreateFileA(temporary, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}
