// Controls of the native stand-in that Windows has no counterpart for: who answers message
// boxes and window requests, and a write budget that lets tests play a full disk.
// Only the host program and the tests include this; the plug-in never does.
#ifndef TOLLVANE_SHIM_CONTROL_H
#define TOLLVANE_SHIM_CONTROL_H

#include <windows.h>

typedef int (*shim_message_box_fn)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// MessageBoxA calls this; with none installed it answers IDCANCEL as a closed box would.
void shim_set_message_box(shim_message_box_fn answerer);

// SendMessageA to any window calls this procedure; with none installed it returns 0.
void shim_set_window_proc(WNDPROC procedure);

// WriteFile writes at most this many more bytes in the whole process, then fails with
// ERROR_DISK_FULL after a short write. A negative budget means no limit (the default).
void shim_set_write_budget(long long bytes);

// HeapAlloc and HeapReAlloc refuse any one request of more than this many bytes, as a heap
// that has run out would; 0 means no limit (the default).
void shim_set_allocation_limit(size_t bytes);

// The native path that a Windows-style name maps to ('\' becomes '/', a drive is dropped).
void shim_native_path(const char *name, char *out, size_t out_size);

#endif
