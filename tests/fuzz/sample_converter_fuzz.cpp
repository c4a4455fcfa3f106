// Fuzzes the sample converter: the first bytes pick the two formats, a block split and the set of
// block loops (SSE2 forced or not) of each converter, the rest is the audio. Each call reads a
// block in a buffer of exactly its size and writes into a buffer of exactly the reserve, so the
// sanitizers see any stray access; a second converter, with the same set or the other one,
// takes the same audio in one call and must give the same bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <windows.h>

#include "convert/sample_converter.h"

static const uint32_t rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 192000, 1, 7};

struct reader {
    const uint8_t *data;
    size_t size;
    uint8_t next()
    {
        if (size == 0) return 0;
        size--;
        return *data++;
    }
};

static uint32_t pick_rate(reader &r)
{
    uint8_t b = r.next();
    if (b < 0xC0) return rates[b % (sizeof rates / sizeof rates[0])];
    return 1 + (((uint32_t)r.next() << 8 | r.next()) << (b & 7)); // odd rates, far apart
}

// Converts input in blocks (whole frames, or arbitrary bytes when whole_frames is false), then
// drains; returns everything written, or aborts on a reserve that a call overran.
static std::vector<uint8_t> run(sample_converter *c, const uint8_t *input, size_t in_bytes, const uint8_t *splits,
                                size_t split_count, uint32_t frame_bytes, bool whole_frames)
{
    std::vector<uint8_t> out;
    size_t at = 0, s = 0;
    for (;;) {
        bool drain = at >= in_bytes;
        uint32_t n = 0;
        if (!drain) {
            uint32_t pick = split_count ? splits[s++ % split_count] : 255;
            n = whole_frames ? (pick + 1) * frame_bytes : pick + 1;
            if (n > in_bytes - at) n = (uint32_t)(in_bytes - at);
        }
        int32_t reserve = converter_output_size(c, n);
        if (reserve < 0) abort();
        uint8_t *block = (uint8_t *)malloc(n ? n : 1);
        if (n) memcpy(block, input + at, n);
        uint8_t *buffer = (uint8_t *)malloc(reserve ? reserve : 1);
        uint32_t written = converter_process(c, drain ? nullptr : block, buffer, n);
        if (written > (uint32_t)reserve) abort();
        out.insert(out.end(), buffer, buffer + written);
        free(buffer);
        free(block);
        if (drain) break;
        // a partial frame at the end of a block is dropped, so its bytes are skipped here too
        at += n;
    }
    return out;
}

// Where the machine runs AVX2, a converter created with SSE2 forced takes the other loops.
static sample_converter *create(uint32_t in_channels, uint32_t in_bits, uint32_t in_rate, uint32_t out_channels,
                                uint32_t out_bits, uint32_t out_rate, bool sse2)
{
    SetEnvironmentVariableA("TOLLVANE_FORCE_SSE2", sse2 ? "1" : nullptr);
    sample_converter *c = converter_create(in_channels, in_bits, in_rate, out_channels, out_bits, out_rate);
    SetEnvironmentVariableA("TOLLVANE_FORCE_SSE2", nullptr);
    return c;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    reader r = {data, size};
    uint32_t in_channels = 1 + r.next() % 8;
    uint32_t in_bits = 8 * (1 + r.next() % 4);
    uint32_t in_rate = pick_rate(r);
    uint32_t out_channels = 1 + r.next() % 8;
    uint32_t out_bits = 8 * (1 + r.next() % 4);
    uint32_t out_rate = pick_rate(r);
    uint8_t mode = r.next();
    size_t split_count = r.next() % 16;
    const uint8_t *splits = r.data;
    for (size_t k = 0; k < split_count; k++) r.next();
    const uint8_t *input = r.data;
    size_t in_bytes = r.size;
    if (in_bytes > 4096) in_bytes = 4096;

    sample_converter *a = create(in_channels, in_bits, in_rate, out_channels, out_bits, out_rate, (mode & 2) != 0);
    if (!a) {
        if ((uint64_t)out_rate <= (uint64_t)in_rate * 64) abort(); // a valid pair must be accepted
        return 0;
    }
    uint32_t frame_bytes = in_channels * (in_bits / 8);
    bool whole_frames = (mode & 1) == 0;
    std::vector<uint8_t> split_out = run(a, input, in_bytes, splits, split_count, frame_bytes, whole_frames);
    converter_destroy(a);
    if (whole_frames) {
        sample_converter *b = create(in_channels, in_bits, in_rate, out_channels, out_bits, out_rate, (mode & 4) != 0);
        std::vector<uint8_t> whole_out = run(b, input, in_bytes, nullptr, 0, frame_bytes, true);
        converter_destroy(b);
        if (whole_out != split_out) abort(); // neither the block split nor the loops may change the bytes
    }
    return 0;
}
