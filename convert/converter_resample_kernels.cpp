// The sample converter's resampling kernels for one or two output channels, chosen once at
// creation: each gives exactly the bytes of the plain frame-by-frame path in sample_converter.cpp,
// and the tests compare both against a model of their own. A chunk of frames is first mixed into
// lanes of doubles, then the segment values of all its sub-steps are evaluated two lanes at a
// time in double precision, and a last pass sums them four by four into output frames, rounding
// each partial sum to float as the plain path does. The AVX2 kernels (converter_resample_avx2.cpp)
// take the blocks of a converter created for them.
#include "convert/converter_resample_kernels.h"

#include "convert/converter_resample_lanes.h"

// Converts a chunk of n frames, at most chunk_frames, with the record's history in front of it,
// and puts the history and the last segment back into the record.
static ALWAYS_INLINE uint8_t *resample_chunk(sample_converter *c, const uint8_t *in, uint32_t n, uint8_t *out,
                                             uint32_t lanes)
{
    double *x = c->scratch_lanes, *values = c->scratch_values;
    put_history(c, x, lanes);
    mix_into_lanes(c, in, n, x + lanes * history_frames, lanes);
    __m128d slope = start_slope(c);
    bool exact = c->short_samples != 0;
    uint32_t count;
    if (lanes == 1)
        count = exact ? mono_from_one(c, x, n, values, true) : mono_from_one(c, x, n, values, false);
    else if (c->block_path == kernel_halving && c->position == 0.0f)
        count = exact ? values_halving(x, n, values, slope, true) : values_halving(x, n, values, slope, false);
    else if (c->step < 1.0f)
        count = exact ? values_below_one(c, x, n, values, slope, true)
                      : values_below_one(c, x, n, values, slope, false);
    else
        count = exact ? values_from_one(c, x, n, values, slope, true)
                      : values_from_one(c, x, n, values, slope, false);
    keep_history(c, x, n, slope, exact, lanes);
    return sum_values(c, values, count, out, lanes);
}

uint8_t *resample_block(sample_converter *c, const uint8_t *in, uint32_t frames, uint8_t *out)
{
    if (c->kernel_set == kernels_avx2) return resample_block_avx2(c, in, frames, out);
    uint32_t in_frame_bytes = c->in_channels * c->in_sample_bytes;
    bool one_lane = c->block_path == kernel_from_one && c->out_channels == 1;
    while (frames > 0) {
        uint32_t n = frames < c->chunk_frames ? frames : c->chunk_frames;
        out = one_lane ? resample_chunk(c, in, n, out, 1) : resample_chunk(c, in, n, out, 2);
        in += static_cast<size_t>(n) * in_frame_bytes;
        frames -= n;
    }
    return out;
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

block_scratch choose_resample_kernel(sample_converter *c)
{
    block_scratch none = {0, 0};
    if (c->out_channels > 2 || c->step >= max_block_step) return none;
    c->short_samples = mixes_short_samples(c);
    if (c->step < 1.0f) {
        c->sure_substeps = static_cast<uint32_t>((1.0 - sure_margin) / c->step);
        uint32_t most = c->sure_substeps + 2;
        c->chunk_frames = scratch_value_pairs / most < max_chunk_frames ? scratch_value_pairs / most : max_chunk_frames;
        c->block_path = c->step == 0.5f ? kernel_halving : kernel_below_one;
    } else {
        // The step's exponent: one input frame is then 2^(23 - exponent) units of its last bit.
        uint32_t exponent = 0;
        while (c->step >= static_cast<float>(2u << exponent)) exponent++;
        c->position_shift = float_significand_bits - 1 - exponent;
        c->step_units = static_cast<uint32_t>(static_cast<double>(c->step) * (1u << c->position_shift));
        c->chunk_frames = max_chunk_frames;
        c->block_path = kernel_from_one;
    }
    return {(max_chunk_frames + history_frames) * sizeof(__m128d),
            (scratch_value_pairs + scratch_value_spare) * sizeof(__m128d)};
}
