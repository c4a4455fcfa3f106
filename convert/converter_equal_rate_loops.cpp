// The sample converter's loops for equal rates, chosen once at creation: each gives exactly the
// bytes of the plain frame-by-frame path in sample_converter.cpp, on integers where that path's
// round trip through floats is exact. The tests compare both against a model of their own.
#include "convert/converter_equal_rate_loops.h"

#include <string.h>

#include "convert/converter_sse2.h"

enum {
    loop_copy = no_block_path + 1, // 8, 16 or 24 bits to the same width and channels: the bytes themselves
    loop_16_to_24,                 // same channels: the 16-bit value shifted up by 8
    loop_stereo_16_to_mono_16,     // (left + right) / 2, truncated toward zero
};

// The 16-bit value read as a float and written at 24 bits is x / 2^15 * 2^23, exactly x << 8:
// a zero byte, then x's own two bytes.
static uint8_t *widen_16_to_24(const uint8_t *in, uint32_t samples, uint8_t *out)
{
    uint32_t k = 0;
    // Eight samples a pass (16 bytes in, 24 out). Each 64-bit lane becomes two 3-byte samples and
    // two spare zero bytes, stored 8 bytes at a time 6 bytes apart: the next store covers the
    // spare bytes. The last pass's spare bytes need a sample after it to cover them, hence < and
    // not <=: nothing is written beyond the block.
    const __m128i zero = _mm_setzero_si128(), low_halves = _mm_set_epi32(0, -1, 0, -1);
    for (; k + 8 < samples; k += 8, in += 16, out += 24) {
        __m128i x = load_16_bytes(in);
        // x << 16 in 32 bits: bytes [0, 0, low, high] per sample
        __m128i first = _mm_unpacklo_epi16(zero, x), second = _mm_unpackhi_epi16(zero, x);
        // per lane [0, low0, high0, 0, low1, high1, 0, 0]: the even sample down one byte, the odd two
        first = _mm_or_si128(_mm_and_si128(_mm_srli_epi64(first, 8), low_halves),
                             _mm_andnot_si128(low_halves, _mm_srli_epi64(first, 16)));
        second = _mm_or_si128(_mm_and_si128(_mm_srli_epi64(second, 8), low_halves),
                              _mm_andnot_si128(low_halves, _mm_srli_epi64(second, 16)));
        store_8_bytes(out, first);
        store_8_bytes(out + 6, _mm_unpackhi_epi64(first, first));
        store_8_bytes(out + 12, second);
        store_8_bytes(out + 18, _mm_unpackhi_epi64(second, second));
    }
    for (; k < samples; k++, in += 2, out += 3) {
        out[0] = 0;
        out[1] = in[0];
        out[2] = in[1];
    }
    return out;
}

// The plain path reads left and right as l / 2^15 and r / 2^15 (exact floats), mixes them as
// (r + l) * 0.5 in double, exactly (l + r) / 2^16, which has at most 17 significant bits and so
// is also exact as the stored float, and writes it at 16 bits as (l + r) / 2 truncated toward
// zero. The result lies in [-32768, 32767], so the clamp never acts: (l + r) / 2 in integers
// gives the same bytes for every pair of samples.
static uint8_t *average_stereo_16(const uint8_t *in, uint32_t frames, uint8_t *out)
{
    uint32_t k = 0;
    const __m128i ones = _mm_set1_epi16(1);
    for (; k + 8 <= frames; k += 8, in += 32, out += 16) { // eight frames: 32 bytes in, 16 out
        __m128i first = _mm_madd_epi16(load_16_bytes(in), ones); // l + r in 32 bits
        __m128i second = _mm_madd_epi16(load_16_bytes(in + 16), ones);
        // Halving toward zero: a negative sum gets its sign bit added before the arithmetic shift.
        first = _mm_srai_epi32(_mm_add_epi32(first, _mm_srli_epi32(first, 31)), 1);
        second = _mm_srai_epi32(_mm_add_epi32(second, _mm_srli_epi32(second, 31)), 1);
        // Every mean fits 16 bits, so the saturating pack only narrows.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_packs_epi32(first, second));
    }
    for (; k < frames; k++, in += 4, out += 2) {
        int32_t sum = static_cast<int16_t>(in[0] | in[1] << 8) + static_cast<int16_t>(in[2] | in[3] << 8);
        int32_t mean = sum / 2;
        out[0] = static_cast<uint8_t>(mean);
        out[1] = static_cast<uint8_t>(mean >> 8);
    }
    return out;
}

void choose_equal_rate_loop(sample_converter *c)
{
    uint32_t in_sample_bytes = c->in_sample_bytes, out_sample_bytes = c->out_sample_bytes;
    bool same_channels = c->in_channels == c->out_channels;
    if (same_channels && in_sample_bytes == out_sample_bytes && in_sample_bytes <= 3)
        c->block_path = loop_copy;
    else if (same_channels && in_sample_bytes == 2 && out_sample_bytes == 3)
        c->block_path = loop_16_to_24;
    else if (c->in_channels == 2 && c->out_channels == 1 && in_sample_bytes == 2 && out_sample_bytes == 2)
        c->block_path = loop_stereo_16_to_mono_16;
}

uint8_t *convert_equal_rate_block(const sample_converter *c, const uint8_t *in, uint32_t frames, uint8_t *out)
{
    size_t in_bytes = static_cast<size_t>(frames) * c->in_channels * c->in_sample_bytes;
    switch (c->block_path) {
    case loop_copy:
        memcpy(out, in, in_bytes);
        return out + in_bytes;
    case loop_16_to_24:
        return widen_16_to_24(in, frames * c->in_channels, out);
    case loop_stereo_16_to_mono_16:
        return average_stereo_16(in, frames, out);
    default:
        return out; // no_block_path: never handed a block
    }
}
