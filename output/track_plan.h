// The plan of one track: every setting its files use, copied when it opens, and what follows
// from them and the track's format (the target, the kind of file, its header, the names its
// files take). The player's decoding thread reads only the plan while the track plays, so a
// change made in the dialog meanwhile applies from the next track on. Used by the track output
// and its files.
#ifndef TOLLVANE_TRACK_PLAN_H
#define TOLLVANE_TRACK_PLAN_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

#include "config/settings_store.h"
#include "output/output_naming.h"
#include "output/wav_container.h"

// Where a per-track file carries the title and the playlist number.
enum track_tags : BYTE {
    tags_none,
    tags_info_list, // a LIST chunk of form INFO behind a WAV file's audio
    tags_id3,       // an ID3v2 tag in front of a bare MPEG Layer-3 stream
};

// What becomes of a file that is there already under the name a file of the track is to take.
enum existing_file_action : BYTE {
    existing_append,  // the single file: the track is appended to it
    existing_replace, // replaced, once the new file has started
    existing_number,  // kept: the new file takes the first free "NAME (N)"
    existing_skip,    // kept: the track plays on and nothing is written
    existing_ask,     // the user decides between replacing it and giving up the track
};

// The names of the files a track wrote, kept so that a stream that comes back to a title never
// replaces its own audio: one hash each, the oldest forgotten after this many.
constexpr uint32_t remembered_names = 4096;

struct track_plan {
    settings_values settings; // as they stood when the track opened
    WAVEFORMATEX input;
    BYTE target[format_buffer_bytes]; // normalised from the settings' record
    bool single_file;
    bool has_header;
    bool converting;
    BYTE tags;               // what a per-track file carries of the title and number: a tags_ value
    bool split_streams;      // a new file when the title changes
    bool cue_sheet;          // the single file keeps a cue sheet, a track per title
    bool utf8_name_bytes;    // file names are stored as UTF-8 bytes beneath (under Wine)
    bool rf64;               // WAV files keep room to grow past 4 GiB as RF64
    BYTE exists_policy;      // what to do when a per-track file exists, one of the exists_ values
    const char *extension;   // per-track files only
    BYTE header[wav_header_max_bytes];
    wav_layout layout;
    char open_name[output_path_chars]; // the name the open file's entry gave it, before any " (N)"
    uint64_t written_names[remembered_names];
    uint32_t written_count;
};

// Copies the settings and decides from them and the track's format, before any file is
// touched. False for a format that no header can describe, or no converter or codec can take.
bool plan_track(int rate, int channels, int bits, track_plan *plan);

inline const WAVEFORMATEX *plan_target(const track_plan *plan)
{
    return reinterpret_cast<const WAVEFORMATEX *>(plan->target);
}

// The path of a per-track file for entry, from the plan's folder and pattern: copy 0 is the name
// itself, 2 and up a numbered copy. Every name keeps room for " (N)" wherever copies may be
// numbered (the exists policy given, or a split stream). False when no such name fits.
bool plan_file_path(const track_plan *plan, const playlist_entry *entry, BYTE exists_policy, unsigned copy,
                    char *path);
// A split stream's question: does entry name another file than the one open?
bool plan_names_another_file(const track_plan *plan, const playlist_entry *entry);
// The policy for the next file of a split stream: nothing is asked in the middle of a stream, so
// a name that exists is numbered where the setting would ask.
BYTE plan_split_policy(const track_plan *plan);
// The decision about path, which exists, under exists_policy: a file this track wrote is never
// replaced, but numbered.
existing_file_action plan_existing_file(const track_plan *plan, BYTE exists_policy, const char *path);

// A file of the track has started at path (null: a skipped one, nothing written), named name
// before any " (N)".
void plan_file_started(track_plan *plan, const char *name, const char *path);
// Whether this track has already written a file at path.
bool plan_wrote(const track_plan *plan, const char *path);

#endif
