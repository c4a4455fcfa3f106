// Names per-track output files after the player's playlist title, and shows the one error box
// about a particular file. Used by the track output.
#ifndef TOLLVANE_OUTPUT_NAMING_H
#define TOLLVANE_OUTPUT_NAMING_H

constexpr unsigned output_path_chars = 512;

// The two requests to the player's main window (message WM_USER).
constexpr int request_playlist_position = 125;
constexpr int request_playlist_title = 212;

// Fills buffer (output_path_chars) with directory + '\' + title + extension. The title is cut
// so that the whole path and its terminator fit; characters that Windows forbids in a file
// name, and '.', are replaced by '_' in the title part only.
void build_output_path(char *buffer, const char *extension);

void show_error(const char *path, const char *message);

#endif
