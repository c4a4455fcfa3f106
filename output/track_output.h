// The life of one track: open plans it and starts its file, write hands each block to the file
// and keeps the player's clock, close finishes the file. With the split option a stream's title
// change starts a new file within the track. Called from the host entry points; output_state is
// written here and nowhere else (the file itself is track_file's).
#ifndef TOLLVANE_TRACK_OUTPUT_H
#define TOLLVANE_TRACK_OUTPUT_H

#include <stdint.h>
#include <windows.h>

#include "output/playlist_entry.h"

struct track_output {
    HWND player_window; // owner of every box about the track, and asked for its title
    bool is_open;
    bool discarding;             // the next file of a split stream could not be started: the rest goes
    int32_t input_rate;
    int32_t input_channels;
    int32_t input_bits;
    int32_t frames_since_flush;  // input frames since open or the last flush: the player's clock
    int32_t time_offset_ms;      // where flush put the clock
    uint64_t frames_since_open;  // input frames of the whole track
    uint64_t next_title_check;   // frames_since_open at which a split stream asks for the title again
    playlist_entry entry;        // the playlist entry the current file is named after
};

extern track_output output_state;

int track_open(HWND player_window, int rate, int channels, int bits);
int track_write(char *block, int length);
void track_close(void); // nothing to do without an open track

// The player's clock: flush restarts it at time_ms without touching the file; the time is the
// offset plus the frames written since, in milliseconds.
void track_flush(int time_ms);
int track_time_ms(void);

// Forgets every earlier track, as in a process that never opened one (library attach).
void track_reset(void);

#endif
