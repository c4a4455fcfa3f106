// Fuzzes the cue sheet's reader with an existing sheet, the single file's path and a title from
// the input (and the ANSI code page, UTF-8 or Windows-1252). A sheet read as ours must be
// adopted, take one more track (or replace its last one) and read back as ours with that track
// last, its old text kept; a new sheet for the path must read back as ours too, and a title
// must come out as bounded UTF-8 without quotes or control characters.
#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "output/cue_sheet.h"
#ifndef _WIN32
#include "win32_shim/shim_control.h"
#endif

// The code points of text, or false where it is no well-formed UTF-8: a reader of its own.
static bool code_points(const char *text, size_t bytes, std::vector<uint32_t> *out)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    for (size_t i = 0; i < bytes;) {
        size_t length = p[i] < 0x80 ? 1 : (p[i] >> 5) == 6 ? 2 : (p[i] >> 4) == 14 ? 3 : (p[i] >> 3) == 30 ? 4 : 0;
        if (!length || i + length > bytes) return false;
        uint32_t c = length == 1 ? p[i] : p[i] & (0x7F >> length);
        for (size_t k = 1; k < length; k++) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            c = c << 6 | (p[i + k] & 0x3F);
        }
        static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
        out->push_back(c);
        i += length;
    }
    return true;
}

static void check_title(const char *title)
{
    char out[cue_title_max_bytes + 2];
    out[cue_title_max_bytes + 1] = 0x5A;
    size_t bytes = cue_title(title, out);
    if (bytes > cue_title_max_bytes || out[bytes] != 0 || out[cue_title_max_bytes + 1] != 0x5A) abort();
    std::vector<uint32_t> text;
    if (!code_points(out, bytes, &text)) abort();
    for (uint32_t c : text)
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == '"') abort();
}

static std::string take_text(const uint8_t *&data, size_t &size, size_t limit)
{
    std::string text;
    while (size && *data && text.size() < limit) {
        text += static_cast<char>(*data++);
        size--;
    }
    if (size) {
        data++;
        size--;
    }
    return text;
}

static cue_read_result read_back(const cue_sheet *sheet, const char *path, cue_sheet_facts *facts)
{
    size_t length;
    const char *bytes = cue_sheet_bytes(sheet, &length);
    if (length > cue_sheet_max_bytes) abort();
    return cue_sheet_read(bytes, length, path, facts);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static std::vector<char> buffer(cue_sheet_max_bytes);
    if (size < 3) return 0;
#ifndef _WIN32
    shim_set_ansi_code_page(data[0] & 1 ? 1252 : CP_UTF8); // Windows has the code page it has
#endif
    uint64_t delta = data[1] | data[2] << 8;
    if (data[0] & 2) delta <<= 40;
    data += 3;
    size -= 3;
    std::string path = take_text(data, size, 1100), title = take_text(data, size, 1100);
    const char *sheet_bytes = reinterpret_cast<const char *>(data);
    check_title(title.c_str());

    // A new sheet for the path: the title at the start and again delta later.
    cue_sheet sheet;
    char name[cue_name_max_bytes];
    bool named = cue_file_name(path.c_str(), name) != 0;
    if (cue_sheet_start(&sheet, buffer.data(), path.c_str()) != named) abort();
    if (named) {
        if (cue_sheet_add_track(&sheet, title.c_str(), 0) != 1) abort();
        if (cue_sheet_add_track(&sheet, title.c_str(), delta) != (delta ? 2u : 1u)) abort();
        std::string shouted = path;
        for (char &c : shouted)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
        cue_sheet_facts facts;
        if (read_back(&sheet, shouted.c_str(), &facts) != cue_read_ours) abort();
        if (facts.tracks != sheet.tracks || facts.last_number != sheet.tracks || facts.last_start_75ths != delta)
            abort();
    }

    // The sheet of the input, and if it is ours, one more track.
    cue_sheet_facts facts;
    cue_read_result result = cue_sheet_read(sheet_bytes, size, path.c_str(), &facts);
    if (result != cue_read_ours) {
        if (facts.tracks || facts.last_number || facts.last_start_75ths) abort();
        return 0;
    }
    if (facts.tracks == 0 && (facts.last_number || facts.last_start_75ths)) abort();
    memcpy(buffer.data(), sheet_bytes, size);
    if (!cue_sheet_adopt(&sheet, buffer.data(), size, path.c_str())) {
        if (size + 2 <= cue_sheet_max_bytes - 3) abort(); // refused only for want of room
        return 0;
    }
    bool bom = size >= 3 && memcmp(sheet_bytes, "\xEF\xBB\xBF", 3) == 0;
    size_t old_text = size - (bom ? 3 : 0);
    uint64_t start = facts.last_start_75ths + delta;
    if (start < delta) start = ~static_cast<uint64_t>(0);
    bool replaces = facts.tracks > 0 && start == facts.last_start_75ths;
    uint32_t number = cue_sheet_add_track(&sheet, title.c_str(), start);
    if (number == 0) {
        if (size + 400 <= cue_sheet_max_bytes && facts.last_number < cue_track_number_max) abort();
        return 0;
    }
    if (number != (replaces ? facts.last_number : facts.last_number + 1)) abort();
    size_t length;
    const char *bytes = cue_sheet_bytes(&sheet, &length);
    if (bom && memcmp(bytes, "\xEF\xBB\xBF", 3) != 0) abort();
    const char *text = bytes + (length >= 3 && memcmp(bytes, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0);
    if (!replaces && memcmp(text, sheet_bytes + (bom ? 3 : 0), old_text) != 0) abort();
    cue_sheet_facts after;
    if (read_back(&sheet, path.c_str(), &after) != cue_read_ours) abort();
    if (after.tracks != facts.tracks + (replaces ? 0 : 1) || after.last_number != number ||
        after.last_start_75ths != start)
        abort();
    return 0;
}
