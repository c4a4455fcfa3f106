// The I/O floor of the end-to-end benchmark: what tollvane-play and the plug-in must do for a
// track whatever the conversion costs. It reads the WAV file as tollvane-play does (stdio with
// a 128 KiB buffer, one fread per block of 576 frames) and, per block, writes its share of the
// converted size in one write and yields once, as the plug-in does for the player; it computes
// nothing. The output is a 44-byte header, the blocks, and the header's sizes patched at the end.
// usage: io_floor IN.wav OUT OUT_DATA_BYTES OUT_FRAME_BYTES [BLOCK_FRAMES]
#define _GNU_SOURCE
#include <fcntl.h>
#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static uint32_t le32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

int main(int argc, char **argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: io_floor IN.wav OUT OUT_DATA_BYTES OUT_FRAME_BYTES [BLOCK_FRAMES]\n");
        return 2;
    }
    uint64_t out_bytes = strtoull(argv[3], NULL, 10), out_frame_bytes = strtoull(argv[4], NULL, 10);
    size_t block_frames = argc > 5 ? strtoul(argv[5], NULL, 10) : 576;
    FILE *in = fopen(argv[1], "rb");
    static char piece[128 * 1024];
    if (!in || setvbuf(in, piece, _IOFBF, sizeof piece) != 0) return 1;
    unsigned char head[12], chunk[8], fmt[16] = {0};
    if (fread(head, 1, 12, in) != 12) return 1;
    uint64_t data_bytes = 0;
    for (;;) { // the chunks up to the data, as the reader walks them
        if (fread(chunk, 1, 8, in) != 8) return 1;
        uint32_t size = le32(chunk + 4);
        if (memcmp(chunk, "data", 4) == 0) {
            data_bytes = size;
            break;
        }
        if (memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            if (fread(fmt, 1, 16, in) != 16) return 1;
            size -= 16;
        }
        if (fseek(in, size + (size & 1), SEEK_CUR) != 0) return 1;
    }
    size_t in_frame_bytes = fmt[12] | fmt[13] << 8;
    if (in_frame_bytes == 0 || out_frame_bytes == 0) return 1;
    uint64_t blocks = (data_bytes / in_frame_bytes + block_frames - 1) / block_frames;
    uint64_t out_frames = out_bytes / out_frame_bytes;
    char *block = malloc(block_frames * in_frame_bytes);
    char *converted = calloc(1, (out_frames / (blocks ? blocks : 1) + 2) * out_frame_bytes);
    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!block || !converted || out < 0) return 1;
    unsigned char header[44] = {0};
    if (write(out, header, 44) != 44) return 1;
    uint64_t written_frames = 0;
    for (uint64_t k = 0; k < blocks; k++) {
        size_t got = fread(block, 1, block_frames * in_frame_bytes, in);
        if (got == 0) break;
        // this block's share of the output, in whole frames
        uint64_t until = (k + 1) * out_frames / blocks;
        size_t bytes = (size_t)((until - written_frames) * out_frame_bytes);
        written_frames = until;
        if (bytes && write(out, converted, bytes) != (ssize_t)bytes) return 1;
        sched_yield();
    }
    memcpy(header, "RIFF", 4);
    if (pwrite(out, header, 44, 0) != 44 || close(out) != 0) return 1;
    fclose(in);
    return 0;
}
