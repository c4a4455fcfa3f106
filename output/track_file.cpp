// Owns file_state: starts each of a track's files as its plan says (created, replaced through a
// temporary file, numbered, skipped, or the single file reopened), writes its audio directly or
// through the codec stage, and finishes it: drain, a cut to whole frames after a failed write,
// sizes, fact value, tags. Every failure about the file is told here, once per file.
#include "output/track_file.h"

#include <string.h>

#include "config/plugin_version.h"
#include "convert/codec_stage.h"
#include "output/output_file.h"

track_file file_state;

static const char cannot_create[] = "Cannot create output file";
static const char cannot_open[] = "Cannot open file";
static const char cannot_write[] = "Cannot write to output file";

// The question's own words beside the path.
constexpr unsigned overwrite_question_chars = output_path_chars + 64;

// How a file came to be open.
enum file_start : BYTE {
    start_created,  // made new by this open
    start_replace,  // exists, and is to be replaced: done once the conversion is set up
    start_append,   // the single file, to be appended to
    start_skip,     // exists, and the track is skipped
};

// The error box about the file.
static void show_file_error(const char *message) { show_error(file_state.player_window, file_state.path, message); }

static void show_init_error(void)
{
    MessageBoxA(file_state.player_window, "Error initializing output.", TOLLVANE_VERSION, MB_OK | MB_ICONERROR);
}

// The frame of a PCM file being appended to, whatever its header's block align says.
static uint32_t pcm_frame_bytes(const WAVEFORMATEX *format)
{
    uint32_t bytes = static_cast<uint32_t>(format->wBitsPerSample >> 3) * format->nChannels;
    return bytes ? bytes : 1;
}

static void close_file(void)
{
    // Nothing can be done about a close that fails: the writes were checked as they were made.
    if (file_state.file != INVALID_HANDLE_VALUE && file_state.file != nullptr) CloseHandle(file_state.file);
    file_state.file = INVALID_HANDLE_VALUE;
}

// Takes the first free name of "NAME (2)", "NAME (3)", ... with create-new, so that two
// players writing into one folder never share a file.
static bool create_numbered_copy(const track_plan *plan, const playlist_entry *entry)
{
    for (unsigned copy = 2; copy <= max_copy_number; copy++) {
        if (!plan_file_path(plan, entry, exists_number, copy, file_state.path)) break;
        file_state.file =
            CreateFileA(file_state.path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_state.file != INVALID_HANDLE_VALUE) return true;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    show_file_error(cannot_create);
    return false;
}

// Creates a new file, or finds one there: the single file is then appended to; a per-track file
// is replaced, numbered or skipped as exists_policy says, replaced only once the user says so
// where the policy asks. Returns false when the track must fail (the user was told, or declined).
static bool start_output_file(const track_plan *plan, const playlist_entry *entry, BYTE exists_policy,
                              file_start *start)
{
    const char *path = file_state.path;
    SetLastError(ERROR_SUCCESS);
    file_state.file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_state.file != INVALID_HANDLE_VALUE) {
        *start = start_created;
        return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        show_file_error(cannot_create);
        return false;
    }
    *start = plan->single_file ? start_append : start_replace;
    if (plan->single_file || exists_policy == exists_replace) return true;
    if (exists_policy == exists_skip) {
        *start = start_skip;
        return true;
    }
    if (exists_policy == exists_number) {
        *start = start_created;
        return create_numbered_copy(plan, entry);
    }
    char question[overwrite_question_chars];
    wsprintfA(question, "File: \"%s\" already exists. Overwrite ?", path);
    return MessageBoxA(file_state.player_window, question, TOLLVANE_VERSION, MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

// Reopens the single file and checks its header; the file itself is not changed yet, so that
// an open that fails later leaves it as it was. A data size of 0 (a track that was never
// closed) or one beyond the file's end takes the audio actually there, and every size is taken
// in whole frames, so that the track goes on the file's sample grid.
// A read, a move or the size query that fails refuses the file as one that cannot be opened:
// nothing may be decided from a header that was not read.
static bool open_for_append(void)
{
    file_state.file = CreateFileA(file_state.path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_state.file == INVALID_HANDLE_VALUE) {
        show_file_error(cannot_open);
        return false;
    }
    uint32_t fmt_bytes = 0, data_bytes = 0;
    wav_read_result header = wav_read_append_header(file_state.file, &file_state.existing_format, &fmt_bytes,
                                                    &data_bytes);
    uint32_t data_size_offset = wav_fmt_body_offset + fmt_bytes + 4; // behind the fmt body and "data"
    uint32_t payload_offset = data_size_offset + 4;
    uint64_t size = 0;
    if (header == wav_appendable && !file_size(file_state.file, &size)) header = wav_unreadable;
    if (header == wav_appendable && size < payload_offset) header = wav_unreadable; // it shrank meanwhile
    if (header == wav_appendable) {
        uint64_t present = size - payload_offset;
        if (data_bytes == 0 || data_bytes > present)
            data_bytes = present > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(present);
        data_bytes -= data_bytes % pcm_frame_bytes(&file_state.existing_format);
    }
    // A payload that would carry the container past 4 GiB cannot be patched after the append.
    if (header == wav_appendable && data_bytes > wav_max_file_bytes - payload_offset) header = wav_not_pcm;
    if (header != wav_appendable) {
        show_file_error(header == wav_unreadable ? cannot_open : "Not a PCM WAV file");
        close_file();
        return false;
    }
    file_state.data_size_offset = data_size_offset;
    file_state.data_bytes = data_bytes;
    file_state.payload_offset = payload_offset;
    file_state.file_bytes = data_bytes + payload_offset;
    return true;
}

// Every check and the set-up passed: only now does the single file change. What follows its
// audio goes (a pad byte, trailing chunks, a partial frame), cut where the header says the audio
// ends; then its sizes say the track is unfinished until the end patches them, and the track
// goes on from the end.
static bool prepare_append(void)
{
    HANDLE file = file_state.file;
    return file_cut(file, file_state.file_bytes) &&
           wav_patch_field(file, file_state.data_size_offset, wav_unfinished_size) &&
           wav_patch_field(file, wav_riff_size_offset, wav_unfinished_size) && file_seek(file, file_state.file_bytes);
}

// Undoes a start that failed after the file was created or reopened: the conversion goes, the
// file is closed, and own_path, a file this start made, is deleted; an appended file, or one
// that was to be replaced, stays as it was.
static bool fail_open(const char *own_path, const char *message)
{
    codec_destroy();
    close_file();
    // A file that cannot be deleted either is left as it is; the message says the track failed.
    if (own_path) DeleteFileA(own_path);
    if (message) show_file_error(message);
    else show_init_error();
    return false;
}

// What comes before the audio, in one write: the whole WAV header, its sizes unfinished until
// the end, or an MPEG stream's ID3 tag. One piece that did not reach the file would leave a file
// that no reader takes.
static bool write_start_of_file(const track_plan *plan, const playlist_entry *entry)
{
    const BYTE *bytes = plan->header;
    uint32_t length = plan->layout.header_bytes;
    BYTE tag[id3_tag_max_bytes];
    if (!plan->has_header) {
        if (!plan->info_tags || strcmp(plan->extension, ".mp3") != 0) return true;
        length = build_id3_tag(entry, tag);
        bytes = tag;
    }
    if (file_put(file_state.file, bytes, length) != length) return false;
    file_state.file_bytes = length;
    file_state.payload_offset = length;
    if (plan->has_header) {
        file_state.data_size_offset = plan->layout.data_size_offset;
        file_state.fact_offset = plan->layout.fact_offset;
    }
    return true;
}

// A new file: nothing in it, nothing told yet.
static void reset_file_state(HWND player_window)
{
    file_state.player_window = player_window;
    file_state.file = INVALID_HANDLE_VALUE;
    file_state.skipping = false;
    file_state.write_failed = false;
    file_state.size_limit_reached = false;
    file_state.codec_stop_told = false;
    file_state.codec_restart = true;
    file_state.file_bytes = 0;
    file_state.data_bytes = 0;
    file_state.payload_offset = 0;
    file_state.data_size_offset = 0;
    file_state.fact_offset = 0;
    file_state.info_bytes = 0;
    file_state.size_limit = wav_max_file_bytes;
}

// A file that replaces an existing one starts under a temporary name in the same folder, as long
// as the final path (its extension becomes ".~01", ".~02", ...), and takes the old file's place
// in one rename once its start is on disk: until then the old file stays as it was. It is held
// with FILE_SHARE_DELETE, without which an open file cannot be renamed.
constexpr unsigned max_temporary_number = 99;

static bool create_temporary_file(const track_plan *plan, char *temporary)
{
    size_t stem = strlen(file_state.path) - strlen(plan->extension);
    memcpy(temporary, file_state.path, stem);
    for (unsigned number = 1; number <= max_temporary_number; number++) {
        wsprintfA(temporary + stem, ".~%02u", number);
        file_state.file = CreateFileA(temporary, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_state.file != INVALID_HANDLE_VALUE) return true;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break; // one left by a crash
    }
    return false;
}

// The start of a file that replaces one: through the temporary file, which is gone again when
// any step fails (a program that holds the old file refuses the rename).
static bool start_replacement(const track_plan *plan, const playlist_entry *entry)
{
    char temporary[output_path_chars];
    if (!create_temporary_file(plan, temporary)) return fail_open(nullptr, cannot_create);
    if (!write_start_of_file(plan, entry)) return fail_open(temporary, cannot_write);
    if (!MoveFileExA(temporary, file_state.path, MOVEFILE_REPLACE_EXISTING)) return fail_open(temporary, cannot_create);
    return true;
}

// The path the file's entry gives it, or the single file's; false when the pattern leaves no
// name (told).
static bool name_file(const track_plan *plan, const playlist_entry *entry, BYTE exists_policy)
{
    if (plan->single_file) {
        size_t length = strnlen(plan->settings.wav1p, text_setting_bytes - 1); // the path is taken unchanged
        memcpy(file_state.path, plan->settings.wav1p, length);
        file_state.path[length] = 0;
        return true;
    }
    if (plan_file_path(plan, entry, exists_policy, 0, file_state.path)) return true;
    show_file_error(cannot_create); // the pattern's own text and number leave the title no room
    return false;
}

bool file_open(HWND player_window, track_plan *plan, const playlist_entry *entry, BYTE exists_policy)
{
    reset_file_state(player_window);
    if (!name_file(plan, entry, exists_policy)) return false;
    char name[output_path_chars];
    memcpy(name, file_state.path, sizeof name);
    // A stream that comes back to a title numbers the file instead of writing over its own audio.
    if (exists_policy == exists_replace && plan_wrote(plan, name)) exists_policy = exists_number;

    file_start start;
    if (!start_output_file(plan, entry, exists_policy, &start)) {
        file_state.file = INVALID_HANDLE_VALUE;
        return false;
    }
    if (start == start_skip) {
        // The track plays on and nothing is written: no file, no conversion.
        file_state.skipping = true;
        file_state.file = INVALID_HANDLE_VALUE;
        plan_file_started(plan, name, nullptr);
        return true;
    }
    const WAVEFORMATEX *target = plan_target(plan);
    bool converting = plan->converting;
    if (start == start_append) {
        if (!open_for_append()) return false;
        target = &file_state.existing_format;
        converting = memcmp(&plan->input, target, sizeof plan->input) != 0;
    }
    file_state.has_header = plan->has_header;
    file_state.converting = converting;
    file_state.target_rate = target->nSamplesPerSec;
    file_state.target_frame_bytes = start == start_append ? pcm_frame_bytes(target) : target->nBlockAlign;
    if (file_state.target_frame_bytes == 0) file_state.target_frame_bytes = 1; // refused by the set-up, never used

    // The conversion is set up before an existing file is replaced: a track that cannot start
    // never costs the file that was there.
    const char *own_path = start == start_created ? file_state.path : nullptr;
    if (converting && !codec_create(&plan->input, target)) return fail_open(own_path, nullptr);
    if (start == start_append) return prepare_append() || fail_open(nullptr, cannot_open);
    if (start == start_replace) {
        if (!start_replacement(plan, entry)) return false;
    } else if (!write_start_of_file(plan, entry)) {
        return fail_open(own_path, cannot_write);
    }
    if (plan->info_tags && plan->has_header) {
        file_state.info_bytes = build_info_chunk(entry, file_state.info_chunk);
        file_state.size_limit = wav_max_file_bytes - file_state.info_bytes; // room for the tags at the end
    }
    plan_file_started(plan, name, file_state.path);
    return true;
}

// Told once; from then on the file takes nothing more (see put_audio).
static void report_write_failure(void)
{
    if (file_state.write_failed) return;
    file_state.write_failed = true;
    show_file_error(cannot_write);
}

// Appends bytes of the target format. The counters advance by what reached the disk, so the
// header never claims audio the file does not hold. After a write that failed or was short,
// nothing more is written: a block written after a partial one would land off the frame or
// codec block grid, and every later sample would decode as noise. A WAV file stops at the
// 4 GiB its sizes can say (less its tags), on a whole frame of the target.
static void put_audio(const void *data, uint32_t bytes)
{
    if (file_state.write_failed) return;
    if (file_state.has_header && bytes > file_state.size_limit - file_state.file_bytes) {
        uint64_t unit = file_state.target_frame_bytes;
        bytes = static_cast<uint32_t>((file_state.size_limit - file_state.file_bytes) / unit * unit); // the rest goes
        if (!file_state.size_limit_reached) {
            file_state.size_limit_reached = true;
            show_file_error("WAV file size limit reached");
        }
    }
    if (bytes == 0) return;
    uint32_t written = file_put(file_state.file, data, bytes);
    file_state.file_bytes += written;
    file_state.data_bytes += written;
    if (written < bytes) report_write_failure();
}

// Through the stage: each piece it gives back is written as it comes, until a write fails.
static void put_converted(const BYTE *block, uint32_t length, bool stream_start)
{
    codec_feed(block, length, stream_start);
    codec_output output;
    while (!file_state.write_failed && codec_take(&output)) put_audio(output.bytes, output.byte_count);
    if (codec_stopped() && !file_state.codec_stop_told) {
        file_state.codec_stop_told = true;
        show_file_error("Codec stopped accepting data");
    }
}

void file_write(const BYTE *block, uint32_t length, int frames, bool stream_start)
{
    // After a failed write the block is dropped, the converter and codec not fed.
    if (file_state.skipping || file_state.write_failed) return;
    if (!file_state.converting) {
        put_audio(block, length);
        return;
    }
    put_converted(block, length, stream_start || file_state.codec_restart);
    if (frames > 0) file_state.codec_restart = false;
}

// The fact value counts the sample frames the codec consumed (not the silence that fills up its
// last block), in the target's rate where the codec's source runs at another, and never more
// than the blocks that stay in the file can hold. 64 bits: a long stream at a high rate passes
// what 32 bits hold.
static uint32_t fact_value(const codec_frames &counts)
{
    uint64_t frames = counts.consumed_frames;
    uint64_t blocks = file_state.data_bytes / file_state.target_frame_bytes;
    if (counts.frames_per_block && frames > blocks * counts.frames_per_block) frames = blocks * counts.frames_per_block;
    uint64_t source_rate = counts.source_rate;
    if (source_rate && source_rate != file_state.target_rate)
        frames = (frames * file_state.target_rate + source_rate / 2) / source_rate;
    return frames > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(frames);
}

// After a write that failed or was short, the file keeps what reached it in whole frames or
// codec blocks from the start of the audio, and is cut there.
static void keep_whole_units(void)
{
    uint64_t kept = file_state.data_bytes - file_state.data_bytes % file_state.target_frame_bytes;
    if (kept == file_state.data_bytes) return;
    file_state.file_bytes -= file_state.data_bytes - kept;
    file_state.data_bytes = kept;
    file_cut(file_state.file, file_state.file_bytes); // a cut that fails is not told twice
}

// The tags behind the audio, counted in the RIFF size; a chunk that reached the file only in part
// is cut off again.
static bool put_info_chunk(void)
{
    HANDLE file = file_state.file;
    if (file_seek(file, file_state.file_bytes) &&
        file_put(file, file_state.info_chunk, file_state.info_bytes) == file_state.info_bytes) {
        file_state.file_bytes += file_state.info_bytes;
        return true;
    }
    file_cut(file, file_state.file_bytes);
    return false;
}

// The data size first, then the pad byte behind the audio and the tags, then the RIFF size and
// the fact value: a player killed in between leaves either the unfinished marker or the true
// size, never a pad byte counted as audio. The pad byte belongs to the data chunk, not to the
// file: an appended file whose fmt body is odd and unpadded puts an even chunk at an odd offset,
// and a stray byte after it would read as the start of another chunk. So the pad byte follows
// only a data size that was written (behind one that still says "to the end" it would read as
// a sample), and the tags only a clean end of the data chunk: anything else would stand where a
// reader looks for the next chunk. A header that does not describe the file must not pass for a
// finished one.
static void finish_header(const codec_frames &counts)
{
    HANDLE file = file_state.file;
    bool chunk_ended = wav_patch_field(file, file_state.data_size_offset, static_cast<uint32_t>(file_state.data_bytes));
    if (chunk_ended && (file_state.data_bytes & 1)) {
        BYTE pad = 0;
        chunk_ended = file_seek(file, file_state.file_bytes) && file_put(file, &pad, 1) == 1;
        if (chunk_ended) file_state.file_bytes += 1;
    }
    bool patched = chunk_ended;
    if (file_state.info_bytes != 0 && !file_state.write_failed) patched = chunk_ended && put_info_chunk();
    patched = wav_patch_field(file, wav_riff_size_offset, static_cast<uint32_t>(file_state.file_bytes - 8)) && patched;
    if (file_state.fact_offset != 0)
        patched = wav_patch_field(file, file_state.fact_offset, fact_value(counts)) && patched;
    if (!patched) report_write_failure();
}

void file_finish(bool stream_start)
{
    if (file_state.skipping || file_state.file == INVALID_HANDLE_VALUE) return;
    codec_frames counts = {0, 0, 0};
    if (file_state.converting) {
        // After a failed write the drain would only make audio that cannot join what is on disk.
        if (!file_state.write_failed) put_converted(nullptr, 0, stream_start || file_state.codec_restart);
        counts = codec_frame_counts();
        codec_destroy();
    }
    if (file_state.write_failed) keep_whole_units();
    if (file_state.has_header) finish_header(counts);
    close_file();
}

void file_reset(void)
{
    memset(&file_state, 0, sizeof file_state);
    file_state.file = INVALID_HANDLE_VALUE;
}
