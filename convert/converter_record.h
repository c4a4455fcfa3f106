// The sample converter's record: the state one converter carries from block to block, and what
// it chose at creation for speed. Shared by the converter (sample_converter.cpp) and its block
// loops, which include it rather than the converter's interface; the codec stage and the tests
// see it through sample_converter.h.
#ifndef TOLLVANE_CONVERTER_RECORD_H
#define TOLLVANE_CONVERTER_RECORD_H

#include <stdint.h>

struct channel_segment {
    float y0, y1, y2;           // the channel's last three mixed samples, oldest first
    float coef3, coef2, coef1;  // the current segment's cubic, t^3 .. t
    float end_slope;            // tangent at y1: the next segment's coef1
};

// block_path when the plain frame-by-frame path takes every block.
static const uint32_t no_block_path = 0;

// kernel_set: the instructions the block loops use, two or four doubles a register.
static const uint32_t kernels_sse2 = 0;
static const uint32_t kernels_avx2 = 1;

struct sample_converter {
    uint32_t in_channels;
    uint32_t out_channels;
    uint32_t in_sample_bytes;
    uint32_t out_sample_bytes;
    uint32_t in_rate;
    uint32_t out_rate;
    float step;     // input frames per sub-step: in_rate / (4 * out_rate)
    float position; // inside the current segment, in input frames
    channel_segment *segments;
    float *in_frame;
    float *mixed_frame; // the very in_frame array when the channel counts are equal
    uint32_t priming;
    uint32_t substep_count;
    float *accumulators;
    // Chosen at creation for speed only; the fields above are the converter's whole state.
    uint32_t block_path;     // the loop for whole blocks: an equal-rate loop or, rates apart, a resampling kernel
    uint32_t kernel_set;     // the block loops' instructions: what the processor and system run (converter_cpu.h)
    uint32_t short_samples;  // mixed samples of at most 18 significant bits
    uint32_t sure_substeps;  // sub-steps every frame runs whatever its start (step below 1)
    uint32_t position_shift; // step of 1 or more: log2 of one input frame in units of step's last bit
    uint32_t step_units;     // step in those units
    uint32_t chunk_frames;   // input frames per pass through the scratch buffers
    double *scratch_lanes;   // mixed samples of one chunk in lanes, three frames of history first
    double *scratch_values;  // segment values of one chunk's sub-steps, in lanes
};

#endif
