// Owns the settings variables and their defaults; loads them at init and saves them at quit
// through the platform's profile functions, one routine walking the keys in both directions,
// and commits what the configuration dialog hands over on OK. Every other part reads the
// variables in place.
#include "config/settings_store.h"

const WAVEFORMATEX default_format = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
static const char settings_section[] = "WAV Writing Output Driver";

char config_waveoutdir[text_setting_bytes];
BYTE cfg_cvt;
BYTE cfg_wfx[format_buffer_bytes];
BYTE cfg_wav1;
char cfg_wav1p[text_setting_bytes];
WAVEFORMATEX cfg_wfx1;
BYTE cfg_mode;
BYTE cfg_thread;
char cfg_name[text_setting_bytes];
BYTE cfg_exists;
BYTE cfg_info;
BYTE cfg_split;
BYTE cfg_cue;
BYTE cfg_rf64;
char ini_path[MAX_PATH];
WCHAR ini_path_wide[MAX_PATH];

// Held by a commit and a snapshot; made once, at the first attach.
static CRITICAL_SECTION settings_lock;
static bool settings_lock_made;

static void reset_codec_format(BYTE *buffer)
{
    memset(buffer + sizeof(WAVEFORMATEX), 0, format_buffer_bytes - sizeof(WAVEFORMATEX));
    memcpy(buffer, &default_format, sizeof(WAVEFORMATEX));
}

// A text setting takes text cut to its 259 characters.
static void put_text_setting(char *setting, const char *text)
{
    size_t length = strnlen(text, text_setting_bytes - 1);
    memcpy(setting, text, length);
    setting[length] = 0;
}

// Texts are cut to their buffers; nothing else is normalised, as the dialog gives what the
// track output and the next save take: a mode of 255 stays 255.
void settings_commit(const settings_values *values)
{
    EnterCriticalSection(&settings_lock);
    cfg_cvt = values->cvt;
    put_text_setting(config_waveoutdir, values->waveoutdir);
    memcpy(cfg_wfx, values->wfx, format_buffer_bytes);
    cfg_wfx1 = values->wfx1;
    cfg_wav1 = values->wav1;
    cfg_thread = values->thread;
    cfg_mode = values->mode;
    put_text_setting(cfg_wav1p, values->wav1p);
    put_text_setting(cfg_name, values->name);
    cfg_exists = values->exists;
    cfg_info = values->info;
    cfg_split = values->split;
    cfg_cue = values->cue;
    cfg_rf64 = values->rf64;
    LeaveCriticalSection(&settings_lock);
}

void settings_snapshot(settings_values *values)
{
    EnterCriticalSection(&settings_lock);
    memcpy(values->waveoutdir, config_waveoutdir, text_setting_bytes);
    values->cvt = cfg_cvt;
    memcpy(values->wfx, cfg_wfx, format_buffer_bytes);
    values->wav1 = cfg_wav1;
    memcpy(values->wav1p, cfg_wav1p, text_setting_bytes);
    values->wfx1 = cfg_wfx1;
    values->mode = cfg_mode;
    values->thread = cfg_thread;
    memcpy(values->name, cfg_name, text_setting_bytes);
    values->exists = cfg_exists;
    values->info = cfg_info;
    values->split = cfg_split;
    values->cue = cfg_cue;
    values->rf64 = cfg_rf64;
    LeaveCriticalSection(&settings_lock);
}

void settings_reset(void)
{
    if (!settings_lock_made) {
        InitializeCriticalSection(&settings_lock);
        settings_lock_made = true;
    }
    strcpy(config_waveoutdir, "c:\\");
    cfg_cvt = 0;
    reset_codec_format(cfg_wfx);
    cfg_wav1 = 0;
    strcpy(cfg_wav1p, "c:\\out.wav");
    cfg_wfx1 = default_format;
    cfg_mode = 0;
    cfg_thread = 0;
    strcpy(cfg_name, default_name_pattern);
    cfg_exists = exists_ask;
    cfg_info = 0;
    cfg_split = 0;
    cfg_cue = 0;
    cfg_rf64 = 0;
}

void derive_ini_path(WCHAR *path)
{
    path[MAX_PATH - 1] = 0;
    size_t length = 0;
    while (path[length]) length++;
    // Only the file name's own '.' counts: a dot in a folder name must not move the INI
    // out of the player's folder.
    size_t dot = length;
    while (dot > 0 && path[dot - 1] != '\\' && path[dot - 1] != '/') {
        if (path[dot - 1] == '.') break;
        dot--;
    }
    if (length == 0) return;
    static const WCHAR extension[] = {'.', 'i', 'n', 'i', 0};
    size_t at = dot > 0 && path[dot - 1] == '.' ? dot - 1 : length;
    if (at + 5 > MAX_PATH) { // ".ini" and its terminator must fit
        path[0] = 0;
        return;
    }
    memcpy(path + at, extension, sizeof extension);
}

// The wide profile functions take the section and the keys as wide text: plain ASCII, each
// character its own code.
constexpr unsigned key_chars = 32;

static void widen_ascii(const char *text, WCHAR *wide)
{
    size_t i = 0;
    for (; text[i] && i < key_chars - 1; i++) wide[i] = static_cast<WCHAR>(text[i]);
    wide[i] = 0;
}

// The profile calls of the store, through the ANSI functions as always, or the wide ones where
// the ANSI code page cannot spell the INI's folder. Values pass through the ANSI code page
// either way, so the file holds the same text.
static UINT profile_int(const char *key, int default_value)
{
    if (!ini_path_wide[0]) return GetPrivateProfileIntA(settings_section, key, default_value, ini_path);
    WCHAR section[key_chars], wide_key[key_chars];
    widen_ascii(settings_section, section);
    widen_ascii(key, wide_key);
    return GetPrivateProfileIntW(section, wide_key, default_value, ini_path_wide);
}

// A text value as the profile functions see it: a setting's 259 characters, the quotes around a
// pattern, the terminator, and a little room to tell a longer value from one that fits.
constexpr unsigned profile_text_chars = text_setting_bytes + 4;

// value null removes the key. A value the wide route cannot convert leaves the key as it was:
// an empty value would read back as another setting.
static void profile_write_text(const char *key, const char *value)
{
    if (!ini_path_wide[0]) {
        WritePrivateProfileStringA(settings_section, key, value, ini_path);
        return;
    }
    WCHAR section[key_chars], wide_key[key_chars], wide_value[profile_text_chars];
    widen_ascii(settings_section, section);
    widen_ascii(key, wide_key);
    if (value && MultiByteToWideChar(CP_ACP, 0, value, -1, wide_value, profile_text_chars) == 0) return;
    WritePrivateProfileStringW(section, wide_key, value ? wide_value : nullptr, ini_path_wide);
}

// Reads key's text into out (at most profile_text_chars with its terminator), or fallback
// when the key is missing; fallback may be out itself.

static void profile_read_text(const char *key, const char *fallback, char *out, DWORD out_chars)
{
    if (!ini_path_wide[0]) {
        GetPrivateProfileStringA(settings_section, key, fallback, out, out_chars, ini_path);
        return;
    }
    WCHAR section[key_chars], wide_key[key_chars], wide_fallback[profile_text_chars], value[profile_text_chars];
    widen_ascii(settings_section, section);
    widen_ascii(key, wide_key);
    if (MultiByteToWideChar(CP_ACP, 0, fallback, -1, wide_fallback, profile_text_chars) == 0) wide_fallback[0] = 0;
    GetPrivateProfileStringW(section, wide_key, wide_fallback, value, out_chars, ini_path_wide);
    // A character takes up to four bytes in an ANSI code page; the text is cut to the buffer as
    // the ANSI function cuts it.
    char narrow[4 * profile_text_chars];
    if (WideCharToMultiByte(CP_ACP, 0, value, -1, narrow, sizeof narrow, nullptr, nullptr) == 0) return;
    size_t length = strnlen(narrow, out_chars - 1);
    memcpy(out, narrow, length);
    out[length] = 0;
}

static BOOL profile_struct(bool saving, const char *key, void *buffer, UINT bytes)
{
    if (!ini_path_wide[0])
        return saving ? WritePrivateProfileStructA(settings_section, key, buffer, bytes, ini_path)
                      : GetPrivateProfileStructA(settings_section, key, buffer, bytes, ini_path);
    WCHAR section[key_chars], wide_key[key_chars];
    widen_ascii(settings_section, section);
    widen_ascii(key, wide_key);
    return saving ? WritePrivateProfileStructW(section, wide_key, buffer, bytes, ini_path_wide)
                  : GetPrivateProfileStructW(section, wide_key, buffer, bytes, ini_path_wide);
}

// Writes value as decimal digits.
static void write_int_setting(const char *key, DWORD value)
{
    char text[11]; // ten digits hold 4294967295
    char *p = text + sizeof text - 1;
    *p = 0;
    // No digits at all for 0: the key is written with an empty value, which reads back as 0.
    while (value != 0) {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    profile_write_text(key, p);
}

// Saving: writes value under key and returns it unchanged. Loading: returns the key's integer,
// or value itself when the key is missing or empty.
static DWORD exchange_int_setting(bool saving, DWORD value, const char *key)
{
    if (saving) {
        write_int_setting(key, value);
        return value;
    }
    return profile_int(key, static_cast<int>(value));
}

// Saving: writes the text. Loading: reads the key into buffer (text_setting_bytes).
static void exchange_string_setting(bool saving, char *buffer, const char *key)
{
    if (saving) {
        profile_write_text(key, buffer);
        return;
    }
    // The buffer is its own default: a missing key leaves the text as it is.
    profile_read_text(key, buffer, buffer, text_setting_bytes);
}

// A codec record must fit its buffer with its cbSize bytes: whoever writes it to a file
// copies cbSize + 18 bytes from it. One that does not fit gives way to the default format.
static void refuse_oversized_codec_format(void)
{
    if (cfg_wfx_format()->cbSize + sizeof(WAVEFORMATEX) > format_buffer_bytes) reset_codec_format(cfg_wfx);
}

// The struct reads go through a scratch record: a failed read (wrong length, bad checksum)
// may leave part of the bytes behind, and those never reach the settings.
static void exchange_formats(bool saving)
{
    if (saving) {
        refuse_oversized_codec_format();
        DWORD bytes = cfg_wfx_format()->cbSize + sizeof(WAVEFORMATEX);
        write_int_setting("cfg_wfx_s", bytes);
        profile_struct(true, "cfg_wfx", cfg_wfx, bytes);
        profile_struct(true, "cfg_wfx1", &cfg_wfx1, sizeof cfg_wfx1);
        return;
    }

    // A missing, zero, negative or oversized count leaves cfg_wfx as it is.
    UINT bytes = profile_int("cfg_wfx_s", 0);
    if (bytes != 0 && bytes <= format_buffer_bytes) {
        BYTE loaded[format_buffer_bytes];
        if (profile_struct(false, "cfg_wfx", loaded, bytes)) {
            memcpy(cfg_wfx, loaded, bytes); // the bytes behind the stored ones stay as they were
            refuse_oversized_codec_format();
        }
    }

    // The single file's fmt chunk is written from these 18 bytes alone, and only a PCM file
    // can be appended to later: any other format tag gives way to the default format.
    WAVEFORMATEX loaded;
    if (profile_struct(false, "cfg_wfx1", &loaded, sizeof loaded))
        cfg_wfx1 = loaded.wFormatTag == WAVE_FORMAT_PCM ? loaded : default_format;
}

// The options added after the first keys stand in the file only while they differ from their
// defaults, so that a file saved with the defaults is the same as before they existed: saving a
// default removes the key. The pattern is saved in quotes, which keep its leading and trailing
// spaces (the profile functions strip spaces, then one pair of quotes). A missing key gives the
// default.
static void save_optional_int(const char *key, BYTE value, BYTE default_value)
{
    if (value == default_value) profile_write_text(key, nullptr);
    else write_int_setting(key, value);
}

static void exchange_optional_settings(bool saving)
{
    if (saving) {
        if (strcmp(cfg_name, default_name_pattern) == 0) {
            profile_write_text("cfg_name", nullptr);
        } else {
            char quoted[text_setting_bytes + 2];
            wsprintfA(quoted, "\"%s\"", cfg_name);
            profile_write_text("cfg_name", quoted);
        }
        save_optional_int("cfg_exists", cfg_exists, exists_ask);
        save_optional_int("cfg_info", cfg_info, 0);
        save_optional_int("cfg_split", cfg_split, 0);
        save_optional_int("cfg_cue", cfg_cue, 0);
        save_optional_int("cfg_rf64", cfg_rf64, 0);
        return;
    }
    // Read beyond the setting's 259 characters, then cut: the profile functions drop a quoted
    // text's last character when the buffer ends just where its closing quote was.
    char pattern[profile_text_chars];
    profile_read_text("cfg_name", default_name_pattern, pattern, sizeof pattern);
    if (!pattern[0]) strcpy(pattern, default_name_pattern);
    put_text_setting(cfg_name, pattern);
    UINT exists = profile_int("cfg_exists", exists_ask);
    cfg_exists = exists < exists_policy_count ? static_cast<BYTE>(exists) : exists_ask;
    cfg_info = profile_int("cfg_info", 0) != 0;
    cfg_split = profile_int("cfg_split", 0) != 0;
    cfg_cue = profile_int("cfg_cue", 0) != 0;
    cfg_rf64 = profile_int("cfg_rf64", 0) != 0;
}

void exchange_settings(bool saving)
{
    // Without a path there is no file: nothing is read and nothing is written.
    if (!ini_path[0] && !ini_path_wide[0]) return;
    exchange_string_setting(saving, config_waveoutdir, "config_waveoutdir");
    cfg_cvt = exchange_int_setting(saving, cfg_cvt, "cfg_cvt") != 0;
    cfg_wav1 = exchange_int_setting(saving, cfg_wav1, "cfg_wav1") != 0;
    exchange_string_setting(saving, cfg_wav1p, "cfg_wav1p");
    cfg_mode = static_cast<BYTE>(exchange_int_setting(saving, cfg_mode, "cfg_mode")); // any value, low 8 bits
    cfg_thread = exchange_int_setting(saving, cfg_thread, "cfg_thread") != 0;
    exchange_formats(saving);
    exchange_optional_settings(saving);
}

// The ANSI profile functions serve wherever the ANSI code page can spell the INI's path, as
// they always have. Where it cannot (a player in a folder named in Cyrillic on a Western
// system), the ANSI path holds '?' for those characters and names no file: the wide functions
// take over.
static void choose_ini_path(const WCHAR *path)
{
    ini_path[0] = 0;
    ini_path_wide[0] = 0;
    if (!path[0]) return;
    WCHAR back[MAX_PATH];
    bool spelled = WideCharToMultiByte(CP_ACP, 0, path, -1, ini_path, MAX_PATH, nullptr, nullptr) > 0 &&
                   MultiByteToWideChar(CP_ACP, 0, ini_path, -1, back, MAX_PATH) > 0;
    for (size_t i = 0; spelled; i++) {
        if (back[i] != path[i]) spelled = false;
        if (!path[i]) break;
    }
    if (spelled) return;
    ini_path[0] = 0;
    memcpy(ini_path_wide, path, sizeof ini_path_wide);
}

void settings_load(void)
{
    // A path cut to the buffer (or none at all) names no file of ours.
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) path[0] = 0;
    derive_ini_path(path);
    choose_ini_path(path);
    exchange_settings(false);
}

void settings_save(void) { exchange_settings(true); }
