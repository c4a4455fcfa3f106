// The stand-in's Audio Compression Manager: stream handles, header bookkeeping, format
// suggestion, tag and format details and the chooser, over a registry of codecs (the built-in
// ones of shim_acm_g711.cpp and shim_acm_ima.cpp, plus whatever a test adds). The answers and
// error codes are the ones msacm32 gives under Wine for the same calls; where this differs on
// purpose, a one-line comment says so. Called by the codec stage and the configuration dialog.
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include "win32_shim/shim_acm.h"

#include <stdio.h>
#include <string.h>

struct shim_hacmstream_tag {
    bool open;
    const shim_acm_codec *codec;
    void *instance;
    WORD source_block_bytes; // nBlockAlign of the source: a header must carry at least this
};

namespace {

const int max_added_codecs = 16;
const int max_streams = 64;
const DWORD pcm_format_bytes = 16; // cbFormatSize of PCM: Windows counts the record without cbSize

// What Windows keeps of a prepared header in its reserved words: the buffers and lengths it was
// prepared with, which later calls may not exceed.
struct prepared_header {
    LPBYTE source;
    LPBYTE destination;
    DWORD source_bytes;
    DWORD destination_bytes;
};
static_assert(sizeof(prepared_header) <= sizeof(ACMSTREAMHEADER::dwReservedDriver),
              "the prepared lengths fit the header's reserved words");

// Where each built-in tag sits in its driver's tag list and how many formats it enumerates,
// as Wine's drivers answer: PCM is tag 0 of every driver, u-law follows A-law in G.711's.
struct builtin_tag {
    const shim_acm_codec *codec;
    DWORD format_tag_index;
    DWORD standard_formats;
};
const builtin_tag builtin_tags[] = {
    {&shim_acm_ima_codec, 1, 8},
    {&shim_acm_alaw_codec, 1, 8},
    {&shim_acm_ulaw_codec, 2, 8},
};
const int builtin_count = sizeof builtin_tags / sizeof builtin_tags[0];

const shim_acm_codec *added_codecs[max_added_codecs];
int added_count = 0;
shim_hacmstream_tag streams[max_streams];
shim_format_chooser_fn format_chooser = nullptr;

// The codecs in the order the ACM asks them: added ones newest first, then the built-in ones.
const shim_acm_codec *codec_at(int index)
{
    if (index < added_count) return added_codecs[added_count - 1 - index];
    index -= added_count;
    return index < builtin_count ? builtin_tags[index].codec : nullptr;
}

const builtin_tag *builtin_of(const shim_acm_codec *codec)
{
    for (int i = 0; i < builtin_count; ++i)
        if (builtin_tags[i].codec == codec) return &builtin_tags[i];
    return nullptr;
}

shim_hacmstream_tag *valid_stream(HACMSTREAM stream)
{
    uintptr_t first = reinterpret_cast<uintptr_t>(&streams[0]);
    uintptr_t at = reinterpret_cast<uintptr_t>(stream);
    if (at < first || at >= first + sizeof streams || (at - first) % sizeof streams[0] != 0) return nullptr;
    return stream->open ? stream : nullptr;
}

void copy_text(char *to, size_t to_chars, const char *from)
{
    size_t n = strlen(from);
    if (n >= to_chars) n = to_chars - 1; // cut as Windows cuts a name longer than the field
    memcpy(to, from, n);
    to[n] = 0;
}

// The largest record of a tag as the ACM reports it, 0 for a tag nobody knows.
DWORD largest_format_bytes(WORD format_tag)
{
    if (format_tag == WAVE_FORMAT_PCM) return pcm_format_bytes;
    DWORD largest = 0;
    for (int i = 0; const shim_acm_codec *codec = codec_at(i); ++i)
        if (codec->format_tag == format_tag && codec->largest_format_bytes > largest)
            largest = codec->largest_format_bytes;
    return largest;
}

void fill_tag_details(ACMFORMATTAGDETAILSA *details, const shim_acm_codec *codec)
{
    const builtin_tag *builtin = codec ? builtin_of(codec) : nullptr;
    details->dwFormatTagIndex = codec ? (builtin ? builtin->format_tag_index : 1) : 0;
    details->dwFormatTag = codec ? codec->format_tag : WAVE_FORMAT_PCM;
    details->cbFormatSize = codec ? codec->largest_format_bytes : pcm_format_bytes;
    details->fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    // An added codec enumerates no formats of its own here (Windows would ask its driver).
    details->cStandardFormats = codec ? (builtin ? builtin->standard_formats : 0) : 16;
    copy_text(details->szFormatTag, sizeof details->szFormatTag, codec ? codec->tag_name : "PCM");
}

// acmFormatSuggest between two PCM formats, as Windows' PCM converter answers: the source with
// the fields the flags fix taken from the destination.
MMRESULT suggest_pcm(const WAVEFORMATEX *source, WAVEFORMATEX *destination, DWORD destination_bytes, DWORD flags)
{
    WAVEFORMATEX format = *source;
    if (flags & ACM_FORMATSUGGESTF_NCHANNELS) format.nChannels = destination->nChannels;
    if (flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) format.nSamplesPerSec = destination->nSamplesPerSec;
    if (flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) format.wBitsPerSample = destination->wBitsPerSample;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nBlockAlign = static_cast<WORD>(format.nChannels * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.cbSize = 0;
    memcpy(destination, &format, destination_bytes < sizeof format ? destination_bytes : sizeof format);
    return MMSYSERR_NOERROR;
}

} // namespace

void shim_acm_add_codec(const shim_acm_codec *codec)
{
    shim_acm_remove_codec(codec);
    if (!codec || added_count == max_added_codecs) return; // a test never adds this many
    added_codecs[added_count++] = codec;
}

void shim_acm_remove_codec(const shim_acm_codec *codec)
{
    for (int i = 0; i < added_count; ++i) {
        if (added_codecs[i] != codec) continue;
        memmove(&added_codecs[i], &added_codecs[i + 1], (added_count - i - 1) * sizeof added_codecs[0]);
        --added_count;
        return;
    }
}

void shim_set_format_chooser(shim_format_chooser_fn answerer) { format_chooser = answerer; }

void shim_acm_describe(DWORD samples_per_sec, WORD bits_per_sample, WORD channels, char *text, size_t text_chars)
{
    snprintf(text, text_chars, "%lu Hz; %u bits; %s", static_cast<unsigned long>(samples_per_sec),
             static_cast<unsigned>(bits_per_sample), channels == 1 ? "Mono" : "Stereo");
}

extern "C" MMRESULT acmStreamOpen(LPHACMSTREAM stream, HACMDRIVER driver, LPWAVEFORMATEX source,
                                  LPWAVEFORMATEX destination, LPWAVEFILTER filter, DWORD_PTR, DWORD_PTR, DWORD flags)
{
    if (driver) return MMSYSERR_INVALPARAM; // the stand-in hands out no driver handles
    if (!source || !destination || filter) return MMSYSERR_INVALPARAM;
    // Wine opens and keeps a stream for a null handle pointer; the stand-in only queries then.
    bool query = (flags & ACM_STREAMOPENF_QUERY) || !stream;
    // Differs from Windows: no PCM to PCM streams, the plug-in converts PCM itself.
    if (source->wFormatTag != WAVE_FORMAT_PCM || destination->wFormatTag != WAVE_FORMAT_PCM) {
        for (int i = 0; const shim_acm_codec *codec = codec_at(i); ++i) {
            if (codec->format_tag != source->wFormatTag && codec->format_tag != destination->wFormatTag) continue;
            void *instance = nullptr;
            if (codec->stream_open(source, destination, &instance) != MMSYSERR_NOERROR) continue;
            if (query) {
                codec->stream_close(instance);
                return MMSYSERR_NOERROR;
            }
            for (int s = 0; s < max_streams; ++s) {
                if (streams[s].open) continue;
                streams[s].open = true;
                streams[s].codec = codec;
                streams[s].instance = instance;
                streams[s].source_block_bytes = source->nBlockAlign;
                *stream = &streams[s];
                return MMSYSERR_NOERROR;
            }
            codec->stream_close(instance);
            *stream = nullptr;
            return MMSYSERR_NOMEM;
        }
    }
    if (!query) *stream = nullptr;
    return ACMERR_NOTPOSSIBLE;
}

extern "C" MMRESULT acmStreamClose(HACMSTREAM stream, DWORD)
{
    shim_hacmstream_tag *s = valid_stream(stream);
    if (!s) return MMSYSERR_INVALHANDLE;
    s->codec->stream_close(s->instance);
    memset(s, 0, sizeof *s);
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input_bytes, LPDWORD output_bytes, DWORD flags)
{
    shim_hacmstream_tag *s = valid_stream(stream);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (flags & ~ACM_STREAMSIZEF_QUERYMASK) return MMSYSERR_INVALFLAG;
    if (!output_bytes) return MMSYSERR_INVALPARAM;
    DWORD query = flags & ACM_STREAMSIZEF_QUERYMASK;
    if (query != ACM_STREAMSIZEF_SOURCE && query != ACM_STREAMSIZEF_DESTINATION) {
        *output_bytes = 0; // Wine clears the answer before it refuses the query
        return MMSYSERR_INVALFLAG;
    }
    return s->codec->stream_size(s->instance, input_bytes, output_bytes, query);
}

extern "C" MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags)
{
    shim_hacmstream_tag *s = valid_stream(stream);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (!header || header->cbStruct < sizeof *header) return MMSYSERR_INVALPARAM;
    if (flags) return MMSYSERR_INVALFLAG;
    if (header->cbSrcLength == 0) return MMSYSERR_INVALPARAM;
    if (header->cbSrcLength < s->source_block_bytes) return ACMERR_NOTPOSSIBLE; // not one source frame
    // Preparing again is allowed and takes the header's present buffers and lengths.
    prepared_header prepared = {header->pbSrc, header->pbDst, header->cbSrcLength, header->cbDstLength};
    memcpy(header->dwReservedDriver, &prepared, sizeof prepared);
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_INQUEUE;
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

// Shorter lengths than prepared are accepted, as Wine accepts them; longer ones and moved
// buffers are not.
static bool fits_prepared(const ACMSTREAMHEADER *header)
{
    prepared_header prepared;
    memcpy(&prepared, header->dwReservedDriver, sizeof prepared);
    return header->pbSrc == prepared.source && header->pbDst == prepared.destination &&
           header->cbSrcLength <= prepared.source_bytes && header->cbDstLength <= prepared.destination_bytes;
}

// Flags are ignored, as Wine ignores them.
extern "C" MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD)
{
    if (!valid_stream(stream)) return MMSYSERR_INVALHANDLE;
    if (!header || header->cbStruct < sizeof *header) return MMSYSERR_INVALPARAM;
    if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    if (!fits_prepared(header)) return MMSYSERR_INVALPARAM;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT acmStreamConvert(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags)
{
    shim_hacmstream_tag *s = valid_stream(stream);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (!header || header->cbStruct < sizeof *header) return MMSYSERR_INVALPARAM;
    if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    header->cbSrcLengthUsed = 0;
    header->cbDstLengthUsed = 0;
    if (!fits_prepared(header)) return MMSYSERR_INVALPARAM;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    MMRESULT result = s->codec->stream_convert(s->instance, header, flags);
    if (result == MMSYSERR_NOERROR) header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return result;
}

extern "C" MMRESULT acmFormatSuggest(HACMDRIVER driver, LPWAVEFORMATEX source, LPWAVEFORMATEX destination,
                                     DWORD destination_bytes, DWORD flags)
{
    if (driver) return MMSYSERR_INVALHANDLE;
    if (flags & ~ACM_FORMATSUGGESTF_TYPEMASK) return MMSYSERR_INVALFLAG;
    if (!source || !destination) return MMSYSERR_INVALPARAM;
    if (!(flags & ACM_FORMATSUGGESTF_WFORMATTAG)) {
        // With no tag fixed Windows' PCM converter answers first, and for a codec source Wine
        // refuses the call.
        if (source->wFormatTag != WAVE_FORMAT_PCM) return MMSYSERR_INVALPARAM;
        if (destination_bytes < pcm_format_bytes) return MMSYSERR_INVALPARAM;
        return suggest_pcm(source, destination, destination_bytes, flags);
    }
    WORD target_tag = destination->wFormatTag;
    DWORD needed = largest_format_bytes(target_tag);
    if (!needed) return ACMERR_NOTPOSSIBLE;
    if (destination_bytes < needed) return MMSYSERR_INVALPARAM; // room for the tag's largest record
    if (source->wFormatTag == WAVE_FORMAT_PCM && target_tag == WAVE_FORMAT_PCM)
        return suggest_pcm(source, destination, destination_bytes, flags);
    if (source->wFormatTag != WAVE_FORMAT_PCM && target_tag != WAVE_FORMAT_PCM) return ACMERR_NOTPOSSIBLE;
    WORD codec_tag = source->wFormatTag == WAVE_FORMAT_PCM ? target_tag : source->wFormatTag;
    for (int i = 0; const shim_acm_codec *codec = codec_at(i); ++i) {
        if (codec->format_tag != codec_tag || !codec->format_suggest) continue;
        if (codec->format_suggest(source, destination, destination_bytes, flags) == MMSYSERR_NOERROR)
            return MMSYSERR_NOERROR;
    }
    return ACMERR_NOTPOSSIBLE;
}

extern "C" MMRESULT acmFormatTagDetailsA(HACMDRIVER driver, LPACMFORMATTAGDETAILSA details, DWORD flags)
{
    if (driver) return ACMERR_NOTPOSSIBLE;
    // Wine also answers a short record (and crashes on none); the stand-in refuses both.
    if (!details || details->cbStruct < sizeof *details) return MMSYSERR_INVALPARAM;
    if (flags == ACM_FORMATTAGDETAILSF_INDEX) return ACMERR_NOTPOSSIBLE; // an index needs a driver handle
    if (flags != ACM_FORMATTAGDETAILSF_FORMATTAG && flags != ACM_FORMATTAGDETAILSF_LARGESTSIZE)
        return MMSYSERR_INVALFLAG;
    WORD wanted = static_cast<WORD>(details->dwFormatTag);
    if (details->dwFormatTag > 0xFFFF) return ACMERR_NOTPOSSIBLE;
    if (flags == ACM_FORMATTAGDETAILSF_LARGESTSIZE && wanted == 0) {
        // Any tag: the one with the largest record, PCM when no codec has a larger one.
        const shim_acm_codec *largest = nullptr;
        DWORD largest_bytes = pcm_format_bytes;
        for (int i = 0; const shim_acm_codec *codec = codec_at(i); ++i) {
            if (codec->largest_format_bytes <= largest_bytes) continue;
            largest = codec;
            largest_bytes = codec->largest_format_bytes;
        }
        fill_tag_details(details, largest);
        return MMSYSERR_NOERROR;
    }
    if (wanted == WAVE_FORMAT_PCM) {
        fill_tag_details(details, nullptr);
        return MMSYSERR_NOERROR;
    }
    for (int i = 0; const shim_acm_codec *codec = codec_at(i); ++i) {
        if (codec->format_tag != wanted) continue;
        fill_tag_details(details, codec);
        return MMSYSERR_NOERROR;
    }
    return ACMERR_NOTPOSSIBLE;
}

extern "C" MMRESULT acmFormatDetailsA(HACMDRIVER driver, LPACMFORMATDETAILSA details, DWORD flags)
{
    // Wine also answers a short record; the stand-in refuses it.
    if (!details || details->cbStruct < sizeof *details) return MMSYSERR_INVALPARAM;
    if (flags == ACM_FORMATDETAILSF_INDEX) return MMSYSERR_INVALHANDLE; // an index needs a driver handle
    if (flags != ACM_FORMATDETAILSF_FORMAT) return MMSYSERR_INVALFLAG;
    if (driver) return MMSYSERR_INVALHANDLE;
    const WAVEFORMATEX *format = details->pwfx;
    if (!format || details->cbwfx < pcm_format_bytes) return MMSYSERR_INVALPARAM;
    if (details->fdwSupport != 0 || details->dwFormatTag != format->wFormatTag) return MMSYSERR_INVALPARAM;
    if (format->wFormatTag == WAVE_FORMAT_PCM) {
        WORD bits = format->wBitsPerSample;
        if (format->nChannels < 1 || format->nChannels > 2 || format->nSamplesPerSec == 0 ||
            (bits != 8 && bits != 16 && bits != 24))
            return ACMERR_NOTPOSSIBLE;
        // Under Wine a codec answers for the PCM formats it pairs with, the PCM converter for
        // 24 bits; the stand-in takes 8 and 16 bits as a codec's at every rate. Wine refuses a
        // few odd ones (7 Hz at 8 or 24 bits); the stand-in describes every rate.
        details->fdwSupport = bits == 24 ? ACMDRIVERDETAILS_SUPPORTF_CONVERTER : ACMDRIVERDETAILS_SUPPORTF_CODEC;
        shim_acm_describe(format->nSamplesPerSec, bits, format->nChannels, details->szFormat,
                          sizeof details->szFormat);
        return MMSYSERR_NOERROR;
    }
    for (int i = 0; const shim_acm_codec *codec = codec_at(i); ++i) {
        if (codec->format_tag != format->wFormatTag || !codec->format_text) continue;
        char text[ACMFORMATDETAILS_FORMAT_CHARS];
        if (codec->format_text(format, text, sizeof text) != MMSYSERR_NOERROR) continue;
        details->fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
        copy_text(details->szFormat, sizeof details->szFormat, text);
        return MMSYSERR_NOERROR;
    }
    return ACMERR_NOTPOSSIBLE;
}

extern "C" MMRESULT acmFormatChooseA(LPACMFORMATCHOOSEA choose)
{
    if (!choose) return MMSYSERR_INVALPARAM;
    if (!format_chooser) return ACMERR_CANCELED;
    return format_chooser(choose);
}
