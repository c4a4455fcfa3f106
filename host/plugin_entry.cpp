// The plug-in's boundary towards the player: the module record behind the one export, library
// attach, the About box, and the small entry points that keep pause state and the clock.
// open/write/close go to the track output, init/quit to the settings store.
#include "out_module.h"

#include "../config/config_dialog.h"
#include "../config/config_dialog_ids.h"
#include "../config/settings_store.h"
#include "../output/track_output.h"

HANDLE process_heap;
int paused;

// Modal, owned by the player's window; the template is in this library's own resources. The
// dialog changes the settings in memory only: they reach the INI file at quit.
static void plugin_config(HWND parent)
{
    DialogBoxParamA(module_record.module_instance, MAKEINTRESOURCEA(IDD_CONFIG), parent, config_dialog_proc, 0);
}

static void plugin_about(HWND parent)
{
    MessageBoxA(parent,
                "Tollvane v1.4\n"
                "Writes what the player plays to WAV, raw or MP3 files.\n"
                "Tollvane developers, https://tollvane.invalid/",
                "About", MB_OK);
}

static void plugin_init(void) { settings_load(); }

static void plugin_quit(void)
{
    if (output_state.is_open) track_close();
    settings_save();
}

static int plugin_can_write(void) { return paused ? 0 : 666666666; }

// Nothing is ever held back, so the player may close at once.
static int plugin_is_playing(void) { return 0; }

static int plugin_pause(int flag)
{
    int previous = paused;
    paused = flag;
    return previous;
}

// Volume and panning never touch the written audio.
static void plugin_ignore_level(int) {}

static void plugin_flush(int time_ms)
{
    output_state.time_offset_ms = time_ms;
    output_state.frames_written = 0;
}

// Before the first open the rate is 0: MulDiv gives -1 and so does the clock, less the offset.
static int plugin_get_time(void)
{
    return output_state.time_offset_ms + MulDiv(output_state.frames_written, 1000, output_state.input_rate);
}

out_module module_record = {
    0x10,
    "Tollvane v1.4 (x86)",
    0x1046d,
    nullptr,
    nullptr,
    plugin_config,
    plugin_about,
    plugin_init,
    plugin_quit,
    track_open,
    track_close,
    track_write,
    plugin_can_write,
    plugin_is_playing,
    plugin_pause,
    plugin_ignore_level,
    plugin_ignore_level,
    plugin_flush,
    plugin_get_time,
    plugin_get_time,
};

// The stand-in's build has 64-bit pointers; wherever they are 32-bit the layout is the player's.
static_assert(sizeof(void *) != 4 || sizeof(out_module) == 80, "the player reads twenty 32-bit fields");

extern "C" out_module *winampGetOutModule(void) { return &module_record; }

void plugin_attach(void)
{
    process_heap = GetProcessHeap();
    settings_apply_defaults();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) plugin_attach();
    return TRUE;
}
