// Owns the settings variables and their defaults; loads them at init and saves them at quit
// through the platform's profile functions, one routine walking the keys in both directions.
// Called from the host entry points only; every other part reads the variables in place.
#include "settings_store.h"

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
char ini_path[MAX_PATH];

static void reset_codec_format(BYTE *buffer)
{
    memset(buffer + sizeof(WAVEFORMATEX), 0, format_buffer_bytes - sizeof(WAVEFORMATEX));
    memcpy(buffer, &default_format, sizeof(WAVEFORMATEX));
}

void settings_reset(void)
{
    strcpy(config_waveoutdir, "c:\\");
    cfg_cvt = 0;
    reset_codec_format(cfg_wfx);
    cfg_wav1 = 0;
    strcpy(cfg_wav1p, "c:\\out.wav");
    cfg_wfx1 = default_format;
    cfg_mode = 0;
    cfg_thread = 0;
}

void derive_ini_path(char *path)
{
    path[MAX_PATH - 1] = 0;
    size_t length = strlen(path);
    // Only the file name's own '.' counts: a dot in a folder name must not move the INI
    // out of the player's folder.
    size_t dot = length;
    while (dot > 0 && path[dot - 1] != '\\' && path[dot - 1] != '/') {
        if (path[dot - 1] == '.') break;
        dot--;
    }
    if (length == 0) return;
    if (dot > 0 && path[dot - 1] == '.') {
        if (dot + 4 > MAX_PATH) { // "ini" and its terminator must fit behind the dot
            path[0] = 0;
            return;
        }
        memcpy(path + dot, "ini", 4);
        return;
    }
    if (length + 5 > MAX_PATH) {
        path[0] = 0;
        return;
    }
    memcpy(path + length, ".ini", 5);
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
    WritePrivateProfileStringA(settings_section, key, p, ini_path);
}

// Saving: writes value under key and returns it unchanged. Loading: returns the key's integer,
// or value itself when the key is missing or empty.
static DWORD exchange_int_setting(bool saving, DWORD value, const char *key)
{
    if (saving) {
        write_int_setting(key, value);
        return value;
    }
    return GetPrivateProfileIntA(settings_section, key, static_cast<int>(value), ini_path);
}

// Saving: writes the text. Loading: reads the key into buffer (text_setting_bytes).
static void exchange_string_setting(bool saving, char *buffer, const char *key)
{
    if (saving) {
        WritePrivateProfileStringA(settings_section, key, buffer, ini_path);
        return;
    }
    // The buffer is its own default: a missing key leaves the text as it is.
    GetPrivateProfileStringA(settings_section, key, buffer, buffer, text_setting_bytes, ini_path);
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
        WritePrivateProfileStructA(settings_section, "cfg_wfx", cfg_wfx, bytes, ini_path);
        WritePrivateProfileStructA(settings_section, "cfg_wfx1", &cfg_wfx1, sizeof cfg_wfx1, ini_path);
        return;
    }

    // A missing, zero, negative or oversized count leaves cfg_wfx as it is.
    UINT bytes = GetPrivateProfileIntA(settings_section, "cfg_wfx_s", 0, ini_path);
    if (bytes != 0 && bytes <= format_buffer_bytes) {
        BYTE loaded[format_buffer_bytes];
        if (GetPrivateProfileStructA(settings_section, "cfg_wfx", loaded, bytes, ini_path)) {
            memcpy(cfg_wfx, loaded, bytes); // the bytes behind the stored ones stay as they were
            refuse_oversized_codec_format();
        }
    }

    // The single file's fmt chunk is written from these 18 bytes alone, and only a PCM file
    // can be appended to later: any other format tag gives way to the default format.
    WAVEFORMATEX loaded;
    if (GetPrivateProfileStructA(settings_section, "cfg_wfx1", &loaded, sizeof loaded, ini_path))
        cfg_wfx1 = loaded.wFormatTag == WAVE_FORMAT_PCM ? loaded : default_format;
}

void exchange_settings(bool saving)
{
    // Without a path there is no file: nothing is read and nothing is written.
    if (!ini_path[0]) return;
    exchange_string_setting(saving, config_waveoutdir, "config_waveoutdir");
    cfg_cvt = exchange_int_setting(saving, cfg_cvt, "cfg_cvt") != 0;
    cfg_wav1 = exchange_int_setting(saving, cfg_wav1, "cfg_wav1") != 0;
    exchange_string_setting(saving, cfg_wav1p, "cfg_wav1p");
    cfg_mode = static_cast<BYTE>(exchange_int_setting(saving, cfg_mode, "cfg_mode")); // any value, low 8 bits
    cfg_thread = exchange_int_setting(saving, cfg_thread, "cfg_thread") != 0;
    exchange_formats(saving);
}

void settings_load(void)
{
    // A path cut to the buffer (or none at all) names no file of ours.
    DWORD length = GetModuleFileNameA(nullptr, ini_path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) ini_path[0] = 0;
    derive_ini_path(ini_path);
    exchange_settings(false);
}

void settings_save(void) { exchange_settings(true); }
