// What the user is told about a track and its files, each text spelled once here, and the one
// question the plug-in asks. Every box is owned by the player's window. Called by the track
// output alone, at the edge the player calls.
#ifndef TOLLVANE_TRACK_MESSAGES_H
#define TOLLVANE_TRACK_MESSAGES_H

#include <windows.h>

#include "output/track_cue.h"
#include "output/track_file.h"

// "message: "path"" in an error box owned by owner.
void show_error(HWND owner, const char *path, const char *message);
// The error box about the file at path for problem.
void tell_file_problem(HWND owner, const char *path, file_problem problem);
// The error box about the cue sheet at path for problem.
void tell_cue_problem(HWND owner, const char *path, cue_problem problem);
// A track whose output cannot be made at all: no header can describe its format, or no
// conversion reaches the target.
void tell_output_unavailable(HWND owner);
// "File: "path" already exists. Overwrite ?"; true for OK.
bool ask_to_overwrite(HWND owner, const char *path);

#endif
