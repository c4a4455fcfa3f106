// The sample converter's resampling kernels in AVX2, four doubles a register, for the converters
// created on a processor and system that run them (converter_cpu.cpp). Each gives exactly the
// bytes of its SSE2 counterpart (converter_resample_lanes.h): the same operations on the same
// values in the same order, only more of them at a time, and never a fused multiply-add. Every
// function here is static and carries the target itself, so no copy of an inline function that
// SSE2 callers share is ever compiled for AVX2; the SSE2 helpers it calls are compiled into it.
#include "convert/converter_resample_kernels.h"

#include <immintrin.h>

#include "convert/converter_resample_lanes.h"

#define AVX2_FUNCTION __attribute__((target("avx2")))
#define AVX2_INLINE inline __attribute__((always_inline, target("avx2")))

static AVX2_INLINE __m256d round_to_float_4(__m256d x) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(x)); }

// Two lanes, those of one frame, in both halves.
static AVX2_INLINE __m256d frame_twice(const double *x, uint32_t f)
{
    return _mm256_broadcast_pd(reinterpret_cast<const __m128d *>(x + 2 * f));
}

struct wide_segment {
    __m256d coef3, coef2, coef1, y0;
};

// make_segment on four lanes.
static AVX2_INLINE __m256d make_wide_segment(__m256d y0, __m256d y1, __m256d y2, __m256d coef1, bool exact,
                                             wide_segment *s)
{
    __m256d m = _mm256_mul_pd(_mm256_sub_pd(y2, y0), _mm256_set1_pd(0.5));
    __m256d d = _mm256_sub_pd(y1, y0);
    if (!exact) d = round_to_float_4(d);
    __m256d coef2 = _mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(_mm256_set1_pd(3.0), d), m), _mm256_add_pd(coef1, coef1));
    __m256d coef3 = _mm256_sub_pd(_mm256_sub_pd(d, coef2), coef1);
    s->coef3 = exact ? coef3 : round_to_float_4(coef3);
    s->coef2 = exact ? coef2 : round_to_float_4(coef2);
    s->coef1 = coef1;
    s->y0 = y0;
    return exact ? m : round_to_float_4(m);
}

static AVX2_INLINE __m256d wide_segment_value(const wide_segment &s, __m256d t)
{
    __m256d v = _mm256_add_pd(_mm256_mul_pd(s.coef3, t), s.coef2);
    v = _mm256_add_pd(_mm256_mul_pd(v, t), s.coef1);
    return _mm256_add_pd(_mm256_mul_pd(v, t), s.y0);
}

// Four 32-bit integers times scale, stored as four doubles.
static AVX2_INLINE void store_scaled_4(double *x, __m128i v, __m256d scale)
{
    _mm256_storeu_pd(x, _mm256_mul_pd(_mm256_cvtepi32_pd(v), scale));
}

// mix_into_lanes, eight frames a pass where the input is 16-bit; the rest as there.
static AVX2_INLINE void mix_into_lanes_4(sample_converter *c, const uint8_t *in, uint32_t n, double *x,
                                         uint32_t lanes)
{
    uint32_t k = 0;
    if (c->in_sample_bytes == 2 && c->in_channels == 2 && c->out_channels == 2) {
        const __m256d scale = _mm256_set1_pd(1.0 / full_scale_16);
        for (; k + 4 <= n; k += 4, in += 16, x += 8) { // four frames: 16 bytes
            __m256i s = _mm256_cvtepi16_epi32(load_16_bytes(in));
            store_scaled_4(x, _mm256_castsi256_si128(s), scale);
            store_scaled_4(x + 4, _mm256_extracti128_si256(s, 1), scale);
        }
    } else if (c->in_sample_bytes == 2 && c->in_channels == 2 && c->out_channels == 1) {
        const __m256d scale = _mm256_set1_pd(0.5 / full_scale_16); // (left + right) * 0.5 * 2^-15
        const __m256i ones = _mm256_set1_epi16(1);
        for (; k + 8 <= n; k += 8, in += 32, x += 8 * lanes) { // eight frames: 32 bytes
            __m256i sums = _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in)), ones);
            __m128i first = _mm256_castsi256_si128(sums), second = _mm256_extracti128_si256(sums, 1);
            if (lanes == 1) {
                store_scaled_4(x, first, scale);
                store_scaled_4(x + 4, second, scale);
            } else {
                store_scaled_4(x, _mm_unpacklo_epi32(first, first), scale);
                store_scaled_4(x + 4, _mm_unpackhi_epi32(first, first), scale);
                store_scaled_4(x + 8, _mm_unpacklo_epi32(second, second), scale);
                store_scaled_4(x + 12, _mm_unpackhi_epi32(second, second), scale);
            }
        }
    } else if (c->in_sample_bytes == 2 && c->in_channels == 1 && lanes == 1) {
        const __m256d scale = _mm256_set1_pd(1.0 / full_scale_16);
        for (; k + 8 <= n; k += 8, in += 16, x += 8) { // eight frames: 16 bytes
            __m256i s = _mm256_cvtepi16_epi32(load_16_bytes(in));
            store_scaled_4(x, _mm256_castsi256_si128(s), scale);
            store_scaled_4(x + 4, _mm256_extracti128_si256(s, 1), scale);
        }
    }
    uint32_t in_frame_bytes = c->in_channels * c->in_sample_bytes;
    for (; k < n; k++, in += in_frame_bytes, x += lanes) {
        const float *mixed = mixed_frame_at(c, in);
        x[0] = mixed[0];
        if (lanes == 2) x[1] = mixed[c->out_channels - 1];
    }
}

// values_halving, two frames a pass: their segments side by side. A frame's start tangent is the
// end tangent of the segment before, (y1 - sample before y0) / 2, except in the chunk's first
// frame, whose tangent comes from the record: that frame goes alone.
static AVX2_INLINE uint32_t values_halving_4(const double *x, uint32_t n, double *values, __m128d slope, bool exact)
{
    uint32_t j = 0;
    if (n > 0) {
        values_halving(x, 1, values, slope, exact);
        j = 1;
    }
    const __m256d half = _mm256_set1_pd(0.5);
    wide_segment s;
    for (; j + 2 <= n; j += 2) {
        __m256d before = _mm256_loadu_pd(x + 2 * j), y0 = _mm256_loadu_pd(x + 2 * (j + 1));
        __m256d y1 = _mm256_loadu_pd(x + 2 * (j + 2)), y2 = _mm256_loadu_pd(x + 2 * (j + 3));
        __m256d coef1 = _mm256_mul_pd(_mm256_sub_pd(y1, before), half);
        make_wide_segment(y0, y1, y2, exact ? coef1 : round_to_float_4(coef1), exact, &s);
        __m256d v = wide_segment_value(s, half);
        _mm256_storeu_pd(values + 4 * j, _mm256_permute2f128_pd(y0, v, 0x20));
        _mm256_storeu_pd(values + 4 * j + 4, _mm256_permute2f128_pd(y0, v, 0x31));
    }
    if (j < n) {
        __m128d coef1 = tangent_before(x, j, exact, 2);
        lane_segment one;
        make_segment(frame_at(x, j + 1, 2), frame_at(x, j + 2, 2), frame_at(x, j + 3, 2), coef1, exact, &one);
        _mm_storeu_pd(values + 4 * j, one.y0);
        _mm_storeu_pd(values + 4 * j + 2, segment_value(one, _mm_set1_pd(0.5)));
    }
    return 2 * n;
}

// Two positions, each in both lanes of its half: the low lanes of first and second.
static AVX2_INLINE __m256d two_positions(__m128 first, __m128 second)
{
    __m128 pair = _mm_unpacklo_ps(first, second);
    return _mm256_cvtps_pd(_mm_unpacklo_ps(pair, pair));
}

// values_below_one, two sub-steps a pass: the frame's segment in both halves of the registers.
// The position runs in a register's low lane, added to as a float, one rounding a sum as in the
// plain path. With the sure sub-steps a constant (most steps have a few), their loop unrolls.
template <uint32_t fixed_sure>
static AVX2_INLINE uint32_t values_below_one_4(sample_converter *c, const double *x, uint32_t n, double *values,
                                               __m128d slope, bool exact)
{
    const uint32_t sure = fixed_sure ? fixed_sure : c->sure_substeps;
    const __m128 step = _mm_set_ss(c->step), one = _mm_set_ss(1.0f);
    __m128 position = _mm_set_ss(c->position);
    uint32_t count = 0;
    __m256d y0 = frame_twice(x, 1), y1 = frame_twice(x, 2);
    __m256d wide_slope = _mm256_set_m128d(slope, slope);
    wide_segment s;
    for (uint32_t j = 0; j < n; j++) {
        __m256d y2 = frame_twice(x, j + 3);
        wide_slope = make_wide_segment(y0, y1, y2, wide_slope, exact, &s);
        y0 = y1;
        y1 = y2;
#pragma GCC unroll 8
        for (uint32_t k = 0; k + 2 <= sure; k += 2) {
            __m128 first = position, second = _mm_add_ss(first, step);
            position = _mm_add_ss(second, step);
            _mm256_storeu_pd(values + 2 * count, wide_segment_value(s, two_positions(first, second)));
            count += 2;
        }
        // The rest, below 1 or not, in pairs; only the count says which values are kept.
        while (_mm_comilt_ss(position, one)) {
            __m128 first = position, second = _mm_add_ss(first, step);
            _mm256_storeu_pd(values + 2 * count, wide_segment_value(s, two_positions(first, second)));
            if (_mm_comilt_ss(second, one)) {
                count += 2;
                position = _mm_add_ss(second, step);
            } else {
                count += 1;
                position = second;
            }
        }
        position = _mm_sub_ss(position, one);
    }
    c->position = _mm_cvtss_f32(position);
    return count;
}

// values_below_one_4 by the sure sub-steps of a frame, a constant where there are a few.
static AVX2_INLINE uint32_t below_one_4(sample_converter *c, const double *x, uint32_t n, double *values,
                                        __m128d slope, bool exact)
{
    switch (c->sure_substeps) {
    case 2: return values_below_one_4<2>(c, x, n, values, slope, exact);
    case 3: return values_below_one_4<3>(c, x, n, values, slope, exact);
    case 4: return values_below_one_4<4>(c, x, n, values, slope, exact);
    case 5: return values_below_one_4<5>(c, x, n, values, slope, exact);
    case 6: return values_below_one_4<6>(c, x, n, values, slope, exact);
    case 7: return values_below_one_4<7>(c, x, n, values, slope, exact);
    case 8: return values_below_one_4<8>(c, x, n, values, slope, exact);
    default: return values_below_one_4<0>(c, x, n, values, slope, exact);
    }
}

// Four rows of four doubles, transposed: lane k of row r becomes lane r of row k.
static AVX2_INLINE void transpose_4(__m256d &a, __m256d &b, __m256d &c, __m256d &d)
{
    __m256d ab_low = _mm256_unpacklo_pd(a, b), ab_high = _mm256_unpackhi_pd(a, b);
    __m256d cd_low = _mm256_unpacklo_pd(c, d), cd_high = _mm256_unpackhi_pd(c, d);
    a = _mm256_permute2f128_pd(ab_low, cd_low, 0x20);
    b = _mm256_permute2f128_pd(ab_high, cd_high, 0x20);
    c = _mm256_permute2f128_pd(ab_low, cd_low, 0x31);
    d = _mm256_permute2f128_pd(ab_high, cd_high, 0x31);
}

// mono_from_one, four sub-steps a pass: each one's four samples loaded as one row, the rows
// transposed into the samples before, at, after and two after its segment's start. An even step
// added to even units never rounds (see advance), so the positions are the first one plus whole
// steps, exact as doubles: the sub-steps' frames and positions inside them come four at a time.
// With an odd step the SSE2 helper follows the rounding sum by sum.
static AVX2_INLINE uint32_t mono_from_one_4(sample_converter *c, const double *x, uint32_t n, double *values,
                                            bool exact)
{
    const uint32_t shift = c->position_shift, step_units = c->step_units;
    unit_position p = position_in_units(c);
    if ((step_units | p.units) & 1) return mono_from_one(c, x, n, values, exact);
    uint32_t count = 0;
    // A sub-step in the chunk's first frame takes its start tangent from the record: it goes alone.
    if (p.frame == 0 && n > 0) {
        lane_segment s;
        __m128d coef1 = _mm_set1_pd(c->segments[0].end_slope);
        make_segment(_mm_set1_pd(x[1]), _mm_set1_pd(x[2]), _mm_set1_pd(x[3]), coef1, exact, &s);
        _mm_store_sd(values + count++, segment_value(s, _mm_set1_pd(units_to_frames(p.units, shift))));
        p = advance(p, step_units, shift);
    }
    // Units from the chunk's start: below 2^53, whole in a double.
    uint64_t first = (static_cast<uint64_t>(p.frame) << shift) + p.units, end = static_cast<uint64_t>(n) << shift;
    uint32_t total = first < end ? static_cast<uint32_t>((end - first + step_units - 1) / step_units) : 0;
    const double step = step_units;
    const __m256d half = _mm256_set1_pd(0.5), unit = _mm256_set1_pd(units_to_frames(1, shift));
    const __m256d four_steps = _mm256_set1_pd(4 * step);
    __m256d at = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(first)), _mm256_setr_pd(0, step, 2 * step, 3 * step));
    // The four frames also run in general registers, from the pass's first sub-step (frame and
    // units, in 32 bits on every build): the loads then wait for two integer operations, not for
    // the conversions of the positions, and the passes overlap more.
    uint32_t frame = static_cast<uint32_t>(first >> shift), units = static_cast<uint32_t>(first) & ((1u << shift) - 1);
    const uint32_t last_frame = n - 1, mask = (1u << shift) - 1;
    wide_segment s;
    for (uint32_t k = 0; k < total; k += 4, at = _mm256_add_pd(at, four_steps)) {
        __m256d position = _mm256_mul_pd(at, unit);
        __m256d t = _mm256_sub_pd(position, _mm256_floor_pd(position));
        // Past the chunk's last sub-step the lanes repeat its last frame; their values are not kept.
        uint32_t f0 = frame, f1 = frame + ((units + step_units) >> shift);
        uint32_t f2 = frame + ((units + 2 * step_units) >> shift), f3 = frame + ((units + 3 * step_units) >> shift);
        f1 = f1 < last_frame ? f1 : last_frame;
        f2 = f2 < last_frame ? f2 : last_frame;
        f3 = f3 < last_frame ? f3 : last_frame;
        units += 4 * step_units;
        frame += units >> shift;
        units &= mask;
        __m256d before = _mm256_loadu_pd(x + f0), y0 = _mm256_loadu_pd(x + f1);
        __m256d y1 = _mm256_loadu_pd(x + f2), y2 = _mm256_loadu_pd(x + f3);
        transpose_4(before, y0, y1, y2);
        __m256d coef1 = _mm256_mul_pd(_mm256_sub_pd(y1, before), half);
        make_wide_segment(y0, y1, y2, exact ? coef1 : round_to_float_4(coef1), exact, &s);
        _mm256_storeu_pd(values + count + k, wide_segment_value(s, t));
    }
    uint64_t after = first + static_cast<uint64_t>(total) * step_units;
    keep_position(c, {static_cast<uint32_t>(after >> shift), static_cast<uint32_t>(after & ((1u << shift) - 1))}, n);
    return count + total;
}

// Sub-step k of the two stereo output frames whose sub-steps start at v.
static AVX2_INLINE __m256d substep_of_two(const double *v, int k)
{
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(v + 2 * k)), _mm_loadu_pd(v + 8 + 2 * k), 1);
}

// Eight sub-steps of two lanes from v on: two stereo output frames, the first in the low half.
static AVX2_INLINE __m128 two_stereo_frames(const double *v)
{
    __m128 sum = _mm256_cvtpd_ps(substep_of_two(v, 0));
    sum = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(sum), substep_of_two(v, 1)));
    sum = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(sum), substep_of_two(v, 2)));
    return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(sum), substep_of_two(v, 3)));
}

// Sixteen sub-steps of one lane from v on: four mono output frames.
static AVX2_INLINE __m128 four_mono_frames(const double *v)
{
    __m256d a = _mm256_loadu_pd(v), b = _mm256_loadu_pd(v + 4), c = _mm256_loadu_pd(v + 8), d = _mm256_loadu_pd(v + 12);
    transpose_4(a, b, c, d);
    __m128 sum = _mm256_cvtpd_ps(a);
    sum = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(sum), b));
    sum = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(sum), c));
    return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(sum), d));
}

// Four 16-bit samples of four lanes' sums: truncation, then the clamp by the saturating pack.
static AVX2_INLINE __m128i truncate_16(__m128 sums)
{
    // the mean of four, then full scale: exact
    return _mm_cvttps_epi32(_mm_mul_ps(sums, _mm_set1_ps(0.25f * static_cast<float>(full_scale_16))));
}

// sum_values, four 16-bit output frames a pass where the lanes allow it; the SSE2 helper takes
// a frame that an earlier call left unfinished, the other widths and what is left at the end.
static AVX2_INLINE uint8_t *sum_values_4(sample_converter *c, const double *values, uint32_t count, uint8_t *out,
                                         uint32_t lanes)
{
    uint32_t i = 0;
    if (c->substep_count != 0) {
        i = 4 - c->substep_count < count ? 4 - c->substep_count : count;
        out = sum_values(c, values, i, out, lanes);
    }
    if (c->substep_count == 0 && c->out_sample_bytes == 2) {
        if (c->out_channels == 2) {
            for (; i + 16 <= count; i += 16, out += 16) {
                __m128i first = truncate_16(two_stereo_frames(values + 2 * i));
                __m128i second = truncate_16(two_stereo_frames(values + 2 * i + 16));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_packs_epi32(first, second));
            }
        } else if (lanes == 1) {
            for (; i + 16 <= count; i += 16, out += 8) {
                __m128i four = truncate_16(four_mono_frames(values + i));
                store_8_bytes(out, _mm_packs_epi32(four, four));
            }
        }
    }
    return sum_values(c, values + lanes * i, count - i, out, lanes);
}

static AVX2_INLINE uint8_t *resample_chunk_4(sample_converter *c, const uint8_t *in, uint32_t n, uint8_t *out,
                                             uint32_t lanes)
{
    double *x = c->scratch_lanes, *values = c->scratch_values;
    put_history(c, x, lanes);
    mix_into_lanes_4(c, in, n, x + lanes * history_frames, lanes);
    __m128d slope = start_slope(c);
    bool exact = c->short_samples != 0;
    uint32_t count;
    if (lanes == 1)
        count = exact ? mono_from_one_4(c, x, n, values, true) : mono_from_one_4(c, x, n, values, false);
    else if (c->block_path == kernel_halving && c->position == 0.0f)
        count = exact ? values_halving_4(x, n, values, slope, true) : values_halving_4(x, n, values, slope, false);
    else if (c->step < 1.0f)
        count = exact ? below_one_4(c, x, n, values, slope, true) : below_one_4(c, x, n, values, slope, false);
    else
        count = exact ? values_from_one(c, x, n, values, slope, true)
                      : values_from_one(c, x, n, values, slope, false);
    keep_history(c, x, n, slope, exact, lanes);
    return sum_values_4(c, values, count, out, lanes);
}

AVX2_FUNCTION uint8_t *resample_block_avx2(sample_converter *c, const uint8_t *in, uint32_t frames, uint8_t *out)
{
    uint32_t in_frame_bytes = c->in_channels * c->in_sample_bytes;
    bool one_lane = c->block_path == kernel_from_one && c->out_channels == 1;
    while (frames > 0) {
        uint32_t n = frames < c->chunk_frames ? frames : c->chunk_frames;
        out = one_lane ? resample_chunk_4(c, in, n, out, 1) : resample_chunk_4(c, in, n, out, 2);
        in += static_cast<size_t>(n) * in_frame_bytes;
        frames -= n;
    }
    return out;
}
