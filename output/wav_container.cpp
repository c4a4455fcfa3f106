// Writes, checks and patches the RIFF WAVE container of the track output's file. The header is
// written in the order the track output learns its parts; sizes known only at the end are
// skipped with a seek (they read as zero) and patched at close.
#include "wav_container.h"

#include "track_output.h"

void wav_write_riff_start(void)
{
    HANDLE file = output_state.file;
    file_put(file, "RIFF", 4);
    file_skip(file, 4); // RIFF size, patched at close
    file_put(file, "WAVEfmt ", 8);
    output_state.file_bytes = 16;
}

void wav_write_format_chunks(const WAVEFORMATEX *target)
{
    HANDLE file = output_state.file;
    bool pcm = target->wFormatTag == WAVE_FORMAT_PCM;
    // PCM keeps the 16-byte record without cbSize; a codec record carries its extra bytes.
    uint32_t fmt_bytes = pcm ? 16 : target->cbSize + 18u;
    BYTE size[4];
    put_u32(size, fmt_bytes);
    file_put(file, size, 4);
    file_put(file, target, fmt_bytes);
    output_state.file_bytes += fmt_bytes + 4;
    if (output_state.file_bytes & 1) { // the pad byte after an odd fmt body reads as zero
        file_skip(file, 1);
        output_state.file_bytes += 1;
    }
    if (!pcm) {
        BYTE fact[8] = {'f', 'a', 'c', 't', 4, 0, 0, 0};
        file_put(file, fact, 8);
        output_state.file_bytes += 8;
        output_state.fact_offset = output_state.file_bytes;
        file_skip(file, 4); // fact value, patched at close
        output_state.file_bytes += 4;
    }
    file_put(file, "data", 4);
    output_state.file_bytes += 4;
    output_state.data_size_offset = output_state.file_bytes;
    file_skip(file, 4); // data size, patched at close
    output_state.file_bytes += 4;
}

static bool read_exact(HANDLE file, void *buffer, uint32_t bytes)
{
    DWORD got = 0;
    return ReadFile(file, buffer, bytes, &got, nullptr) && got == bytes;
}

static bool read_tag(HANDLE file, const char *tag)
{
    char got[4];
    return read_exact(file, got, 4) && memcmp(got, tag, 4) == 0;
}

bool wav_read_append_header(HANDLE file, WAVEFORMATEX *existing, uint32_t *fmt_bytes, uint32_t *data_bytes)
{
    BYTE field[4];
    memset(existing, 0, sizeof *existing);
    if (!read_tag(file, "RIFF") || !file_skip(file, 4) || !read_tag(file, "WAVE") || !read_tag(file, "fmt ") ||
        !read_exact(file, field, 4))
        return false;
    uint32_t n = get_u32(field);
    if (n < 16 || n > 18) return false;
    if (!read_exact(file, existing, n) || existing->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (!read_tag(file, "data") || !read_exact(file, field, 4)) return false;
    *fmt_bytes = n;
    *data_bytes = get_u32(field);
    return true;
}

void wav_patch_sizes(uint32_t fact_value)
{
    HANDLE file = output_state.file;
    BYTE field[4];
    // The pad byte belongs to the data chunk, not to the file: an appended file whose fmt body
    // is odd and unpadded puts an even chunk at an odd offset, and a stray byte after it would
    // read as the start of another chunk.
    if (output_state.data_bytes & 1) {
        BYTE pad = 0;
        output_state.file_bytes += file_put(file, &pad, 1);
    }
    put_u32(field, output_state.file_bytes - 8);
    if (file_seek(file, 4)) file_put(file, field, 4);
    if (output_state.data_size_offset != 0 && file_seek(file, output_state.data_size_offset)) {
        put_u32(field, output_state.data_bytes);
        file_put(file, field, 4);
    }
    if (output_state.fact_offset != 0 && file_seek(file, output_state.fact_offset)) {
        put_u32(field, fact_value);
        file_put(file, field, 4);
    }
}
