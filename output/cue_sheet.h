// The text of the cue sheet kept beside the single file: titles and the file's name made fit
// for it, the sheet built in a caller's buffer (new, or adopted from the sheet already there),
// and an existing sheet, untrusted, read for the tracks it lists. No I/O and no state of its
// own: the single file's owner reads the old sheet, decides, and writes the new one.
#ifndef TOLLVANE_CUE_SHEET_H
#define TOLLVANE_CUE_SHEET_H

#include <stddef.h>
#include <stdint.h>

#include "output/cue_text.h"

// The sheet, UTF-8 with CRLF line ends: the line end of Windows' own text files, which the
// players and splitters there expect, and which every other reader accepts. The indentation
// is the common one. Tracks past the 99 the format allows are REM lines, which readers skip:
//
//   FILE "mix.wav" WAVE
//     TRACK 01 AUDIO
//       TITLE "Lowmoor - Harbour Lights"
//       INDEX 01 00:00:00
//     TRACK 02 AUDIO
//       TITLE "Lowmoor - Night Ferry"
//       INDEX 01 00:03:00
//     ...
//     REM TRACK 100 TITLE "Late news" INDEX 01 312:05:61
//
// A start is mm:ss:ff in 1/75 s, at least two digits of minutes and as many more as it takes.

// A sheet larger than this is another file's; the builder never makes one larger.
constexpr size_t cue_sheet_max_bytes = 1 << 20;
// A sheet with a longer line (its line end not counted) is another file's. The builder's
// longest line is a FILE line with a name of cue_name_max_bytes.
constexpr size_t cue_line_max_bytes = 4096;
// The tracks the format numbers; later ones are REM lines.
constexpr uint32_t cue_format_tracks = 99;
// The highest track number the builder gives and the reader reads.
constexpr uint32_t cue_track_number_max = 999999;

// The start of a track frames into the file at rate frames a second, in 1/75 s, rounded down
// (frames * 75 / rate, without overflow; at most the largest 64-bit count). 0 for a rate of 0.
uint64_t cue_start_75ths(uint64_t frames, uint32_t rate);

// What an existing sheet lists, for a sheet that names this file.
struct cue_sheet_facts {
    uint32_t tracks;           // TRACK entries and REM TRACK lines
    uint32_t last_number;      // the last of them in the text; 0 without tracks
    uint64_t last_start_75ths; // its INDEX 01; 0 without tracks
};

// What cue_sheet_read makes of a sheet. Anything but cue_read_ours leaves the sheet the user's:
// it is never overwritten.
enum cue_read_result {
    cue_read_ours,           // names this file, and every track it lists has a readable start
    cue_read_too_large,      // over cue_sheet_max_bytes, or a line over cue_line_max_bytes
    cue_read_not_utf8,       // a byte that is no UTF-8 (a sheet in the ANSI code page) or a 0
    cue_read_other_file,     // no FILE line, more than one, not of type WAVE, or another name
    cue_read_unreadable_track // a TRACK, INDEX 01 or FILE line out of place or unreadable
};

// Reads the sheet in bytes (length bytes, untrusted, a UTF-8 byte-order mark allowed) for the
// single file at path_ansi (a path or a name, ANSI; only the name after the last '\', '/' or
// ':' counts). It names this file when it has exactly one FILE line, of type WAVE (in any case),
// whose name, quoted or not, is the file's name (cue_file_name) as cue_same_name compares
// names; a name with a folder is another file's. Then facts holds its tracks:
// - "TRACK n ..." (n from 1 to cue_track_number_max) starts an entry, whose start is its last
//   "INDEX 01 mm:ss:ff" (ss below 60, ff below 75). An entry without one, an INDEX 01 outside
//   an entry or with an unreadable start, an INDEX line without its number, or a track before the
//   FILE line is unreadable: I could not tell where the sheet ends, and rewriting it would lose
//   what the user wrote into it.
// - "REM TRACK n TITLE "text" INDEX 01 mm:ss:ff" is a track of its own; any other REM line,
//   and every other line (PERFORMER, INDEX 00, ...), is the user's and only kept.
// Keywords are read in any case after spaces and tabs; CR, LF and CRLF each end a line. The
// builder writes nothing these rules refuse, so a sheet it made always reads as ours.
cue_read_result cue_sheet_read(const char *bytes, size_t length, const char *path_ansi, cue_sheet_facts *facts);

// A sheet being built in a caller's buffer of cue_sheet_max_bytes: room for a byte-order mark,
// then the text, which therefore takes at most cue_sheet_max_bytes - 3 bytes.
struct cue_sheet {
    char *buffer;
    size_t text_bytes;
    bool adopted_bom;          // the adopted sheet had a byte-order mark: it keeps it
    bool non_ascii;            // the text holds more than ASCII: a byte-order mark says UTF-8
    uint32_t tracks;
    uint32_t last_number;
    uint64_t last_start_75ths;
    size_t last_entry;         // where the last track's lines start in the text
};

// Starts a new sheet in buffer with the FILE line for the single file at path_ansi, named as
// cue_file_name names it. False when that gives no name.
bool cue_sheet_start(cue_sheet *sheet, char *buffer, const char *path_ansi);

// Takes over the existing sheet that buffer holds (length bytes, as read from its file): its
// lines stay as they are, a missing line end after the last is added, and a byte-order mark
// it had is kept. False, the buffer's bytes then undefined, when cue_sheet_read does not find it
// ours for path_ansi, or when it is too full to take the builder's room for a mark.
bool cue_sheet_adopt(cue_sheet *sheet, char *buffer, size_t length, const char *path_ansi);

// Adds the track that starts start_75ths into the file, titled with the player's ansi_title
// (converted by cue_title). A track that starts in the same 1/75 s as the last one replaces
// that entry, and takes its number (the last one had no audio); otherwise it gets the next
// number, as a REM line past cue_format_tracks. Returns its number, or 0 with the sheet
// unchanged when the sheet has no room for it (the caller tells the user), when its number
// would pass cue_track_number_max, or when it would start before the last track.
uint32_t cue_sheet_add_track(cue_sheet *sheet, const char *ansi_title, uint64_t start_75ths);

// The sheet's file as it is to be written, *length bytes: with a UTF-8 byte-order mark when
// its text holds more than ASCII or the adopted sheet had one, else plain ASCII. Points into
// the buffer.
const char *cue_sheet_bytes(const cue_sheet *sheet, size_t *length);

#endif
