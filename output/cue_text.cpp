// Turns ANSI text into the cue sheet's UTF-8 and compares names; see cue_text.h. Relies on
// MultiByteToWideChar for the ANSI code page and on ansi_text for cutting ANSI text and reading
// UTF-8.
#include "output/cue_text.h"

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include "output/ansi_text.h"

// Longer than any path the plug-in makes; a longer one names nothing here.
constexpr size_t path_max_bytes = 4096;

// Text for the sheet goes into out (room bytes) a character at a time; the first character
// that does not fit whole ends it, so a cut never splits one.
struct sheet_text {
    char *out;
    size_t room;
    size_t used;
    bool cut;
};

static void put_character(sheet_text *text, uint32_t c)
{
    if (text->cut) return;
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return; // a line end would break the line, the rest hide in it
    if (c == '"') c = '\'';                          // would end the quoted text
    char bytes[4];
    size_t count;
    if (c < 0x80) {
        bytes[0] = static_cast<char>(c);
        count = 1;
    } else if (c < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | c >> 6);
        bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
        count = 2;
    } else if (c < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | c >> 12);
        bytes[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
        count = 3;
    } else {
        bytes[0] = static_cast<char>(0xF0 | c >> 18);
        bytes[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
        count = 4;
    }
    if (text->used + count > text->room) {
        text->cut = true;
        return;
    }
    memcpy(text->out + text->used, bytes, count);
    text->used += count;
}

// ANSI text (at most ansi_text_max_bytes) into the sheet's text. Where the ANSI code page is
// UTF-8 the bytes are read here, as MultiByteToWideChar reads them (a malformed sequence becomes
// U+FFFD), so that a character past U+FFFF never has to pass through a lone WCHAR.
static void put_ansi(sheet_text *text, const char *ansi, size_t bytes)
{
    if (bytes == 0) return;
    if (GetACP() == CP_UTF8) {
        const unsigned char *p = reinterpret_cast<const unsigned char *>(ansi);
        for (size_t at = 0; at < bytes && !text->cut;) {
            long c = utf8_code_point(p, bytes, &at);
            put_character(text, c < 0 ? 0xFFFD : static_cast<uint32_t>(c));
        }
        return;
    }
    WCHAR wide[ansi_text_max_bytes]; // no ANSI code page takes fewer bytes than WCHARs
    int units = MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(bytes), wide, ansi_text_max_bytes);
    for (int i = 0; i < units && !text->cut; i++) {
        uint32_t c = static_cast<uint16_t>(wide[i]);
        uint32_t low = i + 1 < units ? static_cast<uint16_t>(wide[i + 1]) : 0;
        if (c >= 0xD800 && c < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD; // half a pair
        }
        put_character(text, c);
    }
}

size_t cue_title(const char *ansi_title, char *utf8_out)
{
    size_t length = 0;
    if (ansi_title)
        length = whole_characters(ansi_title, strnlen(ansi_title, ansi_text_max_bytes + 1), ansi_text_max_bytes);
    sheet_text text = {utf8_out, cue_title_max_bytes, 0, false};
    put_ansi(&text, ansi_title, length);
    utf8_out[text.used] = 0;
    return text.used;
}

// The scan for the name steps over double-byte characters, whose second byte may be a '\'.
size_t cue_file_name(const char *path, char *name)
{
    if (!path) return 0;
    size_t length = strnlen(path, path_max_bytes + 1);
    if (length > path_max_bytes) return 0;
    size_t start = 0;
    for (size_t i = 0; i < length;) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < length) {
            i += 2;
            continue;
        }
        char c = path[i++];
        if (c == '\\' || c == '/' || c == ':') start = i;
    }
    if (length - start > ansi_text_max_bytes) return 0;
    sheet_text text = {name, cue_name_max_bytes, 0, false};
    put_ansi(&text, path + start, length - start);
    return text.cut ? 0 : text.used;
}

// The letter that c is the small form of, for the letters Windows' names fold most often
// (those of the Western, Central European, Greek and Cyrillic code pages); c itself otherwise.
static uint32_t capital(uint32_t c)
{
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if ((c >= 0x100 && c <= 0x137 && c != 0x130 && c != 0x131) || (c >= 0x14A && c <= 0x177)) return c & ~1u;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c & 1 ? c : c - 1;
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

bool cue_same_name(const char *a, size_t a_bytes, const char *b, size_t b_bytes)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *q = reinterpret_cast<const unsigned char *>(b);
    size_t i = 0, k = 0;
    while (i < a_bytes && k < b_bytes) {
        long c = utf8_code_point(p, a_bytes, &i), d = utf8_code_point(q, b_bytes, &k);
        if (c < 0 || d < 0 || capital(static_cast<uint32_t>(c)) != capital(static_cast<uint32_t>(d))) return false;
    }
    return i == a_bytes && k == b_bytes;
}

bool cue_valid_text(const char *text, size_t bytes)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    for (size_t at = 0; at < bytes;)
        if (p[at] == 0 || utf8_code_point(p, bytes, &at) < 0) return false;
    return true;
}
