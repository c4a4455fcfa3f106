// The sample converter's resampling kernels: faster ways to resample whole blocks to one or two
// output channels, with exactly the bytes of the plain frame-by-frame path. The converter
// (sample_converter.cpp) picks one at creation and hands it every block once the resampler's
// history is primed; nothing here calls back into it. Nothing outside convert/ includes it.
#ifndef TOLLVANE_CONVERTER_RESAMPLE_KERNELS_H
#define TOLLVANE_CONVERTER_RESAMPLE_KERNELS_H

#include <stddef.h>
#include <stdint.h>

#include "convert/converter_record.h"

// What the chosen kernel needs the caller to allocate, zero-filled, into scratch_lanes and
// scratch_values before the first block; 0 bytes for none.
struct block_scratch {
    size_t lanes_bytes;
    size_t values_bytes;
};

// Sets block_path and the fields the kernel needs for the record's formats, whose rates differ,
// or leaves block_path at no_block_path when none fits.
block_scratch choose_resample_kernel(sample_converter *c);

// Resamples whole frames with the chosen kernel (not no_block_path), once priming has reached
// zero; returns the output cursor.
// Takes the AVX2 kernels' way for a converter whose kernel_set says so.
uint8_t *resample_block(sample_converter *c, const uint8_t *in, uint32_t frames, uint8_t *out);

// The same in AVX2 (converter_resample_avx2.cpp): only on a processor and system that run it.
uint8_t *resample_block_avx2(sample_converter *c, const uint8_t *in, uint32_t frames, uint8_t *out);

#endif
