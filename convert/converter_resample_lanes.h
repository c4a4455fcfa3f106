// The building blocks of the sample converter's resampling kernels, two lanes of doubles a
// register: mixing a chunk into lanes, the segment values of its sub-steps, and their sums into
// output frames. Only static inline functions, shared by the SSE2 kernels
// (converter_resample_kernels.cpp) and the AVX2 ones (converter_resample_avx2.cpp), which take
// over the hot loops and use these for the rest: a helper inlined there runs the very same
// operations, only encoded for AVX. Nothing outside those two files includes it.
#ifndef TOLLVANE_CONVERTER_RESAMPLE_LANES_H
#define TOLLVANE_CONVERTER_RESAMPLE_LANES_H

#include <string.h>

#include "convert/converter_record.h"
#include "convert/converter_samples.h"
#include "convert/converter_sse2.h"

enum {
    kernel_below_one = no_block_path + 1, // step below 1
    kernel_halving,                       // step exactly 1/2: positions 0 and 1/2 in every frame
    kernel_from_one,                      // step of 1 or more
};

// A chunk of at most max_chunk_frames input frames at a time is mixed into scratch_lanes after
// history_frames frames of history, and its sub-steps' segment values, at most
// scratch_value_pairs of them, go into scratch_values. Both hold two lanes a frame or sub-step:
// left and right, or the mono sample twice; but one channel with a step of 1 or more packs one
// value a frame and a sub-step, and its kernel puts two sub-steps in the lanes instead. The lane
// count is a constant wherever a loop is expanded.
static const uint32_t max_chunk_frames = 1024;
static const uint32_t history_frames = 3;
static const uint32_t scratch_value_pairs = 4096;
// Room behind them for the AVX2 kernels, which store four doubles at a time and may pass the
// last value they keep by up to three.
static const uint32_t scratch_value_spare = 2;

// The resampling loops come in two kinds of samples: exact (mixed samples of 8 or 16 bits,
// alone or averaged in pairs, whose segment coefficients are floats already, so rounding them
// changes nothing) or rounded (any other); the flag is a constant wherever a loop is expanded.

static ALWAYS_INLINE __m128d round_to_float(__m128d x) { return _mm_cvtps_pd(_mm_cvtpd_ps(x)); }
static ALWAYS_INLINE __m128d gather(const double *a, const double *b) { return _mm_loadh_pd(_mm_load_sd(a), b); }

// Frame f of the mixed samples x: its two lanes, or its one value in both.
static ALWAYS_INLINE __m128d frame_at(const double *x, uint32_t f, uint32_t lanes)
{
    return lanes == 2 ? _mm_loadu_pd(x + 2 * f) : _mm_set1_pd(x[f]);
}

struct lane_segment {
    __m128d coef3, coef2, coef1, y0;
};

// The segment through y0..y2 with start tangent coef1 (already a float); returns its end tangent
// as stored, rounded to float. With exact samples (multiples of 2^-16 in [-1, 1]) every
// intermediate is a multiple of 2^-17 below 16 in size: 21 bits, a float already, so nothing
// needs rounding.
static ALWAYS_INLINE __m128d make_segment(__m128d y0, __m128d y1, __m128d y2, __m128d coef1, bool exact,
                                          lane_segment *s)
{
    __m128d m = _mm_mul_pd(_mm_sub_pd(y2, y0), _mm_set1_pd(0.5));
    __m128d d = _mm_sub_pd(y1, y0);
    if (!exact) d = round_to_float(d);
    __m128d coef2 = _mm_sub_pd(_mm_sub_pd(_mm_mul_pd(_mm_set1_pd(3.0), d), m), _mm_add_pd(coef1, coef1));
    __m128d coef3 = _mm_sub_pd(_mm_sub_pd(d, coef2), coef1);
    s->coef3 = exact ? coef3 : round_to_float(coef3);
    s->coef2 = exact ? coef2 : round_to_float(coef2);
    s->coef1 = coef1;
    s->y0 = y0;
    return exact ? m : round_to_float(m);
}

// The end tangent of the segment before frame's: (y1 - sample before y0) / 2, as stored.
static ALWAYS_INLINE __m128d tangent_before(const double *x, uint32_t frame, bool exact, uint32_t lanes)
{
    __m128d m = _mm_mul_pd(_mm_sub_pd(frame_at(x, frame + 2, lanes), frame_at(x, frame, lanes)), _mm_set1_pd(0.5));
    return exact ? m : round_to_float(m);
}

static ALWAYS_INLINE __m128d segment_value(const lane_segment &s, __m128d t)
{
    __m128d v = _mm_add_pd(_mm_mul_pd(s.coef3, t), s.coef2);
    v = _mm_add_pd(_mm_mul_pd(v, t), s.coef1);
    return _mm_add_pd(_mm_mul_pd(v, t), s.y0);
}

// Reads and mixes one frame the plain path's way, for the frames the 16-bit loops below leave.
static ALWAYS_INLINE const float *mixed_frame_at(sample_converter *c, const uint8_t *in)
{
    uint32_t in_sample_bytes = c->in_sample_bytes;
    for (uint32_t i = 0; i < c->in_channels; i++, in += in_sample_bytes)
        c->in_frame[i] = read_sample(in, in_sample_bytes);
    mix_frame(c->in_frame, c->in_channels, c->mixed_frame, c->out_channels);
    return c->mixed_frame;
}

// Four 32-bit integers times scale, stored as four doubles.
static ALWAYS_INLINE void store_scaled(double *x, __m128i v, __m128d scale)
{
    _mm_storeu_pd(x, _mm_mul_pd(_mm_cvtepi32_pd(v), scale));
    _mm_storeu_pd(x + 2, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(v, 8)), scale));
}

// Mixes n input frames into x after the three frames of history already there, in the given
// number of lanes a frame. 16-bit samples and their half sums are exact as doubles.
static ALWAYS_INLINE void mix_into_lanes(sample_converter *c, const uint8_t *in, uint32_t n, double *x,
                                         uint32_t lanes)
{
    uint32_t k = 0;
    if (c->in_sample_bytes == 2 && c->in_channels == 2 && c->out_channels == 2) {
        const __m128d scale = _mm_set1_pd(1.0 / full_scale_16);
        for (; k + 4 <= n; k += 4, in += 16, x += 8) { // four frames: 16 bytes
            __m128i s = load_16_bytes(in);
            __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16);
            __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(s, s), 16);
            store_scaled(x, lo, scale);
            store_scaled(x + 4, hi, scale);
        }
    } else if (c->in_sample_bytes == 2 && c->in_channels == 2 && c->out_channels == 1) {
        const __m128d scale = _mm_set1_pd(0.5 / full_scale_16); // (left + right) * 0.5 * 2^-15
        const __m128i ones = _mm_set1_epi16(1);
        for (; k + 4 <= n; k += 4, in += 16, x += 4 * lanes) { // four frames: 16 bytes
            __m128i sums = _mm_madd_epi16(load_16_bytes(in), ones);
            if (lanes == 1) {
                store_scaled(x, sums, scale);
            } else {
                store_scaled(x, _mm_unpacklo_epi32(sums, sums), scale);
                store_scaled(x + 4, _mm_unpackhi_epi32(sums, sums), scale);
            }
        }
    } else if (c->in_sample_bytes == 2 && c->in_channels == 1 && lanes == 1) {
        const __m128d scale = _mm_set1_pd(1.0 / full_scale_16);
        for (; k + 4 <= n; k += 4, in += 8, x += 4) { // four frames: 8 bytes
            __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(in));
            store_scaled(x, _mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16), scale);
        }
    }
    uint32_t in_frame_bytes = c->in_channels * c->in_sample_bytes;
    for (; k < n; k++, in += in_frame_bytes, x += lanes) {
        const float *mixed = mixed_frame_at(c, in);
        x[0] = mixed[0];
        if (lanes == 2) x[1] = mixed[c->out_channels - 1];
    }
}

// Step below 1: frame by frame. The first sure_substeps positions of a frame are below 1
// whatever the frame starts at, so only the last one or two need the test.
static ALWAYS_INLINE uint32_t values_below_one(sample_converter *c, const double *x, uint32_t n, double *values,
                                               __m128d slope, bool exact)
{
    float position = c->position, step = c->step;
    uint32_t sure = c->sure_substeps, count = 0;
    __m128d y0 = frame_at(x, 1, 2), y1 = frame_at(x, 2, 2);
    lane_segment s;
    for (uint32_t j = 0; j < n; j++) {
        __m128d y2 = frame_at(x, j + 3, 2);
        slope = make_segment(y0, y1, y2, slope, exact, &s);
        y0 = y1;
        y1 = y2;
        for (uint32_t k = 0; k < sure; k++) {
            _mm_storeu_pd(values + 2 * count++, segment_value(s, _mm_set1_pd(position)));
            position = position + step; // one rounding of the exact sum, as in double then float
        }
        while (position < 1.0f) {
            _mm_storeu_pd(values + 2 * count++, segment_value(s, _mm_set1_pd(position)));
            position = position + step;
        }
        position = position - 1.0f;
    }
    c->position = position;
    return count;
}

// Step 1/2 from position 0: the positions are 0 and 1/2 in every frame, exactly. At 0 the
// segment's value is y0 itself.
static ALWAYS_INLINE uint32_t values_halving(const double *x, uint32_t n, double *values, __m128d slope, bool exact)
{
    __m128d y0 = frame_at(x, 1, 2), y1 = frame_at(x, 2, 2);
    const __m128d half = _mm_set1_pd(0.5);
    lane_segment s;
    for (uint32_t j = 0; j < n; j++) {
        __m128d y2 = frame_at(x, j + 3, 2);
        slope = make_segment(y0, y1, y2, slope, exact, &s);
        _mm_storeu_pd(values + 4 * j, y0);
        _mm_storeu_pd(values + 4 * j + 2, segment_value(s, half));
        y0 = y1;
        y1 = y2;
    }
    return 2 * n;
}

// Step of 1 or more: every position is a whole number of step's last bit, so the float position
// runs exactly as an integer, a frame and the units of step's last bit inside it (one input
// frame = 1 << position_shift units). Below 2^24 units a float holds every count, and the sum of
// a position below 1 and the step is exact; above it the float keeps even counts only, and a
// sum halfway between two goes to the multiple of four, which adding bit 1 and dropping bit 0
// gives.
static const uint32_t float_significand_bits = 24;

struct unit_position {
    uint32_t frame; // input frames into the chunk
    uint32_t units; // inside that frame
};

static ALWAYS_INLINE unit_position position_in_units(const sample_converter *c)
{
    uint32_t shift = c->position_shift;
    uint32_t q = static_cast<uint32_t>(static_cast<double>(c->position) * (1u << shift));
    return {q >> shift, q & ((1u << shift) - 1)};
}

static ALWAYS_INLINE unit_position advance(unit_position p, uint32_t step_units, uint32_t shift)
{
    uint32_t sum = p.units + step_units, above = sum >> float_significand_bits;
    sum = (sum + (sum >> 1 & above)) & ~above;
    return {p.frame + (sum >> shift), sum & ((1u << shift) - 1)};
}

static ALWAYS_INLINE double units_to_frames(uint32_t units, uint32_t shift)
{
    return static_cast<double>(units) * (1.0 / (1u << shift));
}

// Keeps the position reached past a chunk of n frames as the float it stands for.
static ALWAYS_INLINE void keep_position(sample_converter *c, unit_position p, uint32_t n)
{
    uint32_t shift = c->position_shift;
    c->position = static_cast<float>(units_to_frames(((p.frame - n) << shift) + p.units, shift));
}

// Segments are built only where a sub-step falls, from the four samples around it.
static ALWAYS_INLINE uint32_t values_from_one(sample_converter *c, const double *x, uint32_t n, double *values,
                                              __m128d slope, bool exact)
{
    const uint32_t shift = c->position_shift, step_units = c->step_units;
    uint32_t count = 0;
    lane_segment s;
    unit_position p = position_in_units(c);
    while (p.frame < n) {
        __m128d coef1 = p.frame == 0 ? slope : tangent_before(x, p.frame, exact, 2);
        make_segment(frame_at(x, p.frame + 1, 2), frame_at(x, p.frame + 2, 2), frame_at(x, p.frame + 3, 2), coef1,
                     exact, &s);
        _mm_storeu_pd(values + 2 * count++, segment_value(s, _mm_set1_pd(units_to_frames(p.units, shift))));
        p = advance(p, step_units, shift);
    }
    keep_position(c, p, n);
    return count;
}

// One channel, step of 1 or more: x holds the three samples of history, then the chunk's n
// mixed samples, one after another, and two sub-steps share one pass of the arithmetic, one in
// each lane.
static ALWAYS_INLINE uint32_t mono_from_one(sample_converter *c, const double *x, uint32_t n, double *values,
                                            bool exact)
{
    const uint32_t shift = c->position_shift, step_units = c->step_units;
    const __m128d half = _mm_set1_pd(0.5), unit = _mm_set1_pd(units_to_frames(1, shift));
    uint32_t count = 0;
    lane_segment s;
    unit_position p = position_in_units(c);
    // A sub-step in the chunk's first frame takes its start tangent from the record: it goes alone.
    if (p.frame == 0 && n > 0) {
        __m128d coef1 = _mm_set1_pd(c->segments[0].end_slope);
        make_segment(_mm_set1_pd(x[1]), _mm_set1_pd(x[2]), _mm_set1_pd(x[3]), coef1, exact, &s);
        _mm_store_sd(values + count++, segment_value(s, _mm_set1_pd(units_to_frames(p.units, shift))));
        p = advance(p, step_units, shift);
    }
    while (p.frame < n) {
        unit_position a = p;
        p = advance(p, step_units, shift);
        unit_position b = p.frame < n ? p : a;
        __m128d y = gather(x + a.frame, x + b.frame), y0 = gather(x + a.frame + 1, x + b.frame + 1);
        __m128d y1 = gather(x + a.frame + 2, x + b.frame + 2), y2 = gather(x + a.frame + 3, x + b.frame + 3);
        __m128d coef1 = _mm_mul_pd(_mm_sub_pd(y1, y), half);
        make_segment(y0, y1, y2, exact ? coef1 : round_to_float(coef1), exact, &s);
        // Units stay below 2^23, so the signed conversion takes them whole.
        __m128i both_units = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(a.units)),
                                                _mm_cvtsi32_si128(static_cast<int>(p.units)));
        __m128d v = segment_value(s, _mm_mul_pd(_mm_cvtepi32_pd(both_units), unit));
        if (p.frame >= n) { // the chunk's last sub-step, alone
            _mm_store_sd(values + count++, v);
            break;
        }
        _mm_storeu_pd(values + count, v);
        count += 2;
        p = advance(p, step_units, shift);
    }
    keep_position(c, p, n);
    return count;
}

// The values of the sub-step at v: both lanes, or the one value in the low lane.
static ALWAYS_INLINE __m128d value_at(const double *v, uint32_t lanes)
{
    return lanes == 2 ? _mm_loadu_pd(v) : _mm_load_sd(v);
}

static ALWAYS_INLINE __m128 add_value(__m128 sum, __m128d value)
{
    return _mm_cvtpd_ps(_mm_add_pd(_mm_cvtps_pd(sum), value));
}

// The sum of the four sub-steps from v on, rounded after each addition; the first needs no
// addition (0 + v is v).
static ALWAYS_INLINE __m128 sum_of_four(const double *v, uint32_t lanes)
{
    __m128 sum = _mm_cvtpd_ps(value_at(v, lanes));
    sum = add_value(sum, value_at(v + lanes, lanes));
    sum = add_value(sum, value_at(v + 2 * lanes, lanes));
    return add_value(sum, value_at(v + 3 * lanes, lanes));
}

// The two one-channel output frames of the eight sub-steps from v on, in the low two lanes.
// Packed values sum both frames in one pass, a frame in each lane.
static ALWAYS_INLINE __m128 two_mono_frames(const double *v, uint32_t lanes)
{
    if (lanes == 2) return _mm_unpacklo_ps(sum_of_four(v, 2), sum_of_four(v + 8, 2));
    __m128 pair = _mm_cvtpd_ps(gather(v, v + 4));
    pair = add_value(pair, gather(v + 1, v + 5));
    pair = add_value(pair, gather(v + 2, v + 6));
    return add_value(pair, gather(v + 3, v + 7));
}

// Four 16-bit samples from two lanes of two frames: truncation, then the clamp by the saturating pack.
static ALWAYS_INLINE __m128i pack_16(__m128 first, __m128 second)
{
    // the mean of four, then full scale: exact
    const __m128 scale = _mm_set1_ps(0.25f * static_cast<float>(full_scale_16));
    __m128i v = _mm_cvttps_epi32(_mm_mul_ps(_mm_movelh_ps(first, second), scale));
    return _mm_packs_epi32(v, v);
}

static inline uint8_t *write_output_frame(const sample_converter *c, __m128 sum, uint8_t *out)
{
    uint32_t channels = c->out_channels, out_sample_bytes = c->out_sample_bytes;
    if (out_sample_bytes == 2) {
        uint32_t pair = static_cast<uint32_t>(_mm_cvtsi128_si32(pack_16(sum, sum)));
        out[0] = static_cast<uint8_t>(pair);
        out[1] = static_cast<uint8_t>(pair >> 8);
        if (channels == 2) {
            out[2] = static_cast<uint8_t>(pair >> 16);
            out[3] = static_cast<uint8_t>(pair >> 24);
        }
        return out + 2 * channels;
    }
    float lane[4];
    _mm_storeu_ps(lane, _mm_mul_ps(sum, _mm_set1_ps(0.25f)));
    for (uint32_t k = 0; k < channels; k++, out += out_sample_bytes) write_sample(out, out_sample_bytes, lane[k]);
    return out;
}

// Sums the values four by four into output frames, continuing the frame that earlier calls left
// unfinished and leaving the rest in the accumulators.
static ALWAYS_INLINE uint8_t *sum_values(sample_converter *c, const double *values, uint32_t count, uint8_t *out,
                                         uint32_t lanes)
{
    uint32_t channels = c->out_channels, out_sample_bytes = c->out_sample_bytes, have = c->substep_count, i = 0;
    __m128 sum = _mm_setr_ps(c->accumulators[0], c->accumulators[channels - 1], 0.0f, 0.0f);
    if (have != 0) {
        for (; i < count && have < 4; i++, have++) sum = add_value(sum, value_at(values + lanes * i, lanes));
        if (have == 4) {
            out = write_output_frame(c, sum, out);
            have = 0;
        }
    }
    if (have == 0) {
        // Eight sub-steps make two output frames: 8 bytes of stereo or 4 of mono at 16 bits.
        if (channels == 2 && out_sample_bytes == 2) {
            for (; i + 8 <= count; i += 8, out += 8)
                store_8_bytes(out, pack_16(sum_of_four(values + 2 * i, 2), sum_of_four(values + 2 * i + 8, 2)));
        } else if (channels == 1) {
            for (; i + 8 <= count; i += 8) {
                __m128 pair = two_mono_frames(values + lanes * i, lanes);
                if (out_sample_bytes == 2) {
                    uint32_t two = static_cast<uint32_t>(_mm_cvtsi128_si32(pack_16(pair, pair)));
                    memcpy(out, &two, 4);
                    out += 4;
                } else {
                    float lane[4];
                    _mm_storeu_ps(lane, _mm_mul_ps(pair, _mm_set1_ps(0.25f)));
                    write_sample(out, out_sample_bytes, lane[0]);
                    write_sample(out + out_sample_bytes, out_sample_bytes, lane[1]);
                    out += 2 * out_sample_bytes;
                }
            }
        }
        for (; i + 4 <= count; i += 4) out = write_output_frame(c, sum_of_four(values + lanes * i, lanes), out);
        sum = _mm_setzero_ps();
        for (; i < count; i++, have++) sum = add_value(sum, value_at(values + lanes * i, lanes));
    }
    float lane[4];
    _mm_storeu_ps(lane, sum);
    c->accumulators[0] = lane[0];
    if (channels == 2) c->accumulators[1] = lane[1];
    c->substep_count = have;
    return out;
}

// The record's history, the last three mixed frames, in front of the chunk's lanes: the mono
// channel twice with two lanes.
static ALWAYS_INLINE void put_history(const sample_converter *c, double *x, uint32_t lanes)
{
    uint32_t last = c->out_channels - 1;
    for (uint32_t k = 0; k < lanes; k++) {
        const channel_segment *seg = &c->segments[k < last ? k : last];
        x[k] = seg->y0;
        x[lanes + k] = seg->y1;
        x[2 * lanes + k] = seg->y2;
    }
}

// The end tangent of the record's last segment: the start tangent of the chunk's first one.
static ALWAYS_INLINE __m128d start_slope(const sample_converter *c)
{
    return _mm_setr_pd(c->segments[0].end_slope, c->segments[c->out_channels - 1].end_slope);
}

// Puts the history after a chunk of n frames and its last segment back into the record, as
// the plain path leaves them.
static ALWAYS_INLINE void keep_history(sample_converter *c, const double *x, uint32_t n, __m128d slope, bool exact,
                                       uint32_t lanes)
{
    uint32_t last = c->out_channels - 1;
    lane_segment s;
    __m128d coef1 = n == 1 ? slope : tangent_before(x, n - 1, exact, lanes);
    double end_slope[2], coef[3][2];
    _mm_storeu_pd(end_slope, make_segment(frame_at(x, n, lanes), frame_at(x, n + 1, lanes),
                                          frame_at(x, n + 2, lanes), coef1, exact, &s));
    _mm_storeu_pd(coef[0], s.coef3);
    _mm_storeu_pd(coef[1], s.coef2);
    _mm_storeu_pd(coef[2], s.coef1);
    for (uint32_t k = 0; k <= last; k++) {
        channel_segment *seg = &c->segments[k];
        seg->y0 = static_cast<float>(x[lanes * n + k]);
        seg->y1 = static_cast<float>(x[lanes * (n + 1) + k]);
        seg->y2 = static_cast<float>(x[lanes * (n + 2) + k]);
        seg->coef3 = static_cast<float>(coef[0][k]);
        seg->coef2 = static_cast<float>(coef[1][k]);
        seg->coef1 = static_cast<float>(coef[2][k]);
        seg->end_slope = static_cast<float>(end_slope[k]);
    }
}

#endif
