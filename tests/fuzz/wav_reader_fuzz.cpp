// Fuzzes the host program's WAV reader, the one parser of files from anywhere: the input becomes
// the file, which is opened and read to its end in blocks of a size taken from its length. A
// refusal must give a reason and leave nothing open; an accepted file must have the format of
// its first fmt chunk as a plain walk of the chunks finds it, and reading must hand out whole
// frames of exactly the file's bytes from the data chunk on, no more than it holds.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "tools/wav_reader.h"

static const char file_name[] = "wav_reader_fuzz.wav";

static uint32_t le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
static uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Where the first fmt, ds64 and data chunks start (at their 8-byte headers), or 0.
struct chunk_walk {
    size_t fmt_at, ds64_at, data_at;
};

static chunk_walk walk_chunks(const uint8_t *data, size_t size)
{
    chunk_walk walk = {0, 0, 0};
    for (uint64_t at = 12; at + 8 <= size && !walk.data_at;) {
        if (!walk.fmt_at && memcmp(data + at, "fmt ", 4) == 0) walk.fmt_at = at;
        if (!walk.ds64_at && memcmp(data + at, "ds64", 4) == 0) walk.ds64_at = at;
        if (memcmp(data + at, "data", 4) == 0) walk.data_at = at;
        uint32_t chunk_bytes = le32(data + at + 4);
        at += 8 + uint64_t(chunk_bytes) + (chunk_bytes & 1); // padded to even lengths
    }
    return walk;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    remove(file_name); // a new file: ext4 writes a truncated one back at close, a disk write per input
    FILE *f = fopen(file_name, "wb");
    if (!f) abort();
    if (size && fwrite(data, 1, size, f) != size) abort();
    fclose(f);

    wav_input wav;
    const char *reason = nullptr;
    if (!wav_reader_open(file_name, &wav, &reason)) {
        if (!reason || !*reason || wav.file || wav.read_buffer) abort();
        return 0;
    }
    chunk_walk walk = walk_chunks(data, size);
    if (!walk.fmt_at || walk.data_at <= walk.fmt_at) abort(); // accepted without fmt before data
    const uint8_t *fmt = data + walk.fmt_at + 8;
    if (wav.channels != le16(fmt + 2) || static_cast<uint32_t>(wav.rate) != le32(fmt + 4) || wav.bits != le16(fmt + 14))
        abort();
    if (wav.channels < 1 || wav.rate < 1 || (wav.bits != 8 && wav.bits != 16 && wav.bits != 24 && wav.bits != 32))
        abort();
    if (wav.frame_bytes != static_cast<uint32_t>(wav.channels) * (wav.bits / 8)) abort();

    long payload_at = ftell(wav.file);
    if (payload_at < 0 || static_cast<size_t>(payload_at) != walk.data_at + 8) abort();
    uint64_t available = size - payload_at;
    uint64_t claimed = le32(data + walk.data_at + 4);
    // An RF64 file's data size stands in its ds64 chunk where its own is all ones.
    if (memcmp(data, "RF64", 4) == 0 && claimed == 0xFFFFFFFFu) {
        if (!walk.ds64_at || walk.ds64_at + 24 > size) abort(); // accepted without the sizes
        claimed = le32(data + walk.ds64_at + 16) | uint64_t(le32(data + walk.ds64_at + 20)) << 32;
    }
    if (wav.data_bytes > available || wav.remaining_bytes != wav.data_bytes) abort();
    if (wav.missing_bytes && (wav.data_bytes != available || wav.data_bytes + wav.missing_bytes != claimed)) abort();

    // Blocks of 1 to 577 frames, never more than 1 MiB (a frame may have 65535 channels).
    size_t frames = 1 + size % 577;
    if (frames * wav.frame_bytes > (1u << 20)) frames = (1u << 20) / wav.frame_bytes;
    std::vector<uint8_t> block(frames * wav.frame_bytes);
    uint64_t read_bytes = 0;
    while (size_t got = wav_reader_read(&wav, block.data(), frames)) {
        if (got > block.size() || got % wav.frame_bytes || read_bytes + got > wav.data_bytes) abort();
        if (memcmp(block.data(), data + payload_at + read_bytes, got) != 0) abort();
        read_bytes += got;
    }
    if (read_bytes != wav.data_bytes / wav.frame_bytes * wav.frame_bytes) abort(); // every whole frame
    wav_reader_close(&wav);
    if (wav.file || wav.read_buffer) abort();
    return 0;
}
