// Times the sample converter against what a user would otherwise reach for (libsamplerate,
// soxr, the speexdsp resampler) and the tightest plain loop for each job's format change, on one
// core, over the same generated signal in blocks of 576 frames. Prints the processor, its SIMD
// features and the converter's block loops, then one table of output frames per second; where
// the converter picks AVX2, its SSE2 loops (TOLLVANE_FORCE_SSE2=1) get a column of their own. For
// the equal-rate jobs the plain loop must give the converter's bytes exactly: the bench checks
// that over the whole signal before it times anything, and stops if they differ.
#include <samplerate.h>
#include <sched.h>
#include <soxr.h>
#include <speex/speex_resampler.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <windows.h>

#include "convert/converter_cpu.h"
#include "convert/sample_converter.h"

static const size_t block_frames = 576;
static const double min_seconds = 0.12; // per timed run; the best of three runs counts

struct job {
    const char *name;
    uint32_t in_rate, out_rate, out_channels, out_bits; // input: stereo 16-bit
};

static const job jobs[] = {
    {"44100->48000 stereo 16-bit", 44100, 48000, 2, 16},
    {"48000->44100 stereo 16-bit", 48000, 44100, 2, 16},
    {"44100->22050 stereo 16-bit", 44100, 22050, 2, 16},
    {"44100 stereo->8000 mono", 44100, 8000, 1, 16},
    {"16->24 bit, 44100 stereo", 44100, 44100, 2, 24},
    {"stereo->mono, 44100 16-bit", 44100, 44100, 1, 16},
};

// A few seconds of music-like stereo: two partials per channel and a little noise.
static std::vector<int16_t> make_signal(uint32_t rate, size_t frames)
{
    std::vector<int16_t> s(frames * 2);
    uint32_t noise = 1;
    for (size_t n = 0; n < frames; n++)
        for (int c = 0; c < 2; c++) {
            noise = noise * 1664525u + 1013904223u;
            double t = static_cast<double>(n) / rate;
            double v = 0.45 * sin(2 * M_PI * (220.0 + 110 * c) * t) + 0.25 * sin(2 * M_PI * 3150.0 * t + c) +
                       0.02 * ((noise >> 9) / 8388608.0 - 0.5);
            s[n * 2 + c] = static_cast<int16_t>(lrint(v * 32767));
        }
    return s;
}

static double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// The output side shared by the anchors: float samples to the job's width, as a user would write it.
static void put_float(float x, uint32_t bits, uint8_t *&out)
{
    double full = bits == 24 ? 8388608.0 : 32768.0;
    double v = std::max(-full, std::min(full - 1, std::floor(x * full)));
    int32_t i = static_cast<int32_t>(v);
    *out++ = static_cast<uint8_t>(i);
    *out++ = static_cast<uint8_t>(i >> 8);
    if (bits == 24) *out++ = static_cast<uint8_t>(i >> 16);
}

// Stereo to the job's channel count before resampling: an anchor resamples only what it keeps.
static const int16_t *premix(const job &j, const int16_t *in, size_t frames, std::vector<int16_t> &mono)
{
    if (j.out_channels == 2) return in;
    for (size_t n = 0; n < frames; n++) mono[n] = static_cast<int16_t>((in[2 * n] + in[2 * n + 1]) / 2);
    return mono.data();
}

static const uint8_t *as_bytes(const int16_t *samples) { return reinterpret_cast<const uint8_t *>(samples); }

// Each runner converts the whole signal in blocks and returns the output frames it produced.
typedef size_t (*runner)(const job &j, const std::vector<int16_t> &in);

static size_t run_converter_with(const job &j, const std::vector<int16_t> &in, bool sse2)
{
    SetEnvironmentVariableA("TOLLVANE_FORCE_SSE2", sse2 ? "1" : nullptr);
    sample_converter *c = converter_create(2, 16, j.in_rate, j.out_channels, j.out_bits, j.out_rate);
    SetEnvironmentVariableA("TOLLVANE_FORCE_SSE2", nullptr);
    std::vector<uint8_t> out(static_cast<size_t>(converter_output_size(c, block_frames * 4)));
    size_t frames = in.size() / 2, bytes = 0;
    for (size_t at = 0; at < frames; at += block_frames) {
        size_t n = std::min(block_frames, frames - at);
        bytes += converter_process(c, as_bytes(&in[at * 2]), out.data(), static_cast<uint32_t>(n * 4));
    }
    bytes += converter_process(c, nullptr, out.data(), 0);
    converter_destroy(c);
    return bytes / (j.out_channels * j.out_bits / 8);
}

static size_t run_converter(const job &j, const std::vector<int16_t> &in)
{
    return run_converter_with(j, in, false);
}

static size_t run_converter_sse2(const job &j, const std::vector<int16_t> &in)
{
    return run_converter_with(j, in, true);
}

// The job's format change without resampling, one sample or frame a pass, as tight as a plain
// loop gets: stereo to mono as the integer mean truncated toward zero, 16 to 24 bits as x << 8
// (a zero byte, then x's own two bytes: faster than storing the three bytes of the shifted value),
// 16-bit stereo as a copy. Returns the end of the output.
static uint8_t *plain_block(const job &j, const int16_t *s, size_t frames, uint8_t *o)
{
    if (j.out_channels == 1) {
        for (size_t k = 0; k < frames; k++, o += 2) {
            int16_t mean = static_cast<int16_t>((s[2 * k] + s[2 * k + 1]) / 2);
            memcpy(o, &mean, 2);
        }
    } else if (j.out_bits == 24) {
        for (size_t k = 0; k < 2 * frames; k++, o += 3) {
            o[0] = 0;
            memcpy(o + 1, &s[k], 2);
        }
    } else {
        memcpy(o, s, frames * 4);
        o += frames * 4;
    }
    return o;
}

static size_t run_plain(const job &j, const std::vector<int16_t> &in)
{
    std::vector<uint8_t> out(block_frames * 2 * 3);
    size_t frames = in.size() / 2, total = 0;
    for (size_t at = 0; at < frames; at += block_frames) {
        size_t n = std::min(block_frames, frames - at);
        plain_block(j, &in[at * 2], n, out.data());
        total += n;
        __asm__ volatile("" : : "r"(out.data()) : "memory");
    }
    return total;
}

// Equal rates: the converter's bytes over the whole signal, converted as run_converter does,
// must be the plain loop's.
static void check_plain_loop(const job &j, const std::vector<int16_t> &in)
{
    size_t frames = in.size() / 2, frame_bytes = j.out_channels * j.out_bits / 8;
    sample_converter *c = converter_create(2, 16, j.in_rate, j.out_channels, j.out_bits, j.out_rate);
    // room for the whole output and one call's reserve beyond it
    size_t reserve_bytes = static_cast<size_t>(converter_output_size(c, block_frames * 4));
    std::vector<uint8_t> ours(frames * frame_bytes + reserve_bytes);
    std::vector<uint8_t> plain(frames * frame_bytes);
    size_t ours_bytes = 0;
    for (size_t at = 0; at < frames; at += block_frames) {
        size_t n = std::min(block_frames, frames - at);
        ours_bytes += converter_process(c, as_bytes(&in[at * 2]), &ours[ours_bytes], static_cast<uint32_t>(n * 4));
    }
    ours_bytes += converter_process(c, nullptr, &ours[ours_bytes], 0);
    converter_destroy(c);
    plain_block(j, in.data(), frames, plain.data());
    size_t same = 0;
    while (same < plain.size() && same < ours_bytes && ours[same] == plain[same]) same++;
    if (ours_bytes != plain.size() || same != plain.size()) {
        fflush(stdout);
        fprintf(stderr, "converter_bench: %s: the plain loop's bytes differ from the converter's (%zu and %zu bytes, "
                        "first difference at byte %zu); its column would not time the same job\n",
                j.name, plain.size(), ours_bytes, same);
        abort();
    }
    printf("Same bytes from the plain loop as from the converter: %s, all %zu of them.\n", j.name, ours_bytes);
}

static size_t run_libsamplerate(const job &j, const std::vector<int16_t> &in, int type)
{
    int err = 0, ch = static_cast<int>(j.out_channels);
    SRC_STATE *src = src_new(type, ch, &err);
    double ratio = static_cast<double>(j.out_rate) / j.in_rate;
    size_t out_cap = static_cast<size_t>(block_frames * ratio) + 64;
    std::vector<float> fin(block_frames * 2), fout(out_cap * ch);
    std::vector<int16_t> mono(block_frames);
    std::vector<uint8_t> out(out_cap * ch * 3);
    size_t frames = in.size() / 2, total = 0;
    for (size_t at = 0; at < frames; at += block_frames) {
        size_t n = std::min(block_frames, frames - at);
        const int16_t *s = premix(j, &in[at * 2], n, mono);
        src_short_to_float_array(s, fin.data(), static_cast<int>(n * ch));
        SRC_DATA d = {};
        d.data_in = fin.data();
        d.input_frames = static_cast<long>(n);
        d.src_ratio = ratio;
        while (d.input_frames > 0) {
            d.data_out = fout.data();
            d.output_frames = static_cast<long>(out_cap);
            src_process(src, &d);
            uint8_t *o = out.data();
            if (j.out_bits == 16)
                src_float_to_short_array(fout.data(), reinterpret_cast<short *>(o),
                                         static_cast<int>(d.output_frames_gen * ch));
            else
                for (long k = 0; k < d.output_frames_gen * ch; k++) put_float(fout[k], j.out_bits, o);
            total += d.output_frames_gen;
            d.data_in += d.input_frames_used * ch;
            d.input_frames -= d.input_frames_used;
            if (d.input_frames_used == 0 && d.output_frames_gen == 0) break;
        }
    }
    src_delete(src);
    return total;
}

static size_t run_src_linear(const job &j, const std::vector<int16_t> &in) { return run_libsamplerate(j, in, SRC_LINEAR); }
static size_t run_src_sinc(const job &j, const std::vector<int16_t> &in) { return run_libsamplerate(j, in, SRC_SINC_FASTEST); }

static size_t run_soxr(const job &j, const std::vector<int16_t> &in)
{
    unsigned ch = j.out_channels;
    soxr_error_t err;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, j.out_bits == 16 ? SOXR_INT16_I : SOXR_FLOAT32_I);
    soxr_quality_spec_t q = soxr_quality_spec(SOXR_QQ, 0);
    soxr_t s = soxr_create(j.in_rate, j.out_rate, ch, &err, &io, &q, nullptr);
    size_t out_cap = static_cast<size_t>(block_frames * static_cast<double>(j.out_rate) / j.in_rate) + 1024;
    std::vector<float> buf(out_cap * ch);
    std::vector<int16_t> mono(block_frames);
    std::vector<uint8_t> out(out_cap * ch * 3);
    size_t frames = in.size() / 2, total = 0;
    for (size_t at = 0; at < frames; at += block_frames) {
        size_t n = std::min(block_frames, frames - at), done_in = 0, done_out = 0;
        const int16_t *src = premix(j, &in[at * 2], n, mono);
        soxr_process(s, src, n, &done_in, buf.data(), out_cap, &done_out);
        if (j.out_bits != 16) {
            uint8_t *o = out.data();
            for (size_t k = 0; k < done_out * ch; k++) put_float(buf[k], j.out_bits, o);
        }
        total += done_out;
    }
    size_t done_out = 0;
    soxr_process(s, nullptr, 0, nullptr, buf.data(), out_cap, &done_out);
    total += done_out;
    soxr_delete(s);
    return total;
}

static size_t run_speex(const job &j, const std::vector<int16_t> &in)
{
    int err = 0;
    unsigned ch = j.out_channels;
    SpeexResamplerState *st = speex_resampler_init(ch, j.in_rate, j.out_rate, 0, &err);
    size_t out_cap = static_cast<size_t>(block_frames * static_cast<double>(j.out_rate) / j.in_rate) + 64;
    std::vector<int16_t> buf(out_cap * ch), mono(block_frames);
    std::vector<float> fin(block_frames * 2), fout(out_cap * ch);
    std::vector<uint8_t> out(out_cap * ch * 3);
    size_t frames = in.size() / 2, total = 0;
    for (size_t at = 0; at < frames; at += block_frames) {
        size_t n = std::min(block_frames, frames - at);
        const int16_t *src = premix(j, &in[at * 2], n, mono);
        spx_uint32_t in_len = static_cast<spx_uint32_t>(n), out_len = static_cast<spx_uint32_t>(out_cap);
        if (j.out_bits == 16) {
            speex_resampler_process_interleaved_int(st, src, &in_len, buf.data(), &out_len);
        } else {
            for (size_t k = 0; k < n * ch; k++) fin[k] = src[k] * (1.0f / 32768);
            speex_resampler_process_interleaved_float(st, fin.data(), &in_len, fout.data(), &out_len);
            uint8_t *o = out.data();
            for (size_t k = 0; k < out_len * ch; k++) put_float(fout[k], j.out_bits, o);
        }
        total += out_len;
    }
    speex_resampler_destroy(st);
    return total;
}

// Best of three runs, each repeated until it lasts min_seconds: output frames per second.
static double measure(runner r, const job &j, const std::vector<int16_t> &in)
{
    double best = 0;
    for (int run = 0; run < 3; run++) {
        size_t frames = 0;
        double start = now(), elapsed;
        do {
            frames += r(j, in);
            elapsed = now() - start;
        } while (elapsed < min_seconds);
        best = std::max(best, frames / elapsed);
    }
    return best;
}

// The first processor's model name and clock as /proc/cpuinfo gives them, and the SIMD features
// its flags list that matter here.
static std::string cpu_model(std::string *simd)
{
    FILE *f = fopen("/proc/cpuinfo", "r");
    char line[4096];
    std::string model = "unknown CPU", mhz;
    while (f && fgets(line, sizeof line, f)) {
        const char *colon = strchr(line, ':');
        if (!colon) continue;
        std::string value = colon + 2 <= line + strlen(line) ? colon + 2 : "";
        value.erase(value.find_last_not_of("\n ") + 1);
        if (strncmp(line, "model name", 10) == 0 && model == "unknown CPU") model = value;
        if (strncmp(line, "cpu MHz", 7) == 0 && mhz.empty()) mhz = value;
        if (strncmp(line, "flags", 5) == 0 && simd->empty()) {
            std::string flags = " " + value + " ";
            for (const char *name : {"sse2", "ssse3", "sse4_1", "avx", "avx2", "fma", "avx512f"})
                if (flags.find(std::string(" ") + name + " ") != std::string::npos) *simd += std::string(" ") + name;
        }
    }
    if (f) fclose(f);
    return mhz.empty() ? model : model + " at " + mhz + " MHz";
}

int main()
{
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    bool pinned = sched_setaffinity(0, sizeof one, &one) == 0;

    char date[64];
    time_t t = time(nullptr);
    strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", gmtime(&t));
    printf("Sample converter benchmark, %s\n", date);
    std::string simd;
    std::string model = cpu_model(&simd);
    bool avx2 = converter_kernel_set() == kernels_avx2;
    printf("Machine: %s, %s, compiler %s\n", model.c_str(), pinned ? "pinned to one core" : "one thread", __VERSION__);
    printf("SIMD features:%s; the converter's block loops: %s%s\n", simd.empty() ? " none listed" : simd.c_str(),
           converter_kernel_name(converter_kernel_set()), avx2 ? " (SSE2 forced in a column of its own)" : "");
    printf("Input: stereo 16-bit, 3 s of two partials and noise per channel, blocks of %zu frames.\n", block_frames);
    printf("Cells: output frames per second (millions); x: the converter's speed over that anchor's.\n\n");

    for (const job &j : jobs)
        if (j.in_rate == j.out_rate) check_plain_loop(j, make_signal(j.in_rate, 3 * j.in_rate));
    printf("\n");

    struct column {
        const char *name;
        runner r;
    } columns[] = {
        {"src linear", run_src_linear}, {"src sinc fastest", run_src_sinc}, {"soxr quick", run_soxr},
        {"speex q0", run_speex},        {"plain loop", run_plain},
    };
    printf("| %-27s | %-17s |", "job", "converter (x rt)");
    if (avx2) printf(" %-16s |", "converter SSE2");
    for (const column &c : columns) printf(" %-16s |", c.name);
    printf("\n|-----------------------------|-------------------|");
    for (size_t k = 0; k < sizeof columns / sizeof columns[0] + avx2; k++) printf("------------------|");
    printf("\n");
    for (const job &j : jobs) {
        std::vector<int16_t> in = make_signal(j.in_rate, 3 * j.in_rate);
        double ours = measure(run_converter, j, in);
        printf("| %-27s | %7.1f (%6.0fx) |", j.name, ours / 1e6, ours / j.out_rate);
        fflush(stdout);
        if (avx2) {
            double sse2 = measure(run_converter_sse2, j, in);
            printf(" %6.1f  x%-7.2f |", sse2 / 1e6, ours / sse2);
        }
        for (const column &c : columns) {
            double theirs = measure(c.r, j, in);
            printf(" %6.1f  x%-7.2f |", theirs / 1e6, ours / theirs);
            fflush(stdout);
        }
        printf("\n");
    }
    printf("\nThe plain loop writes one output frame per input frame (no resampling): for the equal-rate jobs\n"
           "the converter's very bytes (checked above), for the others only the floor.\n");
    return 0;
}
