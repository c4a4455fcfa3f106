// Controls of the native stand-in that Windows has no counterpart for: who answers message
// boxes and window requests, a write budget that lets tests play a full disk, and a switch that
// fails one chosen call of the file and heap functions.
// Only the host program and the tests include this; the plug-in never does.
#ifndef TOLLVANE_SHIM_CONTROL_H
#define TOLLVANE_SHIM_CONTROL_H

#include <windows.h>

typedef int (*shim_message_box_fn)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// MessageBoxA calls this; with none installed it answers IDCANCEL as a closed box would.
void shim_set_message_box(shim_message_box_fn answerer);

// SendMessageA to any window calls this procedure; with none installed it returns 0.
void shim_set_window_proc(WNDPROC procedure);
// A hung window: SendMessageTimeoutA gives up on it (SendMessageA still gets through).
void shim_set_window_hung(bool hung);

// WriteFile writes at most this many more bytes in the whole process, then fails with
// ERROR_DISK_FULL after a short write. A negative budget means no limit (the default).
void shim_set_write_budget(long long bytes);

// WriteFile takes every write of at least smallest_bytes and keeps none of its bytes (the file
// grows by a hole instead): a disk that never fills, for tests that write more than a disk
// should hold, while headers and patches, written in small pieces, reach the file. 0 (the
// default) switches it off.
void shim_set_write_sink(DWORD smallest_bytes);

// HeapAlloc and HeapReAlloc refuse any one request of more than this many bytes, as a heap
// that has run out would; 0 means no limit (the default).
void shim_set_allocation_limit(size_t bytes);

// Fails the call_number-th call (counted from 1 since this call) of CreateFileA, ReadFile,
// WriteFile, SetFilePointer, SetEndOfFile, GetFileSize, MoveFileExA, HeapAlloc and HeapReAlloc,
// as a failing disk, a dropped network share or an exhausted heap would: nothing is done, and
// the call returns its failure value with error, or with the function's own typical code when
// error is 0 (ERROR_ACCESS_DENIED, ERROR_READ_FAULT, ERROR_DISK_FULL, ERROR_NETNAME_DELETED,
// ERROR_WRITE_FAULT, ERROR_NOT_ENOUGH_MEMORY). 0 switches it off (the default).
// A child process takes the same switch from TOLLVANE_SHIM_FAIL_CALL (and _ERROR); it then
// prints the call it failed, and at exit the number of calls made, on stderr. Two more switches
// exist for child processes only:
// - TOLLVANE_SHIM_SHORT_WRITE=1: when the failing call is a WriteFile, it writes an odd part of
//   its bytes before it fails (a disk that fills up in the middle of a write); later calls
//   succeed, as when space comes back.
// - TOLLVANE_SHIM_CRASH_CALL=N: the N-th call ends the process at once with SIGKILL, as a kill or
//   a power cut would; a WriteFile writes an odd part of its bytes first, unless they lie within
//   one 512-byte sector, which a disk writes whole or not at all.
void shim_fail_call(long call_number, DWORD error);
// Calls of those functions made since the last shim_fail_call.
long shim_calls_made(void);
// The stand-in's functions ask this once per call: true when this call is the one to fail
// (the last error is then set).
bool shim_fault_due(const char *function, DWORD typical_error);
// WriteFile asks this instead: it may also be told to write part of its bytes first.
enum shim_fault { shim_fault_none, shim_fault_fail, shim_fault_part, shim_fault_part_then_crash };
shim_fault shim_fault_at(const char *function, DWORD typical_error, bool can_write_part);
// Ends the process as a kill would.
void shim_crash(void);

// The ANSI code page: CP_UTF8 (the default) or 1252 (Windows-1252, the Western code page). GetACP
// and the conversions of CP_ACP follow it; nothing else does (file names go to Linux as bytes).
void shim_set_ansi_code_page(UINT code_page);
// Whether the stand-in plays Wine: ntdll's wine_get_version is there. Off by default.
void shim_set_wine(bool wine);

// The native path that a Windows-style name maps to ('\' becomes '/', a drive is dropped).
void shim_native_path(const char *name, char *out, size_t out_size);

#endif
