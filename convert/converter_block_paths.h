// The sample converter's block loops: faster ways to convert whole blocks of the formats most
// tracks have, each giving exactly the bytes of the plain frame-by-frame path. The converter
// (sample_converter.cpp) picks one at creation and hands it every block once the resampler's
// history is primed; nothing here calls back into the converter. Nothing outside convert/
// includes it.
#ifndef TOLLVANE_CONVERTER_BLOCK_PATHS_H
#define TOLLVANE_CONVERTER_BLOCK_PATHS_H

#include <stddef.h>
#include <stdint.h>

#include "convert/sample_converter.h"

static const uint32_t no_block_path = 0; // block_path's value when the plain path takes every block

// What the chosen loop needs the caller to allocate, zero-filled, into scratch_lanes and
// scratch_values before the first block; 0 bytes for none.
struct block_scratch {
    size_t lanes_bytes;
    size_t values_bytes;
};

// Picks the block loop for the record's formats and sets the fields it needs.
block_scratch choose_block_path(sample_converter *c);

// Converts whole frames with the chosen loop (not no_block_path; a resampling loop only after
// priming has reached zero); returns the output cursor.
uint8_t *convert_block(sample_converter *c, const uint8_t *in, uint32_t frames, uint8_t *out);

#endif
