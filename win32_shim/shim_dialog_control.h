// Controls of the native stand-in's dialogs that Windows has no counterpart for: who plays the
// user of a dialog, and who answers the folder browser and the save-file dialog. The format
// chooser's answerer is in shim_acm.h. Only the host program and the tests include this.
#ifndef TOLLVANE_SHIM_DIALOG_CONTROL_H
#define TOLLVANE_SHIM_DIALOG_CONTROL_H

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include <stddef.h>
#include <stdint.h>

// Called by DialogBoxParamA once the procedure has handled WM_INITDIALOG. It acts as the user
// through the ordinary calls (GetDlgItemTextA, IsWindowEnabled, SendDlgItemMessageA with
// BM_CLICK or CB_SETCURSEL). A dialog still open when it returns is ended as Escape ends it,
// with a Cancel command; with no driver installed every dialog is ended so at once.
typedef void (*shim_dialog_driver_fn)(HWND dialog);
void shim_set_dialog_driver(shim_dialog_driver_fn driver);

// SHBrowseForFolderA calls this after the browser's callback has seen BFFM_INITIALIZED. It
// writes the chosen folder into path (MAX_PATH) and returns TRUE, or returns FALSE for a
// cancel. With none installed the browser is cancelled.
typedef BOOL (*shim_folder_browser_fn)(HWND browser, const BROWSEINFOA *browse, char *path);
void shim_set_folder_browser(shim_folder_browser_fn answerer);

// GetSaveFileNameA calls this with the record; it writes the name the user typed into typed
// (which starts as the record's initial file name) and returns TRUE, or FALSE for a cancel.
// The stand-in then adds the default extension to a name without one and hands the path
// back as the dialog does. With none installed the dialog is cancelled.
typedef BOOL (*shim_save_file_fn)(const OPENFILENAMEA *save, char *typed, size_t typed_size);
void shim_set_save_file_dialog(shim_save_file_fn answerer);

// Shell items handed out by the folder browser and not yet freed through the allocator.
int shim_shell_items_outstanding(void);

// The compiled resource script (.res image) the stand-in's dialogs come from.
const uint8_t *shim_plugin_resources(size_t *size);

#endif
