// The sample converter's loops for equal rates: formats whose conversion through floats is exact
// in integers are converted a whole block at a time on the integers, with exactly the bytes of
// the plain frame-by-frame path. The converter (sample_converter.cpp) picks one at creation and
// hands it every block; nothing here calls back into it. Nothing outside convert/ includes it.
#ifndef TOLLVANE_CONVERTER_EQUAL_RATE_LOOPS_H
#define TOLLVANE_CONVERTER_EQUAL_RATE_LOOPS_H

#include <stdint.h>

#include "convert/converter_record.h"

// Sets block_path to the loop for the record's formats, whose rates are equal, or leaves it at
// no_block_path when none fits.
void choose_equal_rate_loop(sample_converter *c);

// Converts whole frames with the chosen loop (not no_block_path); returns the output cursor.
uint8_t *convert_equal_rate_block(const sample_converter *c, const uint8_t *in, uint32_t frames, uint8_t *out);

#endif
