// The life of one track's output file: open decides format and kind of file and writes the
// header, write appends each block (directly or through the codec stage), close patches sizes.
// Called from the host entry points; the file itself is written through output_file.h.
#ifndef TOLLVANE_TRACK_OUTPUT_H
#define TOLLVANE_TRACK_OUTPUT_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

#include "output_naming.h"

struct track_output {
    HANDLE file;
    bool is_open;
    bool write_header;
    bool converting;
    int32_t input_rate;
    int32_t input_channels;
    int32_t input_bits;
    uint32_t file_bytes;
    uint32_t data_bytes;
    uint32_t data_size_offset;
    uint32_t fact_offset;
    int32_t frames_written;
    int32_t time_offset_ms;
    WAVEFORMATEX existing_format;
    uint32_t track_frames;  // input frames since open, not reset by flush: the fact value's source
    uint32_t target_rate;   // sample rate of what the file holds
    uint32_t target_frame_bytes; // the container grows only by whole frames of the target
    bool write_failed;      // the error box was shown for this track already
    bool size_limit_reached;
    char path[output_path_chars];
};

extern track_output output_state;

int track_open(int rate, int channels, int bits);
int track_write(char *block, int length);
void track_close(void);

#endif
