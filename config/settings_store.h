// The plug-in's settings: process-wide variables named after their INI keys, their attach
// defaults, and the load at init / save at quit through the INI file beside the player.
#ifndef TOLLVANE_SETTINGS_STORE_H
#define TOLLVANE_SETTINGS_STORE_H

#include <windows.h>
#include <mmreg.h>

constexpr unsigned format_buffer_bytes = 2066; // the 18-byte record and up to 2048 codec bytes
constexpr unsigned text_setting_bytes = 260;

extern const WAVEFORMATEX default_format; // PCM, 2 channels, 44100 Hz, 16 bits

extern char config_waveoutdir[text_setting_bytes];
extern BYTE cfg_cvt;
extern BYTE cfg_wfx[format_buffer_bytes];
extern BYTE cfg_wav1;
extern char cfg_wav1p[text_setting_bytes];
extern WAVEFORMATEX cfg_wfx1;
extern BYTE cfg_mode;
extern BYTE cfg_thread;

// The INI file as the ANSI profile functions name it; empty when the ANSI code page cannot spell
// its folder, and ini_path_wide names it instead. Both empty when no path could be derived:
// nothing is read or written then.
extern char ini_path[MAX_PATH];
extern WCHAR ini_path_wide[MAX_PATH];

inline const WAVEFORMATEX *cfg_wfx_format(void) { return reinterpret_cast<const WAVEFORMATEX *>(cfg_wfx); }

// Every setting at its default, as at library attach.
void settings_reset(void);
void settings_load(void); // init: derive the INI path, then read every key
void settings_save(void); // quit: write every key
// Walks every key in one order, reading each into its variable or writing it from there.
void exchange_settings(bool saving);

// Turns the executable path in a MAX_PATH buffer into the INI path beside it, in place:
// the file name's extension becomes "ini" (".ini" is appended when it has none). A path
// that is empty or leaves no room for the new ending becomes the empty text.
void derive_ini_path(WCHAR *path);

#endif
