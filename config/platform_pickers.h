// The shell's folder browser for the output directory and the save-file dialog for the
// single-file path, as the configuration dialog runs them.
#ifndef TOLLVANE_PLATFORM_PICKERS_H
#define TOLLVANE_PLATFORM_PICKERS_H

#include <windows.h>

// Runs the folder browser, opened on the directory that button shows, and puts the chosen
// folder into the button's caption. Cancel, or no shell allocator, changes nothing.
void browse_for_folder(HWND dialog, HWND button, const char *title);

// Runs the save-file dialog on the path in edit 1011 and puts the chosen path there.
void choose_single_file_path(HWND dialog);

#endif
