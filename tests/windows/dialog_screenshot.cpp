// Opens the DLL's configuration dialog for a screenshot: once the dialog is up and painted,
// writes its screen rectangle ("x y width height") to the marker file, waits for the done
// file that the screenshot script makes, then cancels the dialog.
// usage: dialog_screenshot DLL MARKER DONE
#include <windows.h>

#include <stdio.h>

#include "host/out_module.h"

namespace {

const char *marker_path;
const char *done_path;
DWORD main_thread;

BOOL CALLBACK find_dialog(HWND window, LPARAM data)
{
    char name[16];
    GetClassNameA(window, name, sizeof name);
    if (!IsWindowVisible(window) || lstrcmpA(name, "#32770") != 0) return TRUE;
    *reinterpret_cast<HWND *>(data) = window;
    return FALSE;
}

DWORD WINAPI photographer(LPVOID)
{
    HWND dialog = nullptr;
    for (int tries = 0; tries < 1000 && !dialog; tries++) {
        EnumThreadWindows(main_thread, find_dialog, reinterpret_cast<LPARAM>(&dialog));
        if (!dialog) Sleep(10);
    }
    if (!dialog) return 1;
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300); // let the X server show what Wine drew
    RECT r;
    GetWindowRect(dialog, &r);
    FILE *marker = fopen(marker_path, "w");
    if (marker) {
        fprintf(marker, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        fclose(marker);
    }
    for (int tries = 0; tries < 2000; tries++) { // at most 20 s
        if (GetFileAttributesA(done_path) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(10);
    }
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: dialog_screenshot DLL MARKER DONE\n");
        return 2;
    }
    marker_path = argv[2];
    done_path = argv[3];
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) return 3;
    auto get = reinterpret_cast<out_module *(*)(void)>(
        reinterpret_cast<void *>(GetProcAddress(dll, "winampGetOutModule")));
    if (!get) return 3;
    out_module *module = get();
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "dialog_screenshot_owner";
    RegisterClassA(&window_class);
    // A hidden owner in the middle of the desktop: the dialog opens at its client origin.
    module->main_window = CreateWindowExA(0, "dialog_screenshot_owner", "owner", WS_OVERLAPPED, 40, 40, 100, 100,
                                          nullptr, nullptr, window_class.hInstance, nullptr);
    module->module_instance = dll;
    main_thread = GetCurrentThreadId();
    HANDLE thread = CreateThread(nullptr, 0, photographer, nullptr, 0, nullptr);
    module->config(module->main_window);
    WaitForSingleObject(thread, 30000);
    DWORD status = 1;
    GetExitCodeThread(thread, &status);
    return static_cast<int>(status);
}
