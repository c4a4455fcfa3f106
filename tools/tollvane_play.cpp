// tollvane-play: plays WAV files through the plug-in exactly as the player does: loads it,
// fills in the two handles, init, then open / write in blocks / close per file, and quit.
// Message boxes go to stderr; questions are answered by --yes/--no or on the terminal.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/out_module.h"
#include "host_support.h"
#include "wav_reader.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);
#endif

static const char usage[] =
    "usage: tollvane-play [--config] [--about] [--title TEXT] [--block FRAMES] [--yes|--no] [--plugin DLL]\n"
    "                     FILE...\n"
    "Plays each PCM WAV FILE through the Tollvane output plug-in, which writes it to disk as its\n"
    "settings say (the INI file beside this program).\n"
    "  --config        open the plug-in's configuration dialog first (Windows or Wine); with no\n"
    "                  FILE, only the dialog: what OK commits is saved to the INI file at the end\n"
    "  --about         show the plug-in's About box first; with no FILE, only the box\n"
    "  --title TEXT    playlist title of the next FILE (default: its name without extension)\n"
    "  --block FRAMES  frames per write (default 576)\n"
    "  --yes, --no     answer OK or Cancel when the plug-in asks before overwriting a file\n"
    "  --plugin DLL    the plug-in to load (Windows; default out_tollvane.dll beside this program)\n";

struct track {
    std::string path;
    std::string title;
};

static std::string title_from_path(const std::string &path)
{
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

static void show_progress(size_t index, size_t count, uint64_t done, uint64_t total, time_t started)
{
    int percent = total ? static_cast<int>(done * 100 / total) : 100;
    long elapsed = static_cast<long>(time(nullptr) - started);
    fprintf(stderr, "\rtrack %zu/%zu %3d%% %ld:%02ld", index + 1, count, percent, elapsed / 60, elapsed % 60);
}

// Plays one file; false when it could not be read or the plug-in refused to open it.
static bool play_track(out_module *module, const track &t, size_t index, size_t count, int block_frames,
                       bool progress)
{
    wav_input wav;
    const char *reason = nullptr;
    if (!wav_reader_open(t.path.c_str(), &wav, &reason)) {
        fprintf(stderr, "tollvane-play: %s: %s\n", t.path.c_str(), reason);
        return false;
    }
    if (wav.missing_bytes) {
        // A recording cut short: what is there plays, and the run still counts as played.
        double seconds = static_cast<double>(wav.missing_bytes) / wav.frame_bytes / wav.rate;
        fprintf(stderr, "tollvane-play: %s: cut short: %llu of the %llu bytes of audio its data chunk claims are "
                        "missing (%.3f s); playing the rest\n",
                t.path.c_str(), static_cast<unsigned long long>(wav.missing_bytes),
                static_cast<unsigned long long>(wav.missing_bytes + wav.data_bytes), seconds);
    }
    host_set_playlist(static_cast<int>(index), t.title.c_str());
    if (module->open(wav.rate, wav.channels, wav.bits) < 0) {
        fprintf(stderr, "tollvane-play: %s: the plug-in could not open its output\n", t.path.c_str());
        wav_reader_close(&wav);
        return false;
    }
    // One write stays far below the 2 GiB a signed length can say, whatever the frame size.
    size_t max_frames = (64u << 20) / wav.frame_bytes;
    if (max_frames == 0) max_frames = 1;
    size_t frames_per_write = std::min(static_cast<size_t>(block_frames), max_frames);
    std::vector<char> block(frames_per_write * wav.frame_bytes);
    time_t started = time(nullptr), shown = 0;
    uint64_t done = 0;
    for (;;) {
        size_t bytes = wav_reader_read(&wav, block.data(), frames_per_write);
        if (bytes == 0) break;
        module->write(block.data(), static_cast<int>(bytes));
        done += bytes;
        if (progress && time(nullptr) != shown) {
            shown = time(nullptr);
            show_progress(index, count, done, wav.data_bytes, started);
        }
    }
    module->close();
    if (progress) {
        show_progress(index, count, done, wav.data_bytes, started);
        fputc('\n', stderr);
    }
    wav_reader_close(&wav);
    return true;
}

// The INI file the plug-in keeps beside this program, as the plug-in derives it.
static std::string settings_file(void)
{
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path(exe, n);
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of("\\/");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ".ini";
    return path.substr(0, dot) + ".ini";
}

int main(int argc, char **argv)
{
#ifdef _WIN32
    _setmode(_fileno(stderr), _O_BINARY); // plain LF lines, as the native build prints
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    setvbuf(stderr, nullptr, _IONBF, 0);
    std::vector<track> tracks;
    std::string next_title, plugin_path;
    bool have_title = false, want_config = false, want_about = false;
    int block_frames = 576;
    host_config.questions = question_policy::ask_terminal;
    host_config.echo_boxes = true;

    for (int a = 1; a < argc; a++) {
        std::string arg = argv[a];
        bool has_value = a + 1 < argc;
        if (arg == "--title" && has_value) {
            next_title = argv[++a];
            have_title = true;
        } else if (arg == "--block" && has_value) {
            block_frames = atoi(argv[++a]);
            if (block_frames < 1 || block_frames > 1 << 20) {
                fprintf(stderr, "tollvane-play: --block takes 1 to 1048576 frames\n");
                return 2;
            }
        } else if (arg == "--yes") {
            host_config.questions = question_policy::ok;
        } else if (arg == "--no") {
            host_config.questions = question_policy::cancel;
        } else if (arg == "--config") {
            want_config = true;
        } else if (arg == "--about") {
            want_about = true;
        } else if (arg == "--plugin" && has_value) {
            plugin_path = argv[++a];
        } else if (arg == "--help" || arg == "-h") {
            fputs(usage, stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            fprintf(stderr, "tollvane-play: unknown option or missing value: %s\n%s", arg.c_str(), usage);
            return 2;
        } else {
            tracks.push_back({arg, have_title ? next_title : title_from_path(arg)});
            have_title = false;
        }
    }
    if (tracks.empty() && !want_config && !want_about) {
        fputs(usage, stderr);
        return 2;
    }
#ifndef _WIN32
    if (want_config) {
        fprintf(stderr, "tollvane-play: the configuration dialog needs Windows or Wine: run the Windows build,\n"
                        "  e.g. wine tollvane-play.exe --config; here, edit tollvane-play.ini by hand\n");
        return 2;
    }
#endif

#ifdef _WIN32
    if (plugin_path.empty()) {
        char exe[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
        std::string dir(exe, n);
        size_t slash = dir.find_last_of("\\/");
        plugin_path = (slash == std::string::npos ? std::string() : dir.substr(0, slash + 1)) + "out_tollvane.dll";
    }
    HMODULE plugin = LoadLibraryA(plugin_path.c_str());
    if (!plugin) {
        fprintf(stderr, "tollvane-play: %s: cannot load the plug-in (error %lu)\n", plugin_path.c_str(),
                GetLastError());
        return 2;
    }
    auto get_module = reinterpret_cast<out_module *(*)(void)>(
        reinterpret_cast<void *>(GetProcAddress(plugin, "winampGetOutModule")));
    if (!get_module) {
        fprintf(stderr, "tollvane-play: %s: no winampGetOutModule export\n", plugin_path.c_str());
        return 2;
    }
    host_catch_message_boxes(plugin);
#else
    HINSTANCE plugin = nullptr; // linked in: attach as the loader would
    if (!plugin_path.empty()) fprintf(stderr, "tollvane-play: --plugin is ignored: this build has it linked in\n");
    DllMain(plugin, DLL_PROCESS_ATTACH, nullptr);
    auto get_module = winampGetOutModule;
    host_catch_message_boxes(nullptr);
#endif

    out_module *module = get_module();
    HWND window = host_create_window();
    module->main_window = window;
    module->module_instance = plugin;
    module->init();

    if (want_about) {
        // The box the player's About button shows, for real where there is a display; its
        // text goes to stderr as every box of this program does.
        host_config.show_boxes = true;
        module->about(window);
        host_config.show_boxes = false;
    }
#ifdef _WIN32
    if (want_config) {
        // Without a window system (no display, or Wine's null driver with no desktop) only a
        // message-only window could be made, and the dialog would fail at once.
        if (GetAncestor(window, GA_PARENT) != GetDesktopWindow()) {
            fprintf(stderr, "tollvane-play: no display: the configuration dialog cannot be shown\n");
            host_destroy_window(window);
            FreeLibrary(plugin);
            return 1;
        }
        module->config(window);
    }
#endif

    bool progress = host_is_terminal(stderr);
    int failures = 0;
    for (size_t i = 0; i < tracks.size(); i++) {
        size_t boxes_before = host_boxes.size();
        bool played = play_track(module, tracks[i], i, tracks.size(), block_frames, progress);
        // An error box during the track means the file is not what was played.
        for (size_t b = boxes_before; b < host_boxes.size(); b++)
            if (host_boxes[b].type & MB_ICONERROR) played = false;
        if (!played) failures++;
    }
    module->quit();
    if (want_config) fprintf(stderr, "tollvane-play: settings saved to %s\n", settings_file().c_str());
    host_destroy_window(window);
#ifdef _WIN32
    FreeLibrary(plugin);
#endif
    return failures ? 1 : 0;
}
