// The stand-in's G.711 codecs, A-law (tag 6) and u-law (tag 7), as the ACM's registry sees
// them (shim_acm.cpp): 16-bit PCM in, one byte per sample out, with the bytes of the classic
// segment-table encoder that Windows' and Wine's G.711 codec use. Like Wine's codec they pair
// only with 16-bit PCM of the same rate and channel count, at the four rates it enumerates.
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include "win32_shim/shim_acm.h"

#include <emmintrin.h>
#include <string.h>

namespace {

const WORD tag_alaw = 6;
const WORD tag_ulaw = 7;
const DWORD g711_rates[] = {8000, 11025, 22050, 44100};

// Segment ends of the biased u-law magnitude (>> 2) and of the A-law magnitude (>> 3).
const int ulaw_segment_end[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
const int alaw_segment_end[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
const int ulaw_clip = 8159;
const int ulaw_bias = 0x84 >> 2;

int segment_of(int value, const int *segment_end)
{
    int segment = 0;
    while (segment < 8 && value > segment_end[segment]) ++segment;
    return segment;
}

BYTE encode_ulaw(int16_t sample)
{
    int value = sample >> 2;
    int mask = 0xFF;
    if (value < 0) {
        value = -value;
        mask = 0x7F;
    }
    if (value > ulaw_clip) value = ulaw_clip;
    value += ulaw_bias;
    int segment = segment_of(value, ulaw_segment_end);
    if (segment >= 8) return static_cast<BYTE>(0x7F ^ mask);
    return static_cast<BYTE>(((segment << 4) | ((value >> (segment + 1)) & 0xF)) ^ mask);
}

BYTE encode_alaw(int16_t sample)
{
    int value = sample >> 3;
    int mask = 0xD5;
    if (value < 0) {
        value = -value - 1; // one's complement: -1 >> 3 is the smallest negative step
        mask = 0x55;
    }
    int segment = segment_of(value, alaw_segment_end);
    if (segment >= 8) return static_cast<BYTE>(0x7F ^ mask);
    int code = segment << 4;
    code |= segment < 2 ? (value >> 1) & 0xF : (value >> segment) & 0xF;
    return static_cast<BYTE>(code ^ mask);
}

// The codec's per-stream instance is which law it encodes. Each code depends only on the
// sample's top bits (14 for u-law, 13 for A-law), so a table of them, filled at the first open,
// makes the encoder a lookup: the benchmarks time the plug-in, not this stand-in.
struct g711_law {
    WORD format_tag;
    BYTE (*encode)(int16_t sample);
    int shift;
    BYTE *codes; // 65536 >> shift entries, by the sample's top bits
    bool codes_filled;
};
BYTE ulaw_codes[65536 >> 2];
BYTE alaw_codes[65536 >> 3];
g711_law alaw = {tag_alaw, encode_alaw, 3, alaw_codes, false};
g711_law ulaw = {tag_ulaw, encode_ulaw, 2, ulaw_codes, false};

void fill_codes(g711_law *law)
{
    if (law->codes_filled) return;
    for (int top = 0; top < (65536 >> law->shift); top++)
        law->codes[top] = law->encode(static_cast<int16_t>(static_cast<uint16_t>(top << law->shift)));
    law->codes_filled = true;
}

bool known_rate(DWORD rate)
{
    for (DWORD r : g711_rates)
        if (r == rate) return true;
    return false;
}

bool is_g711_format(const WAVEFORMATEX *format, WORD tag)
{
    return format->wFormatTag == tag && format->wBitsPerSample == 8 && format->nChannels >= 1 &&
           format->nChannels <= 2 && known_rate(format->nSamplesPerSec);
}

// Opens PCM -> law only; Wine's codec also decodes, which the plug-in never asks for.
MMRESULT open_law(g711_law *law, const WAVEFORMATEX *source, const WAVEFORMATEX *destination, void **instance)
{
    if (source->wFormatTag != WAVE_FORMAT_PCM || source->wBitsPerSample != 16) return ACMERR_NOTPOSSIBLE;
    if (!is_g711_format(destination, law->format_tag)) return ACMERR_NOTPOSSIBLE;
    if (source->nSamplesPerSec != destination->nSamplesPerSec || source->nChannels != destination->nChannels)
        return ACMERR_NOTPOSSIBLE;
    fill_codes(law);
    *instance = law;
    return MMSYSERR_NOERROR;
}

MMRESULT open_alaw(const WAVEFORMATEX *source, const WAVEFORMATEX *destination, void **instance)
{
    return open_law(&alaw, source, destination, instance);
}

MMRESULT open_ulaw(const WAVEFORMATEX *source, const WAVEFORMATEX *destination, void **instance)
{
    return open_law(&ulaw, source, destination, instance);
}

// encode_ulaw eight samples at a time, for the end-to-end benchmark's u-law row, whose time is
// the plug-in's and not this stand-in's to spend. The magnitude after the clip and the bias lies
// in [33, 8192]; taken to 8191 it codes the same (segment 7, all mantissa bits set, as the top
// segment's 0x7F). As a float its exponent is the segment plus 5 and the top four bits of its
// significand are the segment's mantissa bits, so bits 19 and up of the float, less (127 + 5)
// << 4, are the code before its sign mask. Gives encode_ulaw's bytes for all 65536 samples.
DWORD encode_ulaw_eights(const BYTE *in, BYTE *out, DWORD samples)
{
    const __m128i clip = _mm_set1_epi16(ulaw_clip), bias = _mm_set1_epi16(ulaw_bias), top = _mm_set1_epi16(0x1FFF);
    const __m128i positive_mask = _mm_set1_epi16(0xFF), sign_bit = _mm_set1_epi16(0x80), zero = _mm_setzero_si128();
    const __m128i exponent_offset = _mm_set1_epi16((127 + 5) << 4);
    DWORD i = 0;
    for (; i + 8 <= samples; i += 8) {
        __m128i value = _mm_srai_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 2 * i)), 2);
        __m128i negative = _mm_srai_epi16(value, 15);
        __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(value, negative), negative);
        magnitude = _mm_min_epi16(_mm_add_epi16(_mm_min_epi16(magnitude, clip), bias), top);
        __m128i low = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpacklo_epi16(magnitude, zero)));
        __m128i high = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpackhi_epi16(magnitude, zero)));
        __m128i top_bits = _mm_packs_epi32(_mm_srli_epi32(low, 19), _mm_srli_epi32(high, 19));
        __m128i code = _mm_sub_epi16(top_bits, exponent_offset);
        code = _mm_xor_si128(code, _mm_xor_si128(positive_mask, _mm_and_si128(negative, sign_bit)));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(code, code));
    }
    return i;
}

// Sample by sample, not frame by frame: an odd byte or a short destination can end the call
// between the channels of one frame, as Wine's codec does.
MMRESULT convert_law(void *instance, ACMSTREAMHEADER *header, DWORD)
{
    const g711_law *law = static_cast<const g711_law *>(instance);
    DWORD samples = header->cbSrcLength / 2;
    if (samples > header->cbDstLength) samples = header->cbDstLength;
    const BYTE *in = header->pbSrc;
    BYTE *out = header->pbDst;
    const BYTE *codes = law->codes;
    int shift = law->shift;
    DWORD i = law == &ulaw ? encode_ulaw_eights(in, out, samples) : 0;
    for (; i < samples; ++i) out[i] = codes[(in[2 * i] | (in[2 * i + 1] << 8)) >> shift];
    header->cbSrcLengthUsed = samples * 2;
    header->cbDstLengthUsed = samples;
    return MMSYSERR_NOERROR;
}

MMRESULT size_law(void *, DWORD input_bytes, DWORD *output_bytes, DWORD flags)
{
    *output_bytes = flags == ACM_STREAMSIZEF_DESTINATION ? input_bytes * 2 : input_bytes / 2;
    return MMSYSERR_NOERROR;
}

void close_law(void *) {}

void write_format(WAVEFORMATEX *destination, DWORD destination_bytes, const WAVEFORMATEX &format)
{
    memcpy(destination, &format, destination_bytes < sizeof format ? destination_bytes : sizeof format);
}

// PCM -> law gives the law at the PCM's rate and channels; law -> PCM gives 16-bit PCM of the
// law's. Fields that the flags fix are taken from the destination.
MMRESULT suggest_law(WORD tag, const WAVEFORMATEX *source, WAVEFORMATEX *destination, DWORD destination_bytes,
                     DWORD flags)
{
    WAVEFORMATEX format;
    memset(&format, 0, sizeof format);
    format.nChannels = (flags & ACM_FORMATSUGGESTF_NCHANNELS) ? destination->nChannels : source->nChannels;
    format.nSamplesPerSec =
        (flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ? destination->nSamplesPerSec : source->nSamplesPerSec;
    if (source->wFormatTag == WAVE_FORMAT_PCM) {
        if (source->wBitsPerSample != 16 || source->nChannels < 1 || source->nChannels > 2) return ACMERR_NOTPOSSIBLE;
        if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && destination->wBitsPerSample != 8) return ACMERR_NOTPOSSIBLE;
        format.wFormatTag = tag;
        format.wBitsPerSample = 8;
        if (!is_g711_format(&format, tag)) return ACMERR_NOTPOSSIBLE;
    } else {
        if (!is_g711_format(source, tag)) return ACMERR_NOTPOSSIBLE;
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.wBitsPerSample = (flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ? destination->wBitsPerSample : 16;
        if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16) return ACMERR_NOTPOSSIBLE;
        if (format.nChannels < 1 || format.nChannels > 2 || format.nSamplesPerSec == 0) return ACMERR_NOTPOSSIBLE;
    }
    format.nBlockAlign = static_cast<WORD>(format.nChannels * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    write_format(destination, destination_bytes, format);
    return MMSYSERR_NOERROR;
}

MMRESULT suggest_alaw(const WAVEFORMATEX *source, WAVEFORMATEX *destination, DWORD destination_bytes, DWORD flags)
{
    return suggest_law(tag_alaw, source, destination, destination_bytes, flags);
}

MMRESULT suggest_ulaw(const WAVEFORMATEX *source, WAVEFORMATEX *destination, DWORD destination_bytes, DWORD flags)
{
    return suggest_law(tag_ulaw, source, destination, destination_bytes, flags);
}

// Wine hands a law record at another rate to its PCM converter, which answers with the tag
// changed to PCM; the stand-in refuses it as the G.711 codec itself does.
MMRESULT text_law(WORD tag, const WAVEFORMATEX *format, char *text, size_t text_chars)
{
    if (!is_g711_format(format, tag)) return ACMERR_NOTPOSSIBLE;
    shim_acm_describe(format->nSamplesPerSec, 8, format->nChannels, text, text_chars);
    return MMSYSERR_NOERROR;
}

MMRESULT text_alaw(const WAVEFORMATEX *format, char *text, size_t text_chars)
{
    return text_law(tag_alaw, format, text, text_chars);
}

MMRESULT text_ulaw(const WAVEFORMATEX *format, char *text, size_t text_chars)
{
    return text_law(tag_ulaw, format, text, text_chars);
}

} // namespace

const shim_acm_codec shim_acm_alaw_codec = {
    tag_alaw, "A-Law", sizeof(WAVEFORMATEX), open_alaw, convert_law, size_law, close_law, suggest_alaw, text_alaw,
};

const shim_acm_codec shim_acm_ulaw_codec = {
    tag_ulaw, "U-Law", sizeof(WAVEFORMATEX), open_ulaw, convert_law, size_law, close_law, suggest_ulaw, text_ulaw,
};
