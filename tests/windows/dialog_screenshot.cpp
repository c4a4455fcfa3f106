// Opens the DLL's configuration dialog for a screenshot, and with "options" the file options
// dialog over it: once the dialog is up and painted, writes its screen rectangle ("x y width height") to
// the marker file, waits for the done file that the screenshot script makes, then cancels it
// (and the main dialog under it).
// usage: dialog_screenshot DLL MARKER DONE [options]
#include <windows.h>

#include <stdio.h>

#include "config/config_dialog_ids.h"
#include "host/out_module.h"
#include "tests/windows/dialog_windows.h"

namespace {

const char *marker_path;
const char *done_path;
bool options_dialog;
DWORD main_thread;

DWORD WINAPI photographer(LPVOID)
{
    HWND main_dialog = wait_for_dialog(main_thread, nullptr, 10);
    if (!main_dialog) return 1;
    HWND dialog = main_dialog;
    if (options_dialog) {
        PostMessageA(GetDlgItem(main_dialog, IDC_FILE_OPTIONS), BM_CLICK, 0, 0);
        dialog = wait_for_dialog(main_thread, main_dialog, 10);
        if (!dialog) {
            PostMessageA(main_dialog, WM_COMMAND, IDCANCEL, 0);
            return 1;
        }
    }
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
    if (dialog != main_dialog) {
        wait_gone(dialog);
        PostMessageA(main_dialog, WM_COMMAND, IDCANCEL, 0);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    options_dialog = argc == 5 && lstrcmpA(argv[4], "options") == 0;
    if (argc != 4 && !options_dialog) {
        fprintf(stderr, "usage: dialog_screenshot DLL MARKER DONE [options]\n");
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
