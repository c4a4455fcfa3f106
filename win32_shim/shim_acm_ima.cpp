// The stand-in's IMA ADPCM encoder (tag 0x11) as the ACM's registry sees it (shim_acm.cpp):
// 16-bit PCM in, whole blocks of nBlockAlign bytes out, with the bytes, records, block sizes and
// refusals of Wine's codec. A block holds per channel a 4-byte header (the block's first sample,
// the step index, a zero byte), then per channel in turn 4 bytes of 8 samples, low nibble first.
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include "win32_shim/shim_acm.h"

#include <stdlib.h>
#include <string.h>

namespace {

const WORD tag_ima = 0x11;
const DWORD ima_format_bytes = 20; // the record plus cbSize 2: wSamplesPerBlock

const int step_table[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};
const int index_table[8] = {-1, -1, -1, -1, 2, 4, 6, 8}; // by the code's magnitude bits

struct ima_stream {
    WORD channels;
    DWORD samples_per_block;  // per channel, the header's sample included
    DWORD block_bytes;        // nBlockAlign
    DWORD source_block_bytes; // 16-bit PCM of one block
    int step_index[2];        // carried from block to block, 0 after START
};

// The block size per channel at the rates the codec suggests and enumerates.
DWORD channel_block_bytes(DWORD rate)
{
    switch (rate) {
    case 8000:
    case 11025: return 256;
    case 22050: return 512;
    case 44100: return 1024;
    default: return 0;
    }
}

WORD samples_per_block(DWORD block_bytes, WORD channels)
{
    return static_cast<WORD>((block_bytes - 4 * channels) * 2 / channels + 1);
}

WORD read_samples_per_block(const WAVEFORMATEX *format)
{
    const BYTE *extra = reinterpret_cast<const BYTE *>(format) + sizeof(WAVEFORMATEX);
    return static_cast<WORD>(extra[0] | (extra[1] << 8));
}

BYTE encode_nibble(int sample, int *predictor, int *step_index)
{
    int step = step_table[*step_index];
    int difference = sample - *predictor;
    BYTE code = 0;
    if (difference < 0) {
        code = 8;
        difference = -difference;
    }
    int change = step >> 3;
    if (difference >= step) {
        code |= 4;
        difference -= step;
        change += step;
    }
    step >>= 1;
    if (difference >= step) {
        code |= 2;
        difference -= step;
        change += step;
    }
    step >>= 1;
    if (difference >= step) {
        code |= 1;
        change += step;
    }
    *predictor += (code & 8) ? -change : change;
    if (*predictor > 32767) *predictor = 32767;
    if (*predictor < -32768) *predictor = -32768;
    *step_index += index_table[code & 7];
    if (*step_index < 0) *step_index = 0;
    if (*step_index > 88) *step_index = 88;
    return code;
}

int sample_at(const BYTE *in, DWORD index)
{
    return static_cast<int16_t>(in[2 * index] | (in[2 * index + 1] << 8));
}

void encode_block(ima_stream *s, const BYTE *in, BYTE *out)
{
    WORD channels = s->channels;
    int predictor[2];
    for (WORD c = 0; c < channels; ++c) {
        int first = sample_at(in, c);
        predictor[c] = first;
        out[4 * c + 0] = static_cast<BYTE>(first & 0xFF);
        out[4 * c + 1] = static_cast<BYTE>((first >> 8) & 0xFF);
        out[4 * c + 2] = static_cast<BYTE>(s->step_index[c]);
        out[4 * c + 3] = 0; // Wine leaves this byte of a mono block as the buffer held it
    }
    BYTE *group = out + 4 * channels;
    for (DWORD frame = 1; frame < s->samples_per_block; frame += 8) {
        for (WORD c = 0; c < channels; ++c) {
            for (DWORD k = 0; k < 8; k += 2) {
                BYTE low = encode_nibble(sample_at(in, (frame + k) * channels + c), &predictor[c], &s->step_index[c]);
                BYTE high = encode_nibble(sample_at(in, (frame + k + 1) * channels + c), &predictor[c], &s->step_index[c]);
                *group++ = static_cast<BYTE>(low | (high << 4));
            }
        }
    }
}

// Opens 16-bit PCM -> IMA ADPCM of the same rate and channels. Wine's codec takes any
// wSamplesPerBlock of 8 n + 1 whose samples fill at least nBlockAlign bytes and then writes
// past its blocks when they fill more; the stand-in takes only samples that fill the block
// exactly. Decoding, which the plug-in never asks for, is not offered.
MMRESULT open_ima(const WAVEFORMATEX *source, const WAVEFORMATEX *destination, void **instance)
{
    if (source->wFormatTag != WAVE_FORMAT_PCM || destination->wFormatTag != tag_ima) return ACMERR_NOTPOSSIBLE;
    // Wine opened a record of cbSize 0 in one run and refused it in another; this refuses it.
    if (source->wBitsPerSample != 16 || destination->wBitsPerSample != 4 || destination->cbSize < 2)
        return ACMERR_NOTPOSSIBLE;
    WORD channels = destination->nChannels;
    if (channels < 1 || channels > 2 || source->nChannels != channels) return ACMERR_NOTPOSSIBLE;
    if (source->nSamplesPerSec != destination->nSamplesPerSec || source->nSamplesPerSec == 0) return ACMERR_NOTPOSSIBLE;
    WORD samples = read_samples_per_block(destination);
    if (samples == 0 || (samples - 1) % 8 != 0) return ACMERR_NOTPOSSIBLE;
    if (((samples - 1) / 2 + 4) * channels != destination->nBlockAlign) return ACMERR_NOTPOSSIBLE;
    ima_stream *s = static_cast<ima_stream *>(calloc(1, sizeof(ima_stream)));
    if (!s) return MMSYSERR_NOMEM;
    s->channels = channels;
    s->samples_per_block = samples;
    s->block_bytes = destination->nBlockAlign;
    s->source_block_bytes = samples * channels * 2;
    *instance = s;
    return MMSYSERR_NOERROR;
}

// Whole blocks only: a partial block stays unconsumed whatever the flags, END included.
MMRESULT convert_ima(void *instance, ACMSTREAMHEADER *header, DWORD flags)
{
    ima_stream *s = static_cast<ima_stream *>(instance);
    if (flags & ACM_STREAMCONVERTF_START) s->step_index[0] = s->step_index[1] = 0;
    DWORD blocks = header->cbSrcLength / s->source_block_bytes;
    if (blocks > header->cbDstLength / s->block_bytes) blocks = header->cbDstLength / s->block_bytes;
    for (DWORD b = 0; b < blocks; ++b)
        encode_block(s, header->pbSrc + b * s->source_block_bytes, header->pbDst + b * s->block_bytes);
    header->cbSrcLengthUsed = blocks * s->source_block_bytes;
    header->cbDstLengthUsed = blocks * s->block_bytes;
    return MMSYSERR_NOERROR;
}

// In whole blocks, as Wine counts them: the destination a source needs rounds up, the source
// a destination holds rounds down, and less than one block is refused with nothing as answer.
MMRESULT size_ima(void *instance, DWORD input_bytes, DWORD *output_bytes, DWORD flags)
{
    const ima_stream *s = static_cast<const ima_stream *>(instance);
    *output_bytes = 0;
    if (flags == ACM_STREAMSIZEF_DESTINATION) {
        DWORD blocks = input_bytes / s->block_bytes;
        if (!blocks) return ACMERR_NOTPOSSIBLE;
        *output_bytes = blocks * s->source_block_bytes;
        return MMSYSERR_NOERROR;
    }
    if (input_bytes < s->source_block_bytes) return ACMERR_NOTPOSSIBLE;
    DWORD blocks = input_bytes / s->source_block_bytes + (input_bytes % s->source_block_bytes ? 1 : 0);
    *output_bytes = blocks * s->block_bytes;
    return MMSYSERR_NOERROR;
}

void close_ima(void *instance) { free(instance); }

// PCM -> IMA ADPCM at the four rates the codec enumerates (the PCM may be 8 or 16 bits, as
// Wine suggests for both); IMA ADPCM -> 16-bit PCM at any rate. Fields the flags fix are taken
// from the destination.
MMRESULT suggest_ima(const WAVEFORMATEX *source, WAVEFORMATEX *destination, DWORD destination_bytes, DWORD flags)
{
    WORD channels = (flags & ACM_FORMATSUGGESTF_NCHANNELS) ? destination->nChannels : source->nChannels;
    DWORD rate = (flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ? destination->nSamplesPerSec : source->nSamplesPerSec;
    if (source->nChannels < 1 || source->nChannels > 2 || channels < 1 || channels > 2) return ACMERR_NOTPOSSIBLE;
    if (source->wFormatTag == WAVE_FORMAT_PCM) {
        DWORD block_bytes = channel_block_bytes(rate) * channels;
        if (!block_bytes || (source->wBitsPerSample != 8 && source->wBitsPerSample != 16)) return ACMERR_NOTPOSSIBLE;
        if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && destination->wBitsPerSample != 4) return ACMERR_NOTPOSSIBLE;
        if (destination_bytes < ima_format_bytes) return MMSYSERR_INVALPARAM;
        WORD samples = samples_per_block(block_bytes, channels);
        WAVEFORMATEX format;
        format.wFormatTag = tag_ima;
        format.nChannels = channels;
        format.nSamplesPerSec = rate;
        format.nAvgBytesPerSec = static_cast<DWORD>(static_cast<unsigned long long>(rate) * block_bytes / samples);
        format.nBlockAlign = static_cast<WORD>(block_bytes);
        format.wBitsPerSample = 4;
        format.cbSize = 2;
        memcpy(destination, &format, sizeof format);
        BYTE *extra = reinterpret_cast<BYTE *>(destination) + sizeof(WAVEFORMATEX);
        extra[0] = static_cast<BYTE>(samples & 0xFF);
        extra[1] = static_cast<BYTE>(samples >> 8);
        return MMSYSERR_NOERROR;
    }
    if (source->wFormatTag != tag_ima || source->wBitsPerSample != 4 || rate == 0) return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && destination->wBitsPerSample != 16) return ACMERR_NOTPOSSIBLE;
    WAVEFORMATEX format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.nBlockAlign = static_cast<WORD>(2 * channels);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    memcpy(destination, &format, destination_bytes < sizeof format ? destination_bytes : sizeof format);
    return MMSYSERR_NOERROR;
}

// Wine describes any rate, whatever the block fields say.
MMRESULT text_ima(const WAVEFORMATEX *format, char *text, size_t text_chars)
{
    if (format->wFormatTag != tag_ima || format->wBitsPerSample != 4 || format->nChannels < 1 || format->nChannels > 2)
        return ACMERR_NOTPOSSIBLE;
    shim_acm_describe(format->nSamplesPerSec, 4, format->nChannels, text, text_chars);
    return MMSYSERR_NOERROR;
}

} // namespace

const shim_acm_codec shim_acm_ima_codec = {
    tag_ima, "IMA ADPCM", ima_format_bytes, open_ima, convert_ima, size_ima, close_ima, suggest_ima, text_ima,
};
