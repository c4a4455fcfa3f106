// The player's current playlist entry, asked of its main window: the position and the title,
// read at once and bounded (a stream's title comes from a remote server), and the entry's
// number as players show it. Used by the track output, the names and the tags.
#ifndef TOLLVANE_PLAYLIST_ENTRY_H
#define TOLLVANE_PLAYLIST_ENTRY_H

#include <windows.h>

#include "output/ansi_text.h"

// The two requests to the player's main window (message WM_USER).
constexpr int request_playlist_position = 125;
constexpr int request_playlist_title = 212;

// A title is read up to this many bytes (at a whole character): a name takes at most 255 of
// them, a tag 1 KiB.
constexpr unsigned title_max_bytes = ansi_text_max_bytes;
// How long a request from the decoding thread waits for the player's window.
constexpr unsigned playlist_wait_ms = 200;

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
constexpr unsigned entry_number_chars = decimal_text_chars;
size_t entry_number(const playlist_entry *entry, unsigned min_digits, char *text);

#endif
