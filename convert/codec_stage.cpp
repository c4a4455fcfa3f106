// Owns codec_state: builds the pipeline of a converting track from the target and from what the
// ACM opens and suggests, and turns every block into the bytes to write, piece by piece, as the
// ACM itself does: each codec_take makes at most one conversion call and gives back what it
// produced. The codec's buffers have fixed sizes and blocks larger than they are go through in
// pieces of whole frames; the converter-only shape's output buffer grows to the largest block.
// Only a codec that stops consuming makes the stage drop data, and it says so.
#include "convert/codec_stage.h"

#include <string.h>

codec_pipeline codec_state;

// The player's record is 84 bytes on Windows; the stand-in's 64-bit pointers make it larger.
static_assert(sizeof(void *) != 4 || sizeof(ACMSTREAMHEADER) == 84, "ACMSTREAMHEADER is 84 bytes on i686");

// Where the block in hand stands; see codec_take.
enum codec_phase : BYTE {
    phase_done,
    phase_pcm,              // converter-only: one piece per take
    phase_feed,             // ACM shapes: the block goes into the source buffer
    phase_final,            // one conversion call over what the block left pending
    phase_drain_converter,  // the end: the converter's held-back samples join the source
    phase_drain_end,        // the end: the codec is told so
    phase_drain_pad,        // the end: a partial last codec block, padded with silence
};

// Converter-then-ACM feeding, per piece of the block: whether room is still being made for it.
enum piece_phase : BYTE { piece_chosen, piece_after_first_call, piece_making_room };

static BYTE *stage_alloc(uint32_t bytes) { return static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), 0, bytes)); }

static void stage_free(BYTE **buffer)
{
    if (*buffer) HeapFree(GetProcessHeap(), 0, *buffer);
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
    if (s.output_buffer && s.output_capacity_bytes >= need) return true;
    BYTE *grown = s.output_buffer ? static_cast<BYTE *>(HeapReAlloc(GetProcessHeap(), 0, s.output_buffer, need))
                                  : stage_alloc(need);
    if (!grown) return false;
    s.output_buffer = grown;
    s.output_capacity_bytes = need;
    return true;
}

static bool create_converter_only(const WAVEFORMATEX *input_format, const WAVEFORMATEX *target_format)
{
    codec_pipeline &s = codec_state;
    s.converter = create_converter(input_format, target_format);
    if (!s.converter) return false;
    // Room for one frame and for the drain from the start: a buffer that cannot grow later then
    // takes a block in pieces, and no block is ever lost for want of memory.
    int32_t frame_need = converter_output_size(s.converter, s.input_frame_bytes);
    int32_t drain_need = converter_output_size(s.converter, 0);
    if (frame_need < 0 || drain_need < 0) return false;
    return reserve_output(static_cast<uint32_t>(frame_need > drain_need ? frame_need : drain_need));
}

// A codec record whose blocks have no size, or cannot hold the samples it says they carry, is
// refused before any codec sees it: the system's IMA ADPCM encoder divides by a block size of 0
// and takes the player down. The ADPCM records carry exactly their own extra bytes (IMA: the
// samples per block; MS: those, the coefficient count and the pairs): Wine's encoder takes
// others, but readers such as sox lose the data chunk behind a longer, odd fmt chunk. The
// blocks start with a header per channel (IMA: 4 bytes and one sample; MS: 7 bytes and two),
// the other samples follow at wBitsPerSample each, IMA in groups of eight per channel.
static bool codec_record_usable(const WAVEFORMATEX *target)
{
    if (target->nBlockAlign == 0 || target->nChannels == 0) return false;
    bool ima = target->wFormatTag == WAVE_FORMAT_IMA_ADPCM;
    if (!ima && target->wFormatTag != WAVE_FORMAT_ADPCM) return true;
    const BYTE *extra = reinterpret_cast<const BYTE *>(target) + sizeof(WAVEFORMATEX);
    uint32_t own_extra = ima ? 2 : target->cbSize < 4 ? 4 : 4 + 4u * (extra[2] | extra[3] << 8);
    if (target->cbSize != own_extra || target->wBitsPerSample == 0) return false;
    uint64_t samples = extra[0] | extra[1] << 8; // per channel and block
    uint64_t channels = target->nChannels, bits = target->wBitsPerSample;
    uint64_t in_header = ima ? 1 : 2;
    if (samples < in_header) return false;
    uint64_t coded = ima ? (samples - 1 + 7) / 8 * 8 : samples - 2;
    uint64_t need = (ima ? 4 : 7) * channels + (coded * channels * bits + 7) / 8;
    return need <= target->nBlockAlign;
}

bool codec_create(const WAVEFORMATEX *input_format, const WAVEFORMATEX *target_format)
{
    codec_pipeline &s = codec_state;
    memset(&s, 0, sizeof s);
    s.input_frame_bytes = input_format->nBlockAlign ? input_format->nBlockAlign : 1;
    if (target_format->wFormatTag == WAVE_FORMAT_PCM) return create_converter_only(input_format, target_format);

    if (!codec_record_usable(target_format)) return false;
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
        s.converted_capacity_bytes = static_cast<uint32_t>(converted_bytes);
        s.converted_buffer = stage_alloc(s.converted_capacity_bytes);
        if (!s.converted_buffer) return false;
    }
    s.codec_silence = codec_source->wBitsPerSample == 8 ? 0x80 : 0;
    s.source_frame_bytes = codec_source->nBlockAlign;
    s.source_rate = codec_source->nSamplesPerSec;
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
    s.stream_header.cbStruct = sizeof s.stream_header;
    s.stream_header.pbSrc = s.source_buffer;
    s.stream_header.cbSrcLength = stage_buffer_bytes;
    s.stream_header.pbDst = s.output_buffer;
    s.stream_header.cbDstLength = stage_buffer_bytes;
    return acmStreamPrepareHeader(s.stream, &s.stream_header, 0) == 0;
}

void codec_destroy(void)
{
    codec_pipeline &s = codec_state;
    if (s.converter) {
        stage_free(&s.converted_buffer);
        converter_destroy(s.converter);
        s.converter = nullptr;
    }
    if (s.stream) {
        if (s.stream_header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
            s.stream_header.cbSrcLength = stage_buffer_bytes; // the length it was prepared with
            acmStreamUnprepareHeader(s.stream, &s.stream_header, 0); // nothing to do if it fails
        }
        memset(&s.stream_header, 0, sizeof s.stream_header);
        acmStreamClose(s.stream, 0);
        s.stream = nullptr;
    }
    stage_free(&s.source_buffer);
    stage_free(&s.output_buffer);
    s.output_capacity_bytes = 0;
    s.converted_capacity_bytes = 0;
    s.source_pending_bytes = 0;
    s.phase = phase_done;
}

void codec_feed(const BYTE *block, uint32_t length, bool stream_start)
{
    codec_pipeline &s = codec_state;
    s.block = block;
    s.block_bytes_left = block ? length : 0;
    s.piece_phase = piece_chosen;
    // START only on the block's first call, so that a codec's state is reset once, not between
    // the pieces of one block; END only at the drain.
    s.later_flags = block ? ACM_STREAMCONVERTF_BLOCKALIGN : 0;
    s.next_flags = s.later_flags | (stream_start ? ACM_STREAMCONVERTF_START : 0);
    if (s.stream) s.phase = block ? phase_feed : phase_drain_converter;
    else s.phase = s.converter ? phase_pcm : phase_done;
}

bool codec_stopped(void) { return codec_state.stopped; }

codec_frames codec_frame_counts(void)
{
    const codec_pipeline &s = codec_state;
    codec_frames counts = {0, 0, 0};
    if (!s.stream || s.source_frame_bytes == 0) return counts;
    counts.consumed_frames = s.consumed_source_bytes / s.source_frame_bytes;
    counts.source_rate = s.source_rate;
    counts.frames_per_block = s.codec_block_bytes / s.source_frame_bytes;
    return counts;
}

static void advance_block(uint32_t bytes)
{
    codec_state.block += bytes;
    codec_state.block_bytes_left -= bytes;
}

// --- the converter-only shape ---

// The converter reads the host's block in place. When the output buffer cannot grow to what
// the block needs, the block goes through in pieces of whole frames that fit the buffer held.
static bool take_pcm(codec_output *output)
{
    codec_pipeline &s = codec_state;
    uint32_t piece = s.block_bytes_left;
    int32_t need = converter_output_size(s.converter, piece);
    if (need < 0 || !reserve_output(static_cast<uint32_t>(need))) {
        while (piece > s.input_frame_bytes) {
            piece = (piece / 2 + s.input_frame_bytes - 1) / s.input_frame_bytes * s.input_frame_bytes;
            need = converter_output_size(s.converter, piece);
            if (need >= 0 && static_cast<uint32_t>(need) <= s.output_capacity_bytes) break;
        }
        // Cannot happen: the set-up made room for one frame and for the drain.
        if (need < 0 || static_cast<uint32_t>(need) > s.output_capacity_bytes) {
            s.phase = phase_done;
            return false;
        }
    }
    output->bytes = s.output_buffer;
    output->byte_count = converter_process(s.converter, s.block, s.output_buffer, piece);
    if (piece >= s.block_bytes_left) s.phase = phase_done; // the drain, too, is one piece
    else advance_block(piece);
    return true;
}

// --- the ACM shapes ---

// One conversion call over everything pending; its output is what output gives back. The codec
// is trusted no further than its buffers: the used counts are cleared before the call (an error
// result that reports nothing gives nothing) and clamped after it. Returns the bytes consumed.
static uint32_t codec_round(codec_output *output)
{
    codec_pipeline &s = codec_state;
    ACMSTREAMHEADER &h = s.stream_header;
    DWORD flags = s.next_flags;
    s.next_flags = s.later_flags;
    h.cbSrcLength = s.source_pending_bytes;
    h.cbSrcLengthUsed = 0;
    h.cbDstLengthUsed = 0;
    acmStreamConvert(s.stream, &h, flags); // an error code decides nothing: the counts do
    uint32_t used = h.cbSrcLengthUsed < s.source_pending_bytes ? h.cbSrcLengthUsed : s.source_pending_bytes;
    s.consumed_source_bytes += used;
    s.source_pending_bytes -= used;
    if (used && s.source_pending_bytes) memmove(s.source_buffer, s.source_buffer + used, s.source_pending_bytes);
    output->bytes = s.output_buffer;
    output->byte_count = h.cbDstLengthUsed < stage_buffer_bytes ? h.cbDstLengthUsed : stage_buffer_bytes;
    return used;
}

static uint32_t source_room(void) { return stage_buffer_bytes - codec_state.source_pending_bytes; }

// A call made to free source space. When the codec took nothing while its source holds more
// than room allows, it has stopped: the rest of the block is dropped, and that is sticky.
static void round_for_room(codec_output *output)
{
    if (codec_round(output) != 0) return;
    codec_state.stopped = true;
    codec_state.block_bytes_left = 0;
}

static void add_source(const BYTE *data, uint32_t bytes)
{
    codec_pipeline &s = codec_state;
    memcpy(s.source_buffer + s.source_pending_bytes, data, bytes);
    s.source_pending_bytes += bytes;
}

// The host's PCM goes to the codec as it is, in pieces as large as the source buffer has room.
// True with the output of a call made to free room; false once the block is all in the source.
static bool feed_direct(codec_output *output)
{
    codec_pipeline &s = codec_state;
    while (s.block_bytes_left) {
        if (source_room() == 0) {
            round_for_room(output);
            return true;
        }
        uint32_t piece = source_room() < s.block_bytes_left ? source_room() : s.block_bytes_left;
        add_source(s.block, piece);
        advance_block(piece);
    }
    return false;
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
// When a piece does not fit, one call converts what is pending, then smaller pieces are tried,
// then calls are made until it fits. True with the output of such a call; false once the
// block is all in the source (or dropped).
static bool feed_converted(codec_output *output)
{
    codec_pipeline &s = codec_state;
    while (s.block_bytes_left) {
        uint32_t piece = s.piece_bytes;
        int32_t need;
        if (s.piece_phase == piece_chosen) {
            piece = s.block_bytes_left <= stage_buffer_bytes ? s.block_bytes_left : whole_frames(stage_buffer_bytes);
            need = converter_output_size(s.converter, piece);
            if (need < 0) break; // cannot happen: the set-up sized converted_buffer for a bigger piece
            if (static_cast<uint32_t>(need) > source_room()) {
                s.piece_bytes = piece;
                s.piece_phase = piece_after_first_call;
                if (s.source_pending_bytes) {
                    codec_round(output);
                    return true;
                }
            }
        }
        if (s.piece_phase == piece_after_first_call) {
            need = converter_output_size(s.converter, piece);
            while (need >= 0 && static_cast<uint32_t>(need) > source_room() && piece > s.input_frame_bytes) {
                piece = whole_frames(piece / 2);
                need = converter_output_size(s.converter, piece);
            }
            if (need < 0) break;
            s.piece_bytes = piece;
            s.piece_phase = piece_making_room;
        }
        if (s.piece_phase == piece_making_room &&
            static_cast<uint32_t>(converter_output_size(s.converter, piece)) > source_room()) {
            round_for_room(output);
            return true;
        }
        // The converter reads the piece in place: it reads only whole frames of the bytes it is
        // given. Pieces stay within stage_buffer_bytes, which converted_buffer is sized for.
        uint32_t count = converter_process(s.converter, s.block, s.converted_buffer, piece);
        add_source(s.converted_buffer, count);
        advance_block(piece);
        s.piece_phase = piece_chosen;
    }
    s.block_bytes_left = 0; // a size that cannot be computed drops the rest
    return false;
}

// The end of the track: the converter's held-back samples join the source (room made for them
// first), the codec is told it is the end, and a partial last block that it still leaves is
// padded with silence to one whole block, so that the end of every track reaches the file.
static bool take_drain(codec_output *output)
{
    codec_pipeline &s = codec_state;
    if (s.phase == phase_drain_converter) {
        int32_t need = s.converter ? converter_output_size(s.converter, 0) : -1;
        if (need >= 0 && static_cast<uint32_t>(need) <= s.converted_capacity_bytes) {
            if (static_cast<uint32_t>(need) > source_room()) {
                // A codec that takes nothing now will not take the converter's tail either.
                if (codec_round(output) == 0) {
                    s.stopped = true;
                    s.phase = phase_drain_end;
                }
                return true;
            }
            uint32_t count = converter_process(s.converter, nullptr, s.converted_buffer, 0);
            add_source(s.converted_buffer, count);
        }
        s.phase = phase_drain_end;
    }
    if (s.phase == phase_drain_end) {
        s.next_flags |= ACM_STREAMCONVERTF_END;
        s.later_flags |= ACM_STREAMCONVERTF_END;
        codec_round(output);
        s.phase = phase_drain_pad;
        return true;
    }
    s.phase = phase_done;
    uint32_t block_bytes = s.codec_block_bytes;
    if (s.source_pending_bytes == 0 || block_bytes == 0) return false;
    uint32_t real_bytes = s.source_pending_bytes;
    uint32_t padded = (real_bytes + block_bytes - 1) / block_bytes * block_bytes;
    if (padded > stage_buffer_bytes) return false;
    memset(s.source_buffer + real_bytes, s.codec_silence, padded - real_bytes);
    s.source_pending_bytes = padded;
    uint32_t used = codec_round(output);
    if (used > real_bytes) s.consumed_source_bytes -= used - real_bytes; // the silence is no part of the track
    s.source_pending_bytes = 0; // what the codec refuses even now never reaches the file
    return true;
}

bool codec_take(codec_output *output)
{
    codec_pipeline &s = codec_state;
    switch (s.phase) {
    case phase_pcm:
        return take_pcm(output);
    case phase_feed:
        if (s.converter ? feed_converted(output) : feed_direct(output)) return true;
        s.phase = phase_final;
        [[fallthrough]];
    case phase_final:
        codec_round(output);
        s.phase = phase_done;
        return true;
    case phase_drain_converter:
    case phase_drain_end:
    case phase_drain_pad:
        return take_drain(output);
    default:
        return false;
    }
}
