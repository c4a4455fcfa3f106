// Plans a track from a snapshot of the settings and its format: the target and the kind of file,
// the header, and the names of its files; remembers which files the track wrote. See
// track_plan.h.
#include "output/track_plan.h"

#include <string.h>

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

// The target record from the settings: the header copies cbSize bytes behind a codec record,
// which must lie within its buffer (the 2066 bytes of cfg_wfx, the bare record of cfg_wfx1). A
// hand-edited PCM record whose block align or byte rate disagree with its channels and bits
// would make every reader decode noise: the header says what the samples are.
static bool plan_target_format(track_plan *plan)
{
    const settings_values &settings = plan->settings;
    const WAVEFORMATEX *stored = &plan->input;
    uint32_t record_bytes = sizeof(WAVEFORMATEX);
    if (plan->single_file) {
        stored = &settings.wfx1;
    } else if (settings.cvt) {
        stored = reinterpret_cast<const WAVEFORMATEX *>(settings.wfx);
        record_bytes = format_buffer_bytes;
    }
    if (stored->wFormatTag != WAVE_FORMAT_PCM && stored->cbSize + sizeof(WAVEFORMATEX) > record_bytes) return false;
    memcpy(plan->target, stored, record_bytes);
    WAVEFORMATEX *target = reinterpret_cast<WAVEFORMATEX *>(plan->target);
    return target->wFormatTag != WAVE_FORMAT_PCM ||
           make_pcm_record(stored->nSamplesPerSec, stored->nChannels, stored->wBitsPerSample, target);
}

bool plan_track(int rate, int channels, int bits, track_plan *plan)
{
    if (rate < 1 || channels < 1 || bits < 8) return false;
    if (!make_pcm_record(static_cast<uint32_t>(rate), static_cast<uint32_t>(channels), static_cast<uint32_t>(bits),
                         &plan->input))
        return false;
    settings_snapshot(&plan->settings);
    const settings_values &settings = plan->settings;
    plan->single_file = settings.wav1 != 0;
    plan->has_header = true;
    plan->extension = ".wav";
    if (!plan_target_format(plan)) return false;
    const WAVEFORMATEX *target = plan_target(plan);
    if (!plan->single_file) {
        if (settings.mode == file_mode_raw) {
            plan->extension = ".raw";
            plan->has_header = false;
        } else if (settings.mode == file_mode_auto && target->wFormatTag == WAVE_FORMAT_MPEGLAYER3) {
            plan->extension = ".mp3";
            plan->has_header = false;
        }
    }
    // The single file never carries tags, nor splits: an append cuts what follows the audio. Raw
    // data has no place for them.
    plan->tags = tags_none;
    if (!plan->single_file && settings.info) {
        if (plan->has_header) plan->tags = tags_info_list;
        else if (target->wFormatTag == WAVE_FORMAT_MPEGLAYER3 && settings.mode == file_mode_auto) plan->tags = tags_id3;
    }
    plan->split_streams = !plan->single_file && settings.split;
    plan->cue_sheet = plan->single_file && settings.cue;
    plan->exists_policy = settings.exists < exists_policy_count ? settings.exists : exists_ask;
    plan->utf8_name_bytes = names_stored_as_utf8();
    plan->converting = memcmp(&plan->input, target, sizeof plan->input) != 0;
    plan->rf64 = settings.rf64 != 0;
    if (plan->has_header) wav_build_header(target, plan->rf64, plan->header, &plan->layout);
    plan->open_name[0] = 0;
    plan->written_count = 0;
    return true;
}

bool plan_file_path(const track_plan *plan, const playlist_entry *entry, BYTE exists_policy, unsigned copy,
                    char *path)
{
    name_recipe recipe = {plan->settings.waveoutdir, plan->settings.name, plan->extension,
                          exists_policy == exists_number || plan->split_streams, plan->utf8_name_bytes};
    return build_output_path(path, &recipe, entry, copy);
}

bool plan_names_another_file(const track_plan *plan, const playlist_entry *entry)
{
    char path[output_path_chars];
    return plan_file_path(plan, entry, plan->exists_policy, 0, path) && strcmp(path, plan->open_name) != 0;
}

BYTE plan_split_policy(const track_plan *plan)
{
    return plan->exists_policy == exists_ask ? exists_number : plan->exists_policy;
}

existing_file_action plan_existing_file(const track_plan *plan, BYTE exists_policy, const char *path)
{
    if (plan->single_file) return existing_append;
    switch (exists_policy) {
    case exists_replace: return plan_wrote(plan, path) ? existing_number : existing_replace;
    case exists_number: return existing_number;
    case exists_skip: return existing_skip;
    default: return existing_ask;
    }
}

// FNV-1a over the path, letters folded to one case as Windows compares names.
static uint64_t name_hash(const char *path)
{
    uint64_t hash = 0xCBF29CE484222325ull;
    for (; *path; path++) {
        char c = *path >= 'a' && *path <= 'z' ? static_cast<char>(*path - 'a' + 'A') : *path;
        hash = (hash ^ static_cast<BYTE>(c)) * 0x100000001B3ull;
    }
    return hash;
}

void plan_file_started(track_plan *plan, const char *name, const char *path)
{
    size_t length = strnlen(name, sizeof plan->open_name - 1);
    memcpy(plan->open_name, name, length);
    plan->open_name[length] = 0;
    if (!path) return;
    plan->written_names[plan->written_count % remembered_names] = name_hash(path);
    plan->written_count++;
}

// Two paths that share a hash count as one: the rare mistake numbers a file instead of replacing
// it, and never loses one.
bool plan_wrote(const track_plan *plan, const char *path)
{
    uint64_t hash = name_hash(path);
    uint32_t count = plan->written_count < remembered_names ? plan->written_count : remembered_names;
    for (uint32_t i = 0; i < count; i++)
        if (plan->written_names[i] == hash) return true;
    return false;
}
