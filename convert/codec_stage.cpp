// Owns codec_state: builds the pipeline of a converting track and pushes its blocks through it
// into the track output's file. A PCM target needs only the sample converter; codec targets
// are not offered by this build yet, so their set-up fails and open reports it.
#include "codec_stage.h"

#include "../host/out_module.h"
#include "../output/output_file.h"
#include "../output/track_output.h"

codec_pipeline codec_state;

bool setup_conversion(const WAVEFORMATEX *input_format, const WAVEFORMATEX *target_format)
{
    if (target_format->wFormatTag != WAVE_FORMAT_PCM) return false;
    codec_state.converter = converter_create(input_format->nChannels, input_format->wBitsPerSample,
                                             input_format->nSamplesPerSec, target_format->nChannels,
                                             target_format->wBitsPerSample, target_format->nSamplesPerSec);
    codec_state.output_buffer = nullptr;
    codec_state.output_capacity = 0;
    return codec_state.converter != nullptr;
}

void convert_and_write(const BYTE *block, uint32_t length)
{
    sample_converter *converter = codec_state.converter;
    if (!converter) return;
    uint32_t in_bytes = block ? length : 0; // no block is the drain, whatever the length says
    int32_t need = converter_output_size(converter, in_bytes);
    if (need < 0) return; // a block too large to size is dropped, as one that does not fit
    uint32_t need_bytes = static_cast<uint32_t>(need);
    if (!codec_state.output_buffer || codec_state.output_capacity < need_bytes) {
        // The buffer only grows within a track; when it cannot, the block is dropped.
        BYTE *grown = codec_state.output_buffer
                          ? static_cast<BYTE *>(HeapReAlloc(process_heap, 0, codec_state.output_buffer, need_bytes))
                          : static_cast<BYTE *>(HeapAlloc(process_heap, 0, need_bytes));
        if (!grown) return;
        codec_state.output_buffer = grown;
        codec_state.output_capacity = need_bytes;
    }
    uint32_t count = converter_process(converter, block, codec_state.output_buffer, in_bytes);
    output_append(codec_state.output_buffer, count);
}

void release_conversion(void)
{
    if (codec_state.converter) {
        converter_destroy(codec_state.converter);
        codec_state.converter = nullptr;
    }
    if (codec_state.output_buffer) {
        HeapFree(process_heap, 0, codec_state.output_buffer);
        codec_state.output_buffer = nullptr;
    }
    codec_state.output_capacity = 0;
}
