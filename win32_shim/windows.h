// Stand-in for <windows.h> in the native (Linux) build: exactly the types, constants and
// functions the plug-in, the host program and the tests call, with Windows' names and values.
// Behind them are POSIX files and calls (shim_*.cpp); what the plug-in asks of the host window
// and of message boxes goes to answerers that the host program or a test installs.
#ifndef TOLLVANE_SHIM_WINDOWS_H
#define TOLLVANE_SHIM_WINDOWS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int INT;
typedef char CHAR;
typedef char16_t WCHAR; // a UTF-16 code unit, as on Windows: beyond U+FFFF a character takes two
typedef DWORD *LPDWORD;
typedef LONG *PLONG;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef BOOL *LPBOOL;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef DWORD_PTR *PDWORD_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

typedef void *HANDLE;
typedef struct shim_hwnd_tag *HWND;
typedef struct shim_hinstance_tag *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_FAULT 29
#define ERROR_READ_FAULT 30
#define ERROR_SHARING_VIOLATION 32
#define ERROR_HANDLE_EOF 38
#define ERROR_NETNAME_DELETED 64
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_ALREADY_EXISTS 183
#define ERROR_ENVVAR_NOT_FOUND 203
#define ERROR_TIMEOUT 1460
#define ERROR_NO_UNICODE_TRANSLATION 1113

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define MOVEFILE_REPLACE_EXISTING 0x1

#define HEAP_ZERO_MEMORY 0x8

#define THREAD_PRIORITY_NORMAL 0

#define WM_USER 0x0400

#define MB_OK 0x0
#define MB_OKCANCEL 0x1
#define MB_ICONERROR 0x10
#define MB_ICONQUESTION 0x20
#define IDOK 1
#define IDCANCEL 2

#ifdef __cplusplus
extern "C" {
#endif

// Last error: per thread, as on Windows.
DWORD GetLastError(void);
void SetLastError(DWORD error);

// Files. Paths take '\' and '/' alike; a leading drive ("c:") stands for the current directory.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD attributes, HANDLE template_file);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD bytes_read, void *overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD bytes_written, void *overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
BOOL SetEndOfFile(HANDLE file);
DWORD GetFileSize(HANDLE file, LPDWORD size_high);
BOOL CloseHandle(HANDLE object);
// A file held open without FILE_SHARE_DELETE can be neither deleted nor renamed, nor replaced
// by a rename, as on Windows (ERROR_SHARING_VIOLATION).
BOOL DeleteFileA(LPCSTR name);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);

// Process heap.
HANDLE GetProcessHeap(void);
LPVOID HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID memory, size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

int MulDiv(int number, int numerator, int denominator);

// The stand-in's ANSI code page is UTF-8, as the file names it hands to Linux are: GetACP
// answers CP_UTF8 and, as on Windows with that code page, no byte leads a double-byte pair.
// CP_ACP and CP_UTF8 convert alike, between UTF-8 and UTF-16. A test may make the ANSI code page
// Windows-1252 instead (shim_control.h).
#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
UINT GetACP(void);
BOOL IsDBCSLeadByte(BYTE test_char);
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int bytes, LPWSTR wide, int wide_size);
int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int wide_length, LPSTR text, int text_size,
                        LPCSTR default_char, LPBOOL used_default_char);

// Critical sections: recursive, as on Windows.
typedef struct {
    alignas(8) unsigned char opaque[64];
} CRITICAL_SECTION;
void InitializeCriticalSection(CRITICAL_SECTION *section);
void EnterCriticalSection(CRITICAL_SECTION *section);
void LeaveCriticalSection(CRITICAL_SECTION *section);
void DeleteCriticalSection(CRITICAL_SECTION *section);

// Module and thread. GetModuleHandleA knows ntdll.dll alone, whose GetProcAddress offers
// wine_get_version only where a test says the stand-in plays Wine (shim_control.h).
typedef LONG_PTR (*FARPROC)(void);
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_PROC_NOT_FOUND 127
HMODULE GetModuleHandleA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
void Sleep(DWORD milliseconds);
HANDLE GetCurrentThread(void);
BOOL SetThreadPriority(HANDLE thread, int priority);

// The process environment (the C library's).
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value);

// User interface, answered by whoever installed an answerer (win32_shim/shim_control.h).
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
#define SMTO_NORMAL 0x0000
#define SMTO_BLOCK 0x0001
#define SMTO_ABORTIFHUNG 0x0002
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT flags, UINT timeout_ms,
                            PDWORD_PTR result);
int wsprintfA(LPSTR buffer, LPCSTR format, ...);

// Profile (INI) files, written as the text Windows writes, in the encoding the file has
// (ANSI, UTF-8 with its mark, UTF-16 with its mark); a new file is ANSI, for the W functions too.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int default_value, LPCSTR file);
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer,
                               DWORD size, LPCSTR file);
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);
BOOL GetPrivateProfileStructA(LPCSTR section, LPCSTR key, LPVOID buffer, UINT size, LPCSTR file);
BOOL WritePrivateProfileStructA(LPCSTR section, LPCSTR key, LPVOID buffer, UINT size, LPCSTR file);
UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT default_value, LPCWSTR file);
DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR default_value, LPWSTR buffer,
                               DWORD size, LPCWSTR file);
BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);
BOOL GetPrivateProfileStructW(LPCWSTR section, LPCWSTR key, LPVOID buffer, UINT size, LPCWSTR file);
BOOL WritePrivateProfileStructW(LPCWSTR section, LPCWSTR key, LPVOID buffer, UINT size, LPCWSTR file);

#ifdef __cplusplus
}
#endif

// --- Dialogs and controls (shim_dialog.cpp): a dialog made from the plug-in's own template,
// its controls by id, and what the dialog procedure asks of them.
#include "win32_shim/shim_ui_constants.h"

typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;
typedef LONG HRESULT;
typedef unsigned long ULONG;
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)(WORD)(i))
#define MAKEWPARAM(low, high) ((WPARAM)(DWORD)(((WORD)(low)) | (((DWORD)(WORD)(high)) << 16)))
#define LOWORD(value) ((WORD)((ULONG_PTR)(value) & 0xFFFF))
#define HIWORD(value) ((WORD)(((ULONG_PTR)(value) >> 16) & 0xFFFF))

#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005L)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111

#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_CLICK 0x00F5
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BN_CLICKED 0

#define CB_ERR (-1)
#define CB_ADDSTRING 0x0143
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_RESETCONTENT 0x014B
#define CB_SETCURSEL 0x014E
#define CBN_SELCHANGE 1

#define EM_LIMITTEXT 0x00C5
#define EM_GETLIMITTEXT 0x00D5

#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_ID (-12)
#define GWLP_HINSTANCE (-6)

#ifdef __cplusplus
extern "C" {
#endif

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND owner, DLGPROC procedure, LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam);
BOOL SetWindowTextA(HWND window, LPCSTR text);
int GetWindowTextA(HWND window, LPSTR buffer, int size);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
int GetClassNameA(HWND window, LPSTR buffer, int size);
LONG GetWindowLongA(HWND window, int index);
LONG_PTR GetWindowLongPtrA(HWND window, int index);

#ifdef __cplusplus
}
#endif

#endif
