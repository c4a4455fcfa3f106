// Converts interleaved PCM between channel counts, sample widths (8/16/24/32 bits) and rates.
// One heap record per track, made by converter_create and freed by converter_destroy; the codec
// stage feeds it block by block and drains it with one call without input at the end.
#ifndef TOLLVANE_SAMPLE_CONVERTER_H
#define TOLLVANE_SAMPLE_CONVERTER_H

#include <stdint.h>

struct channel_segment {
    float y0, y1, y2;           // the channel's last three mixed samples, oldest first
    float coef3, coef2, coef1;  // the current segment's cubic, t^3 .. t
    float end_slope;            // tangent at y1: the next segment's coef1
};

// block_path when the plain frame-by-frame path takes every block.
static const uint32_t no_block_path = 0;

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
    uint32_t short_samples;  // mixed samples of at most 18 significant bits
    uint32_t sure_substeps;  // sub-steps every frame runs whatever its start (step below 1)
    uint32_t position_shift; // step of 1 or more: log2 of one input frame in units of step's last bit
    uint32_t step_units;     // step in those units
    uint32_t chunk_frames;   // input frames per pass through the scratch buffers
    double *scratch_lanes;   // mixed samples of one chunk in lanes, three frames of history first
    double *scratch_values;  // segment values of one chunk's sub-steps, in lanes
};

// None for a width other than 8/16/24/32 bits, zero or more than 65535 channels, a zero rate,
// an output rate above 64 times the input rate, or no memory.
sample_converter *converter_create(uint32_t in_channels, uint32_t in_bits, uint32_t in_rate,
                                   uint32_t out_channels, uint32_t out_bits, uint32_t out_rate);
void converter_destroy(sample_converter *converter); // accepts none

// Bytes to reserve for one converter_process call over in_bytes (0: the drain); -1 when it
// cannot be computed. Always covers what the call writes.
int32_t converter_output_size(const sample_converter *converter, uint32_t in_bytes);

// Converts the whole frames of input (a trailing partial frame is ignored) into output and
// returns the bytes written. No input or in_bytes 0 drains what the resampler holds back.
uint32_t converter_process(sample_converter *converter, const uint8_t *input, uint8_t *output,
                           uint32_t in_bytes);

#endif
