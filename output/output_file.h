// The output file as the track output and the codec stage both write it: raw moves of bytes
// and the file pointer, and output_append, which adds audio to the open track's file and
// advances its counters by what reached the disk. Works on output_state's file and counters.
#ifndef TOLLVANE_OUTPUT_FILE_H
#define TOLLVANE_OUTPUT_FILE_H

#include <stdint.h>
#include <windows.h>

// The largest file_bytes a payload may reach: the pad byte must still fit, and file_bytes - 8
// must stay the RIFF size that a 32-bit field can hold.
constexpr uint32_t wav_max_file_bytes = 0xFFFFFFFEu;

// Byte counts actually moved; a short write shows as a smaller count.
uint32_t file_put(HANDLE file, const void *data, uint32_t bytes);
// False when the pointer did not get there.
bool file_seek(HANDLE file, uint32_t offset);
bool file_skip(HANDLE file, uint32_t bytes);
// Ends the file at offset; false, with nothing cut, when the pointer could not be put there.
bool file_cut(HANDLE file, uint32_t offset);

// Appends bytes of the target format to the open track's file. A failed or short write is
// told once per track; the WAV size limit cuts to whole target frames and is told once.
void output_append(const void *data, uint32_t bytes);
// "Cannot write to output file", once per track.
void output_report_write_failure(void);

#endif
