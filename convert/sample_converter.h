// Converts interleaved PCM between channel counts, sample widths (8/16/24/32 bits) and rates.
// One heap record per track, made by converter_create and freed by converter_destroy; the codec
// stage feeds it block by block and drains it with one call without input at the end.
#ifndef TOLLVANE_SAMPLE_CONVERTER_H
#define TOLLVANE_SAMPLE_CONVERTER_H

#include <stdint.h>

#include "convert/converter_record.h"

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
