// Owns output_state: open picks the target format and kind of file from the settings, names
// and creates the file (asking before it replaces one, or appending to the single file) and
// writes the header; write appends blocks; close drains the codec stage and patches the sizes.
#include "track_output.h"

#include "../config/settings_store.h"
#include "../convert/codec_stage.h"
#include "../host/out_module.h"
#include "output_file.h"
#include "wav_container.h"

track_output output_state;

static const char cannot_create[] = "Cannot create output file";
static const char cannot_open[] = "Cannot open file";
static const char cannot_write[] = "Cannot write to output file";

static void show_init_error(void)
{
    MessageBoxA(module_record.main_window, "Error initializing output.", plugin_caption, MB_OK | MB_ICONERROR);
}

static void close_file(void)
{
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
        show_error(path, cannot_create);
        return false;
    }
    if (single_file) {
        *appending = true;
        return true;
    }
    char question[output_path_chars + 64];
    wsprintfA(question, "File: \"%s\" already exists. Overwrite ?", path);
    if (MessageBoxA(module_record.main_window, question, plugin_caption, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return false;
    output_state.file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output_state.file == INVALID_HANDLE_VALUE) {
        show_error(path, cannot_create);
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
        show_error(path, cannot_open);
        return false;
    }
    uint32_t fmt_bytes = 0, data_bytes = 0;
    wav_read_result header =
        wav_read_append_header(output_state.file, &output_state.existing_format, &fmt_bytes, &data_bytes);
    uint32_t payload_offset = fmt_bytes + 28; // "RIFF", size, "WAVE", "fmt ", size, body, "data", size
    if (header == wav_appendable) {
        DWORD high = 0;
        SetLastError(ERROR_SUCCESS);
        DWORD low = GetFileSize(output_state.file, &high);
        uint64_t size = (static_cast<uint64_t>(high) << 32) | low;
        if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) header = wav_unreadable;
        else if (size < payload_offset) header = wav_unreadable; // it shrank since the header was read
        uint64_t present = size - payload_offset;
        if (header == wav_appendable && (data_bytes == 0 || data_bytes > present)) {
            uint32_t frame_bytes = output_state.existing_format.nBlockAlign;
            if (frame_bytes == 0) frame_bytes = 1;
            present -= present % frame_bytes;
            data_bytes = present > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(present);
        }
    }
    // A payload that would carry the container past 4 GiB cannot be patched after the append.
    if (header == wav_appendable && data_bytes > wav_max_file_bytes - payload_offset) header = wav_not_pcm;
    if (header != wav_appendable) {
        show_error(path, header == wav_unreadable ? cannot_open : "Not a PCM WAV file");
        close_file();
        return false;
    }
    output_state.data_size_offset = fmt_bytes + 24;
    output_state.data_bytes = data_bytes;
    output_state.file_bytes = data_bytes + payload_offset;
    return true;
}

// Undoes an open that failed after the file was created or reopened: the conversion goes, the
// file is closed, and deleted when this open created it; an appended file stays as it was.
static int fail_open(bool appending, const char *message)
{
    release_conversion();
    close_file();
    if (!appending) DeleteFileA(output_state.path);
    if (message) show_error(output_state.path, message);
    else show_init_error();
    return -1;
}

int track_open(int rate, int channels, int bits)
{
    // A player that opens again without closing would leave the earlier file unpatched.
    if (output_state.is_open) track_close();
    // No whole sample frame, or no rate: every later division by them would fail.
    if (rate < 1 || channels < 1 || channels > 0xFFFF || bits < 8 || bits > 0xFFFF) {
        show_init_error();
        return -1;
    }
    // The format record holds the frame size in 16 bits and the byte rate in 32.
    uint64_t frame_bytes = static_cast<uint64_t>(bits >> 3) * static_cast<uint64_t>(channels);
    if (frame_bytes > 0xFFFF || frame_bytes * static_cast<uint64_t>(rate) > 0xFFFFFFFFu) {
        show_init_error();
        return -1;
    }
    WAVEFORMATEX input;
    input.wFormatTag = WAVE_FORMAT_PCM;
    input.nChannels = static_cast<WORD>(channels);
    input.nSamplesPerSec = static_cast<DWORD>(rate);
    input.nAvgBytesPerSec = static_cast<DWORD>(bits >> 3) * static_cast<DWORD>(rate) * static_cast<DWORD>(channels);
    input.nBlockAlign = static_cast<WORD>((bits >> 3) * channels);
    input.wBitsPerSample = static_cast<WORD>(bits);
    input.cbSize = 0;

    bool converting = cfg_cvt != 0;
    const WAVEFORMATEX *target = converting ? cfg_wfx_format() : &input;
    bool single_file = cfg_wav1 != 0;
    bool write_header = true;
    if (single_file) {
        size_t length = strnlen(cfg_wav1p, sizeof cfg_wav1p - 1); // the path is taken unchanged
        memcpy(output_state.path, cfg_wav1p, length);
        output_state.path[length] = 0;
        target = &cfg_wfx1;
        converting = true;
    } else {
        const char *extension = ".wav";
        if (cfg_mode == 2) {
            extension = ".raw";
            write_header = false;
        } else if (cfg_mode == 0 && target->wFormatTag == WAVE_FORMAT_MPEGLAYER3) {
            extension = ".mp3";
            write_header = false;
        }
        build_output_path(output_state.path, extension);
    }
    if (memcmp(&input, target, sizeof input) == 0) converting = false;

    output_state.frames_written = 0;
    output_state.track_frames = 0;
    output_state.input_rate = rate;
    output_state.input_channels = channels;
    output_state.input_bits = bits;
    output_state.write_failed = false;
    output_state.size_limit_reached = false;
    paused = 0;

    bool appending = false;
    if (!create_output_file(single_file, &appending)) {
        output_state.file = INVALID_HANDLE_VALUE;
        return -1;
    }
    output_state.file_bytes = 0;
    output_state.data_bytes = 0;
    output_state.data_size_offset = 0;
    output_state.fact_offset = 0;
    if (appending) {
        if (!open_for_append()) return -1;
        target = &output_state.existing_format;
        converting = memcmp(&input, target, sizeof input) != 0;
    }
    output_state.write_header = write_header;
    output_state.converting = converting;
    output_state.target_rate = target->nSamplesPerSec;
    output_state.target_frame_bytes = target->nBlockAlign ? target->nBlockAlign : 1;

    bool new_header = write_header && !appending;
    if (new_header && !wav_write_riff_start()) return fail_open(appending, cannot_write);
    if (converting && !setup_conversion(&input, target)) return fail_open(appending, nullptr);
    if (new_header && !wav_write_format_chunks(target)) return fail_open(appending, cannot_write);
    // Every check and the set-up passed: only now does anything after the payload go (a pad
    // byte, trailing chunks, a partial frame), cut where the header says the payload ends.
    if (appending && !file_cut(output_state.file, output_state.file_bytes))
        return fail_open(appending, cannot_open);

    codec_state.source_pending = 0;
    codec_state.staging_pending = 0;
    output_state.is_open = true;
    output_state.time_offset_ms = 0;
    return 0;
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
    if (output_state.converting) convert_and_write(reinterpret_cast<const BYTE *>(block), static_cast<uint32_t>(length));
    else output_append(block, static_cast<uint32_t>(length));
    output_state.frames_written += frames;
    output_state.track_frames += static_cast<uint32_t>(frames);
    return 0;
}

void track_close(void)
{
    // A close without an open track (after a failed open, or twice) has nothing to finish.
    if (!output_state.is_open) return;
    output_state.is_open = false;
    if (output_state.converting) {
        convert_and_write(nullptr, 0);
        release_conversion();
    }
    if (output_state.write_header) {
        // The fact value counts the track's own sample frames in the target's rate, from the
        // start of the track (a seek does not shorten the file), rounded to the nearest frame;
        // the silence that fills up a codec's last block is not counted. 64 bits: a long stream
        // at a high rate passes what MulDiv's signed operands hold.
        uint64_t rate = static_cast<uint64_t>(output_state.input_rate);
        uint64_t frames = output_state.track_frames;
        uint64_t fact = (frames * output_state.target_rate + rate / 2) / rate;
        // A header that does not describe the file must not pass for a finished one.
        if (!wav_patch_sizes(fact > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(fact)))
            output_report_write_failure();
    }
    close_file();
}
