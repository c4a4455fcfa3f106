// Builds the per-track output path from config_waveoutdir and the player's title, and formats
// the error box. Relies on the module record's main window for both.
#include "output_naming.h"

#include "../config/settings_store.h"
#include "../host/out_module.h"

static const char replaced_chars[10] = {'.', '\\', '/', ':', '*', '?', '"', '<', '>', '|'};

static bool is_replaced(char c)
{
    for (char r : replaced_chars)
        if (c == r) return true;
    return false;
}

void build_output_path(char *buffer, const char *extension)
{
    size_t length = strlen(config_waveoutdir); // at most 259: the setting's buffer bounds it
    memcpy(buffer, config_waveoutdir, length);
    if (length > 0 && buffer[length - 1] != '\\') buffer[length++] = '\\';

    HWND host = module_record.main_window;
    LRESULT position = SendMessageA(host, WM_USER, 0, request_playlist_position);
    const char *title = reinterpret_cast<const char *>(
        SendMessageA(host, WM_USER, static_cast<WPARAM>(position), request_playlist_title));
    if (!title) title = ""; // the player has no title for this entry

    size_t extension_length = strlen(extension);
    size_t room = output_path_chars - 1 - extension_length - length;
    for (size_t i = 0; title[i] && i < room; i++) buffer[length++] = is_replaced(title[i]) ? '_' : title[i];
    memcpy(buffer + length, extension, extension_length + 1);
}

void show_error(const char *path, const char *message)
{
    char text[640];
    // wsprintfA stops at 1024 characters; the path (512) and message are cut to fit 640.
    char cut_path[output_path_chars];
    size_t path_room = sizeof text - strlen(message) - 6;
    size_t path_length = strlen(path);
    if (path_length > path_room) path_length = path_room;
    if (path_length > sizeof cut_path - 1) path_length = sizeof cut_path - 1;
    memcpy(cut_path, path, path_length);
    cut_path[path_length] = 0;
    wsprintfA(text, "%s: \"%s\"", message, cut_path);
    MessageBoxA(module_record.main_window, text, plugin_caption, MB_OK | MB_ICONERROR);
}
