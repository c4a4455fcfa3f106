// The rest of what the plug-in calls on Windows: last error, process heap, MulDiv, module
// path, thread calls, and the user-interface calls, which go to the installed answerers; and
// the fault switch, which counts the calls of the file and heap functions and fails the chosen
// one, so that a test can walk a scenario through every point at which a disk, a network share
// or the heap can let the plug-in down.
#include <windows.h>

#include "shim_control.h"

#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

thread_local DWORD last_error = 0;
shim_message_box_fn message_box_answerer = nullptr;
WNDPROC window_procedure = nullptr;
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

extern "C" UINT GetACP(void) { return CP_UTF8; }

extern "C" BOOL IsDBCSLeadByte(BYTE) { return FALSE; }

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
