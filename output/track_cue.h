// The cue sheet kept beside the single file while tracks are appended to it: where it lies,
// whether this track keeps one (another file's sheet is never overwritten), its text while the
// track plays, and its writes, each through a new file renamed over the old one. Called by the
// track output when a single-file track opens, when a stream's title changes, and at close;
// cue_state is written here and nowhere else.
#ifndef TOLLVANE_TRACK_CUE_H
#define TOLLVANE_TRACK_CUE_H

#include <stdint.h>
#include <windows.h>

#include "output/cue_sheet.h"
#include "output/output_naming.h"
#include "output/problem_news.h"

// What the user is to be told about the sheet, each at most once per track.
enum cue_problem : BYTE {
    cue_problem_other_file, // the sheet there is another file's (or not one the plug-in reads): left as it is
    cue_problem_write,      // the sheet could not be read, written, or hold another track
    cue_problem_count,
};

struct track_cue {
    bool keeping;                  // this track adds its tracks to the sheet
    char *buffer;                  // cue_sheet_max_bytes from the heap while keeping
    cue_sheet sheet;
    char path[output_path_chars];
    uint64_t audio_frames;         // the audio in the file before this track, in its frames
    uint32_t rate;                 // the file's
    char left_alone[output_path_chars]; // another file's sheet found there: none is kept for this run
    problem_news news;             // cue_problem values to tell
};

extern track_cue cue_state;

// A single-file track has opened on the file at audio_path, which held audio_frames frames at
// rate before it: its sheet gets the track, titled ansi_title. A new sheet lists the audio
// already there as track 01, titled with the file's name. A file named .cue keeps none.
void cue_track_opened(const char *audio_path, uint64_t audio_frames, uint32_t rate, const char *ansi_title);
// The stream in the file has a new title from frames_into_track frames (of the file's) on.
void cue_new_title(const char *ansi_title, uint64_t frames_into_track);
// The track has ended.
void cue_track_closed(void);

// The next problem that arose about the sheet and was not taken yet, and the sheet's path.
bool cue_take_news(cue_problem *problem);
const char *cue_path(void);

// No sheet, as in a process that never kept one.
void cue_reset(void);

#endif
