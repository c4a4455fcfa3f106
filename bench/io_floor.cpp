// The I/O floor of the end-to-end benchmark: what tollvane-play and the plug-in must do for a
// track whatever the conversion costs. It reads the WAV file with tollvane-play's own reader
// (tools/wav_reader.cpp: stdio with a 128 KiB buffer, one read of 576 frames per block) and, per
// block, writes its share of the converted size in one write and yields once, as the plug-in
// does for the player; it computes nothing. The output is a 44-byte header, the blocks, and the
// header written again at the end, as a track's sizes are.
// usage: io_floor IN.wav OUT OUT_DATA_BYTES OUT_FRAME_BYTES [BLOCK_FRAMES]
#include <fcntl.h>
#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "tools/wav_reader.h"

int main(int argc, char **argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: io_floor IN.wav OUT OUT_DATA_BYTES OUT_FRAME_BYTES [BLOCK_FRAMES]\n");
        return 2;
    }
    uint64_t out_bytes = strtoull(argv[3], nullptr, 10), out_frame_bytes = strtoull(argv[4], nullptr, 10);
    size_t block_frames = argc > 5 ? strtoul(argv[5], nullptr, 10) : 576;
    wav_input wav;
    const char *reason = nullptr;
    if (!wav_reader_open(argv[1], &wav, &reason)) {
        fprintf(stderr, "io_floor: %s: %s\n", argv[1], reason);
        return 1;
    }
    if (out_frame_bytes == 0 || block_frames == 0) return 2;
    uint64_t in_frames = wav.data_bytes / wav.frame_bytes;
    uint64_t blocks = (in_frames + block_frames - 1) / block_frames, out_frames = out_bytes / out_frame_bytes;
    std::vector<char> block(block_frames * wav.frame_bytes);
    std::vector<char> converted((out_frames / (blocks ? blocks : 1) + 2) * out_frame_bytes);
    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char header[44] = {0};
    if (out < 0 || write(out, header, sizeof header) != sizeof header) return 1;
    uint64_t written_frames = 0;
    for (uint64_t k = 0; wav_reader_read(&wav, block.data(), block_frames) != 0; k++) {
        // this block's share of the output, in whole frames
        uint64_t until = (k + 1) * out_frames / (blocks ? blocks : 1);
        size_t bytes = static_cast<size_t>((until - written_frames) * out_frame_bytes);
        written_frames = until;
        if (bytes && write(out, converted.data(), bytes) != static_cast<ssize_t>(bytes)) return 1;
        sched_yield();
    }
    if (pwrite(out, header, sizeof header, 0) != sizeof header || close(out) != 0) return 1;
    wav_reader_close(&wav);
    return 0;
}
