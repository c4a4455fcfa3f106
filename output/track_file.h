// One output file of a track, made as the track's plan says: its start (created, replaced,
// numbered, skipped, or the single file reopened to append to), its audio, and its end (the
// drain, sizes, fact value and tags). A track has one file, or one per title when a stream is
// split. What goes wrong is handed back as problems for the track output to tell; file_state is
// written here and nowhere else.
#ifndef TOLLVANE_TRACK_FILE_H
#define TOLLVANE_TRACK_FILE_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

#include "output/file_tags.h"
#include "output/output_naming.h"
#include "output/problem_news.h"
#include "output/track_plan.h"

// What the user is to be told about a file, each at most once per file.
enum file_problem : BYTE {
    problem_cannot_create,  // no name fits, or the file cannot be made or put in place
    problem_cannot_open,    // the single file cannot be read or prepared for appending
    problem_not_pcm,        // the single file is no plain PCM WAV file that can grow
    problem_no_conversion,  // no pipeline leads to the target format
    problem_size_limit,     // a WAV file reached the 4 GiB its sizes can say
    problem_cannot_write,   // a write, or a size at the end, did not reach the file
    problem_codec_stopped,  // the codec stopped taking audio
    file_problem_count,
};
static_assert(file_problem_count <= problem_news_max, "every problem fits the news");

// How a file's start ended.
enum file_start : BYTE {
    file_started,   // the file takes the track's audio, or the track is skipped (nothing written)
    file_asks,      // the file exists and the policy asks: nothing was touched
    file_refused,   // the track cannot go on; the problem is waiting to be told
};

struct track_file {
    HANDLE file;
    bool skipping;               // the name exists and the track is skipped: no file, nothing written
    bool has_header;             // a RIFF WAVE container (not raw or bare MPEG data)
    bool converting;             // blocks go through the codec stage
    // In 64 bits: files without a header have no size limit.
    uint64_t file_bytes;         // the container's length: every byte written or skipped over
    uint64_t data_bytes;         // the audio in it
    uint64_t payload_offset;     // where the audio starts: the header's length, 0 without one
    uint32_t data_size_offset;   // 0: no such field
    uint32_t fact_offset;        // 0: no such field
    uint32_t reservation_offset; // the room for RF64's sizes, or the ds64 chunk; 0: none
    bool grows_past_4_gib;       // turns RF64 where its sizes would pass 32 bits
    bool rf64;                   // has turned RF64: the sizes go into the ds64 chunk
    uint64_t size_limit;         // what a plain WAV file's file_bytes may reach: 4 GiB less the tags behind it
    uint32_t target_rate;        // sample rate of what the file holds
    uint64_t start_frames;       // the audio in it before the track, in frames of target_rate
    uint32_t target_frame_bytes; // its frame or codec block: the file keeps only whole ones
    bool codec_restart;          // the codec starts a stream of its own with the next frames
    bool write_failed;           // and nothing is written after it
    problem_news news;           // file_problem values to tell
    uint32_t info_bytes;         // the LIST chunk written behind the audio at the end; 0: none
    BYTE info_chunk[info_chunk_max_bytes];
    char path[output_path_chars];
};

extern track_file file_state;

// Starts the file for entry as plan says; exists_policy decides about a per-track file that is
// there already (see plan_existing_file), and exists_replace after the user said so. The plan
// notes the file.
file_start file_open(track_plan *plan, const playlist_entry *entry, BYTE exists_policy);
// Writes length bytes of the track's PCM (frames whole frames), through the codec stage when the
// file converts. stream_start: no whole frame came since open or a flush, so the codec starts
// afresh, as it does with the first frames of every file.
void file_write(const BYTE *block, uint32_t length, int frames, bool stream_start);
// The end of the file: the drain, the sizes, the fact value and the tags; then it is closed.
void file_finish(bool stream_start);

// The next problem that arose about the file and was not taken yet; false when none is waiting.
bool file_take_news(file_problem *problem);
// The file's path, as the user is to be told it: the file on disk, the one that exists where
// the start asks, or what there was of a name that did not fit.
const char *file_path(void);
// Where the track starts in the file (the frames of audio before it) and the file's rate.
uint64_t file_start_frames(void);
uint32_t file_rate(void);

// No file, as in a process that never opened one.
void file_reset(void);

#endif
