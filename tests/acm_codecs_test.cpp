// The ACM as the codec stage and the configuration dialog use it: G.711 and IMA ADPCM bytes
// against models written here, what a conversion consumes, stream sizes, which streams open,
// suggested records, tag and format details and the header rules. Natively this runs against
// the stand-in, under Wine against msacm32: the same expectations in both builds.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cmath>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "tests/test_support.h"

#ifndef _WIN32
#include "win32_shim/shim_acm.h"
#endif

using bytes = std::vector<uint8_t>;

const WORD tag_alaw = 6;
const WORD tag_ulaw = 7;
const WORD tag_ima = 0x11;

// A format record of up to 20 bytes: WAVEFORMATEX plus IMA ADPCM's wSamplesPerBlock.
struct format_record {
    uint8_t b[20];
    WAVEFORMATEX *wfx() { return reinterpret_cast<WAVEFORMATEX *>(b); }
};

static format_record make_format(WORD tag, WORD channels, DWORD rate, WORD bits, WORD align, DWORD avg,
                                 WORD cb_size = 0, WORD samples_per_block = 0)
{
    format_record f;
    memset(f.b, 0, sizeof f.b);
    WAVEFORMATEX w = {tag, channels, rate, avg, align, bits, cb_size};
    memcpy(f.b, &w, sizeof w);
    f.b[18] = static_cast<uint8_t>(samples_per_block & 0xFF);
    f.b[19] = static_cast<uint8_t>(samples_per_block >> 8);
    return f;
}

static format_record pcm(DWORD rate, WORD bits, WORD channels)
{
    WORD align = static_cast<WORD>(channels * bits / 8);
    return make_format(WAVE_FORMAT_PCM, channels, rate, bits, align, rate * align);
}

static format_record g711(WORD tag, DWORD rate, WORD channels, WORD bits = 8)
{
    return make_format(tag, channels, rate, bits, channels, rate * channels);
}

// The record Wine's IMA ADPCM codec suggests: 256 bytes per channel up to 11025 Hz, 512 at
// 22050, 1024 at 44100; the samples fill the block after a 4-byte header per channel.
static format_record ima(DWORD rate, WORD channels, WORD align = 0, WORD samples_per_block = 0)
{
    if (!align) align = static_cast<WORD>((rate <= 11025 ? 256 : rate <= 22050 ? 512 : 1024) * channels);
    if (!samples_per_block) samples_per_block = static_cast<WORD>((align - 4 * channels) * 2 / channels + 1);
    DWORD avg = static_cast<DWORD>(static_cast<uint64_t>(rate) * align / samples_per_block);
    return make_format(tag_ima, channels, rate, 4, align, avg, 2, samples_per_block);
}

static std::string hex(const uint8_t *p, size_t n)
{
    std::string s;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        snprintf(two, sizeof two, "%02X", p[i]);
        s += two;
    }
    return s;
}

static void put_samples(bytes *to, size_t offset, const std::vector<int16_t> &samples)
{
    for (size_t i = 0; i < samples.size(); ++i) {
        (*to)[offset + 2 * i] = static_cast<uint8_t>(samples[i] & 0xFF);
        (*to)[offset + 2 * i + 1] = static_cast<uint8_t>((samples[i] >> 8) & 0xFF);
    }
}

static uint32_t crc32_of(const uint8_t *p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// ---------------------------------------------------------------------------------------------
// One conversion call per row, in order on the same stream: what it was given and what the
// codec took and wrote.
struct convert_row {
    DWORD source_bytes, flags, destination_bytes, used, written;
};

static void expect_conversions(acm_test_stream &s, const convert_row *rows, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const convert_row &r = rows[i];
        EXPECT_EQ(0u, s.convert(r.source_bytes, r.flags, r.destination_bytes)) << "#" << i;
        EXPECT_EQ(r.used, s.header.cbSrcLengthUsed) << "#" << i;
        EXPECT_EQ(r.written, s.header.cbDstLengthUsed) << "#" << i;
    }
}

// G.711 models: the magnitude's exponent found by doubling the segment's upper bound.

static uint8_t model_ulaw(int16_t sample)
{
    int v = sample >> 2;
    uint8_t sign = v < 0 ? 0x00 : 0x80;
    int magnitude = v < 0 ? -v : v;
    if (magnitude > 8159) magnitude = 8159;
    magnitude += 33;
    int exponent = 0;
    while (exponent < 8 && magnitude >= (64 << exponent)) ++exponent;
    int code = exponent == 8 ? 0x7F : exponent << 4 | ((magnitude >> (exponent + 1)) & 0xF); // 8192: the top code
    return static_cast<uint8_t>(~code & 0x7F) | sign;
}

static uint8_t model_alaw(int16_t sample)
{
    int v = sample >> 3;
    uint8_t sign = v < 0 ? 0x00 : 0x80;
    int magnitude = v < 0 ? -v - 1 : v;
    int exponent = 0;
    while (exponent < 7 && magnitude >= (32 << exponent)) ++exponent;
    int mantissa = exponent == 0 ? (magnitude >> 1) & 0xF : (magnitude >> exponent) & 0xF;
    return static_cast<uint8_t>(((exponent << 4 | mantissa) | sign) ^ 0x55);
}

TEST(g711, models_give_the_classic_encoders_bytes)
{
    // Rows from an independent implementation (Python's audioop.lin2ulaw / lin2alaw).
    struct row {
        int16_t sample;
        uint8_t ulaw, alaw;
    } rows[] = {
        {-32768, 0x00, 0x2A}, {-32767, 0x00, 0x2A}, {-8160, 0x1F, 0x0A}, {-1000, 0x4E, 0x7A}, {-33, 0x7A, 0x57},
        {-32, 0x7B, 0x54},    {-8, 0x7E, 0x55},     {-1, 0x7E, 0x55},    {0, 0xFF, 0xD5},     {3, 0xFF, 0xD5},
        {4, 0xFE, 0xD5},      {31, 0xFB, 0xD4},     {32, 0xFB, 0xD7},    {1000, 0xCE, 0xFA},  {8159, 0x9F, 0x8A},
        {16384, 0x8F, 0xA5},  {32767, 0x80, 0xAA},
    };
    for (const row &r : rows) {
        EXPECT_EQ(r.ulaw, model_ulaw(r.sample)) << "u-law of " << r.sample;
        EXPECT_EQ(r.alaw, model_alaw(r.sample)) << "A-law of " << r.sample;
    }
}

TEST(g711, encodes_every_16_bit_sample_as_the_model)
{
    struct law {
        WORD tag;
        uint8_t (*model)(int16_t);
        uint32_t crc; // CRC-32 of audioop's encoding of -32768..32767
    } laws[] = {{tag_ulaw, model_ulaw, 0x3B7C3A3Eu}, {tag_alaw, model_alaw, 0x9133796Eu}};
    for (const law &l : laws) {
        SCOPED_TRACE(l.tag);
        format_record from = pcm(44100, 16, 2), to = g711(l.tag, 44100, 2);
        acm_test_stream s(from.wfx(), to.wfx(), 131072, 65536);
        std::vector<int16_t> samples;
        for (int v = -32768; v <= 32767; ++v) samples.push_back(static_cast<int16_t>(v));
        put_samples(&s.source, 0, samples);
        ASSERT_EQ(0u, s.convert(131072, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN));
        EXPECT_EQ(131072u, s.header.cbSrcLengthUsed);
        ASSERT_EQ(65536u, s.header.cbDstLengthUsed);
        int wrong = 0;
        for (size_t i = 0; i < samples.size() && wrong < 5; ++i)
            if (s.destination[i] != l.model(samples[i])) {
                ADD_FAILURE() << "sample " << samples[i] << ": model " << int(l.model(samples[i])) << ", codec "
                              << int(s.destination[i]);
                ++wrong;
            }
        EXPECT_EQ(l.crc, crc32_of(s.destination.data(), 65536));
    }
}

TEST(g711, consumes_whole_samples_up_to_a_full_destination)
{
    format_record from = pcm(44100, 16, 2), to = g711(tag_ulaw, 44100, 2);
    acm_test_stream s(from.wfx(), to.wfx(), 8163, 100000);
    const convert_row rows[] = {
        {8163, ACM_STREAMCONVERTF_BLOCKALIGN, 0, 8162, 4081}, // #0 per sample, not per frame
        {8163, 0, 0, 8162, 4081},                            // #1
        {8163, ACM_STREAMCONVERTF_END, 0, 8162, 4081},       // #2
        {3, ACM_STREAMCONVERTF_BLOCKALIGN, 0, 2, 1},          // #3 half a frame
        {1, 0, 0, 0, 0},                                      // #4
        {8000, 0, 1001, 2002, 1001},                          // #5 the destination decides
        {0, 0, 0, 0, 0},                                      // #6
    };
    expect_conversions(s, rows, sizeof rows / sizeof rows[0]);
    struct size_row {
        DWORD in, flags, out;
    } sizes[] = {{1001, ACM_STREAMSIZEF_SOURCE, 500}, {1, ACM_STREAMSIZEF_SOURCE, 0}, {0, ACM_STREAMSIZEF_SOURCE, 0},
                 {1001, ACM_STREAMSIZEF_DESTINATION, 2002}, {0, ACM_STREAMSIZEF_DESTINATION, 0}};
    for (const size_row &r : sizes) {
        DWORD out = 12345;
        EXPECT_EQ(0u, acmStreamSize(s.stream, r.in, &out, r.flags)) << r.in << " " << r.flags;
        EXPECT_EQ(r.out, out) << r.in << " " << r.flags;
    }
    DWORD out = 12345;
    EXPECT_EQ(unsigned(MMSYSERR_INVALFLAG), acmStreamSize(s.stream, 10, &out, 0x10));
    EXPECT_EQ(12345u, out);
}

// ---------------------------------------------------------------------------------------------
// IMA ADPCM model: each channel's samples become nibbles on their own, then the block is laid
// out from them.

static const int model_steps[89] = {
    7,    8,    9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,    31,
    34,   37,   41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,   130,   143,
    157,  173,  190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,   544,   598,   658,
    724,  796,  876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,
    3327, 3660, 4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487, 12635, 13899,
    15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

struct ima_model {
    int channels, samples_per_block;
    int step_index[2] = {0, 0};

    bytes encode_block(const int16_t *frames)
    {
        int groups = (samples_per_block - 1) / 8;
        std::vector<std::vector<uint8_t>> nibbles(channels);
        bytes block;
        for (int c = 0; c < channels; ++c) {
            int predictor = frames[c];
            block.push_back(static_cast<uint8_t>(frames[c] & 0xFF));
            block.push_back(static_cast<uint8_t>((frames[c] >> 8) & 0xFF));
            block.push_back(static_cast<uint8_t>(step_index[c]));
            block.push_back(0);
            for (int i = 1; i < samples_per_block; ++i) {
                int step = model_steps[step_index[c]];
                int difference = frames[i * channels + c] - predictor;
                int code = difference < 0 ? 8 : 0;
                int magnitude = difference < 0 ? -difference : difference;
                int change = step >> 3;
                for (int bit = 4; bit; bit >>= 1, step >>= 1)
                    if (magnitude >= step) {
                        code |= bit;
                        magnitude -= step;
                        change += step;
                    }
                predictor = code & 8 ? predictor - change : predictor + change;
                predictor = predictor < -32768 ? -32768 : predictor > 32767 ? 32767 : predictor;
                static const int index_change[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
                step_index[c] += index_change[code & 7];
                step_index[c] = step_index[c] < 0 ? 0 : step_index[c] > 88 ? 88 : step_index[c];
                nibbles[c].push_back(static_cast<uint8_t>(code));
            }
        }
        for (int g = 0; g < groups; ++g)
            for (int c = 0; c < channels; ++c)
                for (int k = 0; k < 8; k += 2)
                    block.push_back(static_cast<uint8_t>(nibbles[c][g * 8 + k] | nibbles[c][g * 8 + k + 1] << 4));
        return block;
    }
};

// A signal that moves the step index both ways: a swept tone, bursts of noise, a full-scale
// square wave that clips the predictor, and silence; each channel different.
static std::vector<int16_t> test_signal(int frames, int channels)
{
    std::vector<int16_t> samples(static_cast<size_t>(frames) * channels);
    uint32_t noise = 12345;
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1103515245u + 12345u;
            int part = (f / 700 + c) % 4;
            int v = 0;
            if (part == 0) v = static_cast<int>(12000.0 * std::sin(f * (0.01 + f * 1e-6) * (c + 1)));
            if (part == 1) v = static_cast<int>((noise >> 16) & 0xFFFF) - 32768;
            if (part == 2) v = (f / 5) % 2 ? 32767 : -32768;
            samples[static_cast<size_t>(f) * channels + c] = static_cast<int16_t>(v);
        }
    return samples;
}

TEST(ima_adpcm, blocks_match_the_model_with_the_step_index_carried_and_reset)
{
    struct shape {
        DWORD rate;
        WORD channels;
    } shapes[] = {{44100, 2}, {8000, 1}, {22050, 2}};
    for (const shape &sh : shapes) {
        SCOPED_TRACE(testing::Message() << sh.rate << " Hz " << sh.channels << " ch");
        format_record from = pcm(sh.rate, 16, sh.channels), to = ima(sh.rate, sh.channels);
        int samples_per_block = to.b[18] | to.b[19] << 8;
        DWORD block_bytes = to.wfx()->nBlockAlign;
        DWORD source_block = static_cast<DWORD>(samples_per_block) * sh.channels * 2;
        std::vector<int16_t> signal = test_signal(samples_per_block * 4, sh.channels);
        acm_test_stream s(from.wfx(), to.wfx(), source_block * 4, block_bytes * 4);
        put_samples(&s.source, 0, signal);
        // Wine leaves the zero byte of a mono block's header unwritten: the buffer holds zeros.
        std::fill(s.destination.begin(), s.destination.end(), 0);
        ima_model model{sh.channels, samples_per_block};
        bytes expected;
        for (int b = 0; b < 3; ++b) {
            bytes block = model.encode_block(&signal[static_cast<size_t>(b) * samples_per_block * sh.channels]);
            expected.insert(expected.end(), block.begin(), block.end());
        }
        // Three blocks and a part of the fourth, from START: the part stays.
        ASSERT_EQ(0u, s.convert(source_block * 3 + 100, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN));
        EXPECT_EQ(source_block * 3, s.header.cbSrcLengthUsed);
        ASSERT_EQ(block_bytes * 3, s.header.cbDstLengthUsed);
        EXPECT_EQ(hex(expected.data(), expected.size()), hex(s.destination.data(), expected.size()));
        // The fourth block alone, later: its header carries the step index the third left.
        memmove(s.source.data(), s.source.data() + source_block * 3, source_block);
        bytes fourth = model.encode_block(&signal[static_cast<size_t>(3) * samples_per_block * sh.channels]);
        EXPECT_NE(0, fourth[2]) << "the signal leaves a step index to carry";
        ASSERT_EQ(0u, s.convert(source_block, ACM_STREAMCONVERTF_BLOCKALIGN));
        ASSERT_EQ(block_bytes, s.header.cbDstLengthUsed);
        EXPECT_EQ(hex(fourth.data(), fourth.size()), hex(s.destination.data(), block_bytes));
        // START again: the same block begins from step index 0.
        ima_model fresh{sh.channels, samples_per_block};
        bytes restarted = fresh.encode_block(&signal[static_cast<size_t>(3) * samples_per_block * sh.channels]);
        ASSERT_EQ(0u, s.convert(source_block, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END));
        ASSERT_EQ(block_bytes, s.header.cbDstLengthUsed);
        EXPECT_EQ(0, s.destination[2]);
        EXPECT_EQ(hex(restarted.data(), restarted.size()), hex(s.destination.data(), block_bytes));
    }
}

TEST(ima_adpcm, consumes_whole_blocks_only_and_sizes_in_whole_blocks)
{
    format_record from = pcm(44100, 16, 2), to = ima(44100, 2);
    acm_test_stream s(from.wfx(), to.wfx(), 8164 * 3, 100000);
    const convert_row rows[] = {
        {10000, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN, 0, 8164, 2048}, // #0
        {5000, ACM_STREAMCONVERTF_BLOCKALIGN, 0, 0, 0},                                 // #1
        {5000, 0, 0, 0, 0},                                                             // #2
        {8163, ACM_STREAMCONVERTF_END, 0, 0, 0},                                        // #3 not even at the end
        {16328, 0, 0, 16328, 4096},                                                     // #4
        {8164 * 3, 0, 5000, 16328, 4096},                                               // #5 two blocks fit
        {8164 * 3, 0, 2047, 0, 0},                                                      // #6 none fits
        {0, ACM_STREAMCONVERTF_END, 0, 0, 0},                                           // #7
    };
    expect_conversions(s, rows, sizeof rows / sizeof rows[0]);
    struct size_row {
        DWORD in, flags;
        MMRESULT result;
        DWORD out;
    } sizes[] = {
        {8164, ACM_STREAMSIZEF_SOURCE, 0, 2048},           {8165, ACM_STREAMSIZEF_SOURCE, 0, 4096}, // rounds up
        {16328, ACM_STREAMSIZEF_SOURCE, 0, 4096},          {100000, ACM_STREAMSIZEF_SOURCE, 0, 26624},
        {8163, ACM_STREAMSIZEF_SOURCE, ACMERR_NOTPOSSIBLE, 0}, {0, ACM_STREAMSIZEF_SOURCE, ACMERR_NOTPOSSIBLE, 0},
        {2048, ACM_STREAMSIZEF_DESTINATION, 0, 8164},      {4095, ACM_STREAMSIZEF_DESTINATION, 0, 8164},
        {100000, ACM_STREAMSIZEF_DESTINATION, 0, 391872},  {2047, ACM_STREAMSIZEF_DESTINATION, ACMERR_NOTPOSSIBLE, 0},
    };
    for (const size_row &r : sizes) {
        DWORD out = 12345;
        EXPECT_EQ(r.result, acmStreamSize(s.stream, r.in, &out, r.flags)) << r.in << " " << r.flags;
        EXPECT_EQ(r.out, out) << r.in << " " << r.flags;
    }
    format_record mono_from = pcm(8000, 16, 1), mono_to = ima(8000, 1);
    acm_test_stream m(mono_from.wfx(), mono_to.wfx(), 1011, 1000);
    DWORD out = 0;
    EXPECT_EQ(0u, acmStreamSize(m.stream, 256, &out, ACM_STREAMSIZEF_DESTINATION));
    EXPECT_EQ(1010u, out);
    EXPECT_EQ(0u, acmStreamSize(m.stream, 1011, &out, ACM_STREAMSIZEF_SOURCE));
    EXPECT_EQ(512u, out);
    EXPECT_EQ(0u, m.convert(1011, 0));
    EXPECT_EQ(1010u, m.header.cbSrcLengthUsed);
    EXPECT_EQ(256u, m.header.cbDstLengthUsed);
}

// ---------------------------------------------------------------------------------------------

TEST(acm_open, opens_codecs_only_from_16_bit_pcm_of_the_same_rate_and_channels)
{
    struct row {
        const char *what;
        format_record from, to;
        MMRESULT result;
    } rows[] = {
        {"u-law 44100 stereo", pcm(44100, 16, 2), g711(tag_ulaw, 44100, 2), 0},
        {"A-law 8000 mono", pcm(8000, 16, 1), g711(tag_alaw, 8000, 1), 0},
        {"A-law 22050 stereo", pcm(22050, 16, 2), g711(tag_alaw, 22050, 2), 0},
        {"u-law 48000", pcm(48000, 16, 2), g711(tag_ulaw, 48000, 2), ACMERR_NOTPOSSIBLE},
        {"u-law other rate", pcm(44100, 16, 2), g711(tag_ulaw, 22050, 2), ACMERR_NOTPOSSIBLE},
        {"u-law other channels", pcm(44100, 16, 1), g711(tag_ulaw, 44100, 2), ACMERR_NOTPOSSIBLE},
        {"u-law from 8 bits", pcm(44100, 8, 2), g711(tag_ulaw, 44100, 2), ACMERR_NOTPOSSIBLE},
        {"A-law from 24 bits", pcm(44100, 24, 2), g711(tag_alaw, 44100, 2), ACMERR_NOTPOSSIBLE},
        {"A-law 3 channels", pcm(44100, 16, 3), g711(tag_alaw, 44100, 3), ACMERR_NOTPOSSIBLE},
        {"u-law of 16 bits", pcm(44100, 16, 2), g711(tag_ulaw, 44100, 2, 16), ACMERR_NOTPOSSIBLE},
        {"IMA 8000 mono", pcm(8000, 16, 1), ima(8000, 1), 0},
        {"IMA 11025 stereo", pcm(11025, 16, 2), ima(11025, 2), 0},
        {"IMA 22050 mono", pcm(22050, 16, 1), ima(22050, 1), 0},
        {"IMA 44100 stereo", pcm(44100, 16, 2), ima(44100, 2), 0},
        {"IMA 48000 stereo", pcm(48000, 16, 2), ima(48000, 2), 0}, // opens, though never suggested
        {"IMA 44100 in 512-byte blocks", pcm(44100, 16, 2), ima(44100, 2, 512), 0},
        {"IMA from 8 bits", pcm(44100, 8, 2), ima(44100, 2), ACMERR_NOTPOSSIBLE},
        {"IMA other rate", pcm(44100, 16, 2), ima(22050, 2), ACMERR_NOTPOSSIBLE},
        {"IMA other channels", pcm(44100, 16, 2), ima(44100, 1), ACMERR_NOTPOSSIBLE},
        {"IMA 3 bits", pcm(44100, 16, 2), make_format(tag_ima, 2, 44100, 3, 2048, 44251, 2, 2041), ACMERR_NOTPOSSIBLE},
        {"IMA too few samples", pcm(44100, 16, 2), ima(44100, 2, 2048, 1017), ACMERR_NOTPOSSIBLE},
        {"IMA samples not 8n+1", pcm(44100, 16, 2), ima(44100, 2, 2048, 2040), ACMERR_NOTPOSSIBLE},
        {"PCM to an unknown tag", pcm(44100, 16, 2), make_format(0x1234, 2, 44100, 0, 4, 1000), ACMERR_NOTPOSSIBLE},
    };
    for (row &r : rows) {
        HACMSTREAM queried = reinterpret_cast<HACMSTREAM>(static_cast<uintptr_t>(0x1234));
        EXPECT_EQ(r.result, acmStreamOpen(&queried, nullptr, r.from.wfx(), r.to.wfx(), nullptr, 0, 0,
                                          ACM_STREAMOPENF_QUERY))
            << r.what;
        EXPECT_EQ(reinterpret_cast<HACMSTREAM>(static_cast<uintptr_t>(0x1234)), queried) << r.what << ": a query";
        HACMSTREAM stream = reinterpret_cast<HACMSTREAM>(static_cast<uintptr_t>(0x1234));
        EXPECT_EQ(r.result, acmStreamOpen(&stream, nullptr, r.from.wfx(), r.to.wfx(), nullptr, 0, 0,
                                          ACM_STREAMOPENF_NONREALTIME))
            << r.what;
        if (r.result == 0) {
            EXPECT_EQ(0u, acmStreamClose(stream, 0)) << r.what;
        } else {
            EXPECT_EQ(nullptr, stream) << r.what << ": a failed open clears the handle";
        }
    }
}

TEST(acm_suggest, suggests_the_codecs_record_and_the_pcm_it_pairs_with)
{
    struct row {
        const char *what;
        format_record from;
        WORD tag;
        DWORD flags, room;
        MMRESULT result;
        const char *expected; // the written bytes, as many as the room
    } rows[] = {
        {"PCM 44100 stereo -> IMA", pcm(44100, 16, 2), tag_ima, ACM_FORMATSUGGESTF_WFORMATTAG, 20, 0,
         "1100020044AC0000DBAC0000000804000200F907"},
        {"PCM 8000 mono -> IMA", pcm(8000, 16, 1), tag_ima, ACM_FORMATSUGGESTF_WFORMATTAG, 20, 0,
         "11000100401F0000D70F0000000104000200F901"},
        {"PCM 11025 stereo -> IMA", pcm(11025, 16, 2), tag_ima, ACM_FORMATSUGGESTF_WFORMATTAG, 20, 0,
         "11000200112B0000A92B0000000204000200F901"},
        {"PCM 22050 mono -> IMA", pcm(22050, 16, 1), tag_ima, ACM_FORMATSUGGESTF_WFORMATTAG, 20, 0,
         "11000100225600005C2B0000000204000200F903"},
        {"PCM 8-bit -> IMA", pcm(44100, 8, 2), tag_ima, ACM_FORMATSUGGESTF_WFORMATTAG, 20, 0,
         "1100020044AC0000DBAC0000000804000200F907"},
        {"PCM 48000 -> IMA", pcm(48000, 16, 2), tag_ima, ACM_FORMATSUGGESTF_WFORMATTAG, 20, ACMERR_NOTPOSSIBLE, ""},
        {"PCM 3 channels -> IMA", pcm(44100, 16, 3), tag_ima, ACM_FORMATSUGGESTF_WFORMATTAG, 20, ACMERR_NOTPOSSIBLE, ""},
        {"IMA into 19 bytes", pcm(44100, 16, 2), tag_ima, ACM_FORMATSUGGESTF_WFORMATTAG, 19, MMSYSERR_INVALPARAM, ""},
        {"PCM -> u-law", pcm(44100, 16, 2), tag_ulaw, ACM_FORMATSUGGESTF_WFORMATTAG, 18, 0,
         "0700020044AC000088580100020008000000"},
        {"PCM mono -> A-law", pcm(8000, 16, 1), tag_alaw, ACM_FORMATSUGGESTF_WFORMATTAG, 18, 0,
         "06000100401F0000401F0000010008000000"},
        {"u-law into 17 bytes", pcm(44100, 16, 2), tag_ulaw, ACM_FORMATSUGGESTF_WFORMATTAG, 17, MMSYSERR_INVALPARAM, ""},
        {"PCM 48000 -> u-law", pcm(48000, 16, 2), tag_ulaw, ACM_FORMATSUGGESTF_WFORMATTAG, 18, ACMERR_NOTPOSSIBLE, ""},
        {"PCM 8-bit -> A-law", pcm(44100, 8, 1), tag_alaw, ACM_FORMATSUGGESTF_WFORMATTAG, 18, ACMERR_NOTPOSSIBLE, ""},
        {"u-law -> PCM", g711(tag_ulaw, 44100, 2), WAVE_FORMAT_PCM, ACM_FORMATSUGGESTF_WFORMATTAG, 18, 0,
         "0100020044AC000010B10200040010000000"},
        {"A-law -> PCM in 16 bytes", g711(tag_alaw, 44100, 2), WAVE_FORMAT_PCM, ACM_FORMATSUGGESTF_WFORMATTAG, 16, 0,
         "0100020044AC000010B1020004001000"},
        {"u-law -> PCM mono fixed", g711(tag_ulaw, 44100, 2), WAVE_FORMAT_PCM,
         ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS, 18, 0, "0100010044AC000088580100020010000000"},
        {"IMA 44100 -> PCM", ima(44100, 2), WAVE_FORMAT_PCM, ACM_FORMATSUGGESTF_WFORMATTAG, 18, 0,
         "0100020044AC000010B10200040010000000"},
        {"IMA 48000 -> PCM", ima(48000, 1), WAVE_FORMAT_PCM, ACM_FORMATSUGGESTF_WFORMATTAG, 18, 0,
         "0100010080BB000000770100020010000000"},
        {"u-law -> PCM, no tag fixed", g711(tag_ulaw, 44100, 2), WAVE_FORMAT_PCM, 0, 18, MMSYSERR_INVALPARAM, ""},
        {"PCM -> an unknown tag", pcm(44100, 16, 2), 0x1234, ACM_FORMATSUGGESTF_WFORMATTAG, 30, ACMERR_NOTPOSSIBLE, ""},
        {"a flag outside the mask", pcm(44100, 16, 2), tag_ima, 0x1, 20, MMSYSERR_INVALFLAG, ""},
    };
    for (row &r : rows) {
        uint8_t out[32];
        memset(out, 0xCC, sizeof out);
        memset(out, 0, r.room);
        reinterpret_cast<WAVEFORMATEX *>(out)->wFormatTag = r.tag;
        if (r.flags & ACM_FORMATSUGGESTF_NCHANNELS) reinterpret_cast<WAVEFORMATEX *>(out)->nChannels = 1;
        EXPECT_EQ(r.result, acmFormatSuggest(nullptr, r.from.wfx(), reinterpret_cast<WAVEFORMATEX *>(out), r.room,
                                             r.flags))
            << r.what;
        if (r.result != 0) continue;
        EXPECT_EQ(std::string(r.expected), hex(out, r.room)) << r.what;
        EXPECT_EQ(0xCC, out[r.room]) << r.what << ": nothing past the room";
    }
}

// ---------------------------------------------------------------------------------------------

static MMRESULT details_of(format_record f, DWORD cbwfx, std::string *text, DWORD *support = nullptr,
                           DWORD tag = 0xFFFFFFFF, DWORD support_in = 0, DWORD flags = ACM_FORMATDETAILSF_FORMAT)
{
    ACMFORMATDETAILSA d;
    memset(&d, 0, sizeof d);
    d.cbStruct = sizeof d;
    d.dwFormatIndex = 77;
    d.dwFormatTag = tag == 0xFFFFFFFF ? f.wfx()->wFormatTag : tag;
    d.fdwSupport = support_in;
    d.pwfx = f.wfx();
    d.cbwfx = cbwfx;
    strcpy(d.szFormat, "untouched");
    MMRESULT result = acmFormatDetailsA(nullptr, &d, flags);
    *text = d.szFormat;
    if (support) *support = d.fdwSupport;
    EXPECT_EQ(77u, d.dwFormatIndex);
    return result;
}

TEST(acm_details, describes_formats_as_wine_and_refuses_what_it_refuses)
{
    struct row {
        format_record f;
        DWORD cbwfx;
        MMRESULT result;
        const char *text;
        DWORD support;
    } rows[] = {
        {pcm(44100, 16, 2), 18, 0, "44100 Hz; 16 bits; Stereo", ACMDRIVERDETAILS_SUPPORTF_CODEC},         // #0
        {pcm(44100, 16, 1), 18, 0, "44100 Hz; 16 bits; Mono", ACMDRIVERDETAILS_SUPPORTF_CODEC},           // #1
        {pcm(8000, 8, 1), 18, 0, "8000 Hz; 8 bits; Mono", ACMDRIVERDETAILS_SUPPORTF_CODEC},               // #2
        {pcm(22050, 8, 2), 18, 0, "22050 Hz; 8 bits; Stereo", ACMDRIVERDETAILS_SUPPORTF_CODEC},           // #3
        {pcm(48000, 16, 2), 2066, 0, "48000 Hz; 16 bits; Stereo", ACMDRIVERDETAILS_SUPPORTF_CODEC},       // #4
        {pcm(44100, 24, 2), 18, 0, "44100 Hz; 24 bits; Stereo", ACMDRIVERDETAILS_SUPPORTF_CONVERTER},     // #5
        {pcm(44100, 16, 2), 16, 0, "44100 Hz; 16 bits; Stereo", ACMDRIVERDETAILS_SUPPORTF_CODEC},         // #6
        {pcm(44100, 32, 2), 18, ACMERR_NOTPOSSIBLE, "untouched", 0},                                      // #7
        {pcm(44100, 16, 3), 18, ACMERR_NOTPOSSIBLE, "untouched", 0},                                      // #8
        {pcm(44100, 12, 2), 18, ACMERR_NOTPOSSIBLE, "untouched", 0},                                      // #9
        {pcm(44100, 16, 2), 15, MMSYSERR_INVALPARAM, "untouched", 0},                                     // #10
        {g711(tag_ulaw, 8000, 1), 18, 0, "8000 Hz; 8 bits; Mono", ACMDRIVERDETAILS_SUPPORTF_CODEC},       // #11
        {g711(tag_alaw, 44100, 2), 18, 0, "44100 Hz; 8 bits; Stereo", ACMDRIVERDETAILS_SUPPORTF_CODEC},   // #12
        {g711(tag_alaw, 11025, 3), 18, ACMERR_NOTPOSSIBLE, "untouched", 0},                               // #13
        {ima(44100, 2), 20, 0, "44100 Hz; 4 bits; Stereo", ACMDRIVERDETAILS_SUPPORTF_CODEC},              // #14
        {ima(8000, 1), 18, 0, "8000 Hz; 4 bits; Mono", ACMDRIVERDETAILS_SUPPORTF_CODEC},                  // #15
        {ima(48000, 2), 20, 0, "48000 Hz; 4 bits; Stereo", ACMDRIVERDETAILS_SUPPORTF_CODEC},              // #16
        {ima(22050, 3, 1536, 1017), 20, ACMERR_NOTPOSSIBLE, "untouched", 0},                              // #17
        {make_format(tag_ima, 2, 44100, 3, 2048, 44251, 2, 2041), 20, ACMERR_NOTPOSSIBLE, "untouched", 0}, // #18
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        std::string text;
        DWORD support = 99;
        EXPECT_EQ(rows[i].result, details_of(rows[i].f, rows[i].cbwfx, &text, &support)) << "#" << i;
        EXPECT_EQ(std::string(rows[i].text), text) << "#" << i;
        EXPECT_EQ(rows[i].support, support) << "#" << i;
    }
    std::string text;
    EXPECT_EQ(unsigned(MMSYSERR_INVALPARAM), details_of(pcm(44100, 16, 2), 18, &text, nullptr, WAVE_FORMAT_PCM, 1))
        << "fdwSupport set on entry";
    EXPECT_EQ(unsigned(MMSYSERR_INVALPARAM), details_of(pcm(44100, 16, 2), 18, &text, nullptr, tag_ulaw))
        << "dwFormatTag other than the record's";
    EXPECT_EQ(unsigned(MMSYSERR_INVALPARAM), details_of(ima(44100, 2), 20, &text, nullptr, 0)) << "dwFormatTag 0";
    EXPECT_EQ(unsigned(MMSYSERR_INVALFLAG), details_of(pcm(44100, 16, 2), 18, &text, nullptr, 0xFFFFFFFF, 0, 2));
    EXPECT_EQ("untouched", text);
}

TEST(acm_details, names_the_tags)
{
    struct row {
        DWORD tag, flags;
        MMRESULT result;
        DWORD index, format_bytes, standard_formats;
        const char *name;
    } rows[] = {
        {WAVE_FORMAT_PCM, ACM_FORMATTAGDETAILSF_FORMATTAG, 0, 0, 16, 16, "PCM"},                  // #0
        {tag_alaw, ACM_FORMATTAGDETAILSF_FORMATTAG, 0, 1, 18, 8, "A-Law"},                         // #1
        {tag_ulaw, ACM_FORMATTAGDETAILSF_FORMATTAG, 0, 2, 18, 8, "U-Law"},                         // #2
        {tag_ima, ACM_FORMATTAGDETAILSF_FORMATTAG, 0, 1, 20, 8, "IMA ADPCM"},                      // #3
        {tag_ima, ACM_FORMATTAGDETAILSF_LARGESTSIZE, 0, 1, 20, 8, "IMA ADPCM"},                    // #4
        {tag_ulaw, ACM_FORMATTAGDETAILSF_LARGESTSIZE, 0, 2, 18, 8, "U-Law"},                       // #5
        {0x1234, ACM_FORMATTAGDETAILSF_FORMATTAG, ACMERR_NOTPOSSIBLE, 99, 0, 0, "untouched"},      // #6
        {0, ACM_FORMATTAGDETAILSF_FORMATTAG, ACMERR_NOTPOSSIBLE, 99, 0, 0, "untouched"},           // #7
        {WAVE_FORMAT_PCM, ACM_FORMATTAGDETAILSF_INDEX, ACMERR_NOTPOSSIBLE, 99, 0, 0, "untouched"}, // #8 no driver
        {WAVE_FORMAT_PCM, 5, MMSYSERR_INVALFLAG, 99, 0, 0, "untouched"},                           // #9
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        const row &r = rows[i];
        ACMFORMATTAGDETAILSA d;
        memset(&d, 0, sizeof d);
        d.cbStruct = sizeof d;
        d.dwFormatTagIndex = 99;
        d.dwFormatTag = r.tag;
        strcpy(d.szFormatTag, "untouched");
        EXPECT_EQ(r.result, acmFormatTagDetailsA(nullptr, &d, r.flags)) << "#" << i;
        EXPECT_EQ(r.index, d.dwFormatTagIndex) << "#" << i;
        EXPECT_EQ(r.tag, d.dwFormatTag) << "#" << i;
        EXPECT_EQ(r.format_bytes, d.cbFormatSize) << "#" << i;
        EXPECT_EQ(r.result ? 0u : DWORD(ACMDRIVERDETAILS_SUPPORTF_CODEC), d.fdwSupport) << "#" << i;
        EXPECT_EQ(r.standard_formats, d.cStandardFormats) << "#" << i;
        EXPECT_EQ(std::string(r.name), d.szFormatTag) << "#" << i;
    }
}

// ---------------------------------------------------------------------------------------------

TEST(acm_header, prepare_convert_and_unprepare_keep_to_the_prepared_buffers)
{
    format_record from = pcm(44100, 16, 2), to = g711(tag_ulaw, 44100, 2);
    HACMSTREAM stream = nullptr;
    ASSERT_EQ(0u, acmStreamOpen(&stream, nullptr, from.wfx(), to.wfx(), nullptr, 0, 0, 0));
    bytes source(1000), destination(1000);
    ACMSTREAMHEADER h;
    memset(&h, 0, sizeof h);
    h.cbStruct = sizeof h;
    h.pbSrc = source.data();
    h.cbSrcLength = 1000;
    h.pbDst = destination.data();
    h.cbDstLength = 1000;

    h.cbStruct = sizeof h - 1;
    EXPECT_EQ(unsigned(MMSYSERR_INVALPARAM), acmStreamPrepareHeader(stream, &h, 0));
    h.cbStruct = sizeof h;
    EXPECT_EQ(unsigned(MMSYSERR_INVALFLAG), acmStreamPrepareHeader(stream, &h, 1));
    h.cbSrcLength = 0;
    EXPECT_EQ(unsigned(MMSYSERR_INVALPARAM), acmStreamPrepareHeader(stream, &h, 0));
    h.cbSrcLength = 3;
    EXPECT_EQ(unsigned(ACMERR_NOTPOSSIBLE), acmStreamPrepareHeader(stream, &h, 0)) << "less than a frame";
    h.cbSrcLength = 1000;
    EXPECT_EQ(0u, h.fdwStatus);
    EXPECT_EQ(unsigned(ACMERR_UNPREPARED), acmStreamConvert(stream, &h, 0));
    EXPECT_EQ(unsigned(ACMERR_UNPREPARED), acmStreamUnprepareHeader(stream, &h, 0));

    ASSERT_EQ(0u, acmStreamPrepareHeader(stream, &h, 0));
    EXPECT_EQ(DWORD(ACMSTREAMHEADER_STATUSF_PREPARED), h.fdwStatus);
    EXPECT_EQ(0u, acmStreamConvert(stream, &h, ACM_STREAMCONVERTF_START));
    EXPECT_EQ(DWORD(ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE), h.fdwStatus);
    EXPECT_EQ(1000u, h.cbSrcLengthUsed);
    EXPECT_EQ(500u, h.cbDstLengthUsed);

    // Longer than prepared: refused, with the used counts cleared.
    h.cbSrcLength = 1001;
    h.cbSrcLengthUsed = h.cbDstLengthUsed = 12345;
    EXPECT_EQ(unsigned(MMSYSERR_INVALPARAM), acmStreamConvert(stream, &h, 0));
    EXPECT_EQ(0u, h.cbSrcLengthUsed);
    EXPECT_EQ(0u, h.cbDstLengthUsed);
    h.cbSrcLength = 1000;
    h.cbDstLength = 1001;
    EXPECT_EQ(unsigned(MMSYSERR_INVALPARAM), acmStreamConvert(stream, &h, 0));
    h.cbDstLength = 1000;
    h.cbSrcLength = 600;
    EXPECT_EQ(0u, acmStreamConvert(stream, &h, 0)) << "shorter than prepared";
    EXPECT_EQ(600u, h.cbSrcLengthUsed);

    // Unprepare: a longer length than prepared is refused and leaves the header prepared.
    h.cbSrcLength = 1001;
    EXPECT_EQ(unsigned(MMSYSERR_INVALPARAM), acmStreamUnprepareHeader(stream, &h, 0));
    EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
    h.cbSrcLength = 1000;
    h.pbSrc = source.data() + 4;
    EXPECT_EQ(unsigned(MMSYSERR_INVALPARAM), acmStreamConvert(stream, &h, 0)) << "a moved buffer";
    EXPECT_EQ(unsigned(MMSYSERR_INVALPARAM), acmStreamUnprepareHeader(stream, &h, 0)) << "a moved buffer";
    h.pbSrc = source.data();
    EXPECT_EQ(0u, acmStreamUnprepareHeader(stream, &h, 0));
    EXPECT_EQ(DWORD(ACMSTREAMHEADER_STATUSF_DONE), h.fdwStatus);
    EXPECT_EQ(unsigned(ACMERR_UNPREPARED), acmStreamUnprepareHeader(stream, &h, 0));
    EXPECT_EQ(unsigned(ACMERR_UNPREPARED), acmStreamConvert(stream, &h, 0));

    // Prepared again at a larger length, that length holds; a shorter one unprepares too.
    source.resize(4000);
    destination.resize(4000);
    h.pbSrc = source.data();
    h.pbDst = destination.data();
    h.cbSrcLength = 4000;
    h.cbDstLength = 4000;
    ASSERT_EQ(0u, acmStreamPrepareHeader(stream, &h, 0));
    EXPECT_EQ(0u, acmStreamConvert(stream, &h, 0));
    EXPECT_EQ(4000u, h.cbSrcLengthUsed);
    h.cbSrcLength = 100;
    EXPECT_EQ(0u, acmStreamUnprepareHeader(stream, &h, 0));

    EXPECT_EQ(0u, acmStreamClose(stream, 0));
    EXPECT_EQ(unsigned(MMSYSERR_INVALHANDLE), acmStreamClose(stream, 0));
    EXPECT_EQ(unsigned(MMSYSERR_INVALHANDLE), acmStreamClose(nullptr, 0));
    DWORD out = 0;
    EXPECT_EQ(unsigned(MMSYSERR_INVALHANDLE), acmStreamSize(nullptr, 10, &out, 0));
}

// ---------------------------------------------------------------------------------------------
// The stand-in's own controls: the registry's order and the chooser's answerer.
#ifndef _WIN32

static std::vector<std::string> asked;

static MMRESULT refuse_open(const WAVEFORMATEX *, const WAVEFORMATEX *, void **)
{
    asked.push_back("refuser");
    return ACMERR_NOTPOSSIBLE;
}

static MMRESULT accept_open(const WAVEFORMATEX *, const WAVEFORMATEX *, void **instance)
{
    asked.push_back("accepter");
    *instance = &asked;
    return MMSYSERR_NOERROR;
}

static MMRESULT convert_nothing(void *, ACMSTREAMHEADER *header, DWORD)
{
    header->cbSrcLengthUsed = header->cbDstLengthUsed = 0;
    return 0;
}

static MMRESULT size_nothing(void *, DWORD, DWORD *out, DWORD)
{
    *out = 0;
    return 0;
}

static void close_nothing(void *) {}

static MMRESULT text_fixed(const WAVEFORMATEX *, char *text, size_t chars)
{
    snprintf(text, chars, "added codec");
    return 0;
}

TEST(stand_in_registry, asks_added_codecs_first_and_newest_first)
{
    shim_acm_codec refuser = {tag_ulaw, "Refuser", 18, refuse_open, convert_nothing, size_nothing,
                              close_nothing, nullptr, text_fixed};
    shim_acm_codec accepter = {tag_ulaw, "Accepter", 18, accept_open, convert_nothing, size_nothing,
                               close_nothing, nullptr, nullptr};
    format_record from = pcm(44100, 16, 2), to = g711(tag_ulaw, 44100, 2);
    shim_acm_add_codec(&accepter);
    shim_acm_add_codec(&refuser);
    asked.clear();
    HACMSTREAM stream = nullptr;
    ASSERT_EQ(0u, acmStreamOpen(&stream, nullptr, from.wfx(), to.wfx(), nullptr, 0, 0, 0));
    EXPECT_EQ((std::vector<std::string>{"refuser", "accepter"}), asked);
    ACMFORMATTAGDETAILSA tag;
    memset(&tag, 0, sizeof tag);
    tag.cbStruct = sizeof tag;
    tag.dwFormatTag = tag_ulaw;
    EXPECT_EQ(0u, acmFormatTagDetailsA(nullptr, &tag, ACM_FORMATTAGDETAILSF_FORMATTAG));
    EXPECT_STREQ("Refuser", tag.szFormatTag);
    std::string text;
    EXPECT_EQ(0u, details_of(to, 18, &text));
    EXPECT_EQ("added codec", text);
    EXPECT_EQ(0u, acmStreamClose(stream, 0));

    // Removed, they are asked no more and the built-in codec answers again.
    shim_acm_remove_codec(&refuser);
    shim_acm_remove_codec(&accepter);
    asked.clear();
    EXPECT_EQ(0u, acmStreamOpen(nullptr, nullptr, from.wfx(), to.wfx(), nullptr, 0, 0, ACM_STREAMOPENF_QUERY));
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(0u, acmFormatTagDetailsA(nullptr, &tag, ACM_FORMATTAGDETAILSF_FORMATTAG));
    EXPECT_STREQ("U-Law", tag.szFormatTag);
}

static ACMFORMATCHOOSEA *chooser_saw;

static MMRESULT choose_ulaw(ACMFORMATCHOOSEA *choose)
{
    chooser_saw = choose;
    memcpy(choose->pwfx, g711(tag_ulaw, 8000, 1).b, 18);
    return 0;
}

TEST(stand_in_registry, the_chooser_cancels_without_an_answerer)
{
    uint8_t chosen[20];
    memset(chosen, 0xCC, sizeof chosen);
    ACMFORMATCHOOSEA choose;
    memset(&choose, 0, sizeof choose);
    choose.cbStruct = sizeof choose;
    choose.pwfx = reinterpret_cast<WAVEFORMATEX *>(chosen);
    choose.cbwfx = sizeof chosen;
    EXPECT_EQ(unsigned(ACMERR_CANCELED), acmFormatChooseA(&choose));
    EXPECT_EQ(0xCC, chosen[0]);
    shim_set_format_chooser(choose_ulaw);
    EXPECT_EQ(0u, acmFormatChooseA(&choose));
    EXPECT_EQ(&choose, chooser_saw);
    EXPECT_EQ(tag_ulaw, reinterpret_cast<WAVEFORMATEX *>(chosen)->wFormatTag);
    shim_set_format_chooser(nullptr);
}

#endif
