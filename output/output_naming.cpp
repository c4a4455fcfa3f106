// Builds the per-track output path from a folder and a name pattern, filled in from the player's
// playlist entry, and formats the error box. The player's window, which
// answers for the entry and owns the box, is the caller's to give. A title comes from wherever
// the player got it (an internet stream's server, for one): it is bounded when it is read and
// every character of it is checked before it reaches a name.
#include "output/output_naming.h"

#include <stdint.h>

#include "config/plugin_version.h"
#include "config/settings_store.h"

static const char replaced_chars[10] = {'.', '\\', '/', ':', '*', '?', '"', '<', '>', '|'};

// Names Windows keeps for devices, whatever extension follows. COM and LPT take the digits 0 to
// 9 and the superscript digits 1, 2 and 3 as their number: one byte each in Windows-1252 (0xB9,
// 0xB2, 0xB3), two where the ANSI code page is UTF-8 (0xC2 and the same byte).
static const char *const device_names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
static const char *const numbered_device_names[] = {"COM", "LPT"};
static const char device_digits[] = "0123456789\xB9\xB2\xB3";
static const char superscript_digits[] = "\xB9\xB2\xB3";

// Windows refuses longer name parts, and paths opened without long-path support stop at
// MAX_PATH with the terminator.
constexpr size_t name_part_chars = 255;
constexpr size_t whole_path_chars = MAX_PATH - 1;
// The longest copy suffix, kept free wherever copies may be numbered.
static const char longest_copy_suffix[] = " (99999)";

// A pattern's own text keeps its dots (a pattern may say "%pos%. %title%"); a title's dots go,
// as does everything that would name another folder or that Windows refuses in a name.
static bool is_replaced(char c, bool keep_dots)
{
    if (c >= 1 && c <= 31) return true; // control characters are refused in file names
    if (c == '.' && keep_dots) return false;
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

// The bytes of text that a cut at most room bytes long keeps whole: a double-byte character of
// the ANSI code page is never cut in two, and where that code page is UTF-8, neither is a UTF-8
// character.
static size_t whole_characters(const char *text, size_t length, size_t room)
{
    size_t kept = 0;
    while (kept < length) {
        size_t width = IsDBCSLeadByte(static_cast<BYTE>(text[kept])) && kept + 1 < length ? 2 : 1;
        if (kept + width > room) break;
        kept += width;
    }
    if (kept < length && GetACP() == CP_UTF8) kept = utf8_whole_characters(text, kept);
    return kept;
}

bool ask_playlist_entry(HWND player_window, bool wait_briefly, playlist_entry *entry)
{
    LRESULT position = 0, title = 0;
    if (wait_briefly) {
        // From the decoding thread the player's window thread may be waiting for this very
        // thread to stop: a plain SendMessage would never come back.
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutA(player_window, WM_USER, 0, request_playlist_position, SMTO_ABORTIFHUNG,
                                 playlist_wait_ms, &answer))
            return false;
        position = static_cast<LRESULT>(answer);
        if (!SendMessageTimeoutA(player_window, WM_USER, static_cast<WPARAM>(position), request_playlist_title,
                                 SMTO_ABORTIFHUNG, playlist_wait_ms, &answer))
            return false;
        title = static_cast<LRESULT>(answer);
    } else {
        position = SendMessageA(player_window, WM_USER, 0, request_playlist_position);
        title = SendMessageA(player_window, WM_USER, static_cast<WPARAM>(position), request_playlist_title);
    }
    entry->position = position;
    const char *text = reinterpret_cast<const char *>(title);
    if (!text) text = ""; // the player has no title for this entry
    // Read at once, never beyond the bound: the title may come from a remote server.
    size_t length = whole_characters(text, strnlen(text, title_max_bytes + 1), title_max_bytes);
    memcpy(entry->title, text, length);
    entry->title[length] = 0;
    return true;
}

// Copies text (length bytes, already cut to whole characters) into name as a file system takes
// it: replaced characters become '_', a double-byte character of the ANSI code page is kept
// whole (its second byte may look like '\\' or '|'), and a lead byte without its second byte
// (it would pair with what follows) becomes '_'.
static void copy_name_part(char *name, const char *text, size_t length, bool keep_dots)
{
    for (size_t i = 0; i < length; i++) {
        bool lead = IsDBCSLeadByte(static_cast<BYTE>(text[i]));
        if (lead && i + 1 < length) {
            name[i] = text[i];
            name[i + 1] = text[i + 1];
            i++;
            continue;
        }
        name[i] = lead || is_replaced(text[i], keep_dots) ? '_' : text[i];
    }
}

// One piece of a name: text of the pattern, the title, or the playlist number.
enum name_piece_kind : BYTE { piece_literal, piece_title, piece_number };

struct name_piece {
    name_piece_kind kind;
    const char *text;
    size_t length; // what stays of it once the name is cut to its room
};

// The pieces of the pattern (at most 259 characters) for entry: "%title%", "%pos%" and "%%" (one '%'); every other
// character, a lone '%' too, stands for itself. A pattern of 259 characters has at most as
// many pieces.
static size_t pattern_pieces(const char *pattern, const playlist_entry *entry, const char *number,
                             name_piece *pieces)
{
    size_t count = 0;
    while (*pattern) {
        name_piece &piece = pieces[count++];
        if (strncmp(pattern, "%title%", 7) == 0) {
            piece = {piece_title, entry->title, strlen(entry->title)};
            pattern += 7;
        } else if (strncmp(pattern, "%pos%", 5) == 0) {
            piece = {piece_number, number, strlen(number)};
            pattern += 5;
        } else if (strncmp(pattern, "%%", 2) == 0) {
            piece = {piece_literal, pattern, 1};
            pattern += 2;
        } else {
            size_t run = 1; // up to the next '%', which may start a field
            while (pattern[run] && pattern[run] != '%') run++;
            piece = {piece_literal, pattern, run};
            pattern += run;
        }
    }
    return count;
}

static size_t write_decimal(char *text, unsigned long long value, unsigned min_digits)
{
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value || count < min_digits);
    for (size_t i = 0; i < count; i++) text[i] = digits[count - 1 - i];
    text[count] = 0;
    return count;
}

// The bytes of the UTF-8 form of text (length bytes in the ANSI code page). A piece of a name
// is a title or a pattern, so it never passes title_max_bytes.
static size_t utf8_bytes(const char *text, size_t length)
{
    if (length == 0) return 0;
    if (GetACP() == CP_UTF8) return length;
    WCHAR wide[title_max_bytes];
    int units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide, title_max_bytes);
    size_t bytes = 0;
    for (int i = 0; i < units; i++) {
        uint32_t c = static_cast<uint32_t>(wide[i]);
        if (c < 0x80) bytes += 1;
        else if (c < 0x800) bytes += 2;
        else if (c >= 0xD800 && c < 0xE000) bytes += 2; // half of a pair's four
        else bytes += 3;
    }
    return bytes;
}

// The bytes of text that a cut keeps whole where its UTF-8 form may take at most room bytes, in
// a code page other than UTF-8 (where the bytes are the UTF-8 form).
static size_t utf8_whole_characters_within(const char *text, size_t length, size_t room)
{
    size_t kept = 0, taken = 0;
    while (kept < length) {
        size_t width = IsDBCSLeadByte(static_cast<BYTE>(text[kept])) && kept + 1 < length ? 2 : 1;
        size_t bytes = utf8_bytes(text + kept, width);
        if (taken + bytes > room) break;
        taken += bytes;
        kept += width;
    }
    return kept;
}

// What a name is measured in against a limit: the bytes of its ANSI text, where each character
// counts as Windows counts it, or the bytes of its UTF-8 form.
enum name_measure : BYTE { measure_ansi_bytes, measure_utf8_bytes };

static size_t measured(const name_piece &piece, name_measure measure)
{
    return measure == measure_ansi_bytes ? piece.length : utf8_bytes(piece.text, piece.length);
}

// Takes from piece what total has beyond room, at a whole character.
static void cut_piece(name_piece *piece, size_t *total, size_t room, name_measure measure)
{
    if (*total <= room) return;
    size_t size = measured(*piece, measure);
    size_t allowed = size > *total - room ? size - (*total - room) : 0;
    piece->length = measure == measure_ansi_bytes ? whole_characters(piece->text, piece->length, allowed)
                                                  : utf8_whole_characters_within(piece->text, piece->length, allowed);
    *total -= size - measured(*piece, measure);
}

// Cuts the pieces to room: the last title first, then the text of the pattern behind it, from
// its end; the number, and whatever comes before the last title, never. False when even that
// leaves the name too long.
static bool cut_pieces(name_piece *pieces, size_t count, size_t room, name_measure measure)
{
    size_t total = 0;
    for (size_t i = 0; i < count; i++) total += measured(pieces[i], measure);
    size_t tail = 0; // the first piece behind the last title
    for (size_t i = count; i-- > 0;)
        if (pieces[i].kind == piece_title) {
            cut_piece(&pieces[i], &total, room, measure);
            tail = i + 1;
            break;
        }
    for (size_t i = count; i-- > tail;)
        if (pieces[i].kind == piece_literal) cut_piece(&pieces[i], &total, room, measure);
    return total <= room;
}

// Where a name's last whole character starts (see whole_characters).
static size_t last_character_start(const char *name, size_t length)
{
    if (length == 0) return 0;
    if (GetACP() == CP_UTF8) return utf8_whole_characters(name, length - 1);
    size_t start = 0;
    for (size_t i = 0; i < length; i += IsDBCSLeadByte(static_cast<BYTE>(name[i])) && i + 1 < length ? 2 : 1)
        start = i;
    return start;
}

// Windows takes the part of a name before its first dot, trailing spaces aside, for a device:
// such a name gets a '_' behind that part, so that the track reaches a file. Where the name is
// at its room (in bytes, or in its UTF-8 form's bytes where utf8_room is not SIZE_MAX), its last
// character makes way.
static size_t keep_off_devices(char *name, size_t length, size_t room, size_t utf8_room)
{
    size_t base = 0;
    while (base < length && name[base] != '.') base++;
    if (!is_device_name(name, base)) return length;
    if (length >= room || (utf8_room != SIZE_MAX && utf8_bytes(name, length) >= utf8_room)) {
        length = last_character_start(name, length);
        if (base > length) base = length;
    }
    memmove(name + base + 1, name + base, length - base);
    name[base] = '_';
    return length + 1;
}

size_t entry_number(const playlist_entry *entry, unsigned min_digits, char *text)
{
    unsigned long long value = entry->position < 0 ? 1 : static_cast<unsigned long long>(entry->position) + 1;
    return write_decimal(text, value, min_digits);
}

bool names_stored_as_utf8(void)
{
    // Every Wine has this export of ntdll, and Windows never has.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool build_output_path(char *buffer, const name_recipe *recipe, const playlist_entry *entry, unsigned copy)
{
    const char *extension = recipe->extension;
    size_t length = strnlen(recipe->folder, text_setting_bytes - 1);
    memcpy(buffer, recipe->folder, length);
    if (length > 0 && buffer[length - 1] != '\\') buffer[length++] = '\\';
    buffer[length] = 0; // a name that does not fit leaves the folder for the message

    char suffix[sizeof longest_copy_suffix] = "";
    if (copy >= 2 && copy <= max_copy_number) {
        suffix[0] = ' ';
        suffix[1] = '(';
        size_t digits = write_decimal(suffix + 2, copy, 1);
        suffix[2 + digits] = ')';
        suffix[3 + digits] = 0;
    } else if (copy != 0) {
        return false;
    }
    size_t suffix_length = recipe->room_for_copies ? strlen(longest_copy_suffix) : strlen(suffix);

    // The name part and the whole path bound the name. A folder that leaves no room gets an
    // empty name rather than a changed folder, as it always has; a numbered copy whose number
    // does not fit is no copy.
    size_t tail_length = strlen(extension) + suffix_length;
    if (copy >= 2 && length + strlen(extension) + strlen(suffix) > whole_path_chars) return false;
    size_t room = name_part_chars > tail_length ? name_part_chars - tail_length : 0;
    if (length + tail_length >= whole_path_chars) room = 0;
    else if (whole_path_chars - length - tail_length < room) room = whole_path_chars - length - tail_length;
    // Where names are stored in UTF-8, the extension and " (N)" (plain ASCII) must fit behind the
    // name in its UTF-8 form too. In the UTF-8 code page the bytes are that form already.
    size_t utf8_room = SIZE_MAX;
    if (recipe->utf8_name_bytes && GetACP() != CP_UTF8)
        utf8_room = name_part_chars > tail_length ? name_part_chars - tail_length : 0;

    char number[entry_number_chars];
    entry_number(entry, 2, number);
    name_piece pieces[text_setting_bytes];
    char bounded_pattern[text_setting_bytes]; // a pattern has at most as many pieces as characters
    size_t pattern_length = strnlen(recipe->pattern, sizeof bounded_pattern - 1);
    memcpy(bounded_pattern, recipe->pattern, pattern_length);
    bounded_pattern[pattern_length] = 0;
    size_t count = pattern_pieces(bounded_pattern, entry, number, pieces);
    if (!cut_pieces(pieces, count, room, measure_ansi_bytes)) return false;
    if (utf8_room != SIZE_MAX && !cut_pieces(pieces, count, utf8_room, measure_utf8_bytes)) return false;
    char *name = buffer + length;
    size_t name_length = 0;
    for (size_t i = 0; i < count; i++) {
        copy_name_part(name + name_length, pieces[i].text, pieces[i].length, pieces[i].kind == piece_literal);
        name_length += pieces[i].length;
    }
    name_length = keep_off_devices(name, name_length, room, utf8_room);
    memcpy(name + name_length, suffix, strlen(suffix));
    name_length += strlen(suffix);
    memcpy(name + name_length, extension, strlen(extension) + 1);
    return true;
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
