// Writes, checks and patches the RIFF WAVE container of the track output's file. The header is
// written in the order the track output learns its parts; sizes known only at the end are
// skipped with a seek (they read as zero) and patched at close.
#include "wav_container.h"

#include "track_output.h"

// Each piece of the header must reach the file whole: a piece that did not would leave every
// later one a few bytes early, in a file that is no longer a WAV file.
static bool put_all(HANDLE file, const void *data, uint32_t bytes)
{
    return file_put(file, data, bytes) == bytes;
}

bool wav_write_riff_start(void)
{
    HANDLE file = output_state.file;
    output_state.file_bytes = 16;
    return put_all(file, "RIFF", 4) && file_skip(file, 4) && // RIFF size, patched at close
           put_all(file, "WAVEfmt ", 8);
}

bool wav_write_format_chunks(const WAVEFORMATEX *target)
{
    HANDLE file = output_state.file;
    bool pcm = target->wFormatTag == WAVE_FORMAT_PCM;
    // PCM keeps the 16-byte record without cbSize; a codec record carries its extra bytes.
    uint32_t fmt_bytes = pcm ? 16 : target->cbSize + 18u;
    BYTE size[4];
    put_u32(size, fmt_bytes);
    if (!put_all(file, size, 4) || !put_all(file, target, fmt_bytes)) return false;
    output_state.file_bytes += fmt_bytes + 4;
    if (output_state.file_bytes & 1) { // the pad byte after an odd fmt body reads as zero
        if (!file_skip(file, 1)) return false;
        output_state.file_bytes += 1;
    }
    if (!pcm) {
        BYTE fact[8] = {'f', 'a', 'c', 't', 4, 0, 0, 0};
        if (!put_all(file, fact, 8)) return false;
        output_state.file_bytes += 8;
        output_state.fact_offset = output_state.file_bytes;
        if (!file_skip(file, 4)) return false; // fact value, patched at close
        output_state.file_bytes += 4;
    }
    if (!put_all(file, "data", 4)) return false;
    output_state.file_bytes += 4;
    output_state.data_size_offset = output_state.file_bytes;
    if (!file_skip(file, 4)) return false; // data size, patched at close
    output_state.file_bytes += 4;
    return true;
}

// A read that fails is the disk's or the network's fault; one that ends early is the file's.
static wav_read_result read_exact(HANDLE file, void *buffer, uint32_t bytes)
{
    DWORD got = 0;
    if (!ReadFile(file, buffer, bytes, &got, nullptr)) return wav_unreadable;
    return got == bytes ? wav_appendable : wav_not_pcm;
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
    if (r == wav_appendable && !file_skip(file, 4)) r = wav_unreadable;
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

bool wav_patch_sizes(uint32_t fact_value)
{
    HANDLE file = output_state.file;
    BYTE field[4];
    bool patched = true;
    // The pad byte belongs to the data chunk, not to the file: an appended file whose fmt body
    // is odd and unpadded puts an even chunk at an odd offset, and a stray byte after it would
    // read as the start of another chunk.
    if (output_state.data_bytes & 1) {
        BYTE pad = 0;
        uint32_t written = file_put(file, &pad, 1);
        output_state.file_bytes += written;
        patched = written == 1;
    }
    put_u32(field, output_state.file_bytes - 8);
    patched = file_seek(file, 4) && put_all(file, field, 4) && patched;
    if (output_state.data_size_offset != 0) {
        put_u32(field, output_state.data_bytes);
        patched = file_seek(file, output_state.data_size_offset) && put_all(file, field, 4) && patched;
    }
    if (output_state.fact_offset != 0) {
        put_u32(field, fact_value);
        patched = file_seek(file, output_state.fact_offset) && put_all(file, field, 4) && patched;
    }
    return patched;
}
