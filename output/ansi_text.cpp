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

// The bytes of the character at text (of length bytes) in the UTF-8 code page: a whole sequence,
// or one byte where none starts.
static size_t utf8_character_bytes(const char *text, size_t length)
{
    BYTE lead = static_cast<BYTE>(text[0]);
    size_t sequence = lead >= 0xC2 && lead <= 0xDF   ? 2
                      : lead >= 0xE0 && lead <= 0xEF ? 3
                      : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                     : 1;
    if (sequence > length) return 1;
    for (size_t i = 1; i < sequence; i++)
        if ((static_cast<BYTE>(text[i]) & 0xC0) != 0x80) return 1;
    return sequence;
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
