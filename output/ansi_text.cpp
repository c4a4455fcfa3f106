// Cuts, measures and numbers ANSI text; see ansi_text.h.
#include "output/ansi_text.h"

#include <stdint.h>
#include <string.h>

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

size_t whole_characters(const char *text, size_t length, size_t room)
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

size_t last_character_start(const char *name, size_t length)
{
    if (length == 0) return 0;
    if (GetACP() == CP_UTF8) return utf8_whole_characters(name, length - 1);
    size_t start = 0;
    for (size_t i = 0; i < length; i += IsDBCSLeadByte(static_cast<BYTE>(name[i])) && i + 1 < length ? 2 : 1)
        start = i;
    return start;
}

size_t utf8_bytes(const char *text, size_t length)
{
    if (length == 0) return 0;
    WCHAR wide[ansi_text_max_bytes];
    int units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide, ansi_text_max_bytes);
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

long utf8_code_point(const unsigned char *text, size_t length, size_t *at)
{
    unsigned char lead = text[(*at)++];
    if (lead < 0x80) return lead;
    size_t more = lead < 0xC2 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : 0;
    if (more == 0) return -1;
    // These second bytes rule out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    long code_point = lead & (0x3F >> more);
    size_t next = *at;
    for (size_t k = 0; k < more; k++, next++) {
        if (next >= length || text[next] < (k == 0 ? low : 0x80) || text[next] > (k == 0 ? high : 0xBF)) {
            *at = next;
            return -1;
        }
        code_point = code_point << 6 | (text[next] & 0x3F);
    }
    *at = next;
    return code_point;
}

// The bytes of the character at text (of length bytes) in the UTF-8 code page: a whole sequence,
// or the start that the conversion turns into one U+FFFD.
static size_t utf8_character_bytes(const char *text, size_t length)
{
    size_t at = 0;
    utf8_code_point(reinterpret_cast<const unsigned char *>(text), length, &at);
    return at;
}

size_t utf8_whole_characters_within(const char *text, size_t length, size_t room)
{
    size_t kept = 0, taken = 0;
    bool utf8 = GetACP() == CP_UTF8;
    while (kept < length) {
        size_t width = utf8 ? utf8_character_bytes(text + kept, length - kept)
                            : IsDBCSLeadByte(static_cast<BYTE>(text[kept])) && kept + 1 < length ? 2 : 1;
        size_t bytes = utf8_bytes(text + kept, width);
        if (taken + bytes > room) break;
        taken += bytes;
        kept += width;
    }
    return kept;
}

size_t decimal_text(char *text, unsigned long long value, unsigned min_digits)
{
    char digits[decimal_text_chars];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value || count < min_digits);
    for (size_t i = 0; i < count; i++) text[i] = digits[count - 1 - i];
    text[count] = 0;
    return count;
}
