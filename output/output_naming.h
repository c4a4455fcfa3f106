// Names per-track output files after the player's playlist title, and shows the one error box
// about a particular file. Used by the track output.
#ifndef TOLLVANE_OUTPUT_NAMING_H
#define TOLLVANE_OUTPUT_NAMING_H

#include <windows.h>

constexpr unsigned output_path_chars = 512;

// The two requests to the player's main window (message WM_USER).
constexpr int request_playlist_position = 125;
constexpr int request_playlist_title = 212;

// Fills buffer (output_path_chars) with directory + '\' + title + extension. Only the title
// part is changed to make a name every Windows file system takes: control characters and
// those Windows forbids in a name, '.' too, become '_'; it is cut (never inside a double-byte
// or UTF-8 character) so that the name has at most 255 characters and the path at most 259;
// a device name (CON, NUL, COM1, ...) gets a '_' appended.
// player_window answers the two requests.
void build_output_path(HWND player_window, char *buffer, const char *extension);

// "message: "path"" in an error box owned by owner.
void show_error(HWND owner, const char *path, const char *message);

#endif
