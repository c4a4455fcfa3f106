// The sample converter's loops for equal rates, chosen once at creation: each gives exactly the
// bytes of the plain frame-by-frame path in sample_converter.cpp, on integers where that path's
// round trip through floats is exact. The tests compare both against a model of their own. Each
// loop comes in SSE2 and in AVX2, which takes a converter created on a machine that runs it; the
// AVX2 functions are static and carry their target themselves, so no code that SSE2 callers
// share is ever compiled for AVX2.
#include "convert/converter_equal_rate_loops.h"

#include <immintrin.h>
#include <string.h>

#include "convert/converter_sse2.h"

#define AVX2_FUNCTION __attribute__((target("avx2")))

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

// widen_16_to_24, sixteen samples a pass (32 bytes in, 48 out). The first 32 output bytes take
// input bytes 0 to 20: the low half from the first 16, the high half from bytes 8 to 23 (moved
// there first, as byte shuffles stay within halves); the last 16 take bytes 21 to 31. A zero
// byte comes where the shuffle's index has its top bit.
AVX2_FUNCTION static uint8_t *widen_16_to_24_avx2(const uint8_t *in, uint32_t samples, uint8_t *out)
{
    const __m256i first = _mm256_setr_epi8(-1, 0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1,     // bytes 0..15
                                           2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10, 11, -1, 12); // bytes 8..23
    const __m128i last = _mm_setr_epi8(5, -1, 6, 7, -1, 8, 9, -1, 10, 11, -1, 12, 13, -1, 14, 15); // bytes 16..31
    uint32_t k = 0;
    for (; k + 16 <= samples; k += 16, in += 32, out += 48) {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in));
        __m256i spread = _mm256_permute4x64_epi64(x, 0x94); // 64-bit words 0, 1, 1, 2
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), _mm256_shuffle_epi8(spread, first));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 32), _mm_shuffle_epi8(_mm256_extracti128_si256(x, 1), last));
    }
    return widen_16_to_24(in, samples - k, out);
}

// average_stereo_16, sixteen frames a pass: the pack works within halves, so a 64-bit word
// shuffle puts the means back in order.
AVX2_FUNCTION static uint8_t *average_stereo_16_avx2(const uint8_t *in, uint32_t frames, uint8_t *out)
{
    uint32_t k = 0;
    const __m256i ones = _mm256_set1_epi16(1);
    for (; k + 16 <= frames; k += 16, in += 64, out += 32) {
        __m256i first = _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in)), ones);
        __m256i second = _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 32)), ones);
        first = _mm256_srai_epi32(_mm256_add_epi32(first, _mm256_srli_epi32(first, 31)), 1);
        second = _mm256_srai_epi32(_mm256_add_epi32(second, _mm256_srli_epi32(second, 31)), 1);
        __m256i means = _mm256_permute4x64_epi64(_mm256_packs_epi32(first, second), 0xD8); // words 0, 2, 1, 3
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), means);
    }
    return average_stereo_16(in, frames - k, out);
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
        if (c->kernel_set == kernels_avx2) return widen_16_to_24_avx2(in, frames * c->in_channels, out);
        return widen_16_to_24(in, frames * c->in_channels, out);
    case loop_stereo_16_to_mono_16:
        if (c->kernel_set == kernels_avx2) return average_stereo_16_avx2(in, frames, out);
        return average_stereo_16(in, frames, out);
    default:
        return out; // no_block_path: never handed a block
    }
}
