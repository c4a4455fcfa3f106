// The output file's byte moves and the audio append shared by the track output and the codec
// stage; see output_file.h.
#include "output_file.h"

#include "output_naming.h"
#include "track_output.h"

uint32_t file_put(HANDLE file, const void *data, uint32_t bytes)
{
    DWORD written = 0;
    WriteFile(file, data, bytes, &written, nullptr);
    return written;
}

bool file_seek(HANDLE file, uint32_t offset)
{
    LONG high = 0; // offsets up to 4 GiB: the high part carries bit 31 and above
    SetLastError(ERROR_SUCCESS);
    DWORD low = SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return false;
    return high == 0 && low == offset; // where the next write goes, not merely a call that returned
}

bool file_skip(HANDLE file, uint32_t bytes)
{
    LONG high = 0;
    SetLastError(ERROR_SUCCESS);
    DWORD low = SetFilePointer(file, static_cast<LONG>(bytes), &high, FILE_CURRENT);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS);
}

bool file_cut(HANDLE file, uint32_t offset)
{
    return file_seek(file, offset) && SetEndOfFile(file);
}

void output_append(const void *data, uint32_t bytes)
{
    if (output_state.write_header && bytes > wav_max_file_bytes - output_state.file_bytes) {
        // Only whole frames that keep the RIFF size within 32 bits; the rest is dropped.
        uint32_t unit = output_state.target_frame_bytes;
        bytes = (wav_max_file_bytes - output_state.file_bytes) / unit * unit;
        if (!output_state.size_limit_reached) {
            output_state.size_limit_reached = true;
            show_error(output_state.path, "WAV file size limit reached");
        }
    }
    if (bytes == 0) return;
    uint32_t written = file_put(output_state.file, data, bytes);
    // The header must never claim audio that is not in the file.
    output_state.file_bytes += written;
    output_state.data_bytes += written;
    if (written < bytes) output_report_write_failure();
}

void output_report_write_failure(void)
{
    if (output_state.write_failed) return;
    output_state.write_failed = true;
    show_error(output_state.path, "Cannot write to output file");
}

