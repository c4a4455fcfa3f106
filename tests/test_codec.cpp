// The test codec's behaviour, shared by its two adapters: the stand-in's registry entry
// (test_codec_shim.cpp) and the Windows function driver (windows/test_codec_driver.cpp).
// Everything a test sees of the codec is decided here, so both builds answer alike.
#include "tests/test_codec.h"

#include <stdio.h>
#include <string.h>

test_codec_behaviour test_codec_current;
const char test_codec_tag_name[] = "Tollvane test codec";

static std::vector<test_codec_call> recorded_calls;
static std::vector<WAVEFORMATEX> opened_sources;
static int streams_open;

void test_codec_reset(const test_codec_behaviour &behaviour)
{
    test_codec_current = behaviour;
    recorded_calls.clear();
    opened_sources.clear();
    streams_open = 0;
}

const std::vector<test_codec_call> &test_codec_calls(void) { return recorded_calls; }
const std::vector<WAVEFORMATEX> &test_codec_opened_sources(void) { return opened_sources; }
int test_codec_streams_open(void) { return streams_open; }

static DWORD pcm_frame_bytes(void) { return test_codec_current.pcm_channels * 2u; }

WAVEFORMATEX test_codec_pcm_format(void)
{
    const test_codec_behaviour &b = test_codec_current;
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = b.pcm_channels;
    format.nSamplesPerSec = b.pcm_rate;
    format.nBlockAlign = static_cast<WORD>(pcm_frame_bytes());
    format.nAvgBytesPerSec = b.pcm_rate * format.nBlockAlign;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}

std::vector<uint8_t> test_codec_format(void)
{
    const test_codec_behaviour &b = test_codec_current;
    WAVEFORMATEX head = {};
    head.wFormatTag = b.format_tag;
    head.nChannels = b.pcm_channels;
    head.nSamplesPerSec = b.pcm_rate;
    DWORD source_block = b.source_block_bytes ? b.source_block_bytes : pcm_frame_bytes();
    head.nAvgBytesPerSec =
        static_cast<DWORD>(uint64_t(b.pcm_rate) * pcm_frame_bytes() * b.block_bytes_out / source_block);
    head.nBlockAlign = static_cast<WORD>(b.block_bytes_out);
    head.wBitsPerSample = 0;
    head.cbSize = b.extra_bytes;
    std::vector<uint8_t> record(sizeof head + b.extra_bytes, 0xA5);
    memcpy(record.data(), &head, sizeof head);
    return record;
}

// PCM records are read as their first 16 bytes only: Windows hands a driver PCM formats that
// may lack cbSize.
static bool is_own_pcm(const WAVEFORMATEX *format)
{
    return format->wFormatTag == WAVE_FORMAT_PCM && format->nChannels == test_codec_current.pcm_channels &&
           format->nSamplesPerSec == test_codec_current.pcm_rate && format->wBitsPerSample == 16 &&
           format->nBlockAlign == pcm_frame_bytes();
}

static bool is_own_record(const WAVEFORMATEX *format)
{
    const test_codec_behaviour &b = test_codec_current;
    return format->wFormatTag == b.format_tag && format->nChannels == b.pcm_channels &&
           format->nSamplesPerSec == b.pcm_rate && format->nBlockAlign == b.block_bytes_out;
}

// Encodes only: from its one PCM format to its record.
MMRESULT test_codec_open(const WAVEFORMATEX *source, const WAVEFORMATEX *destination, bool query)
{
    if (!is_own_pcm(source) || !is_own_record(destination)) return ACMERR_NOTPOSSIBLE;
    if (query) return MMSYSERR_NOERROR;
    WAVEFORMATEX seen = {};
    memcpy(&seen, source, 16); // cbSize stays 0
    opened_sources.push_back(seen);
    ++streams_open;
    return MMSYSERR_NOERROR;
}

void test_codec_close(void) { --streams_open; }

MMRESULT test_codec_convert(const BYTE *source, DWORD source_bytes, BYTE *destination, DWORD destination_bytes,
                            DWORD flags, DWORD *source_used, DWORD *destination_used)
{
    const test_codec_behaviour &b = test_codec_current;
    DWORD block_bytes = b.source_block_bytes ? b.source_block_bytes : source_bytes;
    DWORD blocks = 0;
    if (!b.consume_nothing && block_bytes > 0) blocks = source_bytes / block_bytes;
    // Whole output blocks only: a destination too small for the next block stops the call.
    if (b.block_bytes_out > 0 && blocks > destination_bytes / b.block_bytes_out)
        blocks = destination_bytes / b.block_bytes_out;
    for (DWORD i = 0; i < blocks; ++i) {
        BYTE *out = destination + i * b.block_bytes_out;
        if (b.block_bytes_out == 0) break;
        out[0] = source[i * block_bytes];
        memset(out + 1, 0x5A, b.block_bytes_out - 1);
    }
    DWORD used = blocks * block_bytes;
    DWORD written = blocks * b.block_bytes_out;
    recorded_calls.push_back({flags, source_bytes, used, destination_bytes, written});
    *source_used = used + b.overreport_source;
    *destination_used = written + b.overreport_destination;
    return b.convert_result;
}

// SOURCE: the destination bytes of every block begun; DESTINATION: the source bytes of the
// whole blocks that fit (a block of everything offered counts as one PCM frame).
MMRESULT test_codec_size(DWORD input_bytes, DWORD *output_bytes, DWORD flags)
{
    const test_codec_behaviour &b = test_codec_current;
    uint64_t bytes = 0;
    switch (flags & ACM_STREAMSIZEF_QUERYMASK) {
    case ACM_STREAMSIZEF_SOURCE:
        if (b.source_block_bytes)
            bytes = (uint64_t(input_bytes) + b.source_block_bytes - 1) / b.source_block_bytes * b.block_bytes_out;
        else
            bytes = input_bytes ? b.block_bytes_out : 0;
        break;
    case ACM_STREAMSIZEF_DESTINATION:
        if (b.block_bytes_out)
            bytes = uint64_t(input_bytes / b.block_bytes_out) *
                    (b.source_block_bytes ? b.source_block_bytes : pcm_frame_bytes());
        break;
    default:
        return MMSYSERR_INVALFLAG;
    }
    if (bytes == 0 || bytes > 0xFFFFFFFFu) return ACMERR_NOTPOSSIBLE;
    *output_bytes = static_cast<DWORD>(bytes);
    return MMSYSERR_NOERROR;
}

// From its record: its PCM format. From PCM: its record, only when asked for its tag by name,
// so that suggestions for other codecs never land here.
MMRESULT test_codec_suggest(const WAVEFORMATEX *source, WAVEFORMATEX *destination, DWORD destination_bytes,
                            DWORD flags)
{
    const test_codec_behaviour &b = test_codec_current;
    std::vector<uint8_t> record = test_codec_format();
    const WAVEFORMATEX *own = reinterpret_cast<const WAVEFORMATEX *>(record.data());
    WAVEFORMATEX pcm = test_codec_pcm_format();
    const WAVEFORMATEX *answer;
    DWORD answer_bytes;
    if (source->wFormatTag == b.format_tag) {
        answer = &pcm;
        answer_bytes = destination_bytes >= sizeof pcm ? sizeof pcm : 16;
    } else if (is_own_pcm(source) && (flags & ACM_FORMATSUGGESTF_WFORMATTAG) &&
               destination->wFormatTag == b.format_tag) {
        answer = own;
        answer_bytes = static_cast<DWORD>(record.size());
    } else {
        return ACMERR_NOTPOSSIBLE;
    }
    if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && destination->wFormatTag != answer->wFormatTag)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_NCHANNELS) && destination->nChannels != answer->nChannels)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && destination->nSamplesPerSec != answer->nSamplesPerSec)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && destination->wBitsPerSample != answer->wBitsPerSample)
        return ACMERR_NOTPOSSIBLE;
    if (destination_bytes < answer_bytes) return ACMERR_NOTPOSSIBLE;
    memcpy(destination, answer, answer_bytes);
    return MMSYSERR_NOERROR;
}

MMRESULT test_codec_text(const WAVEFORMATEX *format, char *text, size_t text_chars)
{
    if (format->wFormatTag != test_codec_current.format_tag || text_chars == 0) return ACMERR_NOTPOSSIBLE;
    char channels[24];
    if (format->nChannels == 1)
        snprintf(channels, sizeof channels, "Mono");
    else if (format->nChannels == 2)
        snprintf(channels, sizeof channels, "Stereo");
    else
        snprintf(channels, sizeof channels, "%u channels", unsigned(format->nChannels));
    snprintf(text, text_chars, "%lu Hz; %u bytes per block; %s", static_cast<unsigned long>(format->nSamplesPerSec),
             unsigned(format->nBlockAlign), channels);
    return MMSYSERR_NOERROR;
}
