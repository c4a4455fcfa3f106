// Owns output_state: open plans the track from the settings (target format, kind of file,
// header), then creates the file or reopens the single file, sets up the conversion and writes
// the header; write hands each block to the file, through the codec stage when it converts;
// close drains the stage and patches the sizes. Every failure is told here, once per track.
#include "track_output.h"

#include <string.h>

#include "../config/plugin_version.h"
#include "../config/settings_store.h"
#include "../convert/codec_stage.h"
#include "output_file.h"

track_output output_state;

static const char cannot_create[] = "Cannot create output file";
static const char cannot_open[] = "Cannot open file";
static const char cannot_write[] = "Cannot write to output file";

// The question's own words beside the path.
constexpr unsigned overwrite_question_chars = output_path_chars + 64;

// What a track needs, decided from its format and the settings alone, before any file is
// touched. Appending may still replace the target by the single file's own format.
struct track_plan {
    WAVEFORMATEX input;
    const WAVEFORMATEX *target;
    bool single_file;
    bool write_header;
    bool converting;
    const char *extension; // per-track files only
    BYTE header[wav_header_max_bytes];
    wav_layout layout;
};

// The error box about the track's file.
static void tell(const char *message) { show_error(output_state.player_window, output_state.path, message); }

static void show_init_error(void)
{
    MessageBoxA(output_state.player_window, "Error initializing output.", TOLLVANE_VERSION, MB_OK | MB_ICONERROR);
}

// False for a format that no header can describe, or no converter or codec can take: no whole
// sample frame, no rate, a frame or byte rate wider than the record's fields.
static bool plan_track(int rate, int channels, int bits, track_plan *plan)
{
    if (rate < 1 || channels < 1 || channels > 0xFFFF || bits < 8 || bits > 0xFFFF) return false;
    uint64_t frame_bytes = static_cast<uint64_t>(bits >> 3) * static_cast<uint64_t>(channels);
    if (frame_bytes > 0xFFFF || frame_bytes * static_cast<uint64_t>(rate) > 0xFFFFFFFFu) return false;
    WAVEFORMATEX &input = plan->input;
    input.wFormatTag = WAVE_FORMAT_PCM;
    input.nChannels = static_cast<WORD>(channels);
    input.nSamplesPerSec = static_cast<DWORD>(rate);
    input.nAvgBytesPerSec = static_cast<DWORD>(frame_bytes * static_cast<uint64_t>(rate));
    input.nBlockAlign = static_cast<WORD>(frame_bytes);
    input.wBitsPerSample = static_cast<WORD>(bits);
    input.cbSize = 0;

    plan->single_file = cfg_wav1 != 0;
    plan->write_header = true;
    plan->extension = ".wav";
    if (plan->single_file) {
        plan->target = &cfg_wfx1;
    } else {
        plan->target = cfg_cvt ? cfg_wfx_format() : &input;
        if (cfg_mode == 2) {
            plan->extension = ".raw";
            plan->write_header = false;
        } else if (cfg_mode == 0 && plan->target->wFormatTag == WAVE_FORMAT_MPEGLAYER3) {
            plan->extension = ".mp3";
            plan->write_header = false;
        }
    }
    // The header copies cbSize bytes behind a codec record, which must lie within its buffer:
    // the 2066 bytes of cfg_wfx, the bare record of cfg_wfx1.
    uint32_t record_bytes = plan->target == cfg_wfx_format() ? format_buffer_bytes : sizeof(WAVEFORMATEX);
    if (plan->target->wFormatTag != WAVE_FORMAT_PCM && plan->target->cbSize + sizeof(WAVEFORMATEX) > record_bytes)
        return false;
    plan->converting = memcmp(&input, plan->target, sizeof input) != 0;
    if (plan->write_header) wav_build_header(plan->target, plan->header, &plan->layout);
    return true;
}

static void close_file(void)
{
    // Nothing can be done about a close that fails: the writes were checked as they were made.
    if (output_state.file != INVALID_HANDLE_VALUE && output_state.file != nullptr) CloseHandle(output_state.file);
    output_state.file = INVALID_HANDLE_VALUE;
}

// Creates a new file, or asks before replacing one; in single-file mode an existing file is
// appended to. Returns false when open must fail (the user was told, or declined).
static bool create_output_file(bool single_file, bool *appending)
{
    const char *path = output_state.path;
    *appending = false;
    SetLastError(ERROR_SUCCESS);
    output_state.file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output_state.file != INVALID_HANDLE_VALUE) return true;

    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        tell(cannot_create);
        return false;
    }
    if (single_file) {
        *appending = true;
        return true;
    }
    char question[overwrite_question_chars];
    wsprintfA(question, "File: \"%s\" already exists. Overwrite ?", path);
    if (MessageBoxA(output_state.player_window, question, TOLLVANE_VERSION, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return false;
    output_state.file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output_state.file == INVALID_HANDLE_VALUE) {
        tell(cannot_create);
        return false;
    }
    return true;
}

// Reopens the single file and checks its header; the file itself is not changed yet, so that
// an open that fails later leaves it as it was. A data size of 0 (a track that was never
// closed) or one beyond the file's end takes the audio actually there, in whole frames.
// A read, a move or the size query that fails refuses the file as one that cannot be opened:
// nothing may be decided from a header that was not read.
static bool open_for_append(void)
{
    const char *path = output_state.path;
    output_state.file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output_state.file == INVALID_HANDLE_VALUE) {
        tell(cannot_open);
        return false;
    }
    uint32_t fmt_bytes = 0, data_bytes = 0;
    wav_read_result header =
        wav_read_append_header(output_state.file, &output_state.existing_format, &fmt_bytes, &data_bytes);
    uint32_t data_size_offset = wav_fmt_body_offset + fmt_bytes + 4; // behind the fmt body and "data"
    uint32_t payload_offset = data_size_offset + 4;
    uint64_t size = 0;
    if (header == wav_appendable && !file_size(output_state.file, &size)) header = wav_unreadable;
    if (header == wav_appendable && size < payload_offset) header = wav_unreadable; // it shrank meanwhile
    if (header == wav_appendable) {
        uint64_t present = size - payload_offset;
        if (data_bytes == 0 || data_bytes > present) {
            uint32_t frame_bytes = output_state.existing_format.nBlockAlign;
            if (frame_bytes == 0) frame_bytes = 1;
            present -= present % frame_bytes;
            data_bytes = present > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(present);
        }
    }
    // A payload that would carry the container past 4 GiB cannot be patched after the append.
    if (header == wav_appendable && data_bytes > wav_max_file_bytes - payload_offset) header = wav_not_pcm;
    if (header != wav_appendable) {
        tell(header == wav_unreadable ? cannot_open : "Not a PCM WAV file");
        close_file();
        return false;
    }
    output_state.data_size_offset = data_size_offset;
    output_state.data_bytes = data_bytes;
    output_state.file_bytes = data_bytes + payload_offset;
    return true;
}

// Undoes an open that failed after the file was created or reopened: the conversion goes, the
// file is closed, and deleted when this open created it; an appended file stays as it was.
static int fail_open(bool appending, const char *message)
{
    codec_destroy();
    close_file();
    // A file that cannot be deleted either is left as it is; the message says the track failed.
    if (!appending) DeleteFileA(output_state.path);
    if (message) tell(message);
    else show_init_error();
    return -1;
}

static bool write_whole(const void *data, uint32_t bytes)
{
    return file_put(output_state.file, data, bytes) == bytes;
}

int track_open(HWND player_window, int rate, int channels, int bits)
{
    // A player that opens again without closing would leave the earlier file unpatched.
    track_close();
    output_state.player_window = player_window;
    track_plan plan;
    if (!plan_track(rate, channels, bits, &plan)) {
        show_init_error();
        return -1;
    }

    if (plan.single_file) {
        size_t length = strnlen(cfg_wav1p, sizeof cfg_wav1p - 1); // the path is taken unchanged
        memcpy(output_state.path, cfg_wav1p, length);
        output_state.path[length] = 0;
    } else {
        build_output_path(output_state.player_window, output_state.path, plan.extension);
    }
    output_state.frames_written = 0;
    output_state.track_frames = 0;
    output_state.input_rate = rate;
    output_state.input_channels = channels;
    output_state.input_bits = bits;
    output_state.write_failed = false;
    output_state.size_limit_reached = false;
    output_state.codec_stop_told = false;
    output_state.file_bytes = 0;
    output_state.data_bytes = 0;
    output_state.data_size_offset = 0;
    output_state.fact_offset = 0;

    bool appending = false;
    if (!create_output_file(plan.single_file, &appending)) {
        output_state.file = INVALID_HANDLE_VALUE;
        return -1;
    }
    const WAVEFORMATEX *target = plan.target;
    bool converting = plan.converting;
    if (appending) {
        if (!open_for_append()) return -1;
        target = &output_state.existing_format;
        converting = memcmp(&plan.input, target, sizeof plan.input) != 0;
    }
    output_state.write_header = plan.write_header;
    output_state.converting = converting;
    output_state.target_rate = target->nSamplesPerSec;
    output_state.target_frame_bytes = target->nBlockAlign ? target->nBlockAlign : 1;

    if (converting && !codec_create(&plan.input, target)) return fail_open(appending, nullptr);
    if (appending) {
        // Every check and the set-up passed: only now does anything after the payload go (a pad
        // byte, trailing chunks, a partial frame), cut where the header says the payload ends.
        if (!file_cut(output_state.file, output_state.file_bytes)) return fail_open(appending, cannot_open);
    } else if (plan.write_header) {
        // One piece that did not reach the file would leave a file that is no WAV file.
        if (!write_whole(plan.header, plan.layout.header_bytes)) return fail_open(appending, cannot_write);
        output_state.file_bytes = plan.layout.header_bytes;
        output_state.data_size_offset = plan.layout.data_size_offset;
        output_state.fact_offset = plan.layout.fact_offset;
    }
    output_state.is_open = true;
    output_state.time_offset_ms = 0;
    return 0;
}

static void report_write_failure(void)
{
    if (output_state.write_failed) return;
    output_state.write_failed = true;
    tell(cannot_write);
}

// Appends bytes of the target format. The counters advance by what reached the disk, so the
// header never claims audio the file does not hold; a failed or short write is told once. A
// WAV file stops at the 4 GiB its sizes can say, on a whole frame of the target.
static void put_audio(const void *data, uint32_t bytes)
{
    if (output_state.write_header && bytes > wav_max_file_bytes - output_state.file_bytes) {
        uint32_t unit = output_state.target_frame_bytes;
        bytes = (wav_max_file_bytes - output_state.file_bytes) / unit * unit; // the rest is dropped
        if (!output_state.size_limit_reached) {
            output_state.size_limit_reached = true;
            tell("WAV file size limit reached");
        }
    }
    if (bytes == 0) return;
    uint32_t written = file_put(output_state.file, data, bytes);
    output_state.file_bytes += written;
    output_state.data_bytes += written;
    if (written < bytes) report_write_failure();
}

// Through the stage: each piece it gives back is written as it comes.
static void put_converted(const BYTE *block, uint32_t length)
{
    codec_feed(block, length, output_state.frames_written == 0);
    codec_output output;
    while (codec_take(&output)) put_audio(output.bytes, output.byte_count);
    if (codec_stopped() && !output_state.codec_stop_told) {
        output_state.codec_stop_told = true;
        tell("Codec stopped accepting data");
    }
}

int track_write(char *block, int length)
{
    if (cfg_thread) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    else Sleep(0);
    if (!output_state.is_open) return 0;

    // Nothing to write or count; an empty block must not reach the converter either, which
    // takes a call without input for the end of the track.
    if (length <= 0) return 0;
    int frames = length / ((output_state.input_bits >> 3) * output_state.input_channels);
    if (output_state.converting) put_converted(reinterpret_cast<const BYTE *>(block), static_cast<uint32_t>(length));
    else put_audio(block, static_cast<uint32_t>(length));
    output_state.frames_written += frames;
    output_state.track_frames += static_cast<uint32_t>(frames);
    return 0;
}

// The fact value counts the track's own sample frames in the target's rate, from the start of
// the track (a flush does not shorten the file), rounded to the nearest frame; the silence that
// fills up a codec's last block is not counted. 64 bits: a long stream at a high rate passes
// what MulDiv's signed operands hold.
static uint32_t fact_value(void)
{
    uint64_t rate = static_cast<uint64_t>(output_state.input_rate);
    uint64_t frames = output_state.track_frames;
    uint64_t fact = (frames * output_state.target_rate + rate / 2) / rate;
    return fact > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(fact);
}

// The pad byte belongs to the data chunk, not to the file: an appended file whose fmt body is
// odd and unpadded puts an even chunk at an odd offset, and a stray byte after it would read as
// the start of another chunk. Then the sizes; a header that does not describe the file must
// not pass for a finished one.
static void finish_header(void)
{
    if (output_state.data_bytes & 1) {
        BYTE pad = 0;
        uint32_t written = file_put(output_state.file, &pad, 1);
        output_state.file_bytes += written;
        if (written != 1) report_write_failure();
    }
    wav_layout layout = {0, output_state.data_size_offset, output_state.fact_offset};
    wav_sizes sizes = {output_state.file_bytes, output_state.data_bytes, fact_value()};
    if (!wav_patch_sizes(output_state.file, &layout, &sizes)) report_write_failure();
}

void track_close(void)
{
    // A close without an open track (after a failed open, or twice) has nothing to finish.
    if (!output_state.is_open) return;
    output_state.is_open = false;
    if (output_state.converting) {
        put_converted(nullptr, 0);
        codec_destroy();
    }
    if (output_state.write_header) finish_header();
    close_file();
}

void track_flush(int time_ms)
{
    output_state.time_offset_ms = time_ms;
    output_state.frames_written = 0;
}

// Before the first open the rate is 0: MulDiv gives -1 and so does the clock, less the offset.
int track_time_ms(void)
{
    return output_state.time_offset_ms + MulDiv(output_state.frames_written, 1000, output_state.input_rate);
}

void track_reset(void)
{
    memset(&output_state, 0, sizeof output_state);
    output_state.file = INVALID_HANDLE_VALUE;
}
