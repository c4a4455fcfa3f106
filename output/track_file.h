// One output file of a track, made as the track's plan says: its start (created, replaced,
// numbered, skipped, or the single file reopened to append to), its audio, and its end (the
// drain, sizes, fact value and tags). A track has one file, or
// one per title when a stream is split. Used by the track output; file_state is written here
// and nowhere else.
#ifndef TOLLVANE_TRACK_FILE_H
#define TOLLVANE_TRACK_FILE_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

#include "output/file_tags.h"
#include "output/output_naming.h"
#include "output/track_plan.h"

struct track_file {
    HWND player_window; // owner of every box about the file
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
    uint64_t size_limit;         // what a WAV file's file_bytes may reach: 4 GiB less the tags behind the audio
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
};

extern track_file file_state;

// Starts the file for entry as plan says; exists_policy decides about a per-track file that is
// there already, except that a file this track wrote is never replaced. The plan notes the file.
// False when the track cannot go on: the user was told, or declined to replace.
bool file_open(HWND player_window, track_plan *plan, const playlist_entry *entry, BYTE exists_policy);
// Writes length bytes of the track's PCM (frames whole frames), through the codec stage when the
// file converts. stream_start: no whole frame came since open or a flush, so the codec starts
// afresh, as it does with the first frames of every file.
void file_write(const BYTE *block, uint32_t length, int frames, bool stream_start);
// The end of the file: the drain, the sizes, the fact value and the tags; then it is closed.
void file_finish(bool stream_start);

// No file, as in a process that never opened one.
void file_reset(void);

#endif
