// The record the player receives from the one export, and the plug-in-wide state beside it.
// The player reads and writes the record directly: field order and widths are fixed.
#ifndef TOLLVANE_OUT_MODULE_H
#define TOLLVANE_OUT_MODULE_H

#include <windows.h>

#include "config/plugin_version.h"

struct out_module {
    int version;              // 0x10
    const char *description;
    int id;                   // 66669
    HWND main_window;         // filled in by the player before its first call
    HINSTANCE module_instance; // filled in by the player
    void (*config)(HWND parent);
    void (*about)(HWND parent);
    void (*init)(void);
    void (*quit)(void);
    int (*open)(int rate, int channels, int bits);
    void (*close)(void);
    int (*write)(char *block, int length);
    int (*can_write)(void);
    int (*is_playing)(void);
    int (*pause)(int flag);
    void (*set_volume)(int volume);
    void (*set_pan)(int pan);
    void (*flush)(int time_ms);
    int (*get_output_time)(void);
    int (*get_written_time)(void);
};

extern out_module module_record;

extern "C" out_module *winampGetOutModule(void);

// Library attach: every setting at its default, no track open, the clock at rest.
void plugin_attach(void);

#endif
