// Names per-track output files after the player's playlist title, and shows the one error box
// about a particular file. Used by the track output.
#ifndef TOLLVANE_OUTPUT_NAMING_H
#define TOLLVANE_OUTPUT_NAMING_H

#include <windows.h>

constexpr unsigned output_path_chars = 512;

// The two requests to the player's main window (message WM_USER).
constexpr int request_playlist_position = 125;
constexpr int request_playlist_title = 212;

// A title is read up to this many bytes (at a whole character): a name takes at most 255 of
// them, a tag 1 KiB.
constexpr unsigned title_max_bytes = 1024;
// How long a request from the decoding thread waits for the player's window.
constexpr unsigned playlist_wait_ms = 200;
// Copies of a name are numbered up to here.
constexpr unsigned max_copy_number = 99999;

// The player's current playlist entry: its position (counted from 0) and its title, read at once.
struct playlist_entry {
    long long position;
    char title[title_max_bytes + 1];
};

// Asks the player's window for the current entry. wait_briefly: the request comes from the
// decoding thread and gives up after playlist_wait_ms, or at once when the player hangs (false).
bool ask_playlist_entry(HWND player_window, bool wait_briefly, playlist_entry *entry);

// The entry's playlist number as players show it (its position counted from 1), in decimal with
// at least min_digits digits, into text (entry_number_chars); returns its length.
constexpr unsigned entry_number_chars = 24;
size_t entry_number(const playlist_entry *entry, unsigned min_digits, char *text);

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

// "message: "path"" in an error box owned by owner.
void show_error(HWND owner, const char *path, const char *message);

#endif
