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
    WAVEFORMATEX pcm_target; // a PCM target with the frame size and byte rate its fields imply
    const WAVEFORMATEX *target;
    bool single_file;
    bool has_header;
    bool converting;
    const char *extension; // per-track files only
    BYTE header[wav_header_max_bytes];
    wav_layout layout;
};

// How the track's file came to be open.
enum file_start : BYTE {
    start_created,  // made new by this open
    start_replace,  // exists, and the user said to replace it: done once the conversion is set up
    start_append,   // the single file, to be appended to
};

// The error box about the track's file.
static void show_file_error(const char *message) { show_error(output_state.player_window, output_state.path, message); }

static void show_init_error(void)
{
    MessageBoxA(output_state.player_window, "Error initializing output.", TOLLVANE_VERSION, MB_OK | MB_ICONERROR);
}

// A PCM record as every reader and the converter compute it: the frame size and byte rate follow
// from channels, bits and rate. False when there is no whole sample, or the values do not fit
// the record's fields.
static bool make_pcm_record(uint32_t rate, uint32_t channels, uint32_t bits, WAVEFORMATEX *record)
{
    if (rate < 1 || channels < 1 || channels > 0xFFFF || bits < 8 || bits > 0xFFFF) return false;
    uint64_t frame_bytes = static_cast<uint64_t>(bits >> 3) * channels;
    if (frame_bytes > 0xFFFF || frame_bytes * rate > 0xFFFFFFFFu) return false;
    record->wFormatTag = WAVE_FORMAT_PCM;
    record->nChannels = static_cast<WORD>(channels);
    record->nSamplesPerSec = rate;
    record->nAvgBytesPerSec = static_cast<DWORD>(frame_bytes * rate);
    record->nBlockAlign = static_cast<WORD>(frame_bytes);
    record->wBitsPerSample = static_cast<WORD>(bits);
    record->cbSize = 0;
    return true;
}

// The frame of a PCM file being appended to, whatever its header's block align says.
static uint32_t pcm_frame_bytes(const WAVEFORMATEX *format)
{
    uint32_t bytes = static_cast<uint32_t>(format->wBitsPerSample >> 3) * format->nChannels;
    return bytes ? bytes : 1;
}

// False for a format that no header can describe, or no converter or codec can take: no whole
// sample frame, no rate, a frame or byte rate wider than the record's fields.
static bool plan_track(int rate, int channels, int bits, track_plan *plan)
{
    if (rate < 1 || channels < 1 || bits < 8) return false;
    if (!make_pcm_record(static_cast<uint32_t>(rate), static_cast<uint32_t>(channels), static_cast<uint32_t>(bits),
                         &plan->input))
        return false;

    plan->single_file = cfg_wav1 != 0;
    plan->has_header = true;
    plan->extension = ".wav";
    if (plan->single_file) {
        plan->target = &cfg_wfx1;
    } else {
        plan->target = cfg_cvt ? cfg_wfx_format() : &plan->input;
        if (cfg_mode == file_mode_raw) {
            plan->extension = ".raw";
            plan->has_header = false;
        } else if (cfg_mode == file_mode_auto && plan->target->wFormatTag == WAVE_FORMAT_MPEGLAYER3) {
            plan->extension = ".mp3";
            plan->has_header = false;
        }
    }
    if (plan->target->wFormatTag == WAVE_FORMAT_PCM && plan->target != &plan->input) {
        // A hand-edited record whose block align or byte rate disagree with its channels and
        // bits would make every reader decode noise: the header says what the samples are.
        const WAVEFORMATEX *stored = plan->target;
        if (!make_pcm_record(stored->nSamplesPerSec, stored->nChannels, stored->wBitsPerSample, &plan->pcm_target))
            return false;
        plan->target = &plan->pcm_target;
    }
    // The header copies cbSize bytes behind a codec record, which must lie within its buffer:
    // the 2066 bytes of cfg_wfx, the bare record of cfg_wfx1.
    uint32_t record_bytes = plan->target == cfg_wfx_format() ? format_buffer_bytes : sizeof(WAVEFORMATEX);
    if (plan->target->wFormatTag != WAVE_FORMAT_PCM && plan->target->cbSize + sizeof(WAVEFORMATEX) > record_bytes)
        return false;
    plan->converting = memcmp(&plan->input, plan->target, sizeof plan->input) != 0;
    if (plan->has_header) wav_build_header(plan->target, plan->header, &plan->layout);
    return true;
}

static void close_file(void)
{
    // Nothing can be done about a close that fails: the writes were checked as they were made.
    if (output_state.file != INVALID_HANDLE_VALUE && output_state.file != nullptr) CloseHandle(output_state.file);
    output_state.file = INVALID_HANDLE_VALUE;
}

// Creates a new file, or finds one there: the single file is then appended to, and a per-track
// file is replaced only when the user says so. Returns false when open must fail (the user was
// told, or declined).
static bool start_output_file(bool single_file, file_start *start)
{
    const char *path = output_state.path;
    SetLastError(ERROR_SUCCESS);
    output_state.file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output_state.file != INVALID_HANDLE_VALUE) {
        *start = start_created;
        return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        show_file_error(cannot_create);
        return false;
    }
    if (single_file) {
        *start = start_append;
        return true;
    }
    char question[overwrite_question_chars];
    wsprintfA(question, "File: \"%s\" already exists. Overwrite ?", path);
    if (MessageBoxA(output_state.player_window, question, TOLLVANE_VERSION, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return false;
    *start = start_replace;
    return true;
}

// Reopens the single file and checks its header; the file itself is not changed yet, so that
// an open that fails later leaves it as it was. A data size of 0 (a track that was never
// closed) or one beyond the file's end takes the audio actually there, and every size is taken
// in whole frames, so that the track goes on the file's sample grid.
// A read, a move or the size query that fails refuses the file as one that cannot be opened:
// nothing may be decided from a header that was not read.
static bool open_for_append(void)
{
    const char *path = output_state.path;
    output_state.file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output_state.file == INVALID_HANDLE_VALUE) {
        show_file_error(cannot_open);
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
        if (data_bytes == 0 || data_bytes > present) data_bytes = present > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(present);
        data_bytes -= data_bytes % pcm_frame_bytes(&output_state.existing_format);
    }
    // A payload that would carry the container past 4 GiB cannot be patched after the append.
    if (header == wav_appendable && data_bytes > wav_max_file_bytes - payload_offset) header = wav_not_pcm;
    if (header != wav_appendable) {
        show_file_error(header == wav_unreadable ? cannot_open : "Not a PCM WAV file");
        close_file();
        return false;
    }
    output_state.data_size_offset = data_size_offset;
    output_state.data_bytes = data_bytes;
    output_state.payload_offset = payload_offset;
    output_state.file_bytes = data_bytes + payload_offset;
    return true;
}

// Every check and the set-up passed: only now does the single file change. What follows its
// audio goes (a pad byte, trailing chunks, a partial frame), cut where the header says the audio
// ends; then its sizes say the track is unfinished until close patches them, and the track goes
// on from the end.
static bool prepare_append(void)
{
    HANDLE file = output_state.file;
    return file_cut(file, output_state.file_bytes) &&
           wav_patch_field(file, output_state.data_size_offset, wav_unfinished_size) &&
           wav_patch_field(file, wav_riff_size_offset, wav_unfinished_size) &&
           file_seek(file, output_state.file_bytes);
}

// Undoes an open that failed after the file was created or reopened: the conversion goes, the
// file is closed, and deleted when this open made it; an appended file, or one the user agreed
// to replace but that was not replaced yet, stays as it was.
static int fail_open(bool own_file, const char *message)
{
    codec_destroy();
    close_file();
    // A file that cannot be deleted either is left as it is; the message says the track failed.
    if (own_file) DeleteFileA(output_state.path);
    if (message) show_file_error(message);
    else show_init_error();
    return -1;
}

// The whole header in one write, its sizes zero until close. One piece that did not reach the
// file would leave a file that is no WAV file.
static bool write_new_header(const track_plan &plan)
{
    if (file_put(output_state.file, plan.header, plan.layout.header_bytes) != plan.layout.header_bytes) return false;
    output_state.file_bytes = plan.layout.header_bytes;
    output_state.payload_offset = plan.layout.header_bytes;
    output_state.data_size_offset = plan.layout.data_size_offset;
    output_state.fact_offset = plan.layout.fact_offset;
    return true;
}

static void name_output_file(const track_plan &plan)
{
    if (plan.single_file) {
        size_t length = strnlen(cfg_wav1p, sizeof cfg_wav1p - 1); // the path is taken unchanged
        memcpy(output_state.path, cfg_wav1p, length);
        output_state.path[length] = 0;
    } else {
        build_output_path(output_state.player_window, output_state.path, plan.extension);
    }
}

// A new track: its format, clocks and counters from zero, nothing told yet.
static void reset_track_state(int rate, int channels, int bits)
{
    output_state.frames_since_flush = 0;
    output_state.frames_since_open = 0;
    output_state.input_rate = rate;
    output_state.input_channels = channels;
    output_state.input_bits = bits;
    output_state.write_failed = false;
    output_state.size_limit_reached = false;
    output_state.codec_stop_told = false;
    output_state.file_bytes = 0;
    output_state.data_bytes = 0;
    output_state.payload_offset = 0;
    output_state.data_size_offset = 0;
    output_state.fact_offset = 0;
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
    name_output_file(plan);
    reset_track_state(rate, channels, bits);

    file_start start;
    if (!start_output_file(plan.single_file, &start)) {
        output_state.file = INVALID_HANDLE_VALUE;
        return -1;
    }
    bool own_file = start == start_created;
    const WAVEFORMATEX *target = plan.target;
    bool converting = plan.converting;
    if (start == start_append) {
        if (!open_for_append()) return -1;
        target = &output_state.existing_format;
        converting = memcmp(&plan.input, target, sizeof plan.input) != 0;
    }
    output_state.has_header = plan.has_header;
    output_state.converting = converting;
    output_state.target_rate = target->nSamplesPerSec;
    output_state.target_frame_bytes = start == start_append ? pcm_frame_bytes(target) : target->nBlockAlign;
    if (output_state.target_frame_bytes == 0) output_state.target_frame_bytes = 1; // refused by the set-up, never used

    // The conversion is set up before an existing file is replaced: a track that cannot start
    // never costs the file that was there.
    if (converting && !codec_create(&plan.input, target)) return fail_open(own_file, nullptr);
    if (start == start_replace) {
        output_state.file =
            CreateFileA(output_state.path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (output_state.file == INVALID_HANDLE_VALUE) return fail_open(false, cannot_create);
        own_file = true;
    }
    if (start == start_append) {
        if (!prepare_append()) return fail_open(false, cannot_open);
    } else if (plan.has_header && !write_new_header(plan)) {
        return fail_open(own_file, cannot_write);
    }
    output_state.is_open = true;
    output_state.time_offset_ms = 0;
    return 0;
}

// Told once; from then on the track writes nothing more (see put_audio).
static void report_write_failure(void)
{
    if (output_state.write_failed) return;
    output_state.write_failed = true;
    show_file_error(cannot_write);
}

// Appends bytes of the target format. The counters advance by what reached the disk, so the
// header never claims audio the file does not hold. After a write that failed or was short,
// nothing more is written: a block written after a partial one would land off the frame or
// codec block grid, and every later sample would decode as noise. A WAV file stops at the
// 4 GiB its sizes can say, on a whole frame of the target.
static void put_audio(const void *data, uint32_t bytes)
{
    if (output_state.write_failed) return;
    if (output_state.has_header && bytes > wav_max_file_bytes - output_state.file_bytes) {
        uint32_t unit = output_state.target_frame_bytes;
        bytes = (wav_max_file_bytes - output_state.file_bytes) / unit * unit; // the rest is dropped
        if (!output_state.size_limit_reached) {
            output_state.size_limit_reached = true;
            show_file_error("WAV file size limit reached");
        }
    }
    if (bytes == 0) return;
    uint32_t written = file_put(output_state.file, data, bytes);
    output_state.file_bytes += written;
    output_state.data_bytes += written;
    if (written < bytes) report_write_failure();
}

// Through the stage: each piece it gives back is written as it comes, until a write fails.
static void put_converted(const BYTE *block, uint32_t length)
{
    codec_feed(block, length, output_state.frames_since_flush == 0);
    codec_output output;
    while (!output_state.write_failed && codec_take(&output)) put_audio(output.bytes, output.byte_count);
    if (codec_stopped() && !output_state.codec_stop_told) {
        output_state.codec_stop_told = true;
        show_file_error("Codec stopped accepting data");
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
    // After a failed write the block is dropped, the converter and codec not fed; the player's
    // clock runs on.
    if (!output_state.write_failed) {
        if (output_state.converting) put_converted(reinterpret_cast<const BYTE *>(block), static_cast<uint32_t>(length));
        else put_audio(block, static_cast<uint32_t>(length));
    }
    output_state.frames_since_flush += frames;
    output_state.frames_since_open += static_cast<uint32_t>(frames);
    return 0;
}

// The fact value counts the sample frames the codec consumed (not the silence that fills up its
// last block), in the target's rate where the codec's source runs at another, and never more
// than the blocks that stay in the file can hold. 64 bits: a long stream at a high rate passes
// what 32 bits hold.
static uint32_t fact_value(const codec_frames &counts)
{
    uint64_t frames = counts.consumed_frames;
    uint64_t blocks = output_state.data_bytes / output_state.target_frame_bytes;
    if (counts.frames_per_block && frames > blocks * counts.frames_per_block) frames = blocks * counts.frames_per_block;
    uint64_t source_rate = counts.source_rate;
    if (source_rate && source_rate != output_state.target_rate)
        frames = (frames * output_state.target_rate + source_rate / 2) / source_rate;
    return frames > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(frames);
}

// After a write that failed or was short, the file keeps what reached it in whole frames or
// codec blocks from the start of the audio, and is cut there.
static void keep_whole_units(void)
{
    uint32_t kept = output_state.data_bytes - output_state.data_bytes % output_state.target_frame_bytes;
    if (kept == output_state.data_bytes) return;
    output_state.file_bytes -= output_state.data_bytes - kept;
    output_state.data_bytes = kept;
    file_cut(output_state.file, output_state.file_bytes); // a cut that fails is not told twice
}

// The data size first, then the pad byte behind the audio, then the RIFF size and the fact
// value: a player killed in between leaves either the unfinished marker or the true size, never
// a pad byte counted as audio. The pad byte belongs to the data chunk, not to the file: an
// appended file whose fmt body is odd and unpadded puts an even chunk at an odd offset, and a
// stray byte after it would read as the start of another chunk. A header that does not describe
// the file must not pass for a finished one.
static void finish_header(const codec_frames &counts)
{
    HANDLE file = output_state.file;
    bool patched = true;
    if (output_state.data_size_offset != 0)
        patched = wav_patch_field(file, output_state.data_size_offset, output_state.data_bytes);
    if (output_state.data_bytes & 1) {
        BYTE pad = 0;
        if (file_seek(file, output_state.file_bytes) && file_put(file, &pad, 1) == 1) output_state.file_bytes += 1;
        else patched = false;
    }
    patched = wav_patch_field(file, wav_riff_size_offset, output_state.file_bytes - 8) && patched;
    if (output_state.fact_offset != 0) patched = wav_patch_field(file, output_state.fact_offset, fact_value(counts)) && patched;
    if (!patched) report_write_failure();
}

void track_close(void)
{
    // A close without an open track (after a failed open, or twice) has nothing to finish.
    if (!output_state.is_open) return;
    output_state.is_open = false;
    codec_frames counts = {0, 0, 0};
    if (output_state.converting) {
        // After a failed write the drain would only make audio that cannot join what is on disk.
        if (!output_state.write_failed) put_converted(nullptr, 0);
        counts = codec_frame_counts();
        codec_destroy();
    }
    if (output_state.write_failed) keep_whole_units();
    if (output_state.has_header) finish_header(counts);
    close_file();
}

void track_flush(int time_ms)
{
    output_state.time_offset_ms = time_ms;
    output_state.frames_since_flush = 0;
}

// Before the first open the rate is 0: MulDiv gives -1 and so does the clock, less the offset.
int track_time_ms(void)
{
    return output_state.time_offset_ms + MulDiv(output_state.frames_since_flush, 1000, output_state.input_rate);
}

void track_reset(void)
{
    memset(&output_state, 0, sizeof output_state);
    output_state.file = INVALID_HANDLE_VALUE;
}
