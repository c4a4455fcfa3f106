// The configuration dialog: its procedure, which shows the settings when it opens and commits
// them all on OK, and the table that swaps the per-track and single-file controls.
// host/plugin_entry.cpp runs it; the template is config_dialog.rc.
#ifndef TOLLVANE_CONFIG_DIALOG_H
#define TOLLVANE_CONFIG_DIALOG_H

#include <windows.h>

struct enable_row {
    WORD control_id;
    BYTE per_track; // 1: a per-track control, 0: a single-file control
};

constexpr unsigned enable_rows = 13;
constexpr unsigned mode_count = 3;

extern const enable_row enable_table[enable_rows];
extern const char *const mode_texts[mode_count]; // indexed by cfg_mode
extern const char config_dialog_title[];         // "Tollvane v1.4 configuration"

// 1 for WM_INITDIALOG (the platform sets the initial focus), 0 for every other message.
INT_PTR CALLBACK config_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Enables the per-track controls and disables the single-file ones when single_file_state is
// 0, and the reverse when it is 1.
void enable_controls(HWND dialog, BOOL single_file_state);

#endif
