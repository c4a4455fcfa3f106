// UTF-8, the stand-in's ANSI code page: one encoder for the code page conversions and the
// profile files. Each caller decides first what a code point that is no character becomes.
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

#endif
