// Builds the per-track output path from a folder and a name pattern, filled in from the player's
// playlist entry. A title comes from wherever the player got it (an internet stream's server,
// for one): it is bounded when it is read and every character of it is checked before it
// reaches a name.
#include "output/output_naming.h"

#include <stdint.h>

#include "config/settings_store.h"
#include "output/ansi_text.h"

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
        size_t digits = decimal_text(suffix + 2, copy, 1);
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
    // name in its UTF-8 form too. In the UTF-8 code page that form is the bytes themselves, but for
    // bytes that start no valid sequence: each becomes U+FFFD there.
    size_t utf8_room = SIZE_MAX;
    if (recipe->utf8_name_bytes)
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
