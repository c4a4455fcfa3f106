// The configuration dialog's procedure, which shows the settings when it opens and commits them
// all on OK. host/plugin_entry.cpp runs it; the template is config_dialog.rc.
#ifndef TOLLVANE_CONFIG_DIALOG_H
#define TOLLVANE_CONFIG_DIALOG_H

#include <windows.h>

// 1 for WM_INITDIALOG (the platform sets the initial focus), 0 for every other message.
INT_PTR CALLBACK config_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

#endif
