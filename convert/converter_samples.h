// Reading, mixing and writing the samples of one frame: what the sample converter's plain path
// (sample_converter.cpp) and its resampling kernels (converter_resample_kernels.cpp) both build
// on. Only inline helpers, so neither file calls into the other for them. Nothing outside
// convert/ includes it.
#ifndef TOLLVANE_CONVERTER_SAMPLES_H
#define TOLLVANE_CONVERTER_SAMPLES_H

#include <stdint.h>

// Every stored value is a 32-bit float, but each formula is evaluated in double precision and
// rounded once where it is stored; the output bytes depend on exactly where those roundings are.

// Full scale of each width, as the float 1.0 stands for it; 8-bit samples are unsigned around 128.
static const double full_scale_8 = 128.0;
static const double full_scale_16 = 32768.0;
static const double full_scale_24 = 8388608.0;
static const double full_scale_32 = 2147483648.0;

static inline float read_sample(const uint8_t *p, uint32_t sample_bytes)
{
    switch (sample_bytes) {
    case 1:
        return static_cast<float>(static_cast<double>(static_cast<int32_t>(p[0]) - 128) * (1.0 / full_scale_8));
    case 2:
        return static_cast<float>(static_cast<double>(static_cast<int16_t>(p[0] | p[1] << 8)) * (1.0 / full_scale_16));
    case 3: {
        // Sign-extend from bit 23 by placing the value in the top three bytes first.
        uint32_t top = static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                       static_cast<uint32_t>(p[2]) << 24;
        return static_cast<float>(static_cast<double>(static_cast<int32_t>(top) >> 8) * (1.0 / full_scale_24));
    }
    default: {
        uint32_t v = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                     static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        return static_cast<float>(static_cast<double>(static_cast<int32_t>(v)) * (1.0 / full_scale_32));
    }
    }
}

// Truncation toward zero, then the clamp; comparing in double first keeps the conversion defined
// for any value and gives the same integer.
static inline int32_t truncate_clamped(double v, double low, double high)
{
    if (v >= high) return static_cast<int32_t>(high);
    if (v <= low) return static_cast<int32_t>(low);
    return static_cast<int32_t>(v);
}

static inline void write_sample(uint8_t *p, uint32_t sample_bytes, float x)
{
    switch (sample_bytes) {
    case 1:
        p[0] = static_cast<uint8_t>(
            truncate_clamped((static_cast<double>(x) + 1.0) * full_scale_8, 0.0, 2 * full_scale_8 - 1));
        return;
    case 2: {
        int32_t v = truncate_clamped(static_cast<double>(x) * full_scale_16, -full_scale_16, full_scale_16 - 1);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        return;
    }
    case 3: {
        int32_t v = truncate_clamped(static_cast<double>(x) * full_scale_24, -full_scale_24, full_scale_24 - 1);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
        return;
    }
    default: {
        int32_t v = truncate_clamped(static_cast<double>(x) * full_scale_32, -full_scale_32, full_scale_32 - 1);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
        p[3] = static_cast<uint8_t>(v >> 24);
        return;
    }
    }
}

// Remixes the samples of one frame, i of `in` channels, into o of `out` channels: the common
// layouts by their own weights, any other pair as the mean of all inputs. With equal counts o is
// i itself (the converter's record shares the array) and nothing needs doing.
static inline void mix_frame(const float *i, uint32_t in, float *o, uint32_t out)
{
    if (in == out) return;
    if (in == 1 && out == 2) {
        o[0] = o[1] = i[0];
    } else if (in == 2 && out == 1) {
        o[0] = static_cast<float>((static_cast<double>(i[1]) + i[0]) * 0.5);
    } else if (in == 3 && out == 2) {
        o[0] = static_cast<float>(static_cast<double>(i[2]) * (1.0 / 3.0) + static_cast<double>(i[0]) * (2.0 / 3.0));
        o[1] = static_cast<float>(static_cast<double>(i[2]) * (1.0 / 3.0) + static_cast<double>(i[1]) * (2.0 / 3.0));
    } else if (in == 4 && out == 2) {
        o[0] = static_cast<float>((static_cast<double>(i[2]) + i[0]) * 0.5);
        o[1] = static_cast<float>((static_cast<double>(i[3]) + i[1]) * 0.5);
    } else if (in == 2 && out == 4) {
        o[0] = o[2] = i[0];
        o[1] = o[3] = i[1];
    } else if (in == 6 && out == 2) {
        // 5.1 ordered front left, front right, back left, back right, centre, LFE (not WAVE's order)
        o[0] = static_cast<float>((2.0 * (static_cast<double>(i[2]) + i[0]) + i[5] + i[4]) * (1.0 / 6.0));
        o[1] = static_cast<float>((2.0 * (static_cast<double>(i[3]) + i[1]) + i[5] + i[4]) * (1.0 / 6.0));
    } else {
        double sum = 0.0;
        for (uint32_t k = 0; k < in; k++) sum += i[k];
        float mean = static_cast<float>(sum / in);
        for (uint32_t k = 0; k < out; k++) o[k] = mean;
    }
}

#endif
