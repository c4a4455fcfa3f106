// The RIFF WAVE container on disk: the header as written (placeholders skipped, patched at
// close), the header as accepted for appending, and little-endian field helpers.
// Works on the track output's open file and counters.
#ifndef TOLLVANE_WAV_CONTAINER_H
#define TOLLVANE_WAV_CONTAINER_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

#include "output_file.h"

inline void put_u16(BYTE *p, uint32_t v)
{
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}
inline void put_u32(BYTE *p, uint32_t v)
{
    put_u16(p, v);
    put_u16(p + 2, v >> 16);
}
inline uint32_t get_u32(const BYTE *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The writers return false when any piece did not reach the file whole.
// "RIFF", a skipped size, "WAVE", "fmt ": the part of a new header known before the target.
bool wav_write_riff_start(void);
// fmt size and body, pad byte, fact chunk for a codec target, "data" and its skipped size.
bool wav_write_format_chunks(const WAVEFORMATEX *target);

enum wav_read_result { wav_appendable, wav_not_pcm, wav_unreadable };
// Checks an existing file for appending; fills existing (zeroed first) and its fmt size.
// wav_unreadable: a read or a move failed, which says nothing of what the file holds.
wav_read_result wav_read_append_header(HANDLE file, WAVEFORMATEX *existing, uint32_t *fmt_bytes,
                                       uint32_t *data_bytes);
// At close: the pad byte, then the RIFF size, data size and fact value. False when any of them
// did not reach the file: the header then does not describe what the file holds.
bool wav_patch_sizes(uint32_t fact_value);

#endif
