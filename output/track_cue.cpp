// Owns cue_state: finds the single file's cue sheet, decides whether it is the file's own to add
// to, a stale one to write anew, or another file's to leave alone, and writes it whole through a
// new file renamed over the old one, so that a crash or a full disk leaves the old sheet or the
// new one, never a cut one. See track_cue.h.
#include "output/track_cue.h"

#include <string.h>

#include "output/handle_io.h"

track_cue cue_state;

static void note_problem(cue_problem problem) { news_note(&cue_state.news, problem); }

static void stop_keeping(void)
{
    if (cue_state.buffer) HeapFree(GetProcessHeap(), 0, cue_state.buffer);
    cue_state.buffer = nullptr;
    cue_state.keeping = false;
}

// Where the file's name begins in path.
static const char *name_in(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    return name;
}

static bool is_cue_extension(const char *extension)
{
    const char cue[] = ".cue";
    for (size_t i = 0; i < sizeof cue; i++) {
        char c = extension[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != cue[i]) return false;
    }
    return true;
}

// The sheet's path: the file's, its extension ".cue" (added where it has none). False for a file
// that is a .cue file itself.
static bool sheet_path_for(const char *audio_path, char *path)
{
    const char *name = name_in(audio_path);
    const char *dot = strrchr(name, '.');
    size_t stem = dot ? static_cast<size_t>(dot - audio_path) : strlen(audio_path);
    if (dot && is_cue_extension(dot)) return false;
    memcpy(path, audio_path, stem);
    memcpy(path + stem, ".cue", 5);
    return true;
}

// The sheet there, into the buffer: its bytes, 0 where there is none; false where it could not
// be read, or is larger than any sheet of ours (then *other_file).
static bool read_sheet(size_t *length, bool *other_file)
{
    *length = 0;
    *other_file = false;
    HANDLE file = CreateFileA(cue_state.path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    uint64_t size = 0;
    bool failed = false, read = handle_size(file, &size);
    if (read && size > cue_sheet_max_bytes) *other_file = true;
    read = read && !*other_file &&
           (size == 0 || handle_read(file, cue_state.buffer, static_cast<uint32_t>(size), &failed));
    CloseHandle(file);
    if (read) *length = static_cast<size_t>(size);
    return read;
}

// The sheet, whole, through a new file beside it that takes its place in one rename.
static void write_sheet(void)
{
    char temporary[output_path_chars];
    HANDLE file = handle_create_beside(cue_state.path, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        note_problem(cue_problem_write);
        return;
    }
    size_t length = 0;
    const char *bytes = cue_sheet_bytes(&cue_state.sheet, &length);
    bool written = handle_put(file, bytes, static_cast<uint32_t>(length)) == length;
    CloseHandle(file);
    if (written && MoveFileExA(temporary, cue_state.path, MOVEFILE_REPLACE_EXISTING)) return;
    DeleteFileA(temporary);
    note_problem(cue_problem_write);
}

// The sheet this track adds to: the file's own where its last start lies within the audio
// already there; else a new one, whose track 01 is that audio, titled with the file's name.
// False where the sheet is another file's, or cannot be read or take the file's tracks.
static bool take_sheet(const char *audio_path, uint64_t start_75ths)
{
    size_t length = 0;
    bool other_file = false;
    if (!read_sheet(&length, &other_file)) {
        note_problem(other_file ? cue_problem_other_file : cue_problem_write);
        return false;
    }
    cue_sheet_facts facts = {0, 0, 0};
    if (length > 0 && cue_sheet_read(cue_state.buffer, length, audio_path, &facts) != cue_read_ours) {
        note_problem(cue_problem_other_file);
        return false;
    }
    if (facts.tracks > 0 && facts.last_start_75ths <= start_75ths)
        return cue_sheet_adopt(&cue_state.sheet, cue_state.buffer, length, audio_path);
    return cue_sheet_start(&cue_state.sheet, cue_state.buffer, audio_path) &&
           (cue_state.audio_frames == 0 || cue_sheet_add_track(&cue_state.sheet, name_in(audio_path), 0) != 0);
}

void cue_track_opened(const char *audio_path, uint64_t audio_frames, uint32_t rate, const char *ansi_title)
{
    stop_keeping();
    news_clear(&cue_state.news);
    cue_state.audio_frames = audio_frames;
    cue_state.rate = rate;
    if (!sheet_path_for(audio_path, cue_state.path) || strcmp(cue_state.path, cue_state.left_alone) == 0) return;
    cue_state.buffer = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, cue_sheet_max_bytes));
    if (!cue_state.buffer) {
        note_problem(cue_problem_write);
        return;
    }
    uint64_t start = cue_start_75ths(audio_frames, rate);
    if (!take_sheet(audio_path, start)) {
        // Another file's sheet is the user's: it is left as it is for the rest of the run.
        if (news_found(&cue_state.news, cue_problem_other_file))
            memcpy(cue_state.left_alone, cue_state.path, sizeof cue_state.path);
        else
            note_problem(cue_problem_write);
        stop_keeping();
        return;
    }
    cue_state.keeping = true;
    cue_new_title(ansi_title, 0);
}

void cue_new_title(const char *ansi_title, uint64_t frames_into_track)
{
    if (!cue_state.keeping) return;
    uint64_t start = cue_start_75ths(cue_state.audio_frames + frames_into_track, cue_state.rate);
    if (cue_sheet_add_track(&cue_state.sheet, ansi_title, start) == 0) {
        note_problem(cue_problem_write); // the sheet holds no more
        return;
    }
    write_sheet();
}

void cue_track_closed(void) { stop_keeping(); }

bool cue_take_news(cue_problem *problem)
{
    BYTE taken;
    if (!news_take(&cue_state.news, &taken)) return false;
    *problem = static_cast<cue_problem>(taken);
    return true;
}

const char *cue_path(void) { return cue_state.path; }

void cue_reset(void)
{
    stop_keeping();
    memset(&cue_state, 0, sizeof cue_state);
}
