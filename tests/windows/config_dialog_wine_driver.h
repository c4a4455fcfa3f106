// Plays the user of the built DLL's configuration dialog under Wine, for the tests of its two
// dialogs: the DLL and the INI file it reads and writes, the dialog run with a driver on a
// second thread, and what that driver reads of the controls.
#ifndef TOLLVANE_CONFIG_DIALOG_WINE_DRIVER_H
#define TOLLVANE_CONFIG_DIALOG_WINE_DRIVER_H

#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "host/out_module.h"
#include "tests/config_dialog_expected.h"
#include "tests/windows/dialog_windows.h"

extern const char section[]; // the plug-in's section of the INI file

// The DLL, loaded once for the process by load_dll, and the INI file beside this program.
extern HMODULE dll;
extern out_module *module;
extern std::string ini;

void load_dll();
std::string ini_value(const char *key); // "<missing>" for a key the file lacks
std::vector<BYTE> ini_struct(const char *key, UINT bytes); // empty when it does not read back
std::string read_whole_ini();
// The DLL keeps its settings for the whole process and a load keeps what the file lacks:
// an INI with every default sets them back. The file is removed once loaded.
void start_from_defaults();

std::string text_of(HWND window);
std::string class_of(HWND window);
// Runs config on this thread while `drive` plays the user on another; `drive` gets the
// dialog. Whatever it leaves open is cancelled, so a failing run cannot hang the test. False
// when no dialog came.
bool run_config(std::function<void(HWND)> drive);
void click(HWND dialog, int id);
LRESULT check_of(HWND dialog, int id);

// A codec format as the main dialog shows it: the tag's name, then the ACM's description.
std::string codec_display(const void *format, DWORD bytes);

// What one control showed, read on the driver thread.
struct control_reading {
    uint32_t id;
    std::string class_name, text;
    RECT rect;          // in the dialog's client pixels
    RECT expected_rect; // the template's units mapped by the dialog itself
    LONG style, ex_style;
    bool enabled;
};

// Every control of a dialog in window order, each with where its row of d says it belongs.
std::vector<control_reading> read_controls(HWND dialog, const expected_dialog &d);
// The controls read from a dialog against its template's table: ids in order, classes, where
// the dialog put them, their styles, and the text each shows (`shown` gives it from the id and
// the template's caption).
void expect_controls_are(const std::vector<control_reading> &controls, const expected_dialog &d,
                         const std::function<std::string(uint32_t, const char *)> &shown);

#endif
