// The sample converter against a straightforward whole-track model written here from the
// formulas (double precision, rounded to float where a value is stored), plus the numeric
// corners, mixing rows, block-size independence, the drain and the output reserve. Every case
// that converts runs once for each set of block loops this machine runs (SSE2, and AVX2 where
// the processor and system have it), named by it: the bytes must not depend on the set.
#include <gtest/gtest.h>

// GCC 12's straight-line vectoriser can drop a narrowing to float when it packs two values of
// the model together (seen natively at -O2); the model must round exactly where it says.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-tree-slp-vectorize")
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <windows.h>

#include "convert/converter_cpu.h"
#include "convert/sample_converter.h"

using bytes = std::vector<uint8_t>;

struct format {
    uint32_t in_channels, in_bits, in_rate, out_channels, out_bits, out_rate;
};

static std::string describe(const format &f)
{
    char text[128];
    snprintf(text, sizeof text, "%u ch %u bit %u Hz -> %u ch %u bit %u Hz", f.in_channels, f.in_bits, f.in_rate,
             f.out_channels, f.out_bits, f.out_rate);
    return text;
}

// ---------------------------------------------------------------------------------------------
// The block loops: SSE2 forced through the converter's own switch, or the default, which is AVX2
// on a machine that runs it.

static std::vector<uint32_t> runnable_kernel_sets()
{
    std::vector<uint32_t> sets = {kernels_sse2};
    if (cpu_runs_avx2()) sets.push_back(kernels_avx2);
    return sets;
}

static void force_sse2(bool forced) { SetEnvironmentVariableA("TOLLVANE_FORCE_SSE2", forced ? "1" : nullptr); }

class sample_converter_kernels : public ::testing::TestWithParam<uint32_t> {
  protected:
    void SetUp() override { force_sse2(GetParam() == kernels_sse2); }
    void TearDown() override { force_sse2(false); }
};

INSTANTIATE_TEST_SUITE_P(on, sample_converter_kernels, ::testing::ValuesIn(runnable_kernel_sets()),
                         [](const ::testing::TestParamInfo<uint32_t> &info) {
                             return std::string(converter_kernel_name(info.param));
                         });

// ---------------------------------------------------------------------------------------------
// The model: decode the whole track, mix it, then either encode it or walk the spline segment by
// segment. It keeps no state between calls and knows nothing of blocks.

static float model_decode(const uint8_t *p, uint32_t sample_bytes)
{
    int64_t v = 0;
    for (uint32_t b = 0; b < sample_bytes; b++) v |= (int64_t)p[b] << (8 * b);
    if (sample_bytes == 1) return (float)((double)(v - 128) / 128.0);
    int64_t full = (int64_t)1 << (8 * sample_bytes);
    if (v >= full / 2) v -= full;
    return (float)((double)v / (double)(full / 2));
}

static void model_encode(bytes &out, uint32_t sample_bytes, float x)
{
    double scaled;
    int64_t low, high;
    if (sample_bytes == 1) {
        scaled = ((double)x + 1.0) * 128.0;
        low = 0;
        high = 255;
    } else {
        double full = std::ldexp(1.0, 8 * (int)sample_bytes - 1);
        scaled = (double)x * full;
        low = -(int64_t)full;
        high = (int64_t)full - 1;
    }
    int64_t v = (int64_t)std::trunc(std::max(-1e18, std::min(1e18, scaled)));
    v = std::max(low, std::min(high, v));
    for (uint32_t b = 0; b < sample_bytes; b++) out.push_back((uint8_t)((uint64_t)v >> (8 * b)));
}

// The mixing layouts as weights: output channel j is (sum of weights[j][k] x input k) x 1/divisor,
// in double precision, rounded once to float. Written from the layouts themselves, not from the
// converter, so that a wrong weight there fails every whole-track comparison. The sums are
// exact for every width, so only 3 -> 2 is evaluated otherwise than by the converter's
// i2 x 1/3 + i0 x 2/3; for inputs of up to 24 bits both give the same float, as a third of a
// whole number of input steps never lies near a float's rounding boundary.
struct mix_layout {
    uint32_t in, out;
    double divisor;
    int weights[4][6];
};

static const mix_layout mix_layouts[] = {
    {1, 2, 1, {{1}, {1}}},
    {2, 1, 2, {{1, 1}}},
    {3, 2, 3, {{2, 0, 1}, {0, 2, 1}}},
    {4, 2, 2, {{1, 0, 1, 0}, {0, 1, 0, 1}}},
    {2, 4, 1, {{1, 0}, {0, 1}, {1, 0}, {0, 1}}},
    {6, 2, 6, {{2, 0, 2, 0, 1, 1}, {0, 2, 0, 2, 1, 1}}},
};

static std::vector<float> model_mix(const std::vector<float> &i, uint32_t out_channels)
{
    size_t in = i.size();
    if (in == out_channels) return i;
    std::vector<float> o(out_channels);
    for (const mix_layout &m : mix_layouts) {
        if (m.in != in || m.out != out_channels) continue;
        for (uint32_t j = 0; j < out_channels; j++) {
            double sum = 0;
            for (size_t k = 0; k < in; k++) sum += m.weights[j][k] * (double)i[k];
            o[j] = (float)(sum * (1.0 / m.divisor));
        }
        return o;
    }
    // every other pair: the mean of all inputs on every output
    double sum = 0;
    for (float v : i) sum += v;
    std::fill(o.begin(), o.end(), (float)(sum / (double)in));
    return o;
}

struct model_result {
    bytes output;          // everything, drain included
    size_t before_drain;   // bytes that the calls with input give
};

static model_result model_convert(const format &f, const bytes &input)
{
    uint32_t in_width = f.in_bits / 8, out_width = f.out_bits / 8;
    size_t frames = input.size() / (f.in_channels * in_width);
    // mixed[c][n]: channel c of input frame n after mixing
    std::vector<std::vector<float>> mixed(f.out_channels, std::vector<float>(frames));
    for (size_t n = 0; n < frames; n++) {
        std::vector<float> frame(f.in_channels);
        for (uint32_t c = 0; c < f.in_channels; c++)
            frame[c] = model_decode(&input[(n * f.in_channels + c) * in_width], in_width);
        std::vector<float> o = model_mix(frame, f.out_channels);
        for (uint32_t c = 0; c < f.out_channels; c++) mixed[c][n] = o[c];
    }
    model_result r;
    if (f.in_rate == f.out_rate) {
        for (size_t n = 0; n < frames; n++)
            for (uint32_t c = 0; c < f.out_channels; c++) model_encode(r.output, out_width, mixed[c][n]);
        r.before_drain = r.output.size();
        return r;
    }
    r.before_drain = 0;
    if (frames < 2) return r;
    // Two frames of silence stand for the drain. Segment k runs from sample k-2 to k-1, with the
    // Catmull-Rom tangents (x[k] - x[k-2]) / 2 at its end and (x[k-1] - x[k-3]) / 2 at its start;
    // the first segment starts flat.
    for (auto &x : mixed) x.resize(frames + 2, 0.0f);
    const float step = (float)((double)f.in_rate / (4.0 * f.out_rate));
    float position = 0;
    int substeps = 0;
    std::vector<float> sums(f.out_channels, 0.0f);
    for (size_t k = 2; k < frames + 2; k++) {
        if (k == frames) r.before_drain = r.output.size();
        struct cubic {
            double a3, a2, a1, a0;
        };
        std::vector<cubic> seg(f.out_channels);
        for (uint32_t c = 0; c < f.out_channels; c++) {
            const std::vector<float> &x = mixed[c];
            float start_tangent = k == 2 ? 0.0f : (float)(((double)x[k - 1] - x[k - 3]) * 0.5);
            double end_tangent = ((double)x[k] - x[k - 2]) * 0.5;
            float rise = (float)((double)x[k - 1] - x[k - 2]);
            double a2 = 3.0 * rise - end_tangent - 2.0 * start_tangent;
            float a3 = (float)(rise - a2 - start_tangent);
            seg[c] = {a3, (float)a2, start_tangent, x[k - 2]};
        }
        for (; position < 1.0f; position = (float)(position + (double)step)) {
            for (uint32_t c = 0; c < f.out_channels; c++) {
                double t = position;
                double value = ((seg[c].a3 * t + seg[c].a2) * t + seg[c].a1) * t + seg[c].a0;
                sums[c] = (float)(sums[c] + value);
            }
            if (++substeps == 4) {
                for (uint32_t c = 0; c < f.out_channels; c++) model_encode(r.output, out_width, sums[c] / 4.0f);
                std::fill(sums.begin(), sums.end(), 0.0f);
                substeps = 0;
            }
        }
        position -= 1.0f;
    }
    return r;
}

// ---------------------------------------------------------------------------------------------
// Driving the converter

struct converter_ptr {
    sample_converter *c;
    explicit converter_ptr(const format &f)
        : c(converter_create(f.in_channels, f.in_bits, f.in_rate, f.out_channels, f.out_bits, f.out_rate))
    {
    }
    ~converter_ptr() { converter_destroy(c); }
};

// One call, checked against the reserve: nothing may land beyond the bytes it reports, and those
// must fit in what converter_output_size asked for. The input goes over in a heap block of
// exactly its size, so that under AddressSanitizer any read past it fails, as the codec
// stage hands the converter the player's block itself.
static uint32_t process_checked(sample_converter *c, const uint8_t *input, uint32_t in_bytes, bytes &out)
{
    int32_t reserve = converter_output_size(c, in_bytes);
    EXPECT_GE(reserve, 0);
    bytes buffer((size_t)std::max(reserve, 0) + 64, 0xCC);
    std::unique_ptr<uint8_t[]> exact(input ? new uint8_t[in_bytes] : nullptr);
    if (input) memcpy(exact.get(), input, in_bytes);
    uint32_t written = converter_process(c, exact.get(), buffer.data(), in_bytes);
    EXPECT_LE(written, (uint32_t)std::max(reserve, 0)) << "in_bytes " << in_bytes;
    for (size_t b = written; b < buffer.size(); b++)
        if (buffer[b] != 0xCC) {
            ADD_FAILURE() << "write beyond the reported count at " << b;
            break;
        }
    out.insert(out.end(), buffer.begin(), buffer.begin() + std::min<size_t>(written, buffer.size()));
    return written;
}

// Converts the track in blocks of the given frame counts (cycled) and drains it.
static bytes convert_in_blocks(const format &f, const bytes &input, const std::vector<size_t> &block_frames,
                               size_t *before_drain = nullptr)
{
    converter_ptr conv(f);
    EXPECT_NE(conv.c, nullptr) << describe(f);
    bytes out;
    if (!conv.c) return out;
    size_t frame_bytes = f.in_channels * (f.in_bits / 8);
    size_t at = 0;
    for (size_t b = 0; at < input.size(); b++) {
        size_t n = std::min(block_frames[b % block_frames.size()] * frame_bytes, input.size() - at);
        process_checked(conv.c, &input[at], (uint32_t)n, out);
        at += n;
    }
    if (before_drain) *before_drain = out.size();
    process_checked(conv.c, nullptr, 0, out);
    return out;
}

// A test signal: two sines, some noise, and stretches of full-scale square wave whose overshoot
// drives the spline beyond full scale.
static bytes make_signal(uint32_t channels, uint32_t bits, size_t frames, uint32_t seed)
{
    uint32_t width = bits / 8;
    bytes data(frames * channels * width);
    uint32_t state = seed * 2654435761u + 12345;
    for (size_t n = 0; n < frames; n++) {
        for (uint32_t c = 0; c < channels; c++) {
            state = state * 1664525u + 1013904223u;
            double noise = ((state >> 8) / 16777216.0 - 0.5) * 0.1;
            double v = 0.6 * std::sin(n * (0.013 + 0.007 * c)) + 0.3 * std::sin(n * (0.41 + 0.05 * c)) + noise;
            if ((n / 3000) % 4 == 3) v = ((n / (7 + c)) % 2) ? 0.9999 : -1.0;
            int64_t full = (int64_t)1 << (bits - 1);
            int64_t s = std::max(-full, std::min(full - 1, (int64_t)std::floor(v * full)));
            if (bits == 8) s += 128;
            for (uint32_t b = 0; b < width; b++) data[(n * channels + c) * width + b] = (uint8_t)((uint64_t)s >> (8 * b));
        }
    }
    return data;
}

static bytes le(const std::vector<int64_t> &values, uint32_t width)
{
    bytes out;
    for (int64_t v : values)
        for (uint32_t b = 0; b < width; b++) out.push_back((uint8_t)((uint64_t)v >> (8 * b)));
    return out;
}

static std::vector<int64_t> decode_all(const bytes &data, uint32_t width)
{
    std::vector<int64_t> values;
    for (size_t at = 0; at + width <= data.size(); at += width) {
        int64_t v = 0;
        for (uint32_t b = 0; b < width; b++) v |= (int64_t)data[at + b] << (8 * b);
        if (width > 1 && v >= ((int64_t)1 << (8 * width - 1))) v -= (int64_t)1 << (8 * width);
        values.push_back(v);
    }
    return values;
}

// Equal rates, one call, no drain output expected.
static bytes convert_once(const format &f, const bytes &input)
{
    converter_ptr conv(f);
    bytes out;
    if (!conv.c) {
        ADD_FAILURE() << describe(f);
        return out;
    }
    process_checked(conv.c, input.data(), (uint32_t)input.size(), out);
    size_t before = out.size();
    process_checked(conv.c, nullptr, 0, out);
    EXPECT_EQ(out.size(), before) << "equal rates: the drain writes nothing";
    return out;
}

// ---------------------------------------------------------------------------------------------
// Creation and the reserve

TEST(sample_converter, create_refuses_what_it_cannot_convert)
{
    struct {
        format f;
        bool accepted;
    } rows[] = {
        /* 0 */ {{2, 16, 44100, 2, 16, 48000}, true},
        /* 1 */ {{1, 8, 8000, 8, 32, 8000}, true},
        /* 2 */ {{6, 24, 96000, 2, 24, 44100}, true},
        /* 3 */ {{2, 12, 44100, 2, 16, 44100}, false},
        /* 4 */ {{2, 16, 44100, 2, 20, 44100}, false},
        /* 5 */ {{2, 0, 44100, 2, 16, 44100}, false},
        /* 6 */ {{2, 64, 44100, 2, 16, 44100}, false},
        /* 7 */ {{0, 16, 44100, 2, 16, 44100}, false},
        /* 8 */ {{2, 16, 44100, 0, 16, 44100}, false},
        /* 9 */ {{2, 16, 0, 2, 16, 44100}, false},
        /* 10 */ {{2, 16, 44100, 2, 16, 0}, false},
        /* 11 */ {{65536, 16, 44100, 2, 16, 44100}, false},
        /* 12 */ {{1, 16, 1000, 1, 16, 64000}, true},  // 64 times up: the limit
        /* 13 */ {{1, 16, 1000, 1, 16, 64001}, false}, // beyond it the position cannot advance reliably
        /* 14 */ {{1, 16, 4000000, 1, 16, 1}, true},
    };
    for (size_t r = 0; r < sizeof rows / sizeof rows[0]; r++) {
        converter_ptr conv(rows[r].f);
        EXPECT_EQ(conv.c != nullptr, rows[r].accepted) << "row " << r << ": " << describe(rows[r].f);
    }
}

TEST(sample_converter, create_fills_the_record)
{
    converter_ptr conv({2, 24, 44100, 1, 8, 48000});
    ASSERT_NE(conv.c, nullptr);
    sample_converter *c = conv.c;
    EXPECT_EQ(c->in_channels, 2u);
    EXPECT_EQ(c->out_channels, 1u);
    EXPECT_EQ(c->in_sample_bytes, 3u);
    EXPECT_EQ(c->out_sample_bytes, 1u);
    EXPECT_EQ(c->step, (float)(44100.0 / 192000.0));
    EXPECT_EQ(c->position, 0.0f);
    EXPECT_EQ(c->priming, 2u);
    EXPECT_EQ(c->substep_count, 0u);
    EXPECT_NE(c->mixed_frame, c->in_frame);

    converter_ptr same({2, 16, 44100, 2, 16, 22050});
    ASSERT_NE(same.c, nullptr);
    EXPECT_EQ(same.c->mixed_frame, same.c->in_frame) << "equal channel counts share the frame";
    EXPECT_EQ(same.c->step, 0.5f);
    converter_destroy(nullptr);
}

// Without the variable, creation picks the widest set this machine runs; the line printed says
// which, so that a run on an emulated processor without AVX shows SSE2 picked by itself.
TEST(sample_converter, creation_picks_the_widest_kernels_unless_sse2_is_forced)
{
    force_sse2(false);
    converter_ptr resampling({2, 16, 44100, 2, 16, 48000}), equal({2, 16, 44100, 2, 24, 44100});
    ASSERT_TRUE(resampling.c && equal.c);
    uint32_t widest = runnable_kernel_sets().back();
    EXPECT_EQ(resampling.c->kernel_set, widest);
    EXPECT_EQ(equal.c->kernel_set, widest);
    printf("sample_converter: this processor and system run %s; a converter created without "
           "TOLLVANE_FORCE_SSE2 picks %s\n",
           cpu_runs_avx2() ? "sse2 and avx2" : "sse2 only", converter_kernel_name(resampling.c->kernel_set));
    force_sse2(true);
    converter_ptr forced({2, 16, 44100, 2, 16, 48000});
    force_sse2(false);
    ASSERT_TRUE(forced.c);
    EXPECT_EQ(forced.c->kernel_set, kernels_sse2);
}

TEST(sample_converter, output_size_rounds_like_muldiv_and_reserves_one_frame_more)
{
    struct {
        format f;
        uint32_t in_bytes;
        int32_t expected;
    } rows[] = {
        // (2304 + 8) * 192000 / 176400 = 2516.46 -> 2516, + 4
        /* 0 */ {{2, 16, 44100, 2, 16, 48000}, 2304, 2520},
        // the drain: 8 * 192000 / 176400 = 8.71 -> 9, + 4
        /* 1 */ {{2, 16, 44100, 2, 16, 48000}, 0, 13},
        // (1 + 2) * 1 / 2 = 1.5 -> 2 (halves away from zero), + 1
        /* 2 */ {{1, 8, 2, 1, 8, 1}, 1, 3},
        // 5 / 2 = 2.5 -> 3, not the even 2
        /* 3 */ {{1, 8, 2, 1, 8, 1}, 3, 4},
        // 4 / 2 = 2, + 1
        /* 4 */ {{1, 8, 2, 1, 8, 1}, 2, 3},
        // (131072 + 12) * 288000 / 264600 = 142676.46 -> 142676, + 6
        /* 5 */ {{2, 24, 44100, 2, 24, 48000}, 131072, 142682},
        // equal rates: the estimate is the input plus two frames
        /* 6 */ {{2, 16, 44100, 2, 16, 44100}, 4, 12 + 4},
        // the quotient leaves the signed 32-bit range
        /* 7 */ {{1, 8, 1000, 2, 32, 2000}, 0x7FFFFFF0u, -1},
        // the input count plus two frames does not fit
        /* 8 */ {{2, 16, 44100, 2, 16, 44100}, 0xFFFFFFF0u, -1},
        // out bytes per second beyond 32 bits: the true reserve, never a wrapped, too small one:
        // (4096 + 16) * 8 = 32896, + 1 beyond MulDiv's operands, + 32
        /* 9 */ {{8, 8, 40000000, 8, 32, 80000000}, 4096, 32929},
        // the largest quotient that fits, plus the spare frame, is still representable
        /* 10 */ {{1, 8, 1, 1, 8, 1}, 0x7FFFFFFCu, 0x7FFFFFFF},
        /* 11 */ {{1, 8, 1, 1, 8, 1}, 0x7FFFFFFDu, -1},
        // in bytes per second beyond 2^31 (65535 channels): 4 frames in, (16 + 1) + 4 out
        /* 12 */ {{65535, 8, 44100, 2, 16, 44100}, 131070, 21},
    };
    for (size_t r = 0; r < sizeof rows / sizeof rows[0]; r++) {
        converter_ptr conv(rows[r].f);
        ASSERT_NE(conv.c, nullptr) << "row " << r;
        EXPECT_EQ(converter_output_size(conv.c, rows[r].in_bytes), rows[r].expected) << "row " << r;
    }
    EXPECT_EQ(converter_output_size(nullptr, 100), -1);
}

// ---------------------------------------------------------------------------------------------
// Numeric corners (equal rates, so each input sample gives one output sample)

TEST_P(sample_converter_kernels, eight_bit_output_corners)
{
    // 32-bit input: -1.0, 0.0, 0.9921875, just above it, and full scale (rounds to 1.0)
    bytes in = le({INT32_MIN, 0, 0x7F000000, 0x7F000100, INT32_MAX, -16777216, 0x00800000}, 4);
    bytes expected = {0, 128, 255, 255, 255, 127, 128};
    EXPECT_EQ(convert_once({1, 32, 8000, 1, 8, 8000}, in), expected);
    // 8-bit round trip and 8 -> 16 bits
    bytes all(256);
    for (int v = 0; v < 256; v++) all[v] = (uint8_t)v;
    EXPECT_EQ(convert_once({1, 8, 8000, 1, 8, 8000}, all), all);
    bytes wide = convert_once({1, 8, 8000, 1, 16, 8000}, all);
    EXPECT_EQ(decode_all(wide, 2)[0], -32768);
    EXPECT_EQ(decode_all(wide, 2)[255], 127 * 256);
}

TEST_P(sample_converter_kernels, sixteen_bit_output_truncates_toward_zero_and_clamps)
{
    // 1.0, -1.0, -0.00001, 0.99999, -0.99999, one 32-bit step below -1/32768
    bytes in = le({INT32_MAX, INT32_MIN, -21475, 2147462173, -2147462173, -65537}, 4);
    EXPECT_EQ(decode_all(convert_once({1, 32, 44100, 1, 16, 44100}, in), 2),
              (std::vector<int64_t>{32767, -32768, 0, 32767, -32767, -1}));
    // every 16-bit value survives 16 -> float -> 16
    bytes all;
    for (int v = -32768; v < 32768; v++) {
        all.push_back((uint8_t)v);
        all.push_back((uint8_t)(v >> 8));
    }
    EXPECT_EQ(convert_once({2, 16, 44100, 2, 16, 44100}, all), all);
    // stereo to mono: every left value against right values that make odd, negative and extreme
    // sums; the float path's mean truncates toward zero, and so must every faster loop
    bytes pairs;
    for (int l = -32768; l < 32768; l++)
        for (int r : {-32768, -32767, -12345, -1, 0, 1, 7, 32766, 32767}) {
            bytes s = le({l, r}, 2);
            pairs.insert(pairs.end(), s.begin(), s.end());
        }
    format mean = {2, 16, 44100, 1, 16, 44100};
    EXPECT_EQ(convert_once(mean, pairs), model_convert(mean, pairs).output);
}

TEST_P(sample_converter_kernels, twenty_four_bit_corners)
{
    bytes in = {0xFF, 0xFF, 0x7F, /* 8388607 */ 0x00, 0x00, 0x80, /* -8388608 */ 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(convert_once({1, 24, 48000, 1, 24, 48000}, in), in);
    // read as 8388607 * 2^-23 and -1.0: at 32 bits, 0x7FFFFF00 and 0x80000000
    EXPECT_EQ(decode_all(convert_once({1, 24, 48000, 1, 32, 48000}, in), 4),
              (std::vector<int64_t>{0x7FFFFF00, INT32_MIN, 256, -256}));
    // to 16 bits the low byte is cut toward zero: -1/2^23 gives 0, not -1
    EXPECT_EQ(decode_all(convert_once({1, 24, 48000, 1, 16, 48000}, in), 2),
              (std::vector<int64_t>{32767, -32768, 0, 0}));
    // every 16-bit value widens to itself shifted up by 8
    std::vector<int64_t> values, shifted;
    for (int64_t v = -32768; v < 32768; v++) {
        values.push_back(v);
        shifted.push_back(v * 256);
    }
    EXPECT_EQ(decode_all(convert_once({1, 16, 48000, 1, 24, 48000}, le(values, 2)), 3), shifted);
}

TEST_P(sample_converter_kernels, thirty_two_bit_output_clamps_at_and_beyond_full_scale)
{
    bytes in = le({INT32_MAX, INT32_MIN, 0x40000000, -0x40000000, 1, 127, 128}, 4);
    // 127 and 128 * 2^-31 keep their value (exact in float); INT32_MAX rounds up to 1.0
    EXPECT_EQ(decode_all(convert_once({1, 32, 8000, 1, 32, 8000}, in), 4),
              (std::vector<int64_t>{INT32_MAX, INT32_MIN, 0x40000000, -0x40000000, 1, 127, 128}));
    // A full-scale step overshoots in the spline: the values beyond +-1.0 clamp at every width
    // without wrapping, and the model agrees on every byte.
    bytes square;
    for (int n = 0; n < 64; n++)
        for (int k = 0; k < 3; k++) {
            int32_t v = (n / 4) % 2 ? INT32_MAX : INT32_MIN;
            bytes s = le({v}, 4);
            square.insert(square.end(), s.begin(), s.end());
        }
    for (uint32_t bits : {8u, 16u, 24u, 32u}) {
        format f = {3, 32, 11025, 3, bits, 44100};
        bytes out = convert_in_blocks(f, square, {5});
        EXPECT_EQ(out, model_convert(f, square).output) << bits;
        std::vector<int64_t> v = decode_all(out, bits / 8);
        int64_t high = bits == 8 ? 255 : ((int64_t)1 << (bits - 1)) - 1;
        int64_t low = bits == 8 ? 0 : -((int64_t)1 << (bits - 1));
        EXPECT_GT(std::count(v.begin(), v.end(), high), 10) << bits;
        EXPECT_GT(std::count(v.begin(), v.end(), low), 10) << bits;
    }
}

// ---------------------------------------------------------------------------------------------
// Mixing

TEST_P(sample_converter_kernels, mixing_rows_put_each_channel_in_its_place)
{
    const int64_t F = -32768, half = 16384, quarter = 8192, eighth = 4096; // of 16-bit full scale; F is -1.0
    const int64_t H = 0x40000000, Q = 0x20000000, E = 0x10000000;       // the same at 32 bits
    const int64_t one = INT32_MIN, third = -715827904, two_thirds = -1431655808, sixth = -357913952; // -1.0 x them
    // The rows that say "one frame per input channel" hold -1.0 on channel k alone in frame k:
    // each output frame is then the layout's weights of that input, so any wrong weight shows.
    struct {
        uint32_t in, out;
        std::vector<int64_t> samples, expected;
    } rows[] = {
        // 1 -> 2: both outputs carry the one input
        /* 0 */ {1, 2, {half, -eighth}, {H, H, -E, -E}},
        /* 1 */ {1, 2, {F}, {one, one}},
        // 2 -> 1: (i1 + i0) / 2, one frame per input channel, then sums
        /* 2 */ {2, 1, {F, 0, 0, F}, {one / 2, one / 2}},
        /* 3 */ {2, 1, {half, quarter, -1, 0}, {(H + Q) / 2, -32768}},
        // 3 -> 2: 2/3 of the own side and 1/3 of channel 2 on each
        /* 4 */ {3, 2, {F, 0, 0, 0, F, 0, 0, 0, F}, {two_thirds, 0, 0, two_thirds, third, third}},
        /* 5 */ {3, 2, {half, -quarter, eighth}, {3 * E, -E}},
        // 4 -> 2: channels 0 and 2 averaged on the left, 1 and 3 on the right
        /* 6 */ {4, 2, {F, 0, 0, 0, 0, F, 0, 0, 0, 0, F, 0, 0, 0, 0, F},
                 {one / 2, 0, 0, one / 2, one / 2, 0, 0, one / 2}},
        /* 7 */ {4, 2, {half, 0, quarter, -eighth}, {(H + Q) / 2, -E / 2}},
        // 2 -> 4: the pair repeated
        /* 8 */ {2, 4, {F, 0, 0, F}, {one, 0, one, 0, 0, one, 0, one}},
        /* 9 */ {2, 4, {half, -quarter}, {H, -Q, H, -Q}},
        // 6 -> 2: 1/3 of channels 0 and 2 on the left, of 1 and 3 on the right, 1/6 of 4 and 5 on both
        /* 10 */ {6, 2, {F, 0, 0, 0, 0, 0, 0, F, 0, 0, 0, 0, 0, 0, F, 0, 0, 0,
                         0, 0, 0, F, 0, 0, 0, 0, 0, 0, F, 0, 0, 0, 0, 0, 0, F},
                  {third, 0, 0, third, third, 0, 0, third, sixth, sixth, sixth, sixth}},
        /* 11 */ {6, 2, {0, 0, 0, half, 0, -half}, {-178956976, 178956976}},
        // every other pair: the mean of all inputs on every output
        /* 12 */ {2, 3, {half, quarter}, {3 * Q / 2, 3 * Q / 2, 3 * Q / 2}},
        /* 13 */ {1, 4, {-quarter}, {-Q, -Q, -Q, -Q}},
        /* 14 */ {6, 1, {half, half, half, half, half, -half}, {715827904}},
        /* 15 */ {3, 1, {half, quarter, 0}, {Q}},
        /* 16 */ {5, 3, {half, 0, 0, 0, 0}, {214748368, 214748368, 214748368}},
    };
    // 16-bit input, 32-bit output at equal rates: each mixed float shows exactly.
    // The model, whose weights come from a table of its own, must give the same frames.
    for (size_t r = 0; r < sizeof rows / sizeof rows[0]; r++) {
        format f = {rows[r].in, 16, 44100, rows[r].out, 32, 44100};
        EXPECT_EQ(decode_all(convert_once(f, le(rows[r].samples, 2)), 4), rows[r].expected) << "row " << r;
        EXPECT_EQ(decode_all(model_convert(f, le(rows[r].samples, 2)).output, 4), rows[r].expected)
            << "row " << r << ": the model";
    }
}

TEST_P(sample_converter_kernels, each_channel_is_resampled_on_its_own)
{
    // Four channels in, four out: a signal on one channel at a time must come out exactly as
    // the mono conversion of that signal, with silence on the others.
    const size_t frames = 3000;
    bytes mono = make_signal(1, 16, frames, 7);
    bytes mono_out = convert_in_blocks({1, 16, 44100, 1, 16, 48000}, mono, {576});
    for (uint32_t channel = 0; channel < 4; channel++) {
        bytes quad(frames * 4 * 2, 0);
        for (size_t n = 0; n < frames; n++) {
            quad[(n * 4 + channel) * 2] = mono[n * 2];
            quad[(n * 4 + channel) * 2 + 1] = mono[n * 2 + 1];
        }
        bytes out = convert_in_blocks({4, 16, 44100, 4, 16, 48000}, quad, {576});
        ASSERT_EQ(out.size(), mono_out.size() * 4);
        for (size_t n = 0; n < out.size() / 8; n++)
            for (uint32_t c = 0; c < 4; c++) {
                uint8_t lo = out[(n * 4 + c) * 2], hi = out[(n * 4 + c) * 2 + 1];
                uint8_t want_lo = c == channel ? mono_out[n * 2] : 0, want_hi = c == channel ? mono_out[n * 2 + 1] : 0;
                ASSERT_TRUE(lo == want_lo && hi == want_hi) << "channel " << channel << " frame " << n << " out " << c;
            }
    }
}

// ---------------------------------------------------------------------------------------------
// Priming, the drain and frame counts

TEST_P(sample_converter_kernels, equal_rates_convert_each_frame_at_once)
{
    format f = {2, 16, 44100, 2, 24, 44100};
    converter_ptr conv(f);
    bytes in = make_signal(2, 16, 10, 1), out;
    EXPECT_EQ(process_checked(conv.c, in.data(), 4, out), 6u);
    EXPECT_EQ(process_checked(conv.c, in.data() + 4, 36, out), 54u);
    EXPECT_EQ(process_checked(conv.c, nullptr, 0, out), 0u);
    EXPECT_EQ(conv.c->priming, 2u) << "equal rates never touch the resampler";
    EXPECT_EQ(out, model_convert(f, in).output);
}

TEST_P(sample_converter_kernels, resampler_holds_back_two_frames_until_the_drain)
{
    bytes two = le({16384, 16384, 16384, 16384}, 2), out;
    {
        converter_ptr conv({2, 16, 44100, 2, 16, 48000});
        EXPECT_EQ(process_checked(conv.c, two.data(), 4, out), 0u);
        EXPECT_EQ(process_checked(conv.c, nullptr, 0, out), 0u) << "one frame: the drain writes nothing";
    }
    {
        converter_ptr conv({2, 16, 44100, 2, 16, 48000});
        EXPECT_EQ(process_checked(conv.c, two.data(), 8, out), 0u);
        // a valid pointer with 0 bytes is the drain too
        EXPECT_GT(process_checked(conv.c, two.data(), 0, out), 0u);
        EXPECT_EQ(conv.c->priming, 0u);
    }
    {
        converter_ptr conv({2, 16, 44100, 2, 16, 48000});
        EXPECT_EQ(process_checked(conv.c, nullptr, 0, out), 0u) << "nothing taken: nothing to drain";
    }
}

TEST_P(sample_converter_kernels, half_scale_track_keeps_its_level_and_the_drain_fades_it)
{
    bytes in;
    for (int n = 0; n < 1000; n++) {
        bytes s = le({16384, 16384}, 2);
        in.insert(in.end(), s.begin(), s.end());
    }
    size_t before = 0;
    // half the rate: 499 frames at half scale from the blocks, one at 57/64 of it from the drain
    bytes down = convert_in_blocks({2, 16, 44100, 2, 16, 22050}, in, {576}, &before);
    EXPECT_EQ(before, 499u * 4);
    std::vector<int64_t> v = decode_all(down, 2);
    ASSERT_EQ(v.size(), 1000u);
    for (size_t k = 0; k < 998; k++) ASSERT_EQ(v[k], 16384) << k;
    EXPECT_EQ(v[998], 16384 * 57 / 64);
    EXPECT_EQ(v[999], 16384 * 57 / 64);
    // twice the rate: four frames fewer than 2000 from the blocks, the last four from the drain
    bytes up = convert_in_blocks({2, 16, 22050, 2, 16, 44100}, in, {576}, &before);
    EXPECT_EQ(before, 1996u * 4);
    EXPECT_EQ(up.size(), 2000u * 4);
    v = decode_all(up, 2);
    for (size_t k = 0; k < 1996 * 2; k++) ASSERT_EQ(v[k], 16384) << k;
    EXPECT_EQ(up, model_convert({2, 16, 22050, 2, 16, 44100}, in).output);
}

TEST_P(sample_converter_kernels, trailing_partial_frame_is_ignored)
{
    bytes in = make_signal(2, 24, 20, 3);
    // 20 frames and 5 extra bytes: the extra bytes are never read
    bytes padded = in;
    padded.insert(padded.end(), {1, 2, 3, 4, 5});
    for (format f : {format{2, 24, 44100, 2, 16, 44100}, format{2, 24, 44100, 1, 16, 32000}}) {
        converter_ptr a(f), b(f);
        bytes out_a, out_b;
        process_checked(a.c, in.data(), (uint32_t)in.size(), out_a);
        process_checked(b.c, padded.data(), (uint32_t)padded.size(), out_b);
        EXPECT_EQ(out_a, out_b) << describe(f);
        // a call with less than one frame converts nothing
        EXPECT_EQ(process_checked(b.c, padded.data(), 5, out_b), 0u);
    }
}

// ---------------------------------------------------------------------------------------------
// Whole tracks: block sizes and the model

static const format track_formats[] = {
    {2, 16, 44100, 2, 16, 48000}, {2, 16, 48000, 2, 16, 44100}, {2, 16, 44100, 2, 16, 22050},
    {2, 16, 44100, 1, 16, 8000},  {2, 16, 44100, 2, 24, 44100}, {2, 16, 44100, 1, 16, 44100},
    {1, 16, 44100, 1, 16, 48000}, {1, 16, 8000, 2, 16, 44100},  {2, 24, 96000, 2, 32, 44100},
    {2, 32, 44100, 2, 8, 48000},  {1, 8, 11025, 1, 8, 22050},   {6, 16, 48000, 2, 16, 44100},
    {3, 16, 44100, 2, 24, 32000}, {4, 24, 22050, 2, 16, 44100}, {2, 8, 16000, 4, 32, 8000},
    {6, 32, 48000, 1, 24, 11025}, {5, 16, 44100, 3, 16, 48000}, {2, 16, 192000, 2, 16, 8000},
    {1, 16, 8000, 1, 16, 192000}, {6, 16, 44100, 6, 16, 48000}, {2, 16, 44100, 2, 16, 44099},
    {2, 16, 44100, 2, 16, 44101}, {4, 16, 44100, 2, 16, 44100}, {2, 32, 48000, 2, 32, 48000},
    {4, 24, 88200, 2, 24, 44100}, {2, 16, 96000, 1, 16, 48000}, {2, 24, 44100, 2, 16, 8000},
    {1, 8, 8000, 1, 16, 96000},   {2, 16, 44100, 1, 8, 11025},
};

// The list above and the formats whose loops it leaves out. Every block reaches the converter in
// a heap block of exactly its size (process_checked), so under AddressSanitizer these runs also
// show that no loop, however many frames it takes a pass, reads past the block it is given.
static std::vector<format> every_path_format()
{
    std::vector<format> all(std::begin(track_formats), std::end(track_formats));
    all.push_back({1, 16, 48000, 1, 16, 11025}); // mono 16-bit taken down four times and more
    return all;
}

TEST_P(sample_converter_kernels, block_size_does_not_change_the_bytes)
{
    std::vector<size_t> one_to_seventeen(17);
    for (size_t k = 0; k < 17; k++) one_to_seventeen[k] = k + 1;
    for (const format &f : every_path_format()) {
        bytes in = make_signal(f.in_channels, f.in_bits, 9001, f.out_rate + f.in_channels);
        bytes whole = convert_in_blocks(f, in, {100000});
        for (std::vector<size_t> blocks :
             {std::vector<size_t>{1}, {576}, {4096}, {1151}, {3, 1, 700, 2, 57}, one_to_seventeen}) {
            EXPECT_EQ(convert_in_blocks(f, in, blocks), whole) << describe(f) << " blocks of " << blocks[0];
        }
    }
}

TEST_P(sample_converter_kernels, long_tracks_match_the_model_byte_for_byte)
{
    for (const format &f : every_path_format()) {
        bytes in = make_signal(f.in_channels, f.in_bits, 3 * f.in_rate / 2, f.in_rate + f.out_channels);
        size_t before = 0;
        bytes out = convert_in_blocks(f, in, {576}, &before);
        model_result m = model_convert(f, in);
        ASSERT_EQ(out.size(), m.output.size()) << describe(f);
        EXPECT_EQ(before, m.before_drain) << describe(f);
        size_t first = std::mismatch(out.begin(), out.end(), m.output.begin()).first - out.begin();
        EXPECT_EQ(first, out.size()) << describe(f) << ": first difference at byte " << first;
    }
}

TEST_P(sample_converter_kernels, upsampling_at_the_limit_stays_within_the_reserve)
{
    // 64 times up with the largest block the codec stage passes (131072 bytes of 8-bit mono):
    // the float position's drift must stay inside the one spare output frame.
    for (format f : {format{1, 8, 1000, 1, 8, 64000}, format{1, 8, 690, 1, 16, 44100}, format{1, 8, 44100, 1, 8, 11026}}) {
        bytes in = make_signal(1, 8, 2 * 131072, 5);
        bytes out = convert_in_blocks(f, in, {131072});
        EXPECT_EQ(out, model_convert(f, in).output) << describe(f);
    }
}

// FNV-1a over the converted bytes: the same literal in the native and the Windows build shows
// that both produce identical bytes.
static uint64_t fnv1a(const bytes &data, uint64_t h = 14695981039346656037ull)
{
    for (uint8_t b : data) h = (h ^ b) * 1099511628211ull;
    return h;
}

TEST_P(sample_converter_kernels, every_build_gives_the_same_bytes)
{
    uint64_t h = 14695981039346656037ull;
    size_t total = 0;
    for (const format &f : track_formats) {
        bytes out = convert_in_blocks(f, make_signal(f.in_channels, f.in_bits, 20000, 99), {576});
        h = fnv1a(out, h);
        total += out.size();
    }
    EXPECT_EQ(total, 3838409u);
    EXPECT_EQ(h, 5279742828169695009ull);
}
