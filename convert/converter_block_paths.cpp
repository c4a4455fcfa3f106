// The sample converter's block loops for common formats, chosen once at creation. Each gives
// exactly the bytes of the plain frame-by-frame path in sample_converter.cpp; the tests compare
// both against a model of their own. The converter calls in through converter_block_paths.h;
// what both sides share comes from converter_samples.h.
#include "convert/converter_block_paths.h"

#include <string.h>

#include "convert/converter_samples.h"

// Equal rates: where the float round trip is exact in integers, the loops work on integers.
// Resampling to one or two channels: a chunk of frames is first mixed into "lanes" (left and
// right, or the mono sample twice), then the segment values of all its sub-steps are evaluated
// two lanes at a time in double precision, and a last pass sums them four by four into output
// frames, rounding each partial sum to float as the plain path does.

enum {
    path_frames = no_block_path, // frame by frame, every format
    path_copy,                   // 8, 16 or 24 bits to the same width and channels: the bytes themselves
    path_16_to_24,               // same channels: the 16-bit value shifted up by 8
    path_stereo_16_to_mono_16,   // (left + right) / 2, truncated toward zero
    path_resample_below_one,     // step below 1, one or two output channels, SSE2
    path_resample_halving,       // step exactly 1/2: positions 0 and 1/2 in every frame
    path_resample_from_one,      // step of 1 or more
};

// Little-endian loads and stores of whole words; the plug-in runs on x86 only.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the block loops assume a little-endian machine"
#endif

// The loops are written for SSE2, which every build of the plug-in has: x86_64 always, i686 by
// its flags (-msse2, for the same float arithmetic as x86_64).
#if !defined(__SSE2__)
#error "the block loops need SSE2"
#endif
#include <emmintrin.h>

#if defined(__GNUC__)
#define ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define ALWAYS_INLINE inline
#endif

static ALWAYS_INLINE __m128i load_16_bytes(const uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

static ALWAYS_INLINE void store_8_bytes(uint8_t *p, __m128i v)
{
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v);
}

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

// A chunk of at most max_chunk_frames input frames at a time is mixed into scratch_lanes, two
// lanes a frame after history_frames frames of history, and its sub-steps' segment values, at
// most scratch_value_pairs of them, go into scratch_values, two lanes each.
static const uint32_t max_chunk_frames = 1024;
static const uint32_t history_frames = 3;
static const uint32_t scratch_value_pairs = 4096;

// The resampling loops come in two kinds of samples: exact (mixed samples of 8 or 16 bits,
// alone or averaged in pairs, whose segment coefficients are floats already, so rounding them
// changes nothing) or rounded (any other); the flag is a constant wherever a loop is expanded.

static ALWAYS_INLINE __m128d round_to_float(__m128d x) { return _mm_cvtps_pd(_mm_cvtpd_ps(x)); }
static ALWAYS_INLINE __m128d lanes_at(const double *lanes, uint32_t frame) { return _mm_loadu_pd(lanes + 2 * frame); }
static ALWAYS_INLINE __m128d gather(const double *a, const double *b) { return _mm_loadh_pd(_mm_load_sd(a), b); }

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
static ALWAYS_INLINE __m128d tangent_before(const double *lanes, uint32_t frame, bool exact)
{
    __m128d m = _mm_mul_pd(_mm_sub_pd(lanes_at(lanes, frame + 2), lanes_at(lanes, frame)), _mm_set1_pd(0.5));
    return exact ? m : round_to_float(m);
}

static ALWAYS_INLINE __m128d segment_value(const lane_segment &s, __m128d t)
{
    __m128d v = _mm_add_pd(_mm_mul_pd(s.coef3, t), s.coef2);
    v = _mm_add_pd(_mm_mul_pd(v, t), s.coef1);
    return _mm_add_pd(_mm_mul_pd(v, t), s.y0);
}

// Reads and mixes one frame the plain path's way, for the frames the integer loops below leave.
static ALWAYS_INLINE const float *mixed_frame_at(sample_converter *c, const uint8_t *in)
{
    uint32_t in_sample_bytes = c->in_sample_bytes;
    for (uint32_t i = 0; i < c->in_channels; i++, in += in_sample_bytes)
        c->in_frame[i] = read_sample(in, in_sample_bytes);
    mix_frame(c->in_frame, c->in_channels, c->mixed_frame, c->out_channels);
    return c->mixed_frame;
}

// Mixes n input frames into lanes of doubles (left, right) or (mono, mono), after the three
// frames of history already there. 16-bit samples and their half sums are exact in either type.
static void mix_into_lanes(sample_converter *c, const uint8_t *in, uint32_t n, double *lanes)
{
    uint32_t k = 0;
    if (c->in_sample_bytes == 2 && c->in_channels == 2 && c->out_channels == 2) {
        const __m128d scale = _mm_set1_pd(1.0 / full_scale_16);
        for (; k + 4 <= n; k += 4, in += 16, lanes += 8) { // four frames: 16 bytes
            __m128i s = load_16_bytes(in);
            __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16);
            __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(s, s), 16);
            _mm_storeu_pd(lanes, _mm_mul_pd(_mm_cvtepi32_pd(lo), scale));
            _mm_storeu_pd(lanes + 2, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(lo, 8)), scale));
            _mm_storeu_pd(lanes + 4, _mm_mul_pd(_mm_cvtepi32_pd(hi), scale));
            _mm_storeu_pd(lanes + 6, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(hi, 8)), scale));
        }
    } else if (c->in_sample_bytes == 2 && c->in_channels == 2 && c->out_channels == 1) {
        const __m128d scale = _mm_set1_pd(0.5 / full_scale_16); // (left + right) * 0.5 * 2^-15
        const __m128i ones = _mm_set1_epi16(1);
        for (; k + 4 <= n; k += 4, in += 16, lanes += 8) { // four frames: 16 bytes
            __m128i sums = _mm_madd_epi16(load_16_bytes(in), ones);
            __m128i twice = _mm_unpacklo_epi32(sums, sums);
            __m128i twice_hi = _mm_unpackhi_epi32(sums, sums);
            _mm_storeu_pd(lanes, _mm_mul_pd(_mm_cvtepi32_pd(twice), scale));
            _mm_storeu_pd(lanes + 2, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(twice, 8)), scale));
            _mm_storeu_pd(lanes + 4, _mm_mul_pd(_mm_cvtepi32_pd(twice_hi), scale));
            _mm_storeu_pd(lanes + 6, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(twice_hi, 8)), scale));
        }
    }
    uint32_t in_frame_bytes = c->in_channels * c->in_sample_bytes;
    for (; k < n; k++, in += in_frame_bytes, lanes += 2) {
        const float *mixed = mixed_frame_at(c, in);
        lanes[0] = mixed[0];
        lanes[1] = mixed[c->out_channels - 1];
    }
}

// Step below 1: frame by frame. The first sure_substeps positions of a frame are below 1
// whatever the frame starts at, so only the last one or two need the test.
static ALWAYS_INLINE uint32_t values_below_one(sample_converter *c, const double *lanes, uint32_t n,
                                               double *values, __m128d slope, bool exact)
{
    float position = c->position, step = c->step;
    uint32_t sure = c->sure_substeps, count = 0;
    __m128d y0 = lanes_at(lanes, 1), y1 = lanes_at(lanes, 2);
    lane_segment s;
    for (uint32_t j = 0; j < n; j++) {
        __m128d y2 = lanes_at(lanes, j + 3);
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
static ALWAYS_INLINE uint32_t values_halving(const double *lanes, uint32_t n, double *values, __m128d slope, bool exact)
{
    __m128d y0 = lanes_at(lanes, 1), y1 = lanes_at(lanes, 2);
    const __m128d half = _mm_set1_pd(0.5);
    lane_segment s;
    for (uint32_t j = 0; j < n; j++) {
        __m128d y2 = lanes_at(lanes, j + 3);
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
static ALWAYS_INLINE uint32_t values_from_one(sample_converter *c, const double *lanes, uint32_t n,
                                              double *values, __m128d slope, bool exact)
{
    const uint32_t shift = c->position_shift, step_units = c->step_units;
    uint32_t count = 0;
    lane_segment s;
    unit_position p = position_in_units(c);
    while (p.frame < n) {
        __m128d coef1 = p.frame == 0 ? slope : tangent_before(lanes, p.frame, exact);
        make_segment(lanes_at(lanes, p.frame + 1), lanes_at(lanes, p.frame + 2), lanes_at(lanes, p.frame + 3), coef1,
                     exact, &s);
        _mm_storeu_pd(values + 2 * count++, segment_value(s, _mm_set1_pd(units_to_frames(p.units, shift))));
        p = advance(p, step_units, shift);
    }
    keep_position(c, p, n);
    return count;
}

// One output channel, step of 1 or more: the mono samples lie one after another, and two
// sub-steps share one pass of the arithmetic, one in each lane.
static void mix_into_mono(sample_converter *c, const uint8_t *in, uint32_t n, double *mono)
{
    uint32_t k = 0;
    if (c->in_sample_bytes == 2 && c->in_channels == 2) {
        const __m128d scale = _mm_set1_pd(0.5 / full_scale_16); // (left + right) * 0.5 * 2^-15
        const __m128i ones = _mm_set1_epi16(1);
        for (; k + 4 <= n; k += 4, in += 16, mono += 4) { // four frames: 16 bytes
            __m128i sums = _mm_madd_epi16(load_16_bytes(in), ones);
            _mm_storeu_pd(mono, _mm_mul_pd(_mm_cvtepi32_pd(sums), scale));
            _mm_storeu_pd(mono + 2, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(sums, 8)), scale));
        }
    } else if (c->in_sample_bytes == 2 && c->in_channels == 1) {
        const __m128d scale = _mm_set1_pd(1.0 / full_scale_16);
        for (; k + 4 <= n; k += 4, in += 8, mono += 4) { // four frames: 8 bytes
            __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(in));
            __m128i wide = _mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16);
            _mm_storeu_pd(mono, _mm_mul_pd(_mm_cvtepi32_pd(wide), scale));
            _mm_storeu_pd(mono + 2, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(wide, 8)), scale));
        }
    }
    uint32_t in_frame_bytes = c->in_channels * c->in_sample_bytes;
    for (; k < n; k++, in += in_frame_bytes) *mono++ = mixed_frame_at(c, in)[0];
}

// x holds the three samples of history, then the chunk's n mixed samples.
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

static ALWAYS_INLINE __m128 add_value(__m128 sum, const double *value)
{
    return _mm_cvtpd_ps(_mm_add_pd(_mm_cvtps_pd(sum), _mm_loadu_pd(value)));
}

// The sum of four sub-steps, rounded after each addition; the first needs no addition (0 + v is v).
static ALWAYS_INLINE __m128 sum_of_four(const double *values)
{
    __m128 sum = _mm_cvtpd_ps(_mm_loadu_pd(values));
    sum = add_value(sum, values + 2);
    sum = add_value(sum, values + 4);
    return add_value(sum, values + 6);
}

// Four 16-bit samples from two lanes of two frames: truncation, then the clamp by the saturating pack.
static ALWAYS_INLINE __m128i pack_16(__m128 first, __m128 second)
{
    // the mean of four, then full scale: exact
    const __m128 scale = _mm_set1_ps(0.25f * static_cast<float>(full_scale_16));
    __m128i v = _mm_cvttps_epi32(_mm_mul_ps(_mm_movelh_ps(first, second), scale));
    return _mm_packs_epi32(v, v);
}

static uint8_t *write_output_frame(const sample_converter *c, __m128 sum, uint8_t *out)
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
static uint8_t *sum_values(sample_converter *c, const double *values, uint32_t count, uint8_t *out)
{
    uint32_t channels = c->out_channels, have = c->substep_count, i = 0;
    __m128 sum = _mm_setr_ps(c->accumulators[0], c->accumulators[channels - 1], 0.0f, 0.0f);
    if (have != 0) {
        for (; i < count && have < 4; i++, have++) sum = add_value(sum, values + 2 * i);
        if (have == 4) {
            out = write_output_frame(c, sum, out);
            have = 0;
        }
    }
    if (have == 0) {
        // Eight sub-steps make two output frames: 8 bytes of stereo or 4 of mono at 16 bits.
        if (c->out_sample_bytes == 2 && channels == 2) {
            for (; i + 8 <= count; i += 8, out += 8)
                store_8_bytes(out, pack_16(sum_of_four(values + 2 * i), sum_of_four(values + 2 * i + 8)));
        } else if (c->out_sample_bytes == 2) {
            for (; i + 8 <= count; i += 8, out += 4) {
                uint32_t pair = static_cast<uint32_t>(_mm_cvtsi128_si32(
                    _mm_shufflelo_epi16(pack_16(sum_of_four(values + 2 * i), sum_of_four(values + 2 * i + 8)),
                                        _MM_SHUFFLE(3, 1, 2, 0))));
                memcpy(out, &pair, 4);
            }
        }
        for (; i + 4 <= count; i += 4) out = write_output_frame(c, sum_of_four(values + 2 * i), out);
        sum = _mm_setzero_ps();
        for (; i < count; i++, have++) sum = add_value(sum, values + 2 * i);
    }
    float lane[4];
    _mm_storeu_ps(lane, sum);
    for (uint32_t k = 0; k < channels; k++) c->accumulators[k] = lane[k];
    c->substep_count = have;
    return out;
}

static uint8_t *resample_chunk(sample_converter *c, const uint8_t *in, uint32_t n, uint8_t *out)
{
    double *lanes = c->scratch_lanes, *values = c->scratch_values;
    uint32_t last = c->out_channels - 1;
    const channel_segment *left = &c->segments[0], *right = &c->segments[last];
    const double history[2 * history_frames] = {left->y0, right->y0, left->y1, right->y1, left->y2, right->y2};
    memcpy(lanes, history, sizeof history);
    mix_into_lanes(c, in, n, lanes + 2 * history_frames);
    __m128d slope = _mm_setr_pd(left->end_slope, right->end_slope);
    bool exact = c->short_samples != 0;
    uint32_t count;
    if (c->block_path == path_resample_halving && c->position == 0.0f)
        count = exact ? values_halving(lanes, n, values, slope, true) : values_halving(lanes, n, values, slope, false);
    else if (c->step < 1.0f)
        count = exact ? values_below_one(c, lanes, n, values, slope, true)
                      : values_below_one(c, lanes, n, values, slope, false);
    else
        count = exact ? values_from_one(c, lanes, n, values, slope, true)
                      : values_from_one(c, lanes, n, values, slope, false);

    // The history and the last segment go back into the record.
    lane_segment s;
    __m128d coef1 = n == 1 ? slope : tangent_before(lanes, n - 1, exact);
    double end_slope[2], coef[3][2];
    _mm_storeu_pd(end_slope, make_segment(lanes_at(lanes, n), lanes_at(lanes, n + 1), lanes_at(lanes, n + 2), coef1,
                                          exact, &s));
    _mm_storeu_pd(coef[0], s.coef3);
    _mm_storeu_pd(coef[1], s.coef2);
    _mm_storeu_pd(coef[2], s.coef1);
    for (uint32_t k = 0; k <= last; k++) {
        channel_segment *seg = &c->segments[k];
        seg->y0 = static_cast<float>(lanes[2 * n + k]);
        seg->y1 = static_cast<float>(lanes[2 * (n + 1) + k]);
        seg->y2 = static_cast<float>(lanes[2 * (n + 2) + k]);
        seg->coef3 = static_cast<float>(coef[0][k]);
        seg->coef2 = static_cast<float>(coef[1][k]);
        seg->coef1 = static_cast<float>(coef[2][k]);
        seg->end_slope = static_cast<float>(end_slope[k]);
    }
    return sum_values(c, values, count, out);
}

static ALWAYS_INLINE __m128 add_mono_value(__m128 sum, const double *value)
{
    return _mm_cvtpd_ps(_mm_add_pd(_mm_cvtps_pd(sum), _mm_load_sd(value)));
}

// Sums mono values, one per sub-step, four by four; two output frames share the lanes.
static uint8_t *sum_mono_values(sample_converter *c, const double *values, uint32_t count, uint8_t *out)
{
    uint32_t out_sample_bytes = c->out_sample_bytes, have = c->substep_count, i = 0;
    __m128 sum = _mm_set_ss(c->accumulators[0]);
    if (have != 0) {
        for (; i < count && have < 4; i++, have++) sum = add_mono_value(sum, values + i);
        if (have == 4) {
            out = write_output_frame(c, sum, out);
            have = 0;
        }
    }
    if (have == 0) {
        for (; i + 8 <= count; i += 8) {
            const double *v = values + i;
            __m128 pair = _mm_cvtpd_ps(gather(v, v + 4));
            pair = _mm_cvtpd_ps(_mm_add_pd(_mm_cvtps_pd(pair), gather(v + 1, v + 5)));
            pair = _mm_cvtpd_ps(_mm_add_pd(_mm_cvtps_pd(pair), gather(v + 2, v + 6)));
            pair = _mm_cvtpd_ps(_mm_add_pd(_mm_cvtps_pd(pair), gather(v + 3, v + 7)));
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
        for (; i + 4 <= count; i += 4) {
            const double *v = values + i;
            sum = _mm_cvtpd_ps(_mm_load_sd(v));
            for (int k = 1; k < 4; k++) sum = add_mono_value(sum, v + k);
            out = write_output_frame(c, sum, out);
        }
        sum = _mm_setzero_ps();
        for (; i < count; i++, have++) sum = add_mono_value(sum, values + i);
    }
    c->accumulators[0] = _mm_cvtss_f32(sum);
    c->substep_count = have;
    return out;
}

static uint8_t *resample_chunk_mono(sample_converter *c, const uint8_t *in, uint32_t n, uint8_t *out)
{
    double *x = c->scratch_lanes, *values = c->scratch_values;
    channel_segment *seg = &c->segments[0];
    x[0] = seg->y0;
    x[1] = seg->y1;
    x[2] = seg->y2;
    mix_into_mono(c, in, n, x + history_frames);
    bool exact = c->short_samples != 0;
    uint32_t count = exact ? mono_from_one(c, x, n, values, true) : mono_from_one(c, x, n, values, false);
    // The history and the last segment go back into the record.
    lane_segment s;
    double coef1 = n == 1 ? seg->end_slope : static_cast<float>((x[n + 1] - x[n - 1]) * 0.5);
    __m128d end_slope = make_segment(_mm_set1_pd(x[n]), _mm_set1_pd(x[n + 1]), _mm_set1_pd(x[n + 2]),
                                     _mm_set1_pd(coef1), exact, &s);
    seg->y0 = static_cast<float>(x[n]);
    seg->y1 = static_cast<float>(x[n + 1]);
    seg->y2 = static_cast<float>(x[n + 2]);
    seg->coef3 = static_cast<float>(_mm_cvtsd_f64(s.coef3));
    seg->coef2 = static_cast<float>(_mm_cvtsd_f64(s.coef2));
    seg->coef1 = static_cast<float>(coef1);
    seg->end_slope = static_cast<float>(_mm_cvtsd_f64(end_slope));
    return sum_mono_values(c, values, count, out);
}

uint8_t *convert_block(sample_converter *c, const uint8_t *in, uint32_t frames, uint8_t *out)
{
    uint32_t in_frame_bytes = c->in_channels * c->in_sample_bytes;
    switch (c->block_path) {
    case path_copy:
        memcpy(out, in, static_cast<size_t>(frames) * in_frame_bytes);
        return out + static_cast<size_t>(frames) * in_frame_bytes;
    case path_16_to_24:
        return widen_16_to_24(in, frames * c->in_channels, out);
    case path_stereo_16_to_mono_16:
        return average_stereo_16(in, frames, out);
    case path_resample_below_one:
    case path_resample_halving:
    case path_resample_from_one:
        while (frames > 0) {
            uint32_t n = frames < c->chunk_frames ? frames : c->chunk_frames;
            if (c->block_path == path_resample_from_one && c->out_channels == 1)
                out = resample_chunk_mono(c, in, n, out);
            else
                out = resample_chunk(c, in, n, out);
            in += static_cast<size_t>(n) * in_frame_bytes;
            frames -= n;
        }
        return out;
    default:
        return out; // no_block_path: never handed a block
    }
}

// Mixed samples of 8 or 16 bits, alone or averaged in pairs, have at most 18 significant bits
// and lie in [-1, 1]: their differences and half differences are floats already.
static bool mixes_short_samples(const sample_converter *c)
{
    uint32_t in = c->in_channels, out = c->out_channels;
    if (c->in_sample_bytes > 2) return false;
    return in == out || (in == 1 && out == 2) || (in == 2 && out == 1) || (in == 4 && out == 2) ||
           (in == 2 && out == 4);
}

// Steps of 2^20 input frames and more keep the plain path: there one frame is less than a unit
// of the integer position.
static const float max_block_step = 1048576.0f;
// The float sums of up to 256 steps (64 times up at most) drift from the exact positions by at
// most 2^-17 inside a frame; a margin of 2^-10 leaves the sure sub-steps sure.
static const double sure_margin = 1.0 / 1024;

block_scratch choose_block_path(sample_converter *c)
{
    block_scratch none = {0, 0};
    uint32_t in_sample_bytes = c->in_sample_bytes, out_sample_bytes = c->out_sample_bytes;
    bool same_channels = c->in_channels == c->out_channels;
    if (c->in_rate == c->out_rate) {
        if (same_channels && in_sample_bytes == out_sample_bytes && in_sample_bytes <= 3)
            c->block_path = path_copy;
        else if (same_channels && in_sample_bytes == 2 && out_sample_bytes == 3)
            c->block_path = path_16_to_24;
        else if (c->in_channels == 2 && c->out_channels == 1 && in_sample_bytes == 2 && out_sample_bytes == 2)
            c->block_path = path_stereo_16_to_mono_16;
        return none;
    }
    if (c->out_channels > 2 || c->step >= max_block_step) return none;
    c->short_samples = mixes_short_samples(c);
    if (c->step < 1.0f) {
        c->sure_substeps = static_cast<uint32_t>((1.0 - sure_margin) / c->step);
        uint32_t most = c->sure_substeps + 2;
        c->chunk_frames = scratch_value_pairs / most < max_chunk_frames ? scratch_value_pairs / most : max_chunk_frames;
        c->block_path = c->step == 0.5f ? path_resample_halving : path_resample_below_one;
    } else {
        // The step's exponent: one input frame is then 2^(23 - exponent) units of its last bit.
        uint32_t exponent = 0;
        while (c->step >= static_cast<float>(2u << exponent)) exponent++;
        c->position_shift = float_significand_bits - 1 - exponent;
        c->step_units = static_cast<uint32_t>(static_cast<double>(c->step) * (1u << c->position_shift));
        c->chunk_frames = max_chunk_frames;
        c->block_path = path_resample_from_one;
    }
    return {(max_chunk_frames + history_frames) * sizeof(__m128d), scratch_value_pairs * sizeof(__m128d)};
}
