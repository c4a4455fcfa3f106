// The plug-in's settings: process-wide variables named after their INI keys, their attach
// defaults, and the load at init / save at quit through the INI file beside the player.
#ifndef TOLLVANE_SETTINGS_STORE_H
#define TOLLVANE_SETTINGS_STORE_H

#include <windows.h>
#include <mmreg.h>

constexpr unsigned format_buffer_bytes = 2066; // the 18-byte record and up to 2048 codec bytes
constexpr unsigned text_setting_bytes = 260;

extern const WAVEFORMATEX default_format; // PCM, 2 channels, 44100 Hz, 16 bits

// cfg_mode: the per-track file mode, numbered as the dialog lists its texts. Any other value
// (255 from a dialog left with no selection, or a hand edit) acts as file_mode_wav.
constexpr BYTE file_mode_auto = 0; // WAV, or a bare ".mp3" stream for MPEG Layer-3
constexpr BYTE file_mode_wav = 1;
constexpr BYTE file_mode_raw = 2;
constexpr unsigned file_mode_count = 3;

// cfg_exists, numbered as the dialog lists its texts.
constexpr BYTE exists_ask = 0;      // the overwrite question
constexpr BYTE exists_replace = 1;  // without asking
constexpr BYTE exists_number = 2;   // keep both: the new file is "NAME (2)", "NAME (3)", ...
constexpr BYTE exists_skip = 3;     // the track plays on, and nothing is written
constexpr unsigned exists_policy_count = 4;

extern char config_waveoutdir[text_setting_bytes];
extern BYTE cfg_cvt;
extern BYTE cfg_wfx[format_buffer_bytes];
extern BYTE cfg_wav1;
extern char cfg_wav1p[text_setting_bytes];
extern WAVEFORMATEX cfg_wfx1;
extern BYTE cfg_mode;
extern BYTE cfg_thread;
// cfg_name's default, and what an empty pattern becomes: the names of the first versions.
constexpr char default_name_pattern[] = "%title%";

// Per-track files only (single-file mode ignores the last three):
extern char cfg_name[text_setting_bytes]; // the file name's pattern: %title%, %pos%, %% and literal text
extern BYTE cfg_exists;                   // what to do when the file exists, one of the exists_ values
extern BYTE cfg_info;                     // 1: the title and number go into the file as tags
extern BYTE cfg_split;                    // 1: a new file when a stream's title changes
// Single-file mode only:
extern BYTE cfg_cue;                      // 1: a cue sheet of the tracks beside the single file
// Every WAV file the plug-in creates:
extern BYTE cfg_rf64;                     // 1: room to grow past 4 GiB as an RF64 file

// The INI file as the ANSI profile functions name it; empty when the ANSI code page cannot spell
// its folder, and ini_path_wide names it instead. Both empty when no path could be derived:
// nothing is read or written then.
extern char ini_path[MAX_PATH];
extern WCHAR ini_path_wide[MAX_PATH];

inline const WAVEFORMATEX *cfg_wfx_format(void) { return reinterpret_cast<const WAVEFORMATEX *>(cfg_wfx); }

// What the configuration dialog hands over when the user presses OK: its working values,
// committed to the settings at once. Flags are 0 or 1 as the check boxes give them, texts at
// most 259 characters.
struct settings_values {
    char waveoutdir[text_setting_bytes];
    BYTE cvt;
    BYTE wfx[format_buffer_bytes];
    BYTE wav1;
    char wav1p[text_setting_bytes];
    WAVEFORMATEX wfx1;
    BYTE mode;
    BYTE thread;
    char name[text_setting_bytes];
    BYTE exists;
    BYTE info;
    BYTE split;
    BYTE cue;
    BYTE rf64;
};

// Every setting at its default, as at library attach.
void settings_reset(void);
// The one way the settings change between init and quit: the dialog's values, as they are.
// The dialog's thread commits while the player's decoding thread may be taking a snapshot: both
// hold one lock, so that neither ever sees half a change.
void settings_commit(const settings_values *values);
// Every setting as it stands, at once: what a track opens with.
void settings_snapshot(settings_values *values);
void settings_load(void); // init: derive the INI path, then read every key
void settings_save(void); // quit: write every key
// Walks every key in one order, reading each into its variable or writing it from there.
void exchange_settings(bool saving);

// Turns the executable path in a MAX_PATH buffer into the INI path beside it, in place:
// the file name's extension becomes "ini" (".ini" is appended when it has none). A path
// that is empty or leaves no room for the new ending becomes the empty text.
void derive_ini_path(WCHAR *path);

#endif
