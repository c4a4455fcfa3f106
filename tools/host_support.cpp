// The host side of the plug-in's user interface: the playlist requests and the message boxes.
#include "tools/host_support.h"

#include <stdio.h>
#ifndef _WIN32
#include <unistd.h>

#include "win32_shim/shim_control.h"
#endif

host_settings host_config;
std::vector<recorded_box> host_boxes;

static int playlist_position;
static const char *playlist_title = "";
static std::string playlist_title_text;

void host_set_playlist(int position, const char *title)
{
    playlist_position = position;
    if (title) {
        playlist_title_text = title;
        playlist_title = playlist_title_text.c_str();
    } else {
        playlist_title = nullptr;
    }
}

static LRESULT CALLBACK host_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_USER && lparam == 125) return playlist_position;
    if (message == WM_USER && lparam == 212)
        return static_cast<int>(wparam) == playlist_position ? reinterpret_cast<LRESULT>(playlist_title) : 0;
#ifdef _WIN32
    return DefWindowProcA(window, message, wparam, lparam);
#else
    (void)window;
    return 0;
#endif
}

bool host_is_terminal(FILE *stream)
{
#ifdef _WIN32
    // msvcrt's isatty also says yes for NUL; only a console has a console mode.
    DWORD mode;
    HANDLE handle = GetStdHandle(stream == stdin ? STD_INPUT_HANDLE : stream == stdout ? STD_OUTPUT_HANDLE
                                                                                      : STD_ERROR_HANDLE);
    return GetConsoleMode(handle, &mode) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

#ifdef _WIN32
// The platform's MessageBoxA, kept when a module's import is redirected to the recorder.
static int(WINAPI *platform_message_box)(HWND, LPCSTR, LPCSTR, UINT);
#endif

static int ask_on_terminal(LPCSTR text, LPCSTR caption)
{
    fprintf(stderr, "%s: %s [y/N] ", caption, text);
    fflush(stderr);
    char line[64];
    if (!fgets(line, sizeof line, stdin)) return IDCANCEL;
    return line[0] == 'y' || line[0] == 'Y' ? IDOK : IDCANCEL;
}

int WINAPI host_message_box(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    recorded_box box{caption ? caption : "", text ? text : "", type, IDOK};
    bool question = (type & 0xF) == MB_OKCANCEL;
#ifdef _WIN32
    if (host_config.show_boxes && platform_message_box) {
        int answer = platform_message_box(owner, text, caption, type);
        if (answer > 0) { // 0: the box could not be shown
            box.answer = answer;
            if (host_config.echo_boxes) fprintf(stderr, "%s: %s\n", box.caption.c_str(), box.text.c_str());
            host_boxes.push_back(box);
            return answer;
        }
    }
#else
    (void)owner;
#endif
    if (question) {
        switch (host_config.questions) {
        case question_policy::ok: box.answer = IDOK; break;
        case question_policy::cancel: box.answer = IDCANCEL; break;
        case question_policy::ask_terminal:
            box.answer = host_is_terminal(stdin) ? ask_on_terminal(box.text.c_str(), box.caption.c_str()) : IDCANCEL;
            break;
        }
    }
    if (host_config.echo_boxes && !(question && host_config.questions == question_policy::ask_terminal &&
                                     host_is_terminal(stdin)))
        fprintf(stderr, "%s: %s\n", box.caption.c_str(), box.text.c_str());
    host_boxes.push_back(box);
    return box.answer;
}

#ifdef _WIN32

HWND host_create_window(void)
{
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = host_window_proc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "tollvane_host";
    RegisterClassA(&window_class);
    HWND window = CreateWindowExA(0, "tollvane_host", "tollvane-play", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, window_class.hInstance, nullptr);
    // Without a window driver only message-only windows exist; they answer requests all the same.
    if (!window)
        window = CreateWindowExA(0, "tollvane_host", "tollvane-play", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 window_class.hInstance, nullptr);
    return window;
}

void host_destroy_window(HWND window)
{
    if (window) DestroyWindow(window);
}

// Replaces the module's import of user32!MessageBoxA with the recorder.
bool host_catch_message_boxes(HMODULE module)
{
    BYTE *base = reinterpret_cast<BYTE *>(module ? module : GetModuleHandleA(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress) return false;
    auto *import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + directory.VirtualAddress);
    FARPROC original = GetProcAddress(GetModuleHandleA("user32.dll"), "MessageBoxA");
    platform_message_box = reinterpret_cast<int(WINAPI *)(HWND, LPCSTR, LPCSTR, UINT)>(reinterpret_cast<void *>(original));
    for (; import->Name; import++) {
        if (lstrcmpiA(reinterpret_cast<char *>(base + import->Name), "user32.dll") != 0) continue;
        auto *slot = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
        auto *name = reinterpret_cast<IMAGE_THUNK_DATA *>(
            base + (import->OriginalFirstThunk ? import->OriginalFirstThunk : import->FirstThunk));
        for (; slot->u1.Function; slot++, name++) {
            bool by_name = !(name->u1.Ordinal & IMAGE_ORDINAL_FLAG) && import->OriginalFirstThunk;
            bool match = by_name ? lstrcmpA(reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + name->u1.AddressOfData)->Name,
                                            "MessageBoxA") == 0
                                 : reinterpret_cast<FARPROC>(slot->u1.Function) == original;
            if (!match) continue;
            DWORD old_protection;
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old_protection);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(&host_message_box);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old_protection, &old_protection);
            return true;
        }
    }
    return false;
}

#else

HWND host_create_window(void)
{
    shim_set_window_proc(host_window_proc);
    static int window_tag;
    return reinterpret_cast<HWND>(&window_tag);
}

void host_destroy_window(HWND) { shim_set_window_proc(nullptr); }

bool host_catch_message_boxes(HMODULE)
{
    shim_set_message_box(host_message_box);
    return true;
}

#endif
