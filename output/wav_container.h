// The RIFF WAVE container on disk: the header of a new file (its sizes unfinished until the
// track ends, and with room for RF64's 64-bit sizes where asked), the header as accepted for
// appending, the switch to RF64 past 4 GiB, the patch of the sizes at the end, and the
// little-endian field helpers. Works on the file handed to it; the track's file keeps the counts.
#ifndef TOLLVANE_WAV_CONTAINER_H
#define TOLLVANE_WAV_CONTAINER_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

#include "config/settings_store.h"

// The largest file_bytes a payload may reach: the pad byte must still fit, and file_bytes - 8
// must stay the RIFF size that a 32-bit field can hold.
constexpr uint32_t wav_max_file_bytes = 0xFFFFFFFEu;
// "RIFF", its size, "WAVE": the first chunk starts here.
constexpr uint32_t wav_first_chunk_offset = 12;
// The room for RF64's sizes: a JUNK chunk right after "WAVE" whose 28-byte body becomes the
// ds64 chunk's (the RIFF size, the data size and the sample count in 64 bits, and an empty
// table) when the file passes 4 GiB.
constexpr uint32_t wav_ds64_body_bytes = 28;
constexpr uint32_t wav_reservation_bytes = 8 + wav_ds64_body_bytes;
// A new file's header at its longest: the reservation, the fmt chunk from the largest format
// record, its pad byte, the fact chunk and the data chunk's tag and size.
constexpr uint32_t wav_header_max_bytes = wav_first_chunk_offset + wav_reservation_bytes + 8 + format_buffer_bytes +
                                          1 + 12 + 8;

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
inline void put_u64(BYTE *p, uint64_t v)
{
    put_u32(p, static_cast<uint32_t>(v));
    put_u32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline uint32_t get_u32(const BYTE *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t get_u64(const BYTE *p) { return get_u32(p) | static_cast<uint64_t>(get_u32(p + 4)) << 32; }

// The frame of a PCM file, whatever its header's block align says; never 0.
inline uint32_t wav_pcm_frame_bytes(const WAVEFORMATEX *format)
{
    uint32_t bytes = static_cast<uint32_t>(format->wBitsPerSample >> 3) * format->nChannels;
    return bytes ? bytes : 1;
}

// Where the sizes known only at the end go; 0 for a field the file does not have.
struct wav_layout {
    uint32_t header_bytes;
    uint32_t reservation_offset; // the JUNK chunk that may become ds64
    uint32_t data_size_offset;
    uint32_t fact_offset;
};

// The whole header of a new file for target into header (wav_header_max_bytes), with the room
// for RF64's sizes where reserve_rf64 says. Its RIFF size and data size say "to the end of the
// file" (wav_unfinished_size) until they are patched, so that a file left by a player that died
// is read to its last byte; the fact value is zero until then. The target's cbSize must fit its
// buffer.
void wav_build_header(const WAVEFORMATEX *target, bool reserve_rf64, BYTE *header, wav_layout *layout);

// An existing file as it is accepted for appending: "RIFF" (or "RF64", whose ds64 chunk has the
// sizes), "WAVE", the 28-byte JUNK reservation or ds64 chunk where there is one, a PCM fmt chunk
// of 16 to 18 bytes, and the data chunk right behind it.
struct wav_existing {
    WAVEFORMATEX format;
    uint32_t reservation_offset; // the JUNK or ds64 chunk; 0: none
    bool rf64;
    uint32_t data_size_offset;
    uint64_t data_bytes;         // what the header says the audio takes
};
enum wav_read_result { wav_appendable, wav_not_pcm, wav_unreadable };
// Checks an existing file for appending, from its start. wav_unreadable: a read or a move
// failed, which says nothing of what the file holds.
wav_read_result wav_read_append_header(HANDLE file, wav_existing *existing);

// Where the RIFF size lies; it counts every byte behind its own field.
constexpr uint32_t wav_riff_size_offset = 4;
// What a file's sizes say while a track is written to it: more than any file holds, so that a
// player killed in the middle leaves a file whose every whole frame other readers read and the
// next append keeps (a size of 0 would tell them it is empty).
constexpr uint32_t wav_unfinished_size = 0xFFFFFFFFu;
// The same in an RF64 file's ds64 chunk: readers refuse all-ones 64-bit sizes, and a stale size
// would cut every reader short; 2^48 bytes is more than any file holds and what they take.
constexpr uint64_t wav_rf64_unfinished_size = 1ull << 48;
// The ds64 chunk's fields, from the start of its body.
constexpr uint32_t ds64_riff_size = 0, ds64_data_size = 8, ds64_sample_count = 16;

// Writes one 32-bit size field at offset; false when it did not reach the file.
bool wav_patch_field(HANDLE file, uint64_t offset, uint32_t value);
// Writes one 64-bit field at offset.
bool wav_patch_field64(HANDLE file, uint64_t offset, uint64_t value);

// Turns a file with the reservation at reservation_offset into an RF64 file whose sizes say
// "to the end": the ds64 body first, then its id, then "RF64", so that a player killed at any
// step leaves a file that readers read. False when a step did not reach the file.
bool wav_become_rf64(HANDLE file, uint32_t reservation_offset);

#endif
