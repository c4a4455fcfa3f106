// Names per-track output files after the player's playlist title. Used by the track plan.
#ifndef TOLLVANE_OUTPUT_NAMING_H
#define TOLLVANE_OUTPUT_NAMING_H

#include <windows.h>

#include "output/playlist_entry.h"

constexpr unsigned output_path_chars = 512;

// Copies of a name are numbered up to here.
constexpr unsigned max_copy_number = 99999;

// How a per-track file is named: the folder and the pattern (texts of at most 259 characters)
// and the extension; whether every name keeps room for the longest " (N)"; and whether the
// system beneath stores names as UTF-8 bytes (see names_stored_as_utf8).
struct name_recipe {
    const char *folder;
    const char *pattern;
    const char *extension;
    bool room_for_copies;
    bool utf8_name_bytes;
};

// Fills buffer (output_path_chars) with the folder, a '\', the name the pattern gives for entry
// and the extension. In the name, a title's characters that a Windows file name cannot hold (the
// ten of the replacement set, '.' among them, and control characters) become '_'; the
// pattern's own text keeps its dots. The name is cut so that it has at most 255 characters and
// the path at most 259, and with utf8_name_bytes so that the name's UTF-8 form has at most 255
// bytes (never inside a double-byte or UTF-8 character): the last %title% first, then the
// pattern's text behind it, never the number. A name whose part before its first dot is a device
// name (CON, NUL, COM1, ...) gets a '_' there. copy 0 is the name itself; copy 2 to
// max_copy_number adds " (copy)" before the extension, and room_for_copies keeps room for that
// in every copy, so that all share one name. False when no such name fits.
bool build_output_path(char *buffer, const name_recipe *recipe, const playlist_entry *entry, unsigned copy);

// Whether file names end up on a file system that stores them as UTF-8 bytes, at most 255 of
// them: under Wine on Linux, where one character of the ANSI code page may take three.
bool names_stored_as_utf8(void);

#endif
