// Finds the plug-in's dialog boxes on a thread; see dialog_windows.h.
#include "tests/windows/dialog_windows.h"

namespace {

struct search {
    HWND except, found;
};

BOOL CALLBACK find_dialog(HWND window, LPARAM data)
{
    auto *s = reinterpret_cast<search *>(data);
    char name[16];
    GetClassNameA(window, name, sizeof name);
    if (window == s->except || !IsWindowVisible(window) || lstrcmpA(name, "#32770") != 0) return TRUE;
    s->found = window;
    return FALSE;
}

} // namespace

HWND find_dialog_of(DWORD thread, HWND except)
{
    search s{except, nullptr};
    EnumThreadWindows(thread, find_dialog, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND wait_for_dialog(DWORD thread, HWND except, unsigned seconds)
{
    for (unsigned tries = 0; tries < seconds * 100; tries++) {
        if (HWND found = find_dialog_of(thread, except)) return found;
        Sleep(10);
    }
    return nullptr;
}

bool wait_gone(HWND window, unsigned seconds)
{
    for (unsigned tries = 0; tries < seconds * 100 && IsWindow(window); tries++) Sleep(10);
    return !IsWindow(window);
}
