// One output file of a track: what the track needs (target format, kind of file, header), the
// file's start (created, replaced, numbered, skipped, or the single file reopened to append
// to), its audio, and its end (the drain, sizes, fact value and tags). A track has one file, or
// one per title when a stream is split. Used by the track output; file_state is written here
// and nowhere else.
#ifndef TOLLVANE_TRACK_FILE_H
#define TOLLVANE_TRACK_FILE_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

#include "config/settings_store.h"
#include "output/file_tags.h"
#include "output/output_naming.h"
#include "output/wav_container.h"

// What a track needs, decided from its format and the settings alone when it opens, before any
// file is touched; every file of the track is made from it. Appending may still replace the
// target by the single file's own format.
struct track_plan {
    WAVEFORMATEX input;
    BYTE target[format_buffer_bytes]; // a copy: the settings may change while the track plays
    bool single_file;
    bool has_header;
    bool converting;
    bool info_tags;         // per-track files carry the title and number
    bool split_streams;     // a new file when the title changes
    BYTE exists_policy;     // what to do when a per-track file exists (cfg_exists)
    const char *extension;  // per-track files only
    BYTE header[wav_header_max_bytes];
    wav_layout layout;
};

struct track_file {
    HWND player_window; // owner of every box about the file
    HANDLE file;
    bool skipping;               // the name exists and the track is skipped: no file, nothing written
    bool has_header;             // a RIFF WAVE container (not raw or bare MPEG data)
    bool converting;             // blocks go through the codec stage
    uint32_t file_bytes;         // the container's length: every byte written or skipped over
    uint32_t data_bytes;         // the audio in it
    uint32_t payload_offset;     // where the audio starts: the header's length, 0 without one
    uint32_t data_size_offset;   // 0: no such field
    uint32_t fact_offset;        // 0: no such field
    uint32_t size_limit;         // what file_bytes may reach: 4 GiB less the tags behind the audio
    WAVEFORMATEX existing_format; // of the single file being appended to
    uint32_t target_rate;        // sample rate of what the file holds
    uint32_t target_frame_bytes; // its frame or codec block: the file keeps only whole ones
    bool codec_restart;          // the codec starts a stream of its own with the next frames
    // Each message is shown once per file.
    bool write_failed;           // and nothing is written after it
    bool size_limit_reached;
    bool codec_stop_told;
    uint32_t info_bytes;         // the LIST chunk written behind the audio at the end; 0: none
    BYTE info_chunk[info_chunk_max_bytes];
    char path[output_path_chars];
    char name_path[output_path_chars]; // the path the entry's title gives before any " (N)"
};

extern track_file file_state;

// False for a format that no header can describe, or no converter or codec can take.
bool plan_track(int rate, int channels, int bits, track_plan *plan);

// Starts the file for entry as plan says; exists_policy decides about a per-track file that is
// there already. False when the track cannot go on: the user was told, or declined to replace.
bool file_open(HWND player_window, const track_plan *plan, const playlist_entry *entry, BYTE exists_policy);
// Writes length bytes of the track's PCM (frames whole frames), through the codec stage when the
// file converts. stream_start: no whole frame came since open or a flush, so the codec starts
// afresh, as it does with the first frames of every file.
void file_write(const BYTE *block, uint32_t length, int frames, bool stream_start);
// The end of the file: the drain, the sizes, the fact value and the tags; then it is closed.
void file_finish(bool stream_start);

// The path the entry's title gives the track's files before any " (N)" (see name_path); false
// when none fits.
bool file_name_for(const track_plan *plan, const playlist_entry *entry, char *path);

// No file, as in a process that never opened one.
void file_reset(void);

#endif
