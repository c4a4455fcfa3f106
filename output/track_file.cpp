// Owns file_state: starts each of a track's files as its plan says (created, replaced through a
// temporary file, numbered, skipped, or the single file reopened), writes its audio directly or
// through the codec stage, and finishes it: drain, a cut to whole frames after a failed write,
// sizes, fact value, tags. What goes wrong is noted once per file for the track output to tell.
#include "output/track_file.h"

#include <string.h>

#include "convert/codec_stage.h"
#include "output/handle_io.h"
#include "output/single_file.h"
#include "output/wav_container.h"

track_file file_state;

static void note_problem(file_problem problem) { news_note(&file_state.news, problem); }

static void close_file(void)
{
    // Nothing can be done about a close that fails: the writes were checked as they were made.
    if (file_state.file != INVALID_HANDLE_VALUE && file_state.file != nullptr) CloseHandle(file_state.file);
    file_state.file = INVALID_HANDLE_VALUE;
}

// Undoes a start that failed after the file was created or reopened: the conversion goes, the
// file is closed, and own_path, a file this start made, is deleted; an appended file, or one
// that was to be replaced, stays as it was.
static file_start fail_open(const char *own_path, file_problem problem)
{
    codec_destroy();
    close_file();
    // A file that cannot be deleted either is left as it is; the message says the track failed.
    if (own_path) DeleteFileA(own_path);
    note_problem(problem);
    return file_refused;
}

static bool create_new(const char *path, DWORD share)
{
    file_state.file = CreateFileA(path, GENERIC_WRITE, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_state.file != INVALID_HANDLE_VALUE;
}

static bool exists_already(void)
{
    DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// Takes the first free name of "NAME (2)", "NAME (3)", ... with create-new, so that two
// players writing into one folder never share a file.
static bool create_numbered_copy(const track_plan *plan, const playlist_entry *entry)
{
    for (unsigned copy = 2; copy <= max_copy_number; copy++) {
        if (!plan_file_path(plan, entry, exists_number, copy, file_state.path)) return false;
        if (create_new(file_state.path, 0)) return true;
        if (!exists_already()) return false;
    }
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
        if (plan->tags != tags_id3) return true;
        length = build_id3_tag(entry, tag);
        bytes = tag;
    }
    if (handle_put(file_state.file, bytes, length) != length) return false;
    file_state.file_bytes = length;
    file_state.payload_offset = length;
    if (plan->has_header) {
        file_state.data_size_offset = plan->layout.data_size_offset;
        file_state.fact_offset = plan->layout.fact_offset;
        file_state.reservation_offset = plan->layout.reservation_offset;
        file_state.grows_past_4_gib = plan->layout.reservation_offset != 0;
    }
    return true;
}

// A file that replaces an existing one starts under a temporary name beside it and takes the old
// file's place in one rename once its start is on disk: until then the old file stays as it was.
// Any step that fails (a program that holds the old file refuses the rename) takes the temporary
// file away again.
static file_start start_replacement(const track_plan *plan, const playlist_entry *entry)
{
    char temporary[output_path_chars];
    file_state.file = handle_create_beside(file_state.path, temporary);
    if (file_state.file == INVALID_HANDLE_VALUE) return fail_open(nullptr, problem_cannot_create);
    if (!write_start_of_file(plan, entry)) return fail_open(temporary, problem_cannot_write);
    if (!MoveFileExA(temporary, file_state.path, MOVEFILE_REPLACE_EXISTING))
        return fail_open(temporary, problem_cannot_create);
    return file_started;
}

// The path the file's entry gives it, or the single file's, taken unchanged.
static bool name_file(const track_plan *plan, const playlist_entry *entry, BYTE exists_policy)
{
    if (!plan->single_file) return plan_file_path(plan, entry, exists_policy, 0, file_state.path);
    size_t length = strnlen(plan->settings.wav1p, text_setting_bytes - 1);
    memcpy(file_state.path, plan->settings.wav1p, length);
    file_state.path[length] = 0;
    return true;
}

// A new file: nothing in it, nothing told yet.
static void reset_file_state(void)
{
    file_state.file = INVALID_HANDLE_VALUE;
    file_state.skipping = false;
    file_state.write_failed = false;
    news_clear(&file_state.news);
    file_state.codec_restart = true;
    file_state.file_bytes = 0;
    file_state.data_bytes = 0;
    file_state.start_frames = 0;
    file_state.payload_offset = 0;
    file_state.data_size_offset = 0;
    file_state.fact_offset = 0;
    file_state.reservation_offset = 0;
    file_state.grows_past_4_gib = false;
    file_state.rf64 = false;
    file_state.info_bytes = 0;
    file_state.size_limit = wav_max_file_bytes;
}

// The single file, found there: reopened, its header read and its audio found; then, once the
// conversion is set up, prepared. Until then it stays as it was.
static file_start start_append(const track_plan *plan)
{
    file_state.file = CreateFileA(file_state.path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_state.file == INVALID_HANDLE_VALUE) return fail_open(nullptr, problem_cannot_open);
    single_file_audio audio;
    single_file_check check = single_file_read(file_state.file, plan->rf64, &audio);
    if (check != single_file_appendable)
        return fail_open(nullptr, check == single_file_unreadable ? problem_cannot_open : problem_not_pcm);
    file_state.data_size_offset = audio.data_size_offset;
    file_state.reservation_offset = audio.reservation_offset;
    file_state.grows_past_4_gib = audio.grows_past_4_gib;
    file_state.rf64 = audio.rf64;
    file_state.data_bytes = audio.data_bytes;
    file_state.payload_offset = audio.payload_offset;
    file_state.file_bytes = audio.payload_offset + audio.data_bytes;
    file_state.has_header = true;
    file_state.converting = memcmp(&plan->input, &audio.format, sizeof plan->input) != 0;
    file_state.target_rate = audio.format.nSamplesPerSec;
    file_state.target_frame_bytes = wav_pcm_frame_bytes(&audio.format);
    file_state.start_frames = audio.data_bytes / file_state.target_frame_bytes;
    if (file_state.converting && !codec_create(&plan->input, &audio.format))
        return fail_open(nullptr, problem_no_conversion);
    if (!single_file_prepare(file_state.file, &audio)) return fail_open(nullptr, problem_cannot_open);
    return file_started;
}

// A per-track file, or a new single file: created new or to replace one, its conversion set up
// before anything replaces the file that was there (a track that cannot start never costs it),
// then its start written.
static file_start start_new_file(const track_plan *plan, const playlist_entry *entry, bool replacing)
{
    const WAVEFORMATEX *target = plan_target(plan);
    file_state.has_header = plan->has_header;
    file_state.converting = plan->converting;
    file_state.target_rate = target->nSamplesPerSec;
    file_state.target_frame_bytes = target->nBlockAlign ? target->nBlockAlign : 1; // 0: refused by the set-up
    const char *own_path = replacing ? nullptr : file_state.path;
    if (plan->converting && !codec_create(&plan->input, target)) return fail_open(own_path, problem_no_conversion);
    if (replacing) {
        file_start start = start_replacement(plan, entry);
        if (start != file_started) return start;
    } else if (!write_start_of_file(plan, entry)) {
        return fail_open(own_path, problem_cannot_write);
    }
    if (plan->tags == tags_info_list) {
        file_state.info_bytes = build_info_chunk(entry, file_state.info_chunk);
        file_state.size_limit = wav_max_file_bytes - file_state.info_bytes; // room for the tags at the end
    }
    return file_started;
}

file_start file_open(track_plan *plan, const playlist_entry *entry, BYTE exists_policy)
{
    reset_file_state();
    if (!name_file(plan, entry, exists_policy)) {
        note_problem(problem_cannot_create); // the pattern's own text and number leave the title no room
        return file_refused;
    }
    char name[output_path_chars];
    memcpy(name, file_state.path, sizeof name);
    SetLastError(ERROR_SUCCESS);
    existing_file_action action = existing_replace;
    bool created = create_new(file_state.path, 0);
    if (!created) {
        if (!exists_already()) return fail_open(nullptr, problem_cannot_create);
        action = plan_existing_file(plan, exists_policy, file_state.path);
    }
    if (!created && action == existing_ask) return file_asks;
    if (!created && action == existing_skip) {
        file_state.skipping = true; // the track plays on and nothing is written: no file, no conversion
        plan_file_started(plan, name, nullptr);
        return file_started;
    }
    if (!created && action == existing_number) {
        if (!create_numbered_copy(plan, entry)) return fail_open(nullptr, problem_cannot_create);
        created = true;
    }
    file_start start = !created && action == existing_append ? start_append(plan)
                                                             : start_new_file(plan, entry, !created);
    if (start == file_started) plan_file_started(plan, name, file_state.path);
    return start;
}

// After a write that failed or was short, nothing more is written.
static void report_write_failure(void)
{
    file_state.write_failed = true;
    note_problem(problem_cannot_write);
}

// Appends bytes of the target format. The counters advance by what reached the disk, so the
// header never claims audio the file does not hold. After a write that failed or was short,
// nothing more is written: a block written after a partial one would land off the frame or
// codec block grid, and every later sample would decode as noise. A WAV file stops at the
// 4 GiB its sizes can say (less its tags), on a whole frame of the target.
static void put_audio(const void *data, uint32_t bytes)
{
    if (file_state.write_failed) return;
    bool past_32_bits =
        file_state.has_header && !file_state.rf64 && bytes > file_state.size_limit - file_state.file_bytes;
    if (past_32_bits && file_state.grows_past_4_gib) {
        // The room reserved at the start takes the 64-bit sizes; then the audio goes on.
        if (!wav_become_rf64(file_state.file, file_state.reservation_offset) ||
            !handle_seek(file_state.file, file_state.file_bytes)) {
            report_write_failure();
            return;
        }
        file_state.rf64 = true;
        past_32_bits = false;
    }
    if (past_32_bits) {
        uint64_t unit = file_state.target_frame_bytes;
        bytes = static_cast<uint32_t>((file_state.size_limit - file_state.file_bytes) / unit * unit); // the rest goes
        note_problem(problem_size_limit);
    }
    if (bytes == 0) return;
    uint32_t written = handle_put(file_state.file, data, bytes);
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
    if (codec_stopped()) note_problem(problem_codec_stopped);
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
// what 32 bits hold, which RF64's sample count holds.
static uint64_t fact_frames(const codec_frames &counts)
{
    uint64_t frames = counts.consumed_frames;
    uint64_t blocks = file_state.data_bytes / file_state.target_frame_bytes;
    if (counts.frames_per_block && frames > blocks * counts.frames_per_block) frames = blocks * counts.frames_per_block;
    uint64_t source_rate = counts.source_rate;
    if (source_rate && source_rate != file_state.target_rate)
        frames = (frames * file_state.target_rate + source_rate / 2) / source_rate;
    return frames;
}

// After a write that failed or was short, the file keeps what reached it in whole frames or
// codec blocks from the start of the audio, and is cut there.
static void keep_whole_units(void)
{
    uint64_t kept = file_state.data_bytes - file_state.data_bytes % file_state.target_frame_bytes;
    if (kept == file_state.data_bytes) return;
    file_state.file_bytes -= file_state.data_bytes - kept;
    file_state.data_bytes = kept;
    handle_cut(file_state.file, file_state.file_bytes); // a cut that fails is not told twice
}

// The tags behind the audio, counted in the RIFF size; a chunk that reached the file only in part
// is cut off again.
static bool put_info_chunk(void)
{
    HANDLE file = file_state.file;
    if (handle_seek(file, file_state.file_bytes) &&
        handle_put(file, file_state.info_chunk, file_state.info_bytes) == file_state.info_bytes) {
        file_state.file_bytes += file_state.info_bytes;
        return true;
    }
    handle_cut(file, file_state.file_bytes);
    return false;
}

// The sizes go into the 32-bit fields of a plain WAV file, into the ds64 chunk of an RF64 file,
// whose own fields keep saying all ones (its fact value too, for a codec format).
static bool patch_data_size(HANDLE file)
{
    if (!file_state.rf64)
        return wav_patch_field(file, file_state.data_size_offset, static_cast<uint32_t>(file_state.data_bytes));
    return wav_patch_field64(file, file_state.reservation_offset + 8 + ds64_data_size, file_state.data_bytes);
}

static bool patch_riff_size(HANDLE file)
{
    uint64_t riff = file_state.file_bytes - 8;
    if (!file_state.rf64) return wav_patch_field(file, wav_riff_size_offset, static_cast<uint32_t>(riff));
    return wav_patch_field64(file, file_state.reservation_offset + 8 + ds64_riff_size, riff);
}

static bool patch_frame_count(HANDLE file, const codec_frames &counts)
{
    uint64_t frames =
        file_state.fact_offset ? fact_frames(counts) : file_state.data_bytes / file_state.target_frame_bytes;
    if (file_state.rf64)
        return wav_patch_field64(file, file_state.reservation_offset + 8 + ds64_sample_count, frames) &&
               (!file_state.fact_offset || wav_patch_field(file, file_state.fact_offset, wav_unfinished_size));
    if (!file_state.fact_offset) return true;
    uint32_t fact = frames > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(frames);
    return wav_patch_field(file, file_state.fact_offset, fact);
}

// The data size first, then the pad byte behind the audio and the tags, then the RIFF size and
// the frame count: a player killed in between leaves either the unfinished marker or the true
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
    bool chunk_ended = patch_data_size(file);
    if (chunk_ended && (file_state.data_bytes & 1)) {
        BYTE pad = 0;
        chunk_ended = handle_seek(file, file_state.file_bytes) && handle_put(file, &pad, 1) == 1;
        if (chunk_ended) file_state.file_bytes += 1;
    }
    bool patched = chunk_ended;
    if (file_state.info_bytes != 0 && !file_state.write_failed) patched = chunk_ended && put_info_chunk();
    patched = patch_riff_size(file) && patched;
    patched = patch_frame_count(file, counts) && patched;
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

bool file_take_news(file_problem *problem)
{
    BYTE taken;
    if (!news_take(&file_state.news, &taken)) return false;
    *problem = static_cast<file_problem>(taken);
    return true;
}

const char *file_path(void) { return file_state.path; }
uint64_t file_start_frames(void) { return file_state.start_frames; }
uint32_t file_rate(void) { return file_state.target_rate; }

void file_reset(void)
{
    memset(&file_state, 0, sizeof file_state);
    file_state.file = INVALID_HANDLE_VALUE;
}
