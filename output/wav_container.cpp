// Builds, checks and patches the RIFF WAVE container of an output file; see wav_container.h.
// A new header goes out whole in one write, its sizes unfinished; they are patched when the track
// ends.
#include "output/wav_container.h"

#include <string.h>

#include "output/handle_io.h"

void wav_build_header(const WAVEFORMATEX *target, BYTE *header, wav_layout *layout)
{
    bool pcm = target->wFormatTag == WAVE_FORMAT_PCM;
    // PCM keeps the 16-byte record without cbSize; a codec record carries its extra bytes.
    uint32_t fmt_bytes = pcm ? 16 : target->cbSize + 18u;
    uint32_t at = wav_fmt_body_offset;
    memset(header, 0, wav_header_max_bytes);
    memcpy(header, "RIFF\0\0\0\0WAVEfmt ", 16);
    put_u32(header + wav_riff_size_offset, wav_unfinished_size); // patched at the end
    put_u32(header + 16, fmt_bytes);
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

static wav_read_result read_tag(HANDLE file, const char *tag)
{
    char got[4];
    wav_read_result r = read_exact(file, got, 4);
    return r == wav_appendable && memcmp(got, tag, 4) != 0 ? wav_not_pcm : r;
}

wav_read_result wav_read_append_header(HANDLE file, WAVEFORMATEX *existing, uint32_t *fmt_bytes,
                                       uint32_t *data_bytes)
{
    BYTE field[4];
    memset(existing, 0, sizeof *existing);
    wav_read_result r = read_tag(file, "RIFF");
    if (r == wav_appendable) r = read_exact(file, field, 4); // the RIFF size says nothing we need
    if (r == wav_appendable) r = read_tag(file, "WAVE");
    if (r == wav_appendable) r = read_tag(file, "fmt ");
    if (r == wav_appendable) r = read_exact(file, field, 4);
    if (r != wav_appendable) return r;
    uint32_t n = get_u32(field);
    if (n < 16 || n > 18) return wav_not_pcm;
    r = read_exact(file, existing, n);
    if (r == wav_appendable && existing->wFormatTag != WAVE_FORMAT_PCM) r = wav_not_pcm;
    if (r == wav_appendable) r = read_tag(file, "data");
    if (r == wav_appendable) r = read_exact(file, field, 4);
    if (r != wav_appendable) return r;
    *fmt_bytes = n;
    *data_bytes = get_u32(field);
    return wav_appendable;
}

bool wav_patch_field(HANDLE file, uint32_t offset, uint32_t value)
{
    BYTE field[4];
    put_u32(field, value);
    return handle_seek(file, offset) && handle_put(file, field, 4) == 4;
}
