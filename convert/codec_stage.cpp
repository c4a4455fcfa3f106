// Owns codec_state: builds the pipeline of a converting track from the target and from what the
// ACM opens and suggests, pushes every block through it into the file (output_file.h) and
// drains it at close. All buffers have fixed sizes; blocks larger than they are go through in
// pieces of whole frames, and only a codec that stops consuming makes the stage drop data.
#include "codec_stage.h"

#include "../host/out_module.h"
#include "../output/output_file.h"
#include "../output/track_output.h"

codec_pipeline codec_state;

// The player's record is 84 bytes on Windows; the stand-in's 64-bit pointers make it larger.
static_assert(sizeof(void *) != 4 || sizeof(ACMSTREAMHEADER) == 84, "ACMSTREAMHEADER is 84 bytes on i686");

static BYTE *stage_alloc(uint32_t bytes) { return static_cast<BYTE *>(HeapAlloc(process_heap, 0, bytes)); }

static void stage_free(BYTE **buffer)
{
    if (*buffer) HeapFree(process_heap, 0, *buffer);
    *buffer = nullptr;
}

static sample_converter *create_converter(const WAVEFORMATEX *from, const WAVEFORMATEX *to)
{
    return converter_create(from->nChannels, from->wBitsPerSample, from->nSamplesPerSec, to->nChannels,
                            to->wBitsPerSample, to->nSamplesPerSec);
}

// Makes room for need bytes of converter output; false when the buffer cannot grow to it.
static bool reserve_output(uint32_t need)
{
    codec_pipeline &s = codec_state;
    if (s.output_buffer && s.output_capacity >= need) return true;
    BYTE *grown = s.output_buffer ? static_cast<BYTE *>(HeapReAlloc(process_heap, 0, s.output_buffer, need))
                                  : stage_alloc(need);
    if (!grown) return false;
    s.output_buffer = grown;
    s.output_capacity = need;
    return true;
}

bool setup_conversion(const WAVEFORMATEX *input_format, const WAVEFORMATEX *target_format)
{
    codec_pipeline &s = codec_state;
    s.input_frame_bytes = input_format->nBlockAlign ? input_format->nBlockAlign : 1;
    s.stop_told = false;
    if (target_format->wFormatTag == WAVE_FORMAT_PCM) {
        s.converter = create_converter(input_format, target_format);
        s.output_buffer = nullptr;
        s.output_capacity = 0;
        if (!s.converter) return false;
        // Room for one frame and for the drain from the start: a buffer that cannot grow later
        // then takes a block in pieces, and no block is ever lost for want of memory.
        int32_t frame_need = converter_output_size(s.converter, s.input_frame_bytes);
        int32_t drain_need = converter_output_size(s.converter, 0);
        if (frame_need < 0 || drain_need < 0) return false;
        return reserve_output(static_cast<uint32_t>(frame_need > drain_need ? frame_need : drain_need));
    }

    // The ACM's own records are not const; neither record is changed by the calls.
    WAVEFORMATEX *input = const_cast<WAVEFORMATEX *>(input_format);
    WAVEFORMATEX *target = const_cast<WAVEFORMATEX *>(target_format);
    const WAVEFORMATEX *codec_source = input_format;
    WAVEFORMATEX suggested;
    if (acmStreamOpen(&s.stream, nullptr, input, target, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0) {
        // Not an error: the codec may take another PCM format, which the converter then makes.
        s.stream = nullptr;
        memset(&suggested, 0, sizeof suggested);
        suggested.wFormatTag = WAVE_FORMAT_PCM;
        if (acmFormatSuggest(nullptr, target, &suggested, sizeof suggested, ACM_FORMATSUGGESTF_WFORMATTAG) != 0)
            return false;
        if (acmStreamOpen(&s.stream, nullptr, &suggested, target, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0) {
            s.stream = nullptr;
            return false;
        }
        codec_source = &suggested;
        s.converter = create_converter(input_format, &suggested);
        if (!s.converter) return false;
        int32_t converted_bytes = converter_output_size(s.converter, stage_buffer_bytes);
        if (converted_bytes < 0) return false;
        s.converted_capacity = static_cast<uint32_t>(converted_bytes);
        s.staging_buffer = stage_alloc(stage_buffer_bytes);
        s.converted_buffer = stage_alloc(s.converted_capacity);
        if (!s.staging_buffer || !s.converted_buffer) return false;
    }
    s.codec_silence = codec_source->wBitsPerSample == 8 ? 0x80 : 0;
    // The end of the track is padded to one whole codec block; a codec that cannot say how
    // large one is gets its tail offered unpadded.
    DWORD block_source = 0;
    if (target->nBlockAlign == 0 ||
        acmStreamSize(s.stream, target->nBlockAlign, &block_source, ACM_STREAMSIZEF_DESTINATION) != 0 ||
        block_source > stage_buffer_bytes)
        block_source = 0;
    s.codec_block_bytes = block_source;

    s.source_buffer = stage_alloc(stage_buffer_bytes);
    s.output_buffer = stage_alloc(stage_buffer_bytes);
    if (!s.source_buffer || !s.output_buffer) return false;
    // Wine's IMA ADPCM encoder leaves a mono block's reserved header byte as the buffer held it:
    // zeroed once, it is zero in every block, and the file the same on every run.
    memset(s.output_buffer, 0, stage_buffer_bytes);
    memset(&s.stream_header, 0, sizeof s.stream_header);
    s.stream_header.cbStruct = sizeof s.stream_header;
    s.stream_header.pbSrc = s.source_buffer;
    s.stream_header.cbSrcLength = stage_buffer_bytes;
    s.stream_header.pbDst = s.output_buffer;
    s.stream_header.cbDstLength = stage_buffer_bytes;
    return acmStreamPrepareHeader(s.stream, &s.stream_header, 0) == 0;
}

// --- the converter-only shape ---

// The converter reads the host's block in place. When the output buffer cannot grow to what
// the block needs, the block goes through in pieces of whole frames that fit the buffer held.
static void convert_pcm(const BYTE *block, uint32_t length)
{
    codec_pipeline &s = codec_state;
    if (!block) length = 0;
    for (;;) {
        uint32_t piece = length;
        int32_t need = converter_output_size(s.converter, piece);
        if (need < 0 || !reserve_output(static_cast<uint32_t>(need))) {
            while (piece > s.input_frame_bytes) {
                piece = (piece / 2 + s.input_frame_bytes - 1) / s.input_frame_bytes * s.input_frame_bytes;
                need = converter_output_size(s.converter, piece);
                if (need >= 0 && s.output_buffer && static_cast<uint32_t>(need) <= s.output_capacity) break;
            }
            if (need < 0 || !s.output_buffer || static_cast<uint32_t>(need) > s.output_capacity) return;
        }
        uint32_t count = converter_process(s.converter, block, s.output_buffer, piece);
        output_append(s.output_buffer, count);
        if (piece >= length) return;
        block += piece;
        length -= piece;
    }
}

// --- the ACM shapes ---

// One conversion call over everything pending, and one write of what it produced. The codec is
// trusted no further than its buffers: the used counts are cleared before the call (an error
// result that reports nothing writes nothing) and clamped after it. Returns the bytes consumed.
static uint32_t codec_round(DWORD flags)
{
    codec_pipeline &s = codec_state;
    ACMSTREAMHEADER &h = s.stream_header;
    h.cbSrcLength = s.source_pending;
    h.cbSrcLengthUsed = 0;
    h.cbDstLengthUsed = 0;
    acmStreamConvert(s.stream, &h, flags); // an error code decides nothing: the counts do
    uint32_t used = h.cbSrcLengthUsed < s.source_pending ? h.cbSrcLengthUsed : s.source_pending;
    uint32_t produced = h.cbDstLengthUsed < stage_buffer_bytes ? h.cbDstLengthUsed : stage_buffer_bytes;
    s.source_pending -= used;
    if (used && s.source_pending) memmove(s.source_buffer, s.source_buffer + used, s.source_pending);
    output_append(s.output_buffer, produced);
    return used;
}

// Flags of the next round: START only on the first round of a call made before any whole frame
// was accepted since open or flush, so that a codec's state is reset once, not between pieces.
struct round_flags {
    DWORD next;
    DWORD later;
};

static DWORD take_flags(round_flags *f)
{
    DWORD flags = f->next;
    f->next = f->later;
    return flags;
}

// Frees source space by converting what is pending. False when the codec took nothing while its
// source buffer holds more than room allows: the caller drops the rest, and the user hears of it.
static bool make_room(round_flags *f, uint32_t room)
{
    codec_pipeline &s = codec_state;
    while (stage_buffer_bytes - s.source_pending < room) {
        if (codec_round(take_flags(f)) == 0) {
            if (!s.stop_told) {
                s.stop_told = true;
                show_error(output_state.path, "Codec stopped accepting data");
            }
            return false;
        }
    }
    return true;
}

static void add_source(const BYTE *data, uint32_t bytes)
{
    codec_pipeline &s = codec_state;
    memcpy(s.source_buffer + s.source_pending, data, bytes);
    s.source_pending += bytes;
}

// The host's PCM goes to the codec as it is, in pieces as large as the source buffer has room.
static void feed_direct(round_flags *f, const BYTE *block, uint32_t length)
{
    codec_pipeline &s = codec_state;
    while (length) {
        if (s.source_pending == stage_buffer_bytes && !make_room(f, 1)) return;
        uint32_t piece = stage_buffer_bytes - s.source_pending;
        if (piece > length) piece = length;
        add_source(block, piece);
        block += piece;
        length -= piece;
    }
}

// Bytes of whole frames at most max_bytes long, and at least one frame.
static uint32_t whole_frames(uint32_t max_bytes)
{
    uint32_t frame = codec_state.input_frame_bytes;
    uint32_t bytes = max_bytes / frame * frame;
    return bytes ? bytes : frame;
}

// The host's PCM goes through the converter first, in pieces of whole frames whose converted
// size fits beside what is pending; the converter's state moves on only for what is kept.
static void feed_converted(round_flags *f, const BYTE *block, uint32_t length)
{
    codec_pipeline &s = codec_state;
    while (length) {
        uint32_t piece = length <= stage_buffer_bytes ? length : whole_frames(stage_buffer_bytes);
        int32_t need = converter_output_size(s.converter, piece);
        if (need < 0) return;
        uint32_t room = stage_buffer_bytes - s.source_pending;
        if (static_cast<uint32_t>(need) > room) {
            // Converting what is pending frees what the codec will take; if the piece still
            // does not fit beside the rest, a smaller one does.
            if (s.source_pending) codec_round(take_flags(f));
            room = stage_buffer_bytes - s.source_pending;
            while (static_cast<uint32_t>(need) > room && piece > s.input_frame_bytes) {
                piece = whole_frames(piece / 2);
                need = converter_output_size(s.converter, piece);
                if (need < 0) return;
            }
            if (static_cast<uint32_t>(need) > room && !make_room(f, static_cast<uint32_t>(need))) return;
        }
        memcpy(s.staging_buffer, block, piece);
        s.staging_pending = piece;
        uint32_t count = converter_process(s.converter, s.staging_buffer, s.converted_buffer, s.staging_pending);
        s.staging_pending = 0;
        add_source(s.converted_buffer, count);
        block += piece;
        length -= piece;
    }
}

// The end of the track: the converter's held-back samples join the source, the codec is told
// it is the end, and a partial last block that it still leaves is padded with silence to one
// whole block, so that the end of every track reaches the file.
static void drain_codec(round_flags *f)
{
    codec_pipeline &s = codec_state;
    if (s.converter) {
        int32_t need = converter_output_size(s.converter, 0);
        if (need >= 0 && static_cast<uint32_t>(need) <= s.converted_capacity &&
            make_room(f, static_cast<uint32_t>(need))) {
            uint32_t count = converter_process(s.converter, nullptr, s.converted_buffer, 0);
            add_source(s.converted_buffer, count);
        }
    }
    f->next |= ACM_STREAMCONVERTF_END;
    f->later |= ACM_STREAMCONVERTF_END;
    codec_round(take_flags(f));
    uint32_t block_bytes = s.codec_block_bytes;
    if (s.source_pending == 0 || block_bytes == 0) return;
    uint32_t padded = (s.source_pending + block_bytes - 1) / block_bytes * block_bytes;
    if (padded > stage_buffer_bytes) return;
    memset(s.source_buffer + s.source_pending, s.codec_silence, padded - s.source_pending);
    s.source_pending = padded;
    codec_round(take_flags(f));
    s.source_pending = 0; // what the codec refuses even now never reaches the file
}

void convert_and_write(const BYTE *block, uint32_t length)
{
    codec_pipeline &s = codec_state;
    if (!s.stream) {
        if (s.converter) convert_pcm(block, length);
        return;
    }
    round_flags f;
    f.later = block ? ACM_STREAMCONVERTF_BLOCKALIGN : 0;
    f.next = f.later | (output_state.frames_written == 0 ? ACM_STREAMCONVERTF_START : 0);
    if (!block) {
        drain_codec(&f);
        return;
    }
    if (s.converter) feed_converted(&f, block, length);
    else feed_direct(&f, block, length);
    codec_round(take_flags(&f));
}

void release_conversion(void)
{
    codec_pipeline &s = codec_state;
    if (s.converter) {
        stage_free(&s.staging_buffer);
        stage_free(&s.converted_buffer);
        converter_destroy(s.converter);
        s.converter = nullptr;
    }
    if (s.stream) {
        if (s.stream_header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
            s.stream_header.cbSrcLength = stage_buffer_bytes; // the length it was prepared with
            acmStreamUnprepareHeader(s.stream, &s.stream_header, 0);
        }
        memset(&s.stream_header, 0, sizeof s.stream_header);
        acmStreamClose(s.stream, 0);
        s.stream = nullptr;
    }
    stage_free(&s.source_buffer);
    stage_free(&s.output_buffer);
    s.output_capacity = 0;
    s.converted_capacity = 0;
    s.source_pending = 0;
    s.staging_pending = 0;
}
