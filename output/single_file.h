// The single file that every track is appended to: the check of an existing file's header
// before an append, and its preparation once the track has opened. Used by the track's file
// start; the caller owns the file handle.
#ifndef TOLLVANE_SINGLE_FILE_H
#define TOLLVANE_SINGLE_FILE_H

#include <stdint.h>
#include <windows.h>
#include <mmreg.h>

// Where an existing single file's audio lies, as its header and its length say.
struct single_file_audio {
    WAVEFORMATEX format;
    uint32_t data_size_offset;
    uint32_t reservation_offset; // the room for RF64's sizes, or its ds64 chunk; 0: none
    bool rf64;                   // an RF64 file already
    bool grows_past_4_gib;       // it may become RF64, or is one
    uint64_t payload_offset;
    uint64_t data_bytes;         // whole frames of format
};

enum single_file_check : BYTE {
    single_file_appendable,
    single_file_not_pcm,     // not a plain PCM WAV file, or one whose sizes cannot grow
    single_file_unreadable,  // a read, a move or the size query failed: nothing can be said
};

// Reads the header of file, open for reading and writing, and finds its audio; changes nothing.
// rf64: the setting that lets a file with the room for RF64's sizes grow past 4 GiB, and lets an
// RF64 file be appended to at all.
single_file_check single_file_read(HANDLE file, bool rf64, single_file_audio *audio);
// Cuts what follows the audio and marks the sizes unfinished until the track's end patches
// them; the file pointer then stands at the end of the audio. False when a step failed.
bool single_file_prepare(HANDLE file, const single_file_audio *audio);

#endif
