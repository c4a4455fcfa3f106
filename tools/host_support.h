// What a host needs around the plug-in, shared by tollvane-play and the tests: a main window
// that answers the playlist requests, and message boxes caught, recorded and answered instead
// of shown (on Windows by patching the module's import of MessageBoxA, natively through the
// stand-in), so that runs need no one at the screen.
#ifndef TOLLVANE_HOST_SUPPORT_H
#define TOLLVANE_HOST_SUPPORT_H

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

struct recorded_box {
    std::string caption;
    std::string text;
    unsigned type;
    int answer;
};

enum class question_policy { cancel, ok, ask_terminal };

struct host_settings {
    question_policy questions = question_policy::cancel;
    bool echo_boxes = false; // print "caption: text" on stderr
    // Windows: also show each box for real with the platform's MessageBoxA, whose answer
    // then counts (a box that cannot be shown, for want of a display, keeps the policy's).
    bool show_boxes = false;
};

extern host_settings host_config;
extern std::vector<recorded_box> host_boxes;

// The playlist entry the main window reports: position (request 125) and title (request 212).
// A null title makes request 212 answer 0, as a player with no title for the entry does.
void host_set_playlist(int position, const char *title);

// A window owned by the host whose procedure answers the two playlist requests.
HWND host_create_window(void);
void host_destroy_window(HWND window);

// Routes message boxes of the given module (Windows: a loaded DLL, or null for the program
// itself) to the recorder. Returns false when the import could not be found.
bool host_catch_message_boxes(HMODULE module);

// A terminal a person can answer at (Windows: a console, not NUL or a pipe).
bool host_is_terminal(FILE *stream);

int WINAPI host_message_box(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

#endif
