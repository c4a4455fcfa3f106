// Builds, checks and patches the RIFF WAVE container of an output file; see wav_container.h.
// A new header goes out whole in one write, its sizes unfinished; they are patched when the track
// ends.
#include "output/wav_container.h"

#include <string.h>

#include "output/handle_io.h"

void wav_build_header(const WAVEFORMATEX *target, bool reserve_rf64, BYTE *header, wav_layout *layout)
{
    bool pcm = target->wFormatTag == WAVE_FORMAT_PCM;
    // PCM keeps the 16-byte record without cbSize; a codec record carries its extra bytes.
    uint32_t fmt_bytes = pcm ? 16 : target->cbSize + 18u;
    uint32_t at = wav_first_chunk_offset;
    memset(header, 0, wav_header_max_bytes);
    memcpy(header, "RIFF\0\0\0\0WAVE", 12);
    put_u32(header + wav_riff_size_offset, wav_unfinished_size); // patched at the end
    layout->reservation_offset = 0;
    if (reserve_rf64) {
        memcpy(header + at, "JUNK", 4); // every reader skips it; its zero body waits for ds64
        put_u32(header + at + 4, wav_ds64_body_bytes);
        layout->reservation_offset = at;
        at += wav_reservation_bytes;
    }
    memcpy(header + at, "fmt ", 4);
    put_u32(header + at + 4, fmt_bytes);
    at += 8;
    memcpy(header + at, target, fmt_bytes);
    at += fmt_bytes;
    at += at & 1; // the pad byte after an odd fmt body, zero
    layout->fact_offset = 0;
    if (!pcm) {
        memcpy(header + at, "fact\4\0\0\0", 8);
        layout->fact_offset = at + 8; // the fact value, patched at the end
        at += 12;
    }
    memcpy(header + at, "data", 4);
    put_u32(header + at + 4, wav_unfinished_size);
    layout->data_size_offset = at + 4; // the data size, patched at the end
    layout->header_bytes = at + 8;
}

static wav_read_result read_exact(HANDLE file, void *buffer, uint32_t bytes)
{
    bool failed;
    if (handle_read(file, buffer, bytes, &failed)) return wav_appendable;
    return failed ? wav_unreadable : wav_not_pcm; // a file that ends early is not one to append to
}

// A chunk's header: its id and its size.
static wav_read_result read_chunk(HANDLE file, BYTE *id, uint32_t *size)
{
    BYTE chunk[8];
    wav_read_result r = read_exact(file, chunk, 8);
    memcpy(id, chunk, 4);
    *size = get_u32(chunk + 4);
    return r;
}

// The reservation or the ds64 chunk ahead of fmt; an RF64 file must have the latter. A RIFF file
// with a ds64 chunk is one whose switch to RF64 a dying player left half done: its sizes are still
// the 32-bit ones, and the room is there.
static wav_read_result read_reservation(HANDLE file, wav_existing *existing, BYTE *id, uint32_t *size)
{
    BYTE body[wav_ds64_body_bytes];
    bool junk = memcmp(id, "JUNK", 4) == 0, ds64 = memcmp(id, "ds64", 4) == 0;
    if (existing->rf64 && !ds64) return wav_not_pcm;
    if (!junk && !ds64) return wav_appendable; // no reservation: fmt comes first
    if (*size != wav_ds64_body_bytes) return wav_not_pcm;
    wav_read_result r = read_exact(file, body, sizeof body);
    if (r != wav_appendable) return r;
    existing->reservation_offset = wav_first_chunk_offset;
    if (existing->rf64) existing->data_bytes = get_u64(body + ds64_data_size);
    return read_chunk(file, id, size);
}

wav_read_result wav_read_append_header(HANDLE file, wav_existing *existing)
{
    memset(existing, 0, sizeof *existing);
    BYTE head[12], id[4];
    uint32_t size = 0;
    wav_read_result r = read_exact(file, head, sizeof head);
    if (r != wav_appendable) return r;
    existing->rf64 = memcmp(head, "RF64", 4) == 0;
    if ((!existing->rf64 && memcmp(head, "RIFF", 4) != 0) || memcmp(head + 8, "WAVE", 4) != 0) return wav_not_pcm;
    r = read_chunk(file, id, &size);
    if (r == wav_appendable) r = read_reservation(file, existing, id, &size);
    if (r != wav_appendable) return r;
    if (memcmp(id, "fmt ", 4) != 0 || size < 16 || size > 18) return wav_not_pcm;
    uint32_t fmt_bytes = size;
    uint32_t fmt_body_offset = wav_first_chunk_offset + (existing->reservation_offset ? wav_reservation_bytes : 0) + 8;
    r = read_exact(file, &existing->format, fmt_bytes);
    if (r == wav_appendable && existing->format.wFormatTag != WAVE_FORMAT_PCM) r = wav_not_pcm;
    if (r == wav_appendable) r = read_chunk(file, id, &size);
    if (r != wav_appendable) return r;
    if (memcmp(id, "data", 4) != 0) return wav_not_pcm;
    existing->data_size_offset = fmt_body_offset + fmt_bytes + 4; // behind the fmt body and "data"
    // An RF64 file's data size stands in ds64 where its own field is all ones.
    if (!existing->rf64 || size != wav_unfinished_size) existing->data_bytes = size;
    return wav_appendable;
}

bool wav_patch_field(HANDLE file, uint64_t offset, uint32_t value)
{
    BYTE field[4];
    put_u32(field, value);
    return handle_seek(file, offset) && handle_put(file, field, 4) == 4;
}

bool wav_patch_field64(HANDLE file, uint64_t offset, uint64_t value)
{
    BYTE field[8];
    put_u64(field, value);
    return handle_seek(file, offset) && handle_put(file, field, 8) == 8;
}

bool wav_become_rf64(HANDLE file, uint32_t reservation_offset)
{
    BYTE body[wav_ds64_body_bytes] = {};
    put_u64(body + ds64_riff_size, wav_rf64_unfinished_size);
    put_u64(body + ds64_data_size, wav_rf64_unfinished_size);
    return handle_seek(file, reservation_offset + 8) && handle_put(file, body, sizeof body) == sizeof body &&
           handle_seek(file, reservation_offset) && handle_put(file, "ds64", 4) == 4 && handle_seek(file, 0) &&
           handle_put(file, "RF64", 4) == 4;
}
