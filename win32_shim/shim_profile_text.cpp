// What a profile (INI) file's bytes hold and the bytes a profile is written back as: the
// encoding a byte-order mark tells (ANSI, UTF-8, UTF-16 in either order), held inside as UTF-8,
// the stand-in's ANSI code page, through the shared coders of shim_utf8.h; and the sections and
// keys of its lines, read as Windows reads them. The profile functions (shim_profile.cpp) read
// and write every file through these.
#include "win32_shim/shim_profile_text.h"

#include "win32_shim/shim_utf8.h"

// Text inside the stand-in is in its ANSI code page, UTF-8. A UTF-16 code unit that is a lone
// surrogate gets the three bytes UTF-8 would give it were it a character, so that a rewrite
// gives it back: Windows, which holds the text as WCHARs, keeps it too.
// Differs from Windows: an A read hands out those three bytes, where Windows gives '?'.
static void put_utf8(std::string &text, uint32_t code_point)
{
    char bytes[4];
    text.append(bytes, shim_utf8_encode(code_point, bytes));
}

// The code point at text[i], moving i past it: UTF-8 as the code page takes it, with the
// surrogates' forms taken as put_utf8 writes them. A malformed sequence gives U+FFFD.
static uint32_t take_utf8(const std::string &text, size_t &i)
{
    long code_point = shim_utf8_decode(reinterpret_cast<const unsigned char *>(text.data()), text.size(), &i, true);
    return code_point < 0 ? 0xFFFD : static_cast<uint32_t>(code_point);
}

std::string profile_utf8_of(const WCHAR *units, size_t length)
{
    std::string text;
    for (size_t i = 0; i < length;) put_utf8(text, shim_utf16_decode(units, length, &i));
    return text;
}

std::basic_string<WCHAR> profile_utf16_of(const std::string &text)
{
    std::basic_string<WCHAR> units;
    for (size_t i = 0; i < text.size();) {
        WCHAR pair[2];
        units.append(pair, shim_utf16_encode(take_utf8(text, i), pair));
    }
    return units;
}

// A UTF-16 file's text after its mark. An odd last byte is a code unit of its own, as Windows
// reads it.
static std::string from_utf16(const std::string &bytes, size_t start, bool big_endian)
{
    std::basic_string<WCHAR> units;
    for (size_t i = start; i < bytes.size(); i += 2) {
        WCHAR first = static_cast<unsigned char>(bytes[i]);
        if (i + 1 == bytes.size()) {
            units += first;
            break;
        }
        WCHAR second = static_cast<unsigned char>(bytes[i + 1]);
        units += static_cast<WCHAR>(big_endian ? first << 8 | second : second << 8 | first);
    }
    return profile_utf8_of(units.data(), units.size());
}

static std::string to_utf16(const std::string &text, bool big_endian)
{
    std::basic_string<WCHAR> units = static_cast<WCHAR>(0xFEFF) + profile_utf16_of(text);
    std::string bytes;
    for (WCHAR unit : units) {
        bytes += static_cast<char>(big_endian ? unit >> 8 : unit & 0xFF);
        bytes += static_cast<char>(big_endian ? unit & 0xFF : unit >> 8);
    }
    return bytes;
}

// Text stops at a NUL byte, as it does once Windows has turned the line into a C string.
static std::string c_text(const char *start, const char *end)
{
    const char *p = start;
    while (p < end && *p) p++;
    return std::string(start, p);
}

void profile_parse(const std::string &bytes, profile &out)
{
    out.sections.assign(1, profile_section());
    out.encoding = encoding_ansi;
    std::string text;
    const char *p = bytes.data();
    const char *end = p + bytes.size();
    if (bytes.size() >= 3 && memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
        out.encoding = encoding_utf8;
        p += 3;
    } else if (bytes.size() >= 2 && (memcmp(p, "\xFF\xFE", 2) == 0 || memcmp(p, "\xFE\xFF", 2) == 0)) {
        out.encoding = p[0] == '\xFF' ? encoding_utf16le : encoding_utf16be;
        text = from_utf16(bytes, 2, out.encoding == encoding_utf16be);
        p = text.data();
        end = p + text.size();
    }
    const profile_key *prev_key = nullptr;
    while (p < end) {
        const char *line = p;
        while (p < end && *p != '\r' && *p != '\n') p++;
        const char *line_end = p;
        while (p < end && (*p == '\r' || *p == '\n')) p++;
        while (line < line_end && profile_space(static_cast<unsigned char>(*line))) line++;
        while (line_end > line && profile_space(static_cast<unsigned char>(line_end[-1]))) line_end--;
        if (line == line_end) continue;

        if (*line == '[') {
            // The name runs to the last ']' of the line; anything behind it is dropped.
            const char *close = line_end - 1;
            while (close > line && *close != ']') close--;
            if (close > line) {
                const char *name = line + 1;
                const char *name_end = close;
                while (name < name_end && profile_space(static_cast<unsigned char>(*name))) name++;
                while (name_end > name && profile_space(static_cast<unsigned char>(name_end[-1]))) name_end--;
                profile_section section;
                section.name = c_text(name, name_end);
                out.sections.push_back(section);
                prev_key = nullptr;
                continue;
            }
        }

        const char *equals = line;
        while (equals < line_end && *equals != '=') equals++;
        profile_key key;
        const char *name_end = line_end;
        key.has_value = equals < line_end;
        if (key.has_value) {
            name_end = equals;
            while (name_end > line && profile_space(static_cast<unsigned char>(name_end[-1]))) name_end--;
            const char *value = equals + 1;
            while (value < line_end && profile_space(static_cast<unsigned char>(*value))) value++;
            key.value = c_text(value, line_end);
        }
        // Of several nameless keys in a row only the first survives.
        if (name_end == line && prev_key && prev_key->name.empty()) continue;
        key.name = c_text(line, name_end);
        std::vector<profile_key> &keys = out.sections.back().keys;
        keys.push_back(key);
        prev_key = &keys.back();
    }
}

std::string profile_file_bytes(const profile &data)
{
    std::string text;
    if (data.encoding == encoding_utf8) text = "\xEF\xBB\xBF";
    for (const profile_section &section : data.sections) {
        if (!section.name.empty()) text += "[" + section.name + "]\r\n";
        for (const profile_key &key : section.keys) {
            text += key.name;
            if (key.has_value) text += "=" + key.value;
            text += "\r\n";
        }
    }
    if (data.encoding == encoding_utf16le || data.encoding == encoding_utf16be)
        text = to_utf16(text, data.encoding == encoding_utf16be);
    return text;
}

