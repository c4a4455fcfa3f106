// Fuzzes the per-track file name: the folder, the pattern, the playlist position and the title
// (which a stream's server chooses) come from the input, and so do the ANSI code page (UTF-8 or
// Windows-1252) and whether names are stored as UTF-8 beneath (Wine's rule). Every name built
// must stay in its folder and within 255 characters (the path within 259 where the folder
// leaves room), with Wine's rule within 255 bytes of UTF-8 too, hold no character Windows
// refuses, never name a device, end in the extension, and, where pattern and title are valid
// UTF-8 in the UTF-8 code page, be valid UTF-8 too.
#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "config/settings_store.h"
#include "output/output_naming.h"
#include "tools/host_support.h"
#ifndef _WIN32
#include "win32_shim/shim_control.h"
#endif

static bool valid_utf8(const std::string &text)
{
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (!length || i + length > text.size()) return false;
        for (size_t k = 1; k < length; k++)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

static bool names_a_device(std::string base)
{
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char &c : base) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (const char *device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (base == device) return true;
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0))
        return base[3] >= '0' && base[3] <= '9';
    return false;
}

// The next text of the input, up to a zero byte, at most limit bytes.
static std::string take_text(const uint8_t *&data, size_t &size, size_t limit)
{
    std::string text;
    while (size && *data && text.size() < limit) {
        text += static_cast<char>(*data++);
        size--;
    }
    if (size && !*data) {
        data++;
        size--;
    }
    return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static HWND window = host_create_window();
    if (size < 5) return 0;
    const char *extensions[] = {".wav", ".raw", ".mp3"};
    const char *extension = extensions[data[0] % 3];
    bool room_for_copies = data[0] & 4;
    bool utf8_name_bytes = data[0] & 8;
#ifndef _WIN32
    shim_set_ansi_code_page(data[0] & 16 ? 1252 : CP_UTF8); // Windows has the code page it has
#endif
    unsigned copy = data[1] | data[2] << 8;
    if (copy == 1) copy = 0;
    int position = static_cast<int16_t>(data[3] | data[4] << 8);
    data += 5;
    size -= 5;
    std::string dir = take_text(data, size, text_setting_bytes - 1);
    std::string pattern = take_text(data, size, text_setting_bytes - 1);
    std::string title(reinterpret_cast<const char *>(data), size); // up to the first zero, unbounded
    host_set_playlist(position, title.c_str());

    playlist_entry entry;
    if (!ask_playlist_entry(window, false, &entry)) abort();
    if (strnlen(entry.title, title_max_bytes + 1) > title_max_bytes) abort();
    char path[output_path_chars + 1];
    path[output_path_chars] = 0x5A;
    name_recipe recipe = {dir.c_str(), pattern.c_str(), extension, room_for_copies, utf8_name_bytes};
    if (!build_output_path(path, &recipe, &entry, copy)) return 0;
    if (path[output_path_chars] != 0x5A) abort();
    std::string built = path;
    size_t folder = dir.size() + (!dir.empty() && dir.back() != '\\');
    if (built.compare(0, dir.size(), dir) != 0 || built.size() < folder + strlen(extension)) abort();
    std::string name = built.substr(folder);
    if (name.size() > 255 && name.size() > strlen(extension)) abort();
    if (folder + strlen(extension) < 259 && built.size() > 259) abort();
    if (name.compare(name.size() - strlen(extension), std::string::npos, extension) != 0) abort();
    std::string stem = name.substr(0, name.size() - strlen(extension));
    for (char c : stem)
        if ((c >= 1 && c <= 31) || strchr("\\/:*?\"<>|", c)) abort();
    if (names_a_device(stem.substr(0, stem.find('.')))) abort();
    if (GetACP() == CP_UTF8 && valid_utf8(pattern) && valid_utf8(entry.title) && !valid_utf8(stem)) abort();
    if (utf8_name_bytes) {
        WCHAR wide[output_path_chars];
        char utf8[4 * output_path_chars];
        int units =
            MultiByteToWideChar(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), wide, output_path_chars);
        if (units > 0 && WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8, nullptr, nullptr) > 255 &&
            name.size() > strlen(extension))
            abort();
    }
    return 0;
}
