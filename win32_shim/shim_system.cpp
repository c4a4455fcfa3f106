// The rest of what the plug-in calls on Windows: last error, process heap, MulDiv, code page
// conversions, module path, thread calls, and the user-interface calls, which go to the
// installed answerers; and the fault switch, which counts the calls of the file and heap
// functions and fails the chosen one, so that a test can walk a scenario through every point
// at which a disk, a network share or the heap can let the plug-in down.
#include <windows.h>

#include "win32_shim/shim_control.h"
#include "win32_shim/shim_utf8.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

thread_local DWORD last_error = 0;
shim_message_box_fn message_box_answerer = nullptr;
WNDPROC window_procedure = nullptr;
bool window_hung = false;
int process_heap_tag;
size_t allocation_limit = 0;

bool over_limit(size_t bytes)
{
    if (allocation_limit == 0 || bytes <= allocation_limit) return false;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return true;
}

// The fault switches.
long calls_made = 0;
long failing_call = 0;
DWORD failing_error = 0;
bool short_write = false;
long crashing_call = 0;
bool from_environment = false;
bool environment_read = false;

void report_calls(void) { fprintf(stderr, "win32_shim: %ld calls of the file and heap functions\n", calls_made); }

// A child process such as tollvane-play is set from outside; read once, before the first call.
void read_environment(void)
{
    environment_read = true;
    const char *call = getenv("TOLLVANE_SHIM_FAIL_CALL");
    const char *crash = getenv("TOLLVANE_SHIM_CRASH_CALL");
    if (!call && !crash) return;
    const char *error = getenv("TOLLVANE_SHIM_FAIL_ERROR");
    const char *part = getenv("TOLLVANE_SHIM_SHORT_WRITE");
    failing_call = call ? atol(call) : 0;
    failing_error = error ? static_cast<DWORD>(strtoul(error, nullptr, 0)) : 0;
    short_write = part && atoi(part) != 0;
    crashing_call = crash ? atol(crash) : 0;
    from_environment = true;
    atexit(report_calls);
}

} // namespace

void shim_fail_call(long call_number, DWORD error)
{
    environment_read = true; // a test in the process decides, not the environment
    calls_made = 0;
    failing_call = call_number;
    failing_error = error;
    short_write = false;
    crashing_call = 0;
}

long shim_calls_made(void) { return calls_made; }

shim_fault shim_fault_at(const char *function, DWORD typical_error, bool can_write_part)
{
    if (!environment_read) read_environment();
    ++calls_made;
    if (crashing_call > 0 && calls_made == crashing_call) {
        if (from_environment) fprintf(stderr, "win32_shim: call %ld, %s, ends the process\n", calls_made, function);
        if (can_write_part) return shim_fault_part_then_crash;
        shim_crash();
    }
    if (calls_made != failing_call || failing_call <= 0) return shim_fault_none;
    DWORD error = failing_error ? failing_error : typical_error;
    bool part = short_write && can_write_part;
    if (from_environment)
        fprintf(stderr, "win32_shim: call %ld, %s, %s with error %lu\n", calls_made, function,
                part ? "wrote part of its bytes and failed" : "failed", static_cast<unsigned long>(error));
    SetLastError(error);
    return part ? shim_fault_part : shim_fault_fail;
}

bool shim_fault_due(const char *function, DWORD typical_error)
{
    return shim_fault_at(function, typical_error, false) != shim_fault_none;
}

// As a kill or a power cut would: no exit handlers, no buffers flushed, nothing closed in order.
void shim_crash(void)
{
    kill(getpid(), SIGKILL);
    _exit(137);
}

void shim_set_message_box(shim_message_box_fn answerer) { message_box_answerer = answerer; }
void shim_set_window_proc(WNDPROC procedure) { window_procedure = procedure; }
void shim_set_window_hung(bool hung) { window_hung = hung; }
void shim_set_allocation_limit(size_t bytes) { allocation_limit = bytes; }

extern "C" DWORD GetLastError(void) { return last_error; }
extern "C" void SetLastError(DWORD error) { last_error = error; }

extern "C" HANDLE GetProcessHeap(void) { return &process_heap_tag; }

extern "C" LPVOID HeapAlloc(HANDLE, DWORD flags, size_t bytes)
{
    if (shim_fault_due("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY) || over_limit(bytes)) return nullptr;
    // Windows hands out a valid block for a zero-byte request.
    void *memory = (flags & HEAP_ZERO_MEMORY) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (!memory) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return memory;
}

// Differs from Windows: HEAP_ZERO_MEMORY does not zero the grown part (the plug-in never asks).
extern "C" LPVOID HeapReAlloc(HANDLE, DWORD, LPVOID memory, size_t bytes)
{
    if (shim_fault_due("HeapReAlloc", ERROR_NOT_ENOUGH_MEMORY) || over_limit(bytes)) return nullptr;
    void *grown = realloc(memory, bytes ? bytes : 1);
    if (!grown) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return grown;
}

extern "C" BOOL HeapFree(HANDLE, DWORD, LPVOID memory)
{
    free(memory);
    return TRUE;
}

// As Windows computes it: a 64-bit product, the quotient rounded half away from zero,
// -1 for a zero divisor and for a result outside -2147483647..2147483647.
extern "C" int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0) return -1;
    long long product = static_cast<long long>(number) * numerator;
    long long divisor = denominator;
    if (divisor < 0) {
        divisor = -divisor;
        product = -product;
    }
    long long half = divisor / 2;
    long long result = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    if (result > 2147483647LL || result < -2147483647LL) return -1;
    return static_cast<int>(result);
}

static UINT ansi_code_page = CP_UTF8;

void shim_set_ansi_code_page(UINT code_page) { ansi_code_page = code_page == 1252 ? 1252 : CP_UTF8; }

extern "C" UINT GetACP(void) { return ansi_code_page; }

extern "C" BOOL IsDBCSLeadByte(BYTE) { return FALSE; }

namespace {

bool known_code_page(UINT code_page) { return code_page == CP_ACP || code_page == CP_UTF8; }

// Windows-1252's bytes 0x80 to 0x9F; the rest are Latin-1 itself. The five that name no character
// stand for the C1 control of the same value, as Windows converts them.
const uint16_t windows_1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool is_windows_1252(UINT code_page) { return code_page == CP_ACP && ansi_code_page == 1252; }

long windows_1252_code_point(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? windows_1252_high[byte - 0x80] : byte;
}

// The byte for a code point, or -1 where Windows-1252 has none.
int windows_1252_byte(uint32_t code_point)
{
    if (code_point < 0x80 || (code_point >= 0xA0 && code_point < 0x100)) return static_cast<int>(code_point);
    for (int i = 0; i < 32; i++)
        if (windows_1252_high[i] == code_point) return 0x80 + i;
    return -1;
}

} // namespace

// CP_ACP and CP_UTF8 alike: UTF-8 to UTF-16, a code point beyond U+FFFF as a surrogate pair. A
// length below 0 means up to and with the terminating NUL. A malformed sequence becomes U+FFFD,
// or fails the call with MB_ERR_INVALID_CHARS. With wide_size 0 the call returns the WCHARs
// needed; a buffer too small for all of them (half a pair included) fails the call.
// Differs from Wine 8, which gives fewer U+FFFD for some malformed sequences (two for the
// encoded surrogate ED A0 80, where this gives three), and which, where only the first half of
// a last pair fits, writes that half and succeeds.
extern "C" int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int bytes, LPWSTR wide, int wide_size)
{
    if (!known_code_page(code_page) || !text || bytes == 0 || wide_size < 0 || (wide_size > 0 && !wide)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    size_t length = bytes < 0 ? strlen(text) + 1 : static_cast<size_t>(bytes);
    size_t count = 0;
    for (size_t i = 0; i < length;) {
        long code_point =
            is_windows_1252(code_page) ? windows_1252_code_point(p[i++]) : shim_utf8_decode(p, length, &i, false);
        if (code_point < 0) {
            if (flags & MB_ERR_INVALID_CHARS) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            code_point = 0xFFFD;
        }
        WCHAR units[2];
        size_t needed = shim_utf16_encode(static_cast<uint32_t>(code_point), units);
        if (wide_size > 0) {
            if (count + needed > static_cast<size_t>(wide_size)) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            memcpy(wide + count, units, needed * sizeof(WCHAR));
        }
        count += needed;
    }
    return static_cast<int>(count);
}

// CP_ACP and CP_UTF8 alike, as Wine converts to UTF-8: a surrogate pair is one character; a
// surrogate that is not part of a pair becomes U+FFFD and sets *used_default_char. UTF-8 has no
// best fit, so WC_NO_BEST_FIT_CHARS changes nothing; default_char is not used, as for UTF-8.
// Windows-1252 converts each WCHAR on its own: a pair, which it cannot spell, gives "??".
extern "C" int WideCharToMultiByte(UINT code_page, DWORD, LPCWSTR wide, int wide_length, LPSTR text, int text_size,
                                   LPCSTR, LPBOOL used_default_char)
{
    if (!known_code_page(code_page) || !wide || wide_length == 0 || text_size < 0 || (text_size > 0 && !text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = 0;
    if (wide_length < 0)
        while (wide[length++]) {}
    else
        length = static_cast<size_t>(wide_length);
    if (used_default_char) *used_default_char = FALSE;
    int count = 0;
    for (size_t i = 0; i < length;) {
        uint32_t code_point = is_windows_1252(code_page) ? wide[i++] : shim_utf16_decode(wide, length, &i);
        if (code_point >= 0xD800 && code_point < 0xE000) {
            code_point = 0xFFFD;
            if (used_default_char) *used_default_char = TRUE;
        }
        char bytes[4];
        size_t needed = 1;
        if (!is_windows_1252(code_page)) {
            needed = shim_utf8_encode(code_point, bytes);
        } else {
            int byte = windows_1252_byte(code_point);
            if (byte < 0 && used_default_char) *used_default_char = TRUE;
            bytes[0] = static_cast<char>(byte < 0 ? '?' : byte);
        }
        if (text_size > 0) {
            if (static_cast<size_t>(count) + needed > static_cast<size_t>(text_size)) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            memcpy(text + count, bytes, needed);
        }
        count += static_cast<int>(needed);
    }
    return count;
}

extern "C" DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0) return 0;
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n < 0) n = 0;
    DWORD length = static_cast<DWORD>(n);
    if (length < size) {
        memcpy(buffer, path, length);
        buffer[length] = 0;
        return length;
    }
    // A cut path: Windows returns the buffer size and says so; Vista and later (not XP, nor
    // Wine 8) also terminate it, as the stand-in does.
    memcpy(buffer, path, size - 1);
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

// The path in UTF-16. Differs from Windows: a path that is not UTF-8 has U+FFFD in place of
// its bad bytes, which no file function finds again (the A path is exact).
extern "C" DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    if (!buffer || size == 0) return 0;
    char path[4096];
    DWORD length = GetModuleFileNameA(module, path, sizeof path);
    if (length == 0) {
        buffer[0] = 0;
        return 0;
    }
    std::vector<WCHAR> wide(length + 1);
    int count = MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), static_cast<int>(wide.size()));
    DWORD characters = count > 0 ? static_cast<DWORD>(count) - 1 : 0;
    if (characters < size) {
        memcpy(buffer, wide.data(), (characters + 1) * sizeof(WCHAR));
        return characters;
    }
    // A cut path: as GetModuleFileNameA, the buffer size, terminated, and the error.
    memcpy(buffer, wide.data(), (size - 1) * sizeof(WCHAR));
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

// As Windows: the length without the terminator when the value fits, else the size it needs
// with the terminator, the buffer untouched.
extern "C" DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size)
{
    const char *value = name ? getenv(name) : nullptr;
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    size_t length = strlen(value);
    if (!buffer || length >= size) return static_cast<DWORD>(length + 1);
    memcpy(buffer, value, length + 1);
    return static_cast<DWORD>(length);
}

// A null value removes the variable.
extern "C" BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value)
{
    if (!name || !*name) return FALSE;
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

extern "C" void Sleep(DWORD milliseconds)
{
    if (milliseconds == 0) sched_yield();
    else usleep(static_cast<useconds_t>(milliseconds) * 1000);
}

extern "C" HANDLE GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

// Differs from Windows: priorities are not changed; only success is reported.
extern "C" BOOL SetThreadPriority(HANDLE, int) { return TRUE; }

extern "C" int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (message_box_answerer) return message_box_answerer(owner, text, caption, type);
    return IDCANCEL;
}

extern "C" LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (window_procedure) return window_procedure(window, message, wparam, lparam);
    return 0;
}

// A window that a test declares hung does not answer: the call fails with ERROR_TIMEOUT.
extern "C" LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT, UINT,
                                       PDWORD_PTR result)
{
    if (window_hung) {
        SetLastError(ERROR_TIMEOUT);
        return 0;
    }
    LRESULT answer = SendMessageA(window, message, wparam, lparam);
    if (result) *result = static_cast<DWORD_PTR>(answer);
    return 1;
}

// Windows caps the result at 1024 characters plus the terminator.
extern "C" int wsprintfA(LPSTR buffer, LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    char text[1025];
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) n = 0;
    if (n > 1024) n = 1024;
    memcpy(buffer, text, static_cast<size_t>(n));
    buffer[n] = 0;
    return n;
}

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION), "a mutex fits the section");

static pthread_mutex_t *mutex_of(CRITICAL_SECTION *section) { return reinterpret_cast<pthread_mutex_t *>(section); }

extern "C" void InitializeCriticalSection(CRITICAL_SECTION *section)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutex_of(section), &attributes);
    pthread_mutexattr_destroy(&attributes);
}

extern "C" void EnterCriticalSection(CRITICAL_SECTION *section) { pthread_mutex_lock(mutex_of(section)); }
extern "C" void LeaveCriticalSection(CRITICAL_SECTION *section) { pthread_mutex_unlock(mutex_of(section)); }
extern "C" void DeleteCriticalSection(CRITICAL_SECTION *section) { pthread_mutex_destroy(mutex_of(section)); }

// ntdll's pseudo handle: the one module the plug-in asks for by name.
static HMODULE const ntdll_module = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7E000000));
static bool plays_wine;

void shim_set_wine(bool wine) { plays_wine = wine; }

static LONG_PTR shim_wine_get_version(void) { return reinterpret_cast<LONG_PTR>("8.0"); }

extern "C" HMODULE GetModuleHandleA(LPCSTR name)
{
    if (name && strcasecmp(name, "ntdll.dll") == 0) return ntdll_module;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

extern "C" FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (module == ntdll_module && plays_wine && name && strcmp(name, "wine_get_version") == 0)
        return shim_wine_get_version;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}
