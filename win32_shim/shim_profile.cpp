// The profile (INI) functions over a real file, as Wine's own were seen to work: keys in
// first-write order, values replaced in place, structs as upper-case hex plus a checksum byte,
// numbers parsed as Windows parses them. The file is read afresh on every call (its text:
// shim_profile_text.cpp), and a changed file is written whole to a new file that then replaces
// the old one, the target of a symbolic link where the name is one.
#include <windows.h>

#include "win32_shim/shim_control.h"
#include "win32_shim/shim_profile_text.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

enum open_result { profile_missing_path, profile_unreadable, profile_new, profile_loaded };

DWORD error_from_errno(int error)
{
    switch (error) {
    case ENOENT: case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EISDIR: case EROFS: case ETXTBSY: return ERROR_ACCESS_DENIED;
    case ENOSPC: case EDQUOT: case EFBIG: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_WRITE_FAULT;
    }
}

std::string folder_of(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Differs from Windows: names compare case-insensitively in ASCII only, not in the code page.
bool same_name(const std::string &stored, const std::string &wanted)
{
    if (stored.size() != wanted.size()) return false;
    for (size_t i = 0; i < stored.size(); i++)
        if (ascii_upper(stored[i]) != ascii_upper(wanted[i])) return false;
    return true;
}

std::string trimmed(const char *text)
{
    const char *start = text;
    while (profile_space(static_cast<unsigned char>(*start))) start++;
    const char *end = start + strlen(start);
    while (end > start && profile_space(static_cast<unsigned char>(end[-1]))) end--;
    return std::string(start, end);
}

// Loads the file behind a Windows-style name. A missing file in an existing folder is an
// empty profile that a write will create; an empty name or a missing folder is no profile.
// A file that exists but cannot be read is never taken for an empty one: a write would
// replace it. The last error is set for every result but a loaded or new profile.
open_result open_profile(LPCSTR file, std::string &native, profile &out)
{
    out.sections.assign(1, profile_section());
    out.encoding = encoding_ansi;
    if (!file || !*file) {
        SetLastError(ERROR_ACCESS_DENIED);
        return profile_missing_path;
    }
    char path[4096];
    shim_native_path(file, path, sizeof path);
    native = path;
    FILE *f = fopen(path, "rb");
    if (!f) {
        int error = errno;
        // Differs from Windows: a bare file name stays in the current folder, not C:\windows.
        std::string folder = folder_of(native);
        if (folder.empty()) folder = ".";
        struct stat st;
        if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return profile_missing_path;
        }
        if (error == ENOENT) return profile_new;
        SetLastError(error_from_errno(error));
        return profile_unreadable;
    }
    std::string bytes;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    bool failed = ferror(f) != 0;
    int error = errno;
    fclose(f);
    if (failed) {
        SetLastError(error_from_errno(error));
        return profile_unreadable;
    }
    profile_parse(bytes, out);
    return profile_loaded;
}

// The file a name stands for: a symbolic link is followed to its target (a relative target
// from the link's folder), so that the new file replaces the target and the link stays.
bool follow_links(std::string &path)
{
    for (int hops = 0; hops < 40; hops++) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        char target[4096];
        ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) return false;
        target[n] = 0;
        path = target[0] == '/' ? std::string(target) : folder_of(path) + target;
    }
    errno = ELOOP;
    return false;
}

bool write_all(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the whole text to a new file beside the old one and renames it over the old one, so
// that a full disk or any other failure leaves the old file as it was, never cut mid-line.
// The new file takes the old one's mode (and its owner where allowed); a file made afresh
// gets the mode a plain create gives. A failure sets Windows' error and returns false.
// Differs from Windows, which rewrites the file in place: the folder must be writable too.
// No fsync: the fault this guards against is a full disk, as Windows does not sync either.
bool replace_file(const std::string &native, const std::string &text)
{
    std::string target = native;
    if (!follow_links(target)) {
        SetLastError(error_from_errno(errno));
        return false;
    }
    struct stat old;
    bool existed = stat(target.c_str(), &old) == 0;
    // The old file's own permission decides, as it did when the file was rewritten in place.
    if (existed && (!S_ISREG(old.st_mode) || faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)) {
        SetLastError(S_ISREG(old.st_mode) ? error_from_errno(errno) : ERROR_ACCESS_DENIED);
        return false;
    }
    std::string folder = folder_of(target);
    std::string base = target.substr(folder.size());
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; attempt++) {
        char suffix[40];
        snprintf(suffix, sizeof suffix, ".%ld.%d~", static_cast<long>(getpid()), attempt);
        temporary = folder + "." + base.substr(0, 200) + suffix; // stays within a 255-byte name
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        SetLastError(error_from_errno(errno));
        return false;
    }
    bool ok = write_all(fd, text);
    if (ok && existed) {
        if (old.st_uid != geteuid() || old.st_gid != getegid())
            (void)!fchown(fd, old.st_uid, old.st_gid); // only root may give a file away: kept where allowed
        ok = fchmod(fd, old.st_mode & 07777) == 0;
    }
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        SetLastError(error_from_errno(error));
    }
    return ok;
}

bool save_profile(const std::string &native, const profile &data)
{
    return replace_file(native, profile_file_bytes(data));
}

// Only the first section of a name is searched, even when the file repeats it.
profile_section *find_section(profile &data, const char *name)
{
    std::string wanted = trimmed(name);
    for (profile_section &section : data.sections)
        if (same_name(section.name, wanted)) return &section;
    return nullptr;
}

profile_key *find_key(profile_section &section, const char *name)
{
    std::string wanted = trimmed(name);
    for (profile_key &key : section.keys)
        if (same_name(key.name, wanted)) return &key;
    return nullptr;
}

// New names lose their leading white space but keep the trailing one.
std::string new_name(const char *name)
{
    while (profile_space(static_cast<unsigned char>(*name))) name++;
    return name;
}

// Copies a value cut to the buffer of size characters (bytes for the A functions, WCHARs for
// the W ones). Unless it is to be taken as it is, quotes around the whole value are dropped;
// when the text is cut to the buffer, Windows removes the last copied character at exactly
// the length where the closing quote would fall.
template <typename C> DWORD copy_entry(const std::basic_string<C> &value, bool as_it_is, C *buffer, DWORD size)
{
    const C *text = value.c_str();
    size_t length = value.size();
    bool quoted = false;
    if (!as_it_is && length >= 2 && (text[0] == '\'' || text[0] == '"') && text[length - 1] == text[0]) {
        quoted = true;
        text++;
        length--;
    }
    size_t copied = length < size - 1 ? length : size - 1;
    for (size_t i = 0; i < copied; i++) buffer[i] = text[i];
    buffer[copied] = 0;
    if (quoted && size >= length && copied > 0) buffer[--copied] = 0;
    return static_cast<DWORD>(copied);
}

// Trailing spaces (not tabs) of a default are dropped, down to its first character.
std::string default_text(LPCSTR default_value)
{
    std::string text = default_value ? default_value : "";
    size_t keep = text.size();
    while (keep > 1 && text[keep - 1] == ' ') keep--;
    text.resize(keep);
    return text;
}

BOOL set_value(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file)
{
    std::string native;
    profile data;
    open_result opened = open_profile(file, native, data);
    if (opened == profile_missing_path || opened == profile_unreadable || !section) return FALSE;

    if (!key) {
        size_t before = data.sections.size();
        std::string wanted = trimmed(section);
        for (size_t i = data.sections.size(); i-- > 0;)
            if (same_name(data.sections[i].name, wanted)) data.sections.erase(data.sections.begin() + i);
        if (data.sections.size() == before) return TRUE;
        return save_profile(native, data) ? TRUE : FALSE;
    }

    profile_section *found = find_section(data, section);
    if (!value) {
        profile_key *old = found ? find_key(*found, key) : nullptr;
        if (!old) return TRUE;
        found->keys.erase(found->keys.begin() + (old - found->keys.data()));
        return save_profile(native, data) ? TRUE : FALSE;
    }

    if (!found) {
        profile_section fresh;
        fresh.name = new_name(section);
        data.sections.push_back(fresh);
        found = &data.sections.back();
    }
    profile_key *entry = find_key(*found, key);
    if (!entry) {
        profile_key fresh;
        fresh.name = new_name(key);
        fresh.has_value = false;
        found->keys.push_back(fresh);
        entry = &found->keys.back();
    }
    while (profile_space(static_cast<unsigned char>(*value))) value++;
    // An unchanged value leaves the file alone, line endings and all.
    if (entry->has_value && entry->value == value) return TRUE;
    entry->value = value;
    entry->has_value = true;
    return save_profile(native, data) ? TRUE : FALSE;
}

// The text a read hands out, before it is cut to the buffer: the value, else the default.
// Returns true when it is to be copied as it is, quotes and all, as Windows copies the default
// when it has no file to look in.
bool look_up(LPCSTR section, LPCSTR key, LPCSTR default_value, LPCSTR file, std::string &text)
{
    text = default_text(default_value);
    std::string native;
    profile data;
    open_result opened = open_profile(file, native, data);
    if (opened == profile_missing_path || opened == profile_unreadable) return true;
    // Differs from Windows: listing sections or keys (a null section or key) is not offered.
    profile_section *found = section && key ? find_section(data, section) : nullptr;
    profile_key *entry = found ? find_key(*found, key) : nullptr;
    if (entry && entry->has_value) text = entry->value;
    return false;
}

DWORD get_value(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer, DWORD size, LPCSTR file)
{
    if (!buffer || size == 0) return 0;
    std::string text; // the default may be the buffer itself: it is copied before the buffer is written
    bool as_it_is = look_up(section, key, default_value, file, text);
    return copy_entry(text, as_it_is, buffer, size);
}

// The W functions work on the text the A ones do: their WCHARs become UTF-8 (a lone surrogate
// its own three bytes, as in UTF-16 files), so that for the same values both write the same
// bytes, into files of any encoding.
struct narrow_text {
    std::string text;
    bool null;
    const char *c_str() const { return null ? nullptr : text.c_str(); }
};

narrow_text narrow(LPCWSTR wide)
{
    narrow_text out = {std::string(), wide == nullptr};
    if (wide) out.text = profile_utf8_of(wide, std::char_traits<WCHAR>::length(wide));
    return out;
}

int hex_digit(char c) { return c <= '9' ? c - '0' : ascii_upper(c) - 'A' + 10; }

// Windows accepts any letter as a "digit" (G is 16, the sum wrapping to a byte) but stops at
// anything else. Differs from Windows: bytes above 0x7F are never letters here.
bool struct_char(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

} // namespace

extern "C" DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer,
                                          DWORD size, LPCSTR file)
{
    return get_value(section, key, default_value, buffer, size, file);
}

extern "C" BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file)
{
    return set_value(section, key, value, file);
}

// The value is read as text cut to 29 characters, then parsed as a 32-bit number that wraps:
// an optional sign, an optional 0x / 0o / 0b prefix (lower case only), digits up to the first
// character that is not one. An empty value gives the default; "abc" gives 0.
extern "C" UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int default_value, LPCSTR file)
{
    char text[30];
    if (get_value(section, key, "", text, sizeof text, file) == 0) return static_cast<UINT>(default_value);
    const char *p = text;
    while (*p && static_cast<unsigned char>(*p) <= ' ') p++;
    bool negative = false;
    if (*p == '+') p++;
    else if (*p == '-') {
        negative = true;
        p++;
    }
    UINT base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'o' || p[1] == 'b')) {
        base = p[1] == 'x' ? 16 : p[1] == 'o' ? 8 : 2;
        p += 2;
    }
    UINT total = 0;
    for (; *p; p++) {
        int digit = -1;
        if (*p >= '0' && *p <= '9') digit = *p - '0';
        else if (*p >= 'A' && *p <= 'Z') digit = *p - 'A' + 10;
        else if (*p >= 'a' && *p <= 'z') digit = *p - 'a' + 10;
        if (digit < 0 || static_cast<UINT>(digit) >= base) break;
        total = total * base + static_cast<UINT>(digit);
    }
    return negative ? 0u - total : total;
}

extern "C" BOOL WritePrivateProfileStructA(LPCSTR section, LPCSTR key, LPVOID buffer, UINT size, LPCSTR file)
{
    if (!buffer) return set_value(section, key, nullptr, file);
    static const char hex[] = "0123456789ABCDEF";
    const BYTE *bytes = static_cast<const BYTE *>(buffer);
    std::string text;
    text.reserve(2 * static_cast<size_t>(size) + 2);
    BYTE sum = 0;
    for (UINT i = 0; i < size; i++) {
        text += hex[bytes[i] >> 4];
        text += hex[bytes[i] & 0xf];
        sum = static_cast<BYTE>(sum + bytes[i]);
    }
    text += hex[sum >> 4];
    text += hex[sum & 0xf];
    return set_value(section, key, text.c_str(), file);
}

// The value must hold at least 2 * size + 2 characters; characters behind the checksum are
// ignored. Bytes are stored as they are decoded, so a failed read (a bad character, a wrong
// checksum) leaves the bytes before the failure in the buffer.
extern "C" BOOL GetPrivateProfileStructA(LPCSTR section, LPCSTR key, LPVOID buffer, UINT size, LPCSTR file)
{
    if (!buffer || size > 0x3fffffffu) return FALSE;
    std::vector<char> text(2 * static_cast<size_t>(size) + 3);
    if (get_value(section, key, nullptr, text.data(), static_cast<DWORD>(text.size()), file) != 2 * size + 2)
        return FALSE;
    BYTE *bytes = static_cast<BYTE *>(buffer);
    BYTE sum = 0;
    const char *p = text.data();
    for (UINT i = 0; i < size; i++, p += 2) {
        if (!struct_char(p[0]) || !struct_char(p[1])) return FALSE;
        bytes[i] = static_cast<BYTE>(hex_digit(p[0]) * 16 + hex_digit(p[1]));
        sum = static_cast<BYTE>(sum + bytes[i]);
    }
    if (!struct_char(p[0]) || !struct_char(p[1])) return FALSE;
    return static_cast<BYTE>(hex_digit(p[0]) * 16 + hex_digit(p[1])) == sum ? TRUE : FALSE;
}

extern "C" DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR default_value, LPWSTR buffer,
                                          DWORD size, LPCWSTR file)
{
    if (!buffer || size == 0) return 0;
    narrow_text narrow_section = narrow(section), narrow_key = narrow(key), narrow_default = narrow(default_value);
    std::string text;
    bool as_it_is =
        look_up(narrow_section.c_str(), narrow_key.c_str(), narrow_default.c_str(), narrow(file).c_str(), text);
    return copy_entry(profile_utf16_of(text), as_it_is, buffer, size);
}

extern "C" BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file)
{
    return set_value(narrow(section).c_str(), narrow(key).c_str(), narrow(value).c_str(), narrow(file).c_str());
}

extern "C" UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT default_value, LPCWSTR file)
{
    return GetPrivateProfileIntA(narrow(section).c_str(), narrow(key).c_str(), default_value, narrow(file).c_str());
}

extern "C" BOOL GetPrivateProfileStructW(LPCWSTR section, LPCWSTR key, LPVOID buffer, UINT size, LPCWSTR file)
{
    return GetPrivateProfileStructA(narrow(section).c_str(), narrow(key).c_str(), buffer, size, narrow(file).c_str());
}

extern "C" BOOL WritePrivateProfileStructW(LPCWSTR section, LPCWSTR key, LPVOID buffer, UINT size, LPCWSTR file)
{
    return WritePrivateProfileStructA(narrow(section).c_str(), narrow(key).c_str(), buffer, size, narrow(file).c_str());
}
