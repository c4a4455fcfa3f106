// The sample converter: reads interleaved PCM as 32-bit floats, remixes the channels and either
// writes them straight back out in the target width or resamples them through a cubic spline
// averaged over four sub-steps per output sample. This file holds the record's life, the plain
// frame-by-frame path and the drain, and hands whole blocks to the faster loops of
// converter_equal_rate_loops.cpp or converter_resample_kernels.cpp where one fits the formats.
// Memory comes from the process heap; the codec stage is the only caller.
#include "convert/sample_converter.h"

#include <windows.h>

#include "convert/converter_cpu.h"
#include "convert/converter_equal_rate_loops.h"
#include "convert/converter_resample_kernels.h"
#include "convert/converter_samples.h"

// Each output sample is the mean of the spline at this many evenly spaced sub-steps.
static const uint32_t substeps_per_output_frame = 4;

// The new tangent m enters coef2 unrounded; only its stored copy (end_slope) is rounded, while
// the rise d is rounded before use. coef3 likewise takes coef2 before its rounding.
static void update_segment(channel_segment *s)
{
    s->coef1 = s->end_slope;
    double m = (static_cast<double>(s->y2) - s->y0) * 0.5;
    s->end_slope = static_cast<float>(m);
    float d = static_cast<float>(static_cast<double>(s->y1) - s->y0);
    double coef2 = 3.0 * d - m - 2.0 * static_cast<double>(s->coef1);
    s->coef2 = static_cast<float>(coef2);
    s->coef3 = static_cast<float>(static_cast<double>(d) - coef2 - s->coef1);
}

// One frame's sub-step loop: sums the segments at the positions that fall inside it and writes
// every output frame that four sub-steps complete.
static uint8_t *run_substeps(sample_converter *c, uint8_t *out)
{
    uint32_t channels = c->out_channels, out_sample_bytes = c->out_sample_bytes;
    while (c->position < 1.0f) {
        double t = c->position;
        for (uint32_t k = 0; k < channels; k++) {
            const channel_segment *s = &c->segments[k];
            double v = ((static_cast<double>(s->coef3) * t + s->coef2) * t + s->coef1) * t + s->y0;
            c->accumulators[k] = static_cast<float>(static_cast<double>(c->accumulators[k]) + v);
        }
        if (++c->substep_count == substeps_per_output_frame) {
            c->substep_count = 0;
            for (uint32_t k = 0; k < channels; k++) {
                write_sample(out, out_sample_bytes, c->accumulators[k] * 0.25f); // the mean of the four
                out += out_sample_bytes;
                c->accumulators[k] = 0.0f;
            }
        }
        c->position = static_cast<float>(static_cast<double>(c->position) + c->step);
    }
    c->position = static_cast<float>(static_cast<double>(c->position) - 1.0);
    return out;
}

// The channel's history moves on by one sample.
static void push_sample(channel_segment *s, float sample)
{
    s->y0 = s->y1;
    s->y1 = s->y2;
    s->y2 = sample;
}

static uint8_t *resample_frame(sample_converter *c, uint8_t *out)
{
    for (uint32_t k = 0; k < c->out_channels; k++) push_sample(&c->segments[k], c->mixed_frame[k]);
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
            push_sample(&c->segments[k], 0.0f);
            update_segment(&c->segments[k]);
        }
        out = run_substeps(c, out);
    }
    return out;
}

// The plain path: every format pair, one frame at a time.
static uint8_t *convert_frames(sample_converter *c, const uint8_t *in, uint32_t frames, uint8_t *out)
{
    uint32_t in_sample_bytes = c->in_sample_bytes, out_sample_bytes = c->out_sample_bytes;
    bool equal_rates = c->in_rate == c->out_rate;
    for (uint32_t f = 0; f < frames; f++) {
        for (uint32_t k = 0; k < c->in_channels; k++) {
            c->in_frame[k] = read_sample(in, in_sample_bytes);
            in += in_sample_bytes;
        }
        mix_frame(c->in_frame, c->in_channels, c->mixed_frame, c->out_channels);
        if (equal_rates) {
            for (uint32_t k = 0; k < c->out_channels; k++) {
                write_sample(out, out_sample_bytes, c->mixed_frame[k]);
                out += out_sample_bytes;
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
// Frames the resampler holds back until the drain: converter_output_size counts them in.
static const uint32_t priming_frames = 2;

sample_converter *converter_create(uint32_t in_channels, uint32_t in_bits, uint32_t in_rate,
                                   uint32_t out_channels, uint32_t out_bits, uint32_t out_rate)
{
    if (!supported_bits(in_bits) || !supported_bits(out_bits)) return nullptr;
    if (in_channels == 0 || out_channels == 0) return nullptr;
    if (in_channels > max_channels || out_channels > max_channels) return nullptr;
    if (in_rate == 0 || out_rate == 0) return nullptr;
    if (static_cast<uint64_t>(out_rate) > static_cast<uint64_t>(in_rate) * max_upsampling) return nullptr;

    block_scratch scratch = {0, 0};
    sample_converter *c = static_cast<sample_converter *>(zeroed(sizeof(sample_converter)));
    if (!c) return nullptr;
    c->in_channels = in_channels;
    c->out_channels = out_channels;
    c->in_sample_bytes = in_bits / 8;
    c->out_sample_bytes = out_bits / 8;
    c->in_rate = in_rate;
    c->out_rate = out_rate;
    c->step = static_cast<float>(static_cast<double>(in_rate) /
                                 (substeps_per_output_frame * static_cast<double>(out_rate)));
    c->priming = priming_frames;
    c->in_frame = static_cast<float *>(zeroed(in_channels * sizeof(float)));
    if (in_channels == out_channels)
        c->mixed_frame = c->in_frame;
    else
        c->mixed_frame = static_cast<float *>(zeroed(out_channels * sizeof(float)));
    c->segments = static_cast<channel_segment *>(zeroed(out_channels * sizeof(channel_segment)));
    c->accumulators = static_cast<float *>(zeroed(out_channels * sizeof(float)));
    if (!c->in_frame || !c->mixed_frame || !c->segments || !c->accumulators) goto incomplete;
    c->kernel_set = converter_kernel_set();
    if (in_rate == out_rate)
        choose_equal_rate_loop(c);
    else
        scratch = choose_resample_kernel(c);
    if (scratch.lanes_bytes != 0) {
        c->scratch_lanes = static_cast<double *>(zeroed(scratch.lanes_bytes));
        if (!c->scratch_lanes) goto incomplete;
    }
    if (scratch.values_bytes != 0) {
        c->scratch_values = static_cast<double *>(zeroed(scratch.values_bytes));
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
    // The factors are formed in 64 bits, never wrapped into a reserve too small.
    uint64_t in_frame_bytes = static_cast<uint64_t>(c->in_channels) * c->in_sample_bytes;
    uint64_t out_frame_bytes = static_cast<uint64_t>(c->out_channels) * c->out_sample_bytes;
    uint64_t counted_in_bytes = in_bytes + priming_frames * in_frame_bytes;
    uint64_t out_bytes_per_second = static_cast<uint64_t>(c->out_rate) * out_frame_bytes;
    uint64_t in_bytes_per_second = static_cast<uint64_t>(c->in_rate) * in_frame_bytes;
    int64_t estimate_bytes;
    if (counted_in_bytes <= INT32_MAX && out_bytes_per_second <= INT32_MAX && in_bytes_per_second <= INT32_MAX) {
        estimate_bytes = MulDiv(static_cast<int>(counted_in_bytes), static_cast<int>(out_bytes_per_second),
                                static_cast<int>(in_bytes_per_second));
    } else {
        // Past MulDiv's signed operands (65535 channels at 44100 Hz pass 2^31 bytes a second):
        // the quotient in double precision, whose error is far below the byte added on top.
        double quotient = static_cast<double>(counted_in_bytes) * static_cast<double>(out_bytes_per_second) /
                          static_cast<double>(in_bytes_per_second);
        estimate_bytes = quotient < INT32_MAX ? static_cast<int64_t>(quotient) + 1 : -1;
    }
    if (estimate_bytes < 0) return -1;
    // Sub-steps and the position carry over between calls, so one call can complete one output
    // frame more than the estimate covers.
    uint64_t reserve_bytes = static_cast<uint64_t>(estimate_bytes) + out_frame_bytes;
    if (reserve_bytes > INT32_MAX) return -1;
    return static_cast<int32_t>(reserve_bytes);
}

uint32_t converter_process(sample_converter *c, const uint8_t *input, uint8_t *output, uint32_t in_bytes)
{
    if (!c) return 0;
    uint8_t *out = output;
    bool resampling = c->in_rate != c->out_rate;
    if (!input || in_bytes == 0) {
        if (resampling) out = drain(c, out);
        return static_cast<uint32_t>(out - output);
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
    else if (resampling)
        out = resample_block(c, input, frames, out);
    else
        out = convert_equal_rate_block(c, input, frames, out);
    return static_cast<uint32_t>(out - output);
}
