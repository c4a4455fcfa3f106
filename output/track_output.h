// The life of one track's output file: open decides format and kind of file and writes the
// header, write appends each block (directly or through the codec stage), close patches sizes.
// Called from the host entry points; output_state is written here and nowhere else.
#ifndef TOLLVANE_TRACK_OUTPUT_H
#define TOLLVANE_TRACK_OUTPUT_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

#include "output_naming.h"
#include "wav_container.h"

struct track_output {
    HWND player_window; // owner of every box about the track, and asked for its title
    HANDLE file;
    bool is_open;
    bool has_header;             // a RIFF WAVE container (not raw or bare MPEG data)
    bool converting;             // blocks go through the codec stage
    int32_t input_rate;
    int32_t input_channels;
    int32_t input_bits;
    uint32_t file_bytes;         // the container's length: every byte written or skipped over
    uint32_t data_bytes;         // the audio in it
    uint32_t payload_offset;     // where the audio starts: the header's length, 0 without one
    uint32_t data_size_offset;   // 0: no such field
    uint32_t fact_offset;        // 0: no such field
    int32_t frames_since_flush;  // input frames since open or the last flush: the player's clock
    int32_t time_offset_ms;      // where flush put the clock
    uint32_t frames_since_open;  // input frames of the whole track
    WAVEFORMATEX existing_format; // of the single file being appended to
    uint32_t target_rate;        // sample rate of what the file holds
    uint32_t target_frame_bytes; // its frame or codec block: the file keeps only whole ones
    // Each message is shown once per track.
    bool write_failed;           // and nothing is written after it
    bool size_limit_reached;
    bool codec_stop_told;
    char path[output_path_chars];
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
