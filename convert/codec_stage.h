// Builds and drives the conversion pipeline of one track: the sample converter alone for a
// PCM target, an ACM stream straight from the input, or the converter feeding an ACM stream
// through the PCM format the codec suggests. Called by the track output only.
#ifndef TOLLVANE_CODEC_STAGE_H
#define TOLLVANE_CODEC_STAGE_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include "sample_converter.h"

constexpr uint32_t stage_buffer_bytes = 131072;

// Which of converter and stream exist is the pipeline's shape: a converter alone converts to
// PCM, a stream alone is ACM-direct, both are converter-then-ACM.
struct codec_pipeline {
    sample_converter *converter;
    HACMSTREAM stream;
    ACMSTREAMHEADER stream_header;
    BYTE *source_buffer;      // PCM waiting for the codec (stream's pbSrc)
    uint32_t source_pending;  // bytes at its start the codec has not consumed
    BYTE *output_buffer;      // stream's pbDst; the converter's output in the converter-only shape
    uint32_t output_capacity; // converter-only shape: size of output_buffer
    BYTE *staging_buffer;     // converter-then-ACM: the converter's input
    uint32_t staging_pending;
    BYTE *converted_buffer;   // converter-then-ACM: the converter's output before the codec
    uint32_t converted_capacity;
    uint32_t input_frame_bytes;  // one frame of the host's PCM: pieces are cut at whole frames
    uint32_t codec_block_bytes;  // source bytes of one codec block: the last partial one is padded to it
    BYTE codec_silence;          // a byte of silence in the codec's source PCM (0x80 for 8 bits)
    bool stop_told;              // "Codec stopped accepting data" was shown for this track
};

extern codec_pipeline codec_state;

// target_format is 18 bytes for PCM, 18 + cbSize for a codec format. False when no pipeline
// could be built; whatever was acquired stays for release_conversion.
bool setup_conversion(const WAVEFORMATEX *input_format, const WAVEFORMATEX *target_format);
// Converts length bytes of host PCM and appends the result to the file. No block is the drain
// at the end of the track: the converter and the codec give up what they hold.
void convert_and_write(const BYTE *block, uint32_t length);
// Frees everything and leaves codec_state empty; safe with nothing held and when called twice.
void release_conversion(void);

#endif
