// Text as the cue sheet holds it: the player's titles and the single file's name turned from
// the ANSI code page into UTF-8 that cannot break a line of the sheet, and names compared as
// Windows compares them. Used by the cue sheet's builder and reader; keeps no state.
#ifndef TOLLVANE_CUE_TEXT_H
#define TOLLVANE_CUE_TEXT_H

#include <stddef.h>

// A title in the sheet, in bytes of UTF-8.
constexpr size_t cue_title_max_bytes = 255;
// The file's name in the FILE line, in bytes of UTF-8: 1024 bytes of ANSI text, three each.
constexpr size_t cue_name_max_bytes = 3 * 1024;

// The player's title (ANSI code page text, read up to 1024 bytes at a whole character) as the
// sheet holds it, into utf8_out (cue_title_max_bytes + 1, terminated): UTF-8, a double quote
// (which would end the quoted text) turned into ', control characters (C0, DEL and C1, which
// would break or hide a line) removed, bytes the code page cannot read turned into the
// character MultiByteToWideChar gives for them (U+FFFD where the code page is UTF-8), and cut at
// cue_title_max_bytes on a character boundary. Returns its bytes; a null title
// gives "".
size_t cue_title(const char *ansi_title, char *utf8_out);

// The name of the file at path_ansi (what follows its last '\', '/' or ':') converted as titles
// are but never cut, into utf8_out (cue_name_max_bytes, not terminated). Returns its bytes; 0
// for a path without a name or with one longer than 1024 bytes.
size_t cue_file_name(const char *path_ansi, char *utf8_out);

// Whether text (bytes long) is well-formed UTF-8 without a 0 byte: text a sheet of ours can hold.
bool cue_valid_text(const char *text, size_t bytes);

// Whether two names, both well-formed UTF-8, name the same file as Windows compares names:
// without regard to case for the letters of the Western, Central European, Greek and Cyrillic
// code pages (ASCII, Latin-1, Latin Extended-A, basic Greek and Cyrillic); other characters
// must match exactly, so that a doubt never makes another file's sheet ours.
bool cue_same_name(const char *a, size_t a_bytes, const char *b, size_t b_bytes);

#endif
