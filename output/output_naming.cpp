// Builds the per-track output path from config_waveoutdir and the player's title, and formats
// the error box. The player's window, which answers for the title and owns the box, is the
// caller's to give.
#include "output_naming.h"

#include "../config/plugin_version.h"
#include "../config/settings_store.h"

static const char replaced_chars[10] = {'.', '\\', '/', ':', '*', '?', '"', '<', '>', '|'};

// Names Windows keeps for devices, whatever extension follows. COM and LPT also take the
// superscript digits 1, 2 and 3 as their number: one byte each in Windows-1252 (0xB9, 0xB2,
// 0xB3), two where the ANSI code page is UTF-8 (0xC2 and the same byte).
static const char *const device_names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
static const char *const numbered_device_names[] = {"COM", "LPT"};
static const char device_digits[] = "123456789\xB9\xB2\xB3";
static const char superscript_digits[] = "\xB9\xB2\xB3";

// Windows refuses longer name parts, and paths opened without long-path support stop at
// MAX_PATH with the terminator.
constexpr size_t name_part_chars = 255;
constexpr size_t whole_path_chars = MAX_PATH - 1;

static bool is_replaced(char c)
{
    if (c >= 1 && c <= 31) return true; // control characters are refused in file names
    for (char r : replaced_chars)
        if (c == r) return true;
    return false;
}

static char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

static bool starts_with_name(const char *text, size_t length, const char *name)
{
    size_t name_length = strlen(name);
    if (length < name_length) return false;
    for (size_t i = 0; i < name_length; i++)
        if (upper(text[i]) != name[i]) return false;
    return true;
}

static bool is_device_digit(const char *text, size_t length)
{
    if (length == 1) return memchr(device_digits, text[0], sizeof device_digits - 1) != nullptr;
    return length == 2 && text[0] == '\xC2' && memchr(superscript_digits, text[1], sizeof superscript_digits - 1) &&
           GetACP() == CP_UTF8;
}

static bool is_device_name(const char *text, size_t length)
{
    while (length > 0 && text[length - 1] == ' ') length--; // trailing spaces name the device too
    for (const char *name : device_names)
        if (length == strlen(name) && starts_with_name(text, length, name)) return true;
    if (length < 4 || !is_device_digit(text + 3, length - 3)) return false;
    for (const char *name : numbered_device_names)
        if (starts_with_name(text, length, name)) return true;
    return false;
}

// Where the ANSI code page is UTF-8, IsDBCSLeadByte is false for every byte: a name cut at
// length backs up to the first byte of a character that would lose bytes. Bytes that start no
// valid sequence count as characters of their own.
static size_t utf8_whole_characters(const char *name, size_t length)
{
    size_t start = length;
    while (start > 0 && length - start < 3 && (static_cast<BYTE>(name[start - 1]) & 0xC0) == 0x80) start--;
    if (start == 0) return length;
    BYTE lead = static_cast<BYTE>(name[start - 1]);
    size_t sequence = 1;
    if (lead >= 0xC0 && lead <= 0xDF) sequence = 2; // 110xxxxx
    else if (lead >= 0xE0 && lead <= 0xEF) sequence = 3; // 1110xxxx
    else if (lead >= 0xF0 && lead <= 0xF7) sequence = 4; // 11110xxx
    return length - (start - 1) < sequence ? start - 1 : length;
}

// Copies the title into name (room characters at most) as a file system takes it: replaced
// characters become '_', a double-byte character of the ANSI code page is kept whole (its
// second byte may look like '\\' or '|') and never cut in two, a lead byte without its second
// byte becomes '_', a cut never ends inside a UTF-8 character, and a device name gets a '_'.
// Returns the characters written.
static size_t copy_title(char *name, const char *title, size_t room)
{
    size_t length = 0;
    size_t i = 0;
    while (title[i]) {
        bool lead = IsDBCSLeadByte(static_cast<BYTE>(title[i]));
        bool pair = lead && title[i + 1];
        size_t width = pair ? 2 : 1;
        if (length + width > room) break;
        if (pair) {
            name[length++] = title[i];
            name[length++] = title[i + 1];
        } else {
            // A lead byte that ends the title would pair with the extension's '.'.
            name[length++] = lead || is_replaced(title[i]) ? '_' : title[i];
        }
        i += width;
    }
    if (title[i] && GetACP() == CP_UTF8) length = utf8_whole_characters(name, length);
    if (is_device_name(name, length)) {
        if (length < room) length++; // within the limits the '_' is added, else it takes the last place
        name[length - 1] = '_';
    }
    return length;
}

void build_output_path(HWND player_window, char *buffer, const char *extension)
{
    size_t length = strlen(config_waveoutdir); // at most 259: the setting's buffer bounds it
    memcpy(buffer, config_waveoutdir, length);
    if (length > 0 && buffer[length - 1] != '\\') buffer[length++] = '\\';

    LRESULT position = SendMessageA(player_window, WM_USER, 0, request_playlist_position);
    const char *title = reinterpret_cast<const char *>(
        SendMessageA(player_window, WM_USER, static_cast<WPARAM>(position), request_playlist_title));
    if (!title) title = ""; // the player has no title for this entry

    // The name part and the whole path bound the title; a directory that leaves no room gets
    // an empty title rather than a changed directory.
    size_t extension_length = strlen(extension);
    size_t room = name_part_chars - extension_length;
    if (length + extension_length >= whole_path_chars) room = 0;
    else if (whole_path_chars - length - extension_length < room) room = whole_path_chars - length - extension_length;
    length += copy_title(buffer + length, title, room);
    memcpy(buffer + length, extension, extension_length + 1);
}

// The box's text: the message and the whole 512-character path fit, and wsprintfA, which
// stops at 1024 characters, never cuts it.
constexpr size_t error_text_chars = 640;

void show_error(HWND owner, const char *path, const char *message)
{
    char text[error_text_chars];
    // The path is cut only where a message would not leave it room.
    char cut_path[output_path_chars];
    size_t path_room = sizeof text - strlen(message) - 6;
    size_t path_length = strlen(path);
    if (path_length > path_room) path_length = path_room;
    if (path_length > sizeof cut_path - 1) path_length = sizeof cut_path - 1;
    memcpy(cut_path, path, path_length);
    cut_path[path_length] = 0;
    wsprintfA(text, "%s: \"%s\"", message, cut_path);
    MessageBoxA(owner, text, TOLLVANE_VERSION, MB_OK | MB_ICONERROR);
}
