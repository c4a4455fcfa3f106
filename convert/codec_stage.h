// Builds and drives the conversion pipeline of one track: the sample converter alone for a
// PCM target, or an ACM stream (fed by the converter when the codec needs another PCM format).
#ifndef TOLLVANE_CODEC_STAGE_H
#define TOLLVANE_CODEC_STAGE_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

#include "sample_converter.h"

constexpr uint32_t stage_buffer_bytes = 131072;

struct codec_pipeline {
    sample_converter *converter;
    BYTE *output_buffer;
    uint32_t output_capacity;
    uint32_t source_pending;
    uint32_t staging_pending;
};

extern codec_pipeline codec_state;

bool setup_conversion(const WAVEFORMATEX *input_format, const WAVEFORMATEX *target_format);
void convert_and_write(const BYTE *block, uint32_t length); // no block and 0 bytes: the drain
void release_conversion(void);

#endif
