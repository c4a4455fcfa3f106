// The profile files' text as the profile functions (shim_profile.cpp) hold it: sections of
// keys in file order, the encoding to write back in, and the conversions between the file's
// bytes, the UTF-8 held inside and the W functions' UTF-16 (shim_profile_text.cpp).
#ifndef TOLLVANE_SHIM_PROFILE_TEXT_H
#define TOLLVANE_SHIM_PROFILE_TEXT_H

#include <windows.h>

#include <string>
#include <vector>

struct profile_key {
    std::string name;
    std::string value;
    bool has_value; // a line without '=' is kept as a key without a value
};

struct profile_section {
    std::string name; // the first section is the unnamed one above every header
    std::vector<profile_key> keys;
};

// Kept on rewrite, as Windows keeps the encoding it found; only a byte-order mark tells.
enum profile_encoding { encoding_ansi, encoding_utf8, encoding_utf16le, encoding_utf16be };

struct profile {
    std::vector<profile_section> sections;
    profile_encoding encoding;
};

// ^Z counts as white space: DOS editors left it at the end of the file.
inline bool profile_space(unsigned char c) { return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == ' '; }

// The profile in a file's bytes: its encoding by the byte-order mark, then its lines.
void profile_parse(const std::string &bytes, profile &out);

// The bytes of a profile's file: CRLF lines in the encoding it was read in.
std::string profile_file_bytes(const profile &data);

// UTF-16 text as the UTF-8 held inside, a pair as its character and a lone surrogate as its own
// three bytes; and back.
std::string profile_utf8_of(const WCHAR *units, size_t length);
std::basic_string<WCHAR> profile_utf16_of(const std::string &text);

#endif
