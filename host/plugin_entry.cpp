// The plug-in's boundary towards the player: the module record behind the one export, library
// attach, the About box, and the small entry points that keep pause state and the clock.
// open/write/close go to the track output, init/quit to the settings store.
#include "host/out_module.h"

#include "config/config_dialog.h"
#include "config/config_dialog_ids.h"
#include "config/settings_store.h"
#include "output/track_output.h"

static int paused; // 0: not paused; only can_write looks at it

// Modal, owned by the player's window; the template is in this library's own resources. The
// dialog changes the settings in memory only: they reach the INI file at quit.
static void plugin_config(HWND parent)
{
    DialogBoxParamA(module_record.module_instance, MAKEINTRESOURCEA(IDD_CONFIG), parent, config_dialog_proc, 0);
}

static void plugin_about(HWND parent)
{
    MessageBoxA(parent,
                TOLLVANE_VERSION "\n"
                "Writes what the player plays to WAV, raw or MP3 files.\n"
                "Tollvane developers, https://tollvane.invalid/",
                "About", MB_OK);
}

static void plugin_init(void) { settings_load(); }

static void plugin_quit(void)
{
    track_close(); // a track still open is finished first
    settings_save();
}

// Every block is written at once inside write, so the player never has to wait for room.
constexpr int room_for_any_block = 666666666;

static int plugin_can_write(void) { return paused ? 0 : room_for_any_block; }

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

// A new track is never paused, whatever the player left behind.
static int plugin_open(int rate, int channels, int bits)
{
    paused = 0;
    return track_open(module_record.main_window, rate, channels, bits);
}

out_module module_record = {
    0x10,
    TOLLVANE_VERSION " (x86)",
    0x1046d,
    nullptr,
    nullptr,
    plugin_config,
    plugin_about,
    plugin_init,
    plugin_quit,
    plugin_open,
    track_close,
    track_write,
    plugin_can_write,
    plugin_is_playing,
    plugin_pause,
    plugin_ignore_level,
    plugin_ignore_level,
    track_flush,
    track_time_ms,
    track_time_ms,
};

// The stand-in's build has 64-bit pointers; wherever they are 32-bit the layout is the player's.
static_assert(sizeof(void *) != 4 || sizeof(out_module) == 80, "the player reads twenty 32-bit fields");

extern "C" out_module *winampGetOutModule(void) { return &module_record; }

void plugin_attach(void)
{
    settings_reset();
    track_reset();
    paused = 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) plugin_attach();
    return TRUE;
}
