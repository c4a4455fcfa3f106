// Plays the user of the configuration dialog on the stand-in's dialogs: the functions a test
// sets to drive the main dialog, the file options dialog over it and the three pickers, the
// plug-in wired to them, short ways to read and work a control, and the settings seen at once.
#ifndef TOLLVANE_CONFIG_DIALOG_DRIVER_H
#define TOLLVANE_CONFIG_DIALOG_DRIVER_H

#include <windows.h>
#include <commdlg.h>
#include <mmreg.h>
#include <msacm.h>
#include <shlobj.h>

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "host/out_module.h"

extern std::function<void(HWND)> driver;         // plays the user of the main dialog
extern std::function<void(HWND)> options_driver; // and of the file options dialog opened over it
extern std::function<MMRESULT(ACMFORMATCHOOSEA *)> chooser;
extern std::function<BOOL(const BROWSEINFOA *, char *)> browser;
extern std::function<BOOL(const OPENFILENAMEA *, char *)> save_dialog;

// The plug-in with the attach defaults and every picker answered by the functions above, all
// of them cleared.
out_module *fresh_dialog_plugin();

std::string item_text(HWND dialog, int id);
LRESULT send(HWND dialog, int id, UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
void click(HWND dialog, int id);
bool enabled(HWND dialog, uint32_t id);

// Every setting as it stands, to compare before and after a run.
struct settings_seen {
    std::string dir, path, name;
    BYTE cvt, wav1, mode, thread, exists, info, split, cue, rf64;
    std::vector<BYTE> wfx, wfx1;
};

settings_seen snapshot();
bool operator==(const settings_seen &a, const settings_seen &b);

#endif
