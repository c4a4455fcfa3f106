// The sample converter: reads interleaved PCM as 32-bit floats, remixes the channels and either
// writes them straight back out in the target width or resamples them through a cubic spline
// averaged over four sub-steps per output sample. This file holds the record's life, the plain
// frame-by-frame path and the drain, and hands whole blocks to the faster loops of
// converter_block_paths.cpp where one fits the formats. Memory comes from the process heap; the
// codec stage is the only caller.
#include "convert/sample_converter.h"

#include <windows.h>

#include "convert/converter_block_paths.h"
#include "convert/converter_samples.h"

void mix_frame(const sample_converter *c)
{
    const float *i = c->in_frame;
    float *o = c->mixed_frame;
    uint32_t in = c->in_channels, out = c->out_channels;
    if (in == out) return; // o is i
    if (in == 1 && out == 2) {
        o[0] = o[1] = i[0];
    } else if (in == 2 && out == 1) {
        o[0] = (float)(((double)i[1] + i[0]) * 0.5);
    } else if (in == 3 && out == 2) {
        o[0] = (float)((double)i[2] * (1.0 / 3.0) + (double)i[0] * (2.0 / 3.0));
        o[1] = (float)((double)i[2] * (1.0 / 3.0) + (double)i[1] * (2.0 / 3.0));
    } else if (in == 4 && out == 2) {
        o[0] = (float)(((double)i[2] + i[0]) * 0.5);
        o[1] = (float)(((double)i[3] + i[1]) * 0.5);
    } else if (in == 2 && out == 4) {
        o[0] = o[2] = i[0];
        o[1] = o[3] = i[1];
    } else if (in == 6 && out == 2) {
        o[0] = (float)((2.0 * ((double)i[2] + i[0]) + i[5] + i[4]) * (1.0 / 6.0));
        o[1] = (float)((2.0 * ((double)i[3] + i[1]) + i[5] + i[4]) * (1.0 / 6.0));
    } else {
        double sum = 0.0;
        for (uint32_t k = 0; k < in; k++) sum += i[k];
        float mean = (float)(sum / in);
        for (uint32_t k = 0; k < out; k++) o[k] = mean;
    }
}

// The new tangent m enters coef2 unrounded; only its stored copy (end_slope) is rounded, while
// the rise d is rounded before use. coef3 likewise takes coef2 before its rounding.
static void update_segment(channel_segment *s)
{
    s->coef1 = s->end_slope;
    double m = ((double)s->y2 - s->y0) * 0.5;
    s->end_slope = (float)m;
    float d = (float)((double)s->y1 - s->y0);
    double coef2 = 3.0 * d - m - 2.0 * (double)s->coef1;
    s->coef2 = (float)coef2;
    s->coef3 = (float)((double)d - coef2 - s->coef1);
}

// One frame's sub-step loop: sums the segments at the positions that fall inside it and writes
// every output frame that four sub-steps complete.
static uint8_t *run_substeps(sample_converter *c, uint8_t *out)
{
    uint32_t channels = c->out_channels, width = c->out_sample_bytes;
    while (c->position < 1.0f) {
        double t = c->position;
        for (uint32_t k = 0; k < channels; k++) {
            const channel_segment *s = &c->segments[k];
            double v = (((double)s->coef3 * t + s->coef2) * t + s->coef1) * t + s->y0;
            c->accumulators[k] = (float)((double)c->accumulators[k] + v);
        }
        if (++c->substep_count == 4) {
            c->substep_count = 0;
            for (uint32_t k = 0; k < channels; k++) {
                write_sample(out, width, c->accumulators[k] * 0.25f);
                out += width;
                c->accumulators[k] = 0.0f;
            }
        }
        c->position = (float)((double)c->position + c->step);
    }
    c->position = (float)((double)c->position - 1.0);
    return out;
}

static uint8_t *resample_frame(sample_converter *c, uint8_t *out)
{
    for (uint32_t k = 0; k < c->out_channels; k++) {
        channel_segment *s = &c->segments[k];
        s->y0 = s->y1;
        s->y1 = s->y2;
        s->y2 = c->mixed_frame[k];
    }
    if (c->priming != 0) {
        c->priming--;
        return out;
    }
    for (uint32_t k = 0; k < c->out_channels; k++) update_segment(&c->segments[k]);
    return run_substeps(c, out);
}

static uint8_t *drain(sample_converter *c, uint8_t *out)
{
    if (c->priming != 0) return out;
    for (int pass = 0; pass < 2; pass++) {
        for (uint32_t k = 0; k < c->out_channels; k++) {
            channel_segment *s = &c->segments[k];
            s->y0 = s->y1;
            s->y1 = s->y2;
            s->y2 = 0.0f;
            update_segment(s);
        }
        out = run_substeps(c, out);
    }
    return out;
}

// The plain path: every format pair, one frame at a time.
static uint8_t *convert_frames(sample_converter *c, const uint8_t *in, uint32_t frames, uint8_t *out)
{
    uint32_t in_width = c->in_sample_bytes, out_width = c->out_sample_bytes;
    bool equal_rates = c->in_rate == c->out_rate;
    for (uint32_t f = 0; f < frames; f++) {
        for (uint32_t k = 0; k < c->in_channels; k++) {
            c->in_frame[k] = read_sample(in, in_width);
            in += in_width;
        }
        mix_frame(c->in_frame, c->in_channels, c->mixed_frame, c->out_channels);
        if (equal_rates) {
            for (uint32_t k = 0; k < c->out_channels; k++) {
                write_sample(out, out_width, c->mixed_frame[k]);
                out += out_width;
            }
        } else {
            out = resample_frame(c, out);
        }
    }
    return out;
}

static bool supported_bits(uint32_t bits)
{
    return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

static void *zeroed(size_t bytes)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

// A format record carries at most 65535 channels; refusing more keeps every array size and
// frame size far from overflowing.
static const uint32_t max_channels = 65535;
// Far above any real pair of rates. Beyond it the float position can no longer advance by the
// tiny step (the sub-step loop would never end), and its rounding drift outgrows the one spare
// output frame that converter_output_size reserves.
static const uint32_t max_upsampling = 64;

sample_converter *converter_create(uint32_t in_channels, uint32_t in_bits, uint32_t in_rate,
                                   uint32_t out_channels, uint32_t out_bits, uint32_t out_rate)
{
    if (!supported_bits(in_bits) || !supported_bits(out_bits)) return nullptr;
    if (in_channels == 0 || out_channels == 0) return nullptr;
    if (in_channels > max_channels || out_channels > max_channels) return nullptr;
    if (in_rate == 0 || out_rate == 0) return nullptr;
    if ((uint64_t)out_rate > (uint64_t)in_rate * max_upsampling) return nullptr;

    block_scratch scratch;
    sample_converter *c = (sample_converter *)zeroed(sizeof(sample_converter));
    if (!c) return nullptr;
    c->in_channels = in_channels;
    c->out_channels = out_channels;
    c->in_sample_bytes = in_bits / 8;
    c->out_sample_bytes = out_bits / 8;
    c->in_rate = in_rate;
    c->out_rate = out_rate;
    c->step = (float)((double)in_rate / (4.0 * (double)out_rate));
    c->priming = 2;
    c->in_frame = (float *)zeroed(in_channels * sizeof(float));
    if (in_channels == out_channels)
        c->mixed_frame = c->in_frame;
    else
        c->mixed_frame = (float *)zeroed(out_channels * sizeof(float));
    c->segments = (channel_segment *)zeroed(out_channels * sizeof(channel_segment));
    c->accumulators = (float *)zeroed(out_channels * sizeof(float));
    if (!c->in_frame || !c->mixed_frame || !c->segments || !c->accumulators) goto incomplete;
    scratch = choose_block_path(c);
    if (scratch.lanes_bytes != 0) {
        c->scratch_lanes = (double *)zeroed(scratch.lanes_bytes);
        if (!c->scratch_lanes) goto incomplete;
    }
    if (scratch.values_bytes != 0) {
        c->scratch_values = (double *)zeroed(scratch.values_bytes);
        if (!c->scratch_values) goto incomplete;
    }
    return c;

incomplete:
    // A converter missing one of its arrays would fail later, inside a write; give none instead.
    converter_destroy(c);
    return nullptr;
}

void converter_destroy(sample_converter *c)
{
    if (!c) return;
    HANDLE heap = GetProcessHeap();
    if (c->segments) HeapFree(heap, 0, c->segments);
    if (c->in_frame) HeapFree(heap, 0, c->in_frame);
    if (c->mixed_frame && c->mixed_frame != c->in_frame) HeapFree(heap, 0, c->mixed_frame);
    if (c->accumulators) HeapFree(heap, 0, c->accumulators);
    if (c->scratch_lanes) HeapFree(heap, 0, c->scratch_lanes);
    if (c->scratch_values) HeapFree(heap, 0, c->scratch_values);
    HeapFree(heap, 0, c);
}

int32_t converter_output_size(const sample_converter *c, uint32_t in_bytes)
{
    if (!c) return -1;
    // The factors are formed in 64 bits; one that does not fit MulDiv's signed operands gives
    // -1 instead of a wrapped (too small) reserve.
    uint64_t in_frame_bytes = (uint64_t)c->in_channels * c->in_sample_bytes;
    uint64_t out_frame_bytes = (uint64_t)c->out_channels * c->out_sample_bytes;
    uint64_t number = in_bytes + 2 * in_frame_bytes;
    uint64_t out_per_second = (uint64_t)c->out_rate * out_frame_bytes;
    uint64_t in_per_second = (uint64_t)c->in_rate * in_frame_bytes;
    if (number > INT32_MAX || out_per_second > INT32_MAX || in_per_second > INT32_MAX) return -1;
    int estimate = MulDiv((int)number, (int)out_per_second, (int)in_per_second);
    if (estimate < 0) return -1;
    // Sub-steps and the position carry over between calls, so one call can complete one output
    // frame more than the estimate covers.
    uint64_t reserve = (uint64_t)estimate + out_frame_bytes;
    if (reserve > INT32_MAX) return -1;
    return (int32_t)reserve;
}

uint32_t converter_process(sample_converter *c, const uint8_t *input, uint8_t *output, uint32_t in_bytes)
{
    if (!c) return 0;
    uint8_t *out = output;
    bool resampling = c->in_rate != c->out_rate;
    if (!input || in_bytes == 0) {
        if (resampling) out = drain(c, out);
        return (uint32_t)(out - output);
    }
    // Only whole frames: a trailing partial frame is never read.
    uint32_t in_frame_bytes = c->in_channels * c->in_sample_bytes;
    uint32_t frames = in_bytes / in_frame_bytes;
    // The resampler's first frames only fill its history, and its first segment starts flat: the
    // plain path takes them, whichever path takes the rest.
    for (; resampling && c->priming != 0 && frames > 0; frames--, input += in_frame_bytes)
        out = convert_frames(c, input, 1, out);
    if (c->block_path == no_block_path)
        out = convert_frames(c, input, frames, out);
    else
        out = convert_block(c, input, frames, out);
    return (uint32_t)(out - output);
}
