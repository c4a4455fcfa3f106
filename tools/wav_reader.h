// Reads PCM WAV files for the host program: 8/16/24/32-bit integer samples, any rate and
// channel count, the extensible header with a PCM sub-format; unknown chunks are skipped, and
// of two fmt chunks the first counts, as other readers take it.
#ifndef TOLLVANE_WAV_READER_H
#define TOLLVANE_WAV_READER_H

#include <stdint.h>
#include <stdio.h>

struct wav_input {
    FILE *file;
    int channels;
    int rate;
    int bits;
    uint32_t frame_bytes;
    uint64_t data_bytes;      // payload length (bounded by the file's real length)
    uint64_t remaining_bytes; // payload still to read
    uint64_t missing_bytes;   // what the data chunk claims beyond the file's end (a cut file)
    char *read_buffer;        // the stdio buffer: the file is read in pieces of its size
};

// Opens and checks the file (its path in UTF-8); on failure returns false with a reason fit for
// one line.
bool wav_reader_open(const char *path, wav_input *wav, const char **reason);
// Reads up to frames whole frames; returns the bytes read (0 at the end).
size_t wav_reader_read(wav_input *wav, void *buffer, size_t frames);
void wav_reader_close(wav_input *wav);

#endif
