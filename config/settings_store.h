// The plug-in's settings: process-wide variables named after their INI keys, their attach
// defaults, and the load at init / save at quit through the INI file beside the player.
#ifndef TOLLVANE_SETTINGS_STORE_H
#define TOLLVANE_SETTINGS_STORE_H

#include <windows.h>
#include <mmreg.h>

constexpr unsigned format_buffer_bytes = 2066; // the 18-byte record and up to 2048 codec bytes
constexpr unsigned text_setting_bytes = 260;

extern const WAVEFORMATEX default_format; // PCM, 2 channels, 44100 Hz, 16 bits
extern const char settings_section[];     // "WAV Writing Output Driver"

extern char config_waveoutdir[text_setting_bytes];
extern BYTE cfg_cvt;
extern BYTE cfg_wfx[format_buffer_bytes];
extern BYTE cfg_wav1;
extern char cfg_wav1p[text_setting_bytes];
extern WAVEFORMATEX cfg_wfx1;
extern BYTE cfg_mode;
extern BYTE cfg_thread;

// The configuration dialog's working copies.
extern BYTE dlg_wfx[format_buffer_bytes];
extern WAVEFORMATEX dlg_wfx1;

extern char ini_path[MAX_PATH]; // empty when no path could be derived: nothing is read or written
extern BYTE settings_saving;    // 0: the next exchange loads, 1: it saves

inline const WAVEFORMATEX *cfg_wfx_format(void) { return reinterpret_cast<const WAVEFORMATEX *>(cfg_wfx); }

void settings_apply_defaults(void);
void settings_load(void); // init: derive the INI path, then read every key
void settings_save(void); // quit: write every key
void exchange_settings(void);

// Turns the executable path in a MAX_PATH buffer into the INI path beside it, in place:
// the file name's extension becomes "ini" (".ini" is appended when it has none). A path
// that is empty or leaves no room for the new ending becomes the empty text.
void derive_ini_path(char *path);

// Saving: writes value under key and returns it unchanged. Loading: returns the key's
// integer, or value itself when the key is missing or empty.
DWORD exchange_int_setting(DWORD value, const char *key);
// Saving: writes the text. Loading: reads the key into buffer (text_setting_bytes), keeping
// the current text when the key is missing.
void exchange_string_setting(char *buffer, const char *key);
// Writes value as decimal digits; 0 is written as the empty text.
void write_int_setting(const char *key, DWORD value);

#endif
