// The conversion pipeline of one track, as a transform: host PCM goes in, the bytes to write come
// back out of the stage's own buffer. The shapes are the sample converter alone for a PCM target,
// an ACM stream straight from the input, or the converter feeding an ACM stream through the PCM
// format the codec suggests. Used by the track output only; it does no file I/O of its own.
#ifndef TOLLVANE_CODEC_STAGE_H
#define TOLLVANE_CODEC_STAGE_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include "convert/sample_converter.h"

constexpr uint32_t stage_buffer_bytes = 131072;

// Which of converter and stream exist is the pipeline's shape: a converter alone converts to
// PCM, a stream alone is ACM-direct, both are converter-then-ACM.
struct codec_pipeline {
    sample_converter *converter;
    HACMSTREAM stream;
    ACMSTREAMHEADER stream_header;
    BYTE *source_buffer;            // PCM waiting for the codec (stream's pbSrc)
    uint32_t source_pending_bytes;  // at its start, not consumed by the codec yet
    BYTE *output_buffer;            // stream's pbDst; the converter's output in the converter-only shape
    uint32_t output_capacity_bytes; // converter-only shape: size of output_buffer, which grows
    BYTE *converted_buffer;         // converter-then-ACM: the converter's output before the codec
    uint32_t converted_capacity_bytes;
    uint32_t input_frame_bytes;     // one frame of the host's PCM: pieces are cut at whole frames
    uint32_t codec_block_bytes;     // source bytes of one codec block: the last partial one is padded to it
    uint32_t source_frame_bytes;    // one frame of the codec's source PCM
    uint32_t source_rate;           // and its rate
    uint64_t consumed_source_bytes; // what the codec took of it, the silence that pads its last block left out
    BYTE codec_silence;             // a byte of silence in the codec's source PCM (0x80 for 8 bits)
    bool stopped;                   // the codec took nothing while its source was full: the rest was dropped
    // The block in hand (see codec_feed): what is left of it and where its conversion stands.
    const BYTE *block;
    uint32_t block_bytes_left;
    uint32_t piece_bytes;           // the piece of it being made room for
    BYTE phase;
    BYTE piece_phase;
    DWORD next_flags, later_flags;  // of the block's first conversion call, and of the others
};

extern codec_pipeline codec_state;

// Bytes the stage gives back to be written, in its own buffer, valid until its next call.
struct codec_output {
    const BYTE *bytes;
    uint32_t byte_count;
};

// target_format is 18 bytes for PCM, 18 + cbSize for a codec format; codec_state must be empty.
// False when no pipeline could be built; whatever was acquired stays for codec_destroy.
bool codec_create(const WAVEFORMATEX *input_format, const WAVEFORMATEX *target_format);
// Frees everything and leaves codec_state empty; safe with nothing held and when called twice.
void codec_destroy(void);

// Hands the stage length bytes of host PCM, or no block at the end of the track (the drain:
// the converter and the codec give up what they hold). stream_start: no whole frame was
// accepted since open or the last flush, so the codec is told to start afresh.
void codec_feed(const BYTE *block, uint32_t length, bool stream_start);
// The next bytes that block gives; false once it is through. Call until false before the next
// codec_feed.
bool codec_take(codec_output *output);
// Sticky for the track: the codec stopped accepting data and some of it was dropped.
bool codec_stopped(void);

// What the codec made of the track so far, for the fact chunk: the frames of its source PCM it
// consumed (not the silence that fills up its last block), their rate, and how many frames one
// codec block holds (0 when the codec cannot say). All zero in the converter-only shape.
struct codec_frames {
    uint64_t consumed_frames;
    uint32_t source_rate;
    uint32_t frames_per_block;
};
codec_frames codec_frame_counts(void);

#endif
