// Finds the plug-in's dialog boxes on a thread, for the programs that drive or photograph them
// under Wine.
#ifndef TOLLVANE_DIALOG_WINDOWS_H
#define TOLLVANE_DIALOG_WINDOWS_H

#include <windows.h>

// A visible dialog box of the thread other than `except`, or none.
HWND find_dialog_of(DWORD thread, HWND except);
// The same, waited for up to `seconds`.
HWND wait_for_dialog(DWORD thread, HWND except, unsigned seconds = 5);
// Whether the window is gone within `seconds`.
bool wait_gone(HWND window, unsigned seconds = 5);

#endif
