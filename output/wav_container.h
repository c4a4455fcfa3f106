// The RIFF WAVE container on disk: the header of a new file (its sizes unfinished until the
// track ends), the header as accepted for appending, the patch of the sizes at the end, and the
// little-endian field helpers. Works on the file handed to it; the track output keeps the counts.
#ifndef TOLLVANE_WAV_CONTAINER_H
#define TOLLVANE_WAV_CONTAINER_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

#include "config/settings_store.h"

// The largest file_bytes a payload may reach: the pad byte must still fit, and file_bytes - 8
// must stay the RIFF size that a 32-bit field can hold.
constexpr uint32_t wav_max_file_bytes = 0xFFFFFFFEu;
// "RIFF", its size, "WAVE", "fmt ", its size: the fmt body starts here.
constexpr uint32_t wav_fmt_body_offset = 20;
// A new file's header at its longest: the fmt body from the largest format record, its pad
// byte, the fact chunk and the data chunk's tag and size.
constexpr uint32_t wav_header_max_bytes = wav_fmt_body_offset + format_buffer_bytes + 1 + 12 + 8;

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

// The frame of a PCM file, whatever its header's block align says; never 0.
inline uint32_t wav_pcm_frame_bytes(const WAVEFORMATEX *format)
{
    uint32_t bytes = static_cast<uint32_t>(format->wBitsPerSample >> 3) * format->nChannels;
    return bytes ? bytes : 1;
}

// Where the sizes known only at the end go; 0 for a field the file does not have.
struct wav_layout {
    uint32_t header_bytes;
    uint32_t data_size_offset;
    uint32_t fact_offset;
};

// The whole header of a new file for target into header (wav_header_max_bytes). Its RIFF size and
// data size say "to the end of the file" (wav_unfinished_size) until they are patched, so that a
// file left by a player that died is read to its last byte; the fact value is zero until then.
// The target's cbSize must fit its buffer.
void wav_build_header(const WAVEFORMATEX *target, BYTE *header, wav_layout *layout);

enum wav_read_result { wav_appendable, wav_not_pcm, wav_unreadable };
// Checks an existing file for appending, from its start; fills existing (zeroed first), its fmt
// size and its data size. wav_unreadable: a read or a move failed, which says nothing of what
// the file holds.
wav_read_result wav_read_append_header(HANDLE file, WAVEFORMATEX *existing, uint32_t *fmt_bytes,
                                       uint32_t *data_bytes);

// Where the RIFF size lies; it counts every byte behind its own field.
constexpr uint32_t wav_riff_size_offset = 4;
// What a file's sizes say while a track is written to it: more than any file holds, so that a
// player killed in the middle leaves a file whose every whole frame other readers read and the
// next append keeps (a size of 0 would tell them it is empty).
constexpr uint32_t wav_unfinished_size = 0xFFFFFFFFu;

// Writes one 32-bit size field at offset; false when it did not reach the file.
bool wav_patch_field(HANDLE file, uint32_t offset, uint32_t value);

#endif
