// UTF-8, the stand-in's ANSI code page, and UTF-16, its WCHARs: one encoder and one decoder of
// each for the code page conversions and the profile files. Each caller decides what a code
// point that is no character becomes.
#ifndef TOLLVANE_SHIM_UTF8_H
#define TOLLVANE_SHIM_UTF8_H

#include <stddef.h>
#include <stdint.h>

// Writes code_point (at most U+10FFFF; a surrogate is written as its three bytes) into out,
// which holds 4 bytes; returns how many it took.
inline size_t shim_utf8_encode(uint32_t code_point, char *out)
{
    if (code_point < 0x80) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    size_t bytes = code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
    for (size_t k = bytes - 1; k > 0; k--, code_point >>= 6) out[k] = static_cast<char>(0x80 | (code_point & 0x3F));
    out[0] = static_cast<char>((0xF00 >> bytes) | code_point); // lead C0, E0 or F0
    return bytes;
}

// The code point that starts at text[*i] (of length bytes), moving *i past it; -1 for a
// malformed sequence, *i then past its longest well-formed start (at least one byte), which
// stands for one U+FFFD as Unicode advises. A surrogate's three bytes (ED A0 80 to ED BF BF)
// are malformed unless keep_surrogates: the profile files take back the lone surrogates they
// wrote so.
inline long shim_utf8_decode(const unsigned char *text, size_t length, size_t *i, bool keep_surrogates)
{
    unsigned char lead = text[(*i)++];
    if (lead < 0x80) return lead;
    size_t more = lead < 0xC2 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : 0;
    if (more == 0) return -1;
    // These second bytes rule out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED && !keep_surrogates ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    long code_point = lead & (0x3F >> more);
    for (size_t k = 0; k < more; k++, (*i)++) {
        if (*i >= length || text[*i] < (k == 0 ? low : 0x80) || text[*i] > (k == 0 ? high : 0xBF)) return -1;
        code_point = code_point << 6 | (text[*i] & 0x3F);
    }
    return code_point;
}

// Writes code_point (at most U+10FFFF) into out, which holds 2 units: beyond U+FFFF a surrogate
// pair, else the one unit (a surrogate as itself). Returns how many it took.
inline size_t shim_utf16_encode(uint32_t code_point, char16_t *out)
{
    if (code_point < 0x10000) {
        out[0] = static_cast<char16_t>(code_point);
        return 1;
    }
    out[0] = static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + ((code_point - 0x10000) & 0x3FF));
    return 2;
}

// The code point at units[*i] (of length), moving *i past it: a high surrogate followed by a low
// one make one code point; any other surrogate comes back as itself.
inline uint32_t shim_utf16_decode(const char16_t *units, size_t length, size_t *i)
{
    uint32_t unit = units[(*i)++];
    if (unit < 0xD800 || unit >= 0xDC00 || *i >= length || units[*i] < 0xDC00 || units[*i] >= 0xE000) return unit;
    return 0x10000 + ((unit - 0xD800) << 10) + (units[(*i)++] - 0xDC00);
}

#endif
