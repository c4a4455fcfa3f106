// The rest of what the plug-in calls on Windows: last error, process heap, MulDiv, module
// path, thread calls, and the user-interface calls, which go to the installed answerers.
#include <windows.h>

#include "shim_control.h"

#include <sched.h>
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

} // namespace

void shim_set_message_box(shim_message_box_fn answerer) { message_box_answerer = answerer; }
void shim_set_window_proc(WNDPROC procedure) { window_procedure = procedure; }
void shim_set_allocation_limit(size_t bytes) { allocation_limit = bytes; }

extern "C" DWORD GetLastError(void) { return last_error; }
extern "C" void SetLastError(DWORD error) { last_error = error; }

extern "C" HANDLE GetProcessHeap(void) { return &process_heap_tag; }

extern "C" LPVOID HeapAlloc(HANDLE, DWORD flags, size_t bytes)
{
    if (over_limit(bytes)) return nullptr;
    // Windows hands out a valid block for a zero-byte request.
    void *memory = (flags & HEAP_ZERO_MEMORY) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (!memory) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return memory;
}

// Differs from Windows: HEAP_ZERO_MEMORY does not zero the grown part (the plug-in never asks).
extern "C" LPVOID HeapReAlloc(HANDLE, DWORD, LPVOID memory, size_t bytes)
{
    if (over_limit(bytes)) return nullptr;
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
