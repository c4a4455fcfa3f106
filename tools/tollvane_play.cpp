// tollvane-play: plays WAV files through the plug-in exactly as the player does: loads it,
// fills in the two handles, init, then open / write in blocks / close per file, and quit.
// Message boxes go to stderr; questions are answered by --yes/--no or on the terminal.
// The program keeps its arguments in UTF-8 (on Windows taken from the wide command line, so
// that any file name opens); titles reach the plug-in in the ANSI code page, as the player's do.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/out_module.h"
#include "tools/host_support.h"
#include "tools/wav_reader.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#else
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);
#endif

static const char usage[] =
    "usage: tollvane-play [--config] [--about] [--title TEXT] [--retitle SECONDS TEXT]... [--block FRAMES]\n"
    "                     [--yes|--no] [--plugin DLL] FILE...\n"
    "Plays each PCM WAV FILE through the Tollvane output plug-in, which writes it to disk as its\n"
    "settings say (the INI file beside this program).\n"
    "  --config        open the plug-in's configuration dialog first (Windows or Wine); with no\n"
    "                  FILE, only the dialog: what OK commits is saved to the INI file at the end\n"
    "  --about         show the plug-in's About box first; with no FILE, only the box\n"
    "  --title TEXT    playlist title of the next FILE (default: its name without extension)\n"
    "  --retitle SECONDS TEXT\n"
    "                  from that play position of the next FILE on, the player reports TEXT as\n"
    "                  its title, as for an internet stream's next song (repeatable)\n"
    "  --block FRAMES  frames per write (default 576)\n"
    "  --yes, --no     answer OK or Cancel when the plug-in asks before overwriting a file\n"
    "  --plugin DLL    the plug-in to load (Windows; default out_tollvane.dll beside this program)\n";

// A title the player reports from a play position on, as a stream's does.
struct retitle {
    double seconds;
    std::string title; // in the ANSI code page
};

struct track {
    std::string path;
    std::string title; // in the ANSI code page, as the player hands titles over
    std::vector<retitle> retitles;
};

struct play_options {
    std::vector<track> tracks;
    std::string plugin_path;
    bool want_config = false;
    bool want_about = false;
    int block_frames = 576;
};

// The plug-in as the player holds it: its record and the instance the dialog is loaded from.
struct loaded_plugin {
    out_module *module = nullptr;
    HINSTANCE instance = nullptr;
};

#ifdef _WIN32
static std::wstring wide_text(const std::string &utf8)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

static std::string narrow_text(const std::wstring &wide, UINT code_page)
{
    int length = WideCharToMultiByte(code_page, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(length > 0 ? length : 1, '\0');
    WideCharToMultiByte(code_page, 0, wide.c_str(), -1, &text[0], length, nullptr, nullptr);
    text.resize(strlen(text.c_str()));
    return text;
}

// The program's own path, in UTF-8.
static std::string program_path(void)
{
    wchar_t path[32768];
    DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    return narrow_text(std::wstring(path, n), CP_UTF8);
}
#endif

static std::string ansi_title(const std::string &utf8)
{
#ifdef _WIN32
    return narrow_text(wide_text(utf8), CP_ACP);
#else
    return utf8; // the stand-in's ANSI code page is UTF-8
#endif
}

static std::string title_from_path(const std::string &path)
{
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The arguments in UTF-8, the program's name left out.
static std::vector<std::string> program_arguments(int argc, char **argv)
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int a = 1; wide && a < count; a++) args.push_back(narrow_text(wide[a], CP_UTF8));
    LocalFree(wide);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

// -1 to go on; otherwise the exit status (0 after --help, 2 for a usage error).
static int parse_arguments(const std::vector<std::string> &args, play_options *options)
{
    std::string next_title;
    bool have_title = false;
    std::vector<retitle> next_retitles;
    host_config.questions = question_policy::ask_terminal;
    host_config.echo_boxes = true;
    for (size_t a = 0; a < args.size(); a++) {
        const std::string &arg = args[a];
        bool has_value = a + 1 < args.size();
        if (arg == "--title" && has_value) {
            next_title = args[++a];
            have_title = true;
        } else if (arg == "--retitle" && a + 2 < args.size()) {
            char *end = nullptr;
            double seconds = strtod(args[a + 1].c_str(), &end);
            if (!end || *end || !(seconds >= 0)) {
                fprintf(stderr, "tollvane-play: --retitle takes a play position in seconds, then a title\n");
                return 2;
            }
            next_retitles.push_back({seconds, ansi_title(args[a + 2])});
            a += 2;
        } else if (arg == "--block" && has_value) {
            options->block_frames = atoi(args[++a].c_str());
            if (options->block_frames < 1 || options->block_frames > 1 << 20) {
                fprintf(stderr, "tollvane-play: --block takes 1 to 1048576 frames\n");
                return 2;
            }
        } else if (arg == "--yes") {
            host_config.questions = question_policy::ok;
        } else if (arg == "--no") {
            host_config.questions = question_policy::cancel;
        } else if (arg == "--config") {
            options->want_config = true;
        } else if (arg == "--about") {
            options->want_about = true;
        } else if (arg == "--plugin" && has_value) {
            options->plugin_path = args[++a];
        } else if (arg == "--help" || arg == "-h") {
            fputs(usage, stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            fprintf(stderr, "tollvane-play: unknown option or missing value: %s\n%s", arg.c_str(), usage);
            return 2;
        } else {
            options->tracks.push_back({arg, ansi_title(have_title ? next_title : title_from_path(arg)), next_retitles});
            have_title = false;
            next_retitles.clear();
        }
    }
    if (options->tracks.empty() && !options->want_config && !options->want_about) {
        fputs(usage, stderr);
        return 2;
    }
#ifndef _WIN32
    if (options->want_config) {
        fprintf(stderr, "tollvane-play: the configuration dialog needs Windows or Wine: run the Windows build,\n"
                        "  e.g. wine tollvane-play.exe --config; here, edit tollvane-play.ini by hand\n");
        return 2;
    }
#endif
    return -1;
}

// Windows: loads the DLL (by its wide name, from this program's folder unless another is
// given) and routes its message boxes to the recorder. Natively the plug-in is linked in and
// attached as the loader would.
static bool load_plugin(const std::string &requested_path, loaded_plugin *plugin)
{
#ifdef _WIN32
    std::string path = requested_path;
    if (path.empty()) {
        std::string exe = program_path();
        size_t slash = exe.find_last_of("\\/");
        path = (slash == std::string::npos ? std::string() : exe.substr(0, slash + 1)) + "out_tollvane.dll";
    }
    HMODULE dll = LoadLibraryW(wide_text(path).c_str());
    if (!dll) {
        fprintf(stderr, "tollvane-play: %s: cannot load the plug-in (error %lu)\n", path.c_str(), GetLastError());
        return false;
    }
    auto get_module = reinterpret_cast<out_module *(*)(void)>(
        reinterpret_cast<void *>(GetProcAddress(dll, "winampGetOutModule")));
    if (!get_module) {
        fprintf(stderr, "tollvane-play: %s: no winampGetOutModule export\n", path.c_str());
        FreeLibrary(dll);
        return false;
    }
    host_catch_message_boxes(dll);
    plugin->module = get_module();
    plugin->instance = dll;
#else
    if (!requested_path.empty()) fprintf(stderr, "tollvane-play: --plugin is ignored: this build has it linked in\n");
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    host_catch_message_boxes(nullptr);
    plugin->module = winampGetOutModule();
    plugin->instance = nullptr;
#endif
    return true;
}

static void unload_plugin(const loaded_plugin &plugin)
{
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(plugin.instance));
#else
    (void)plugin;
#endif
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
    size_t next_retitle = 0;
    for (;;) {
        // The title the player shows from this play position on.
        double position = static_cast<double>(done / wav.frame_bytes) / wav.rate;
        while (next_retitle < t.retitles.size() && t.retitles[next_retitle].seconds <= position)
            host_set_playlist(static_cast<int>(index), t.retitles[next_retitle++].title.c_str());
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

// Every track in turn; the number that failed. An error box during a track means the file is
// not what was played.
static int play_tracks(out_module *module, const play_options &options)
{
    bool progress = host_is_terminal(stderr);
    int failures = 0;
    for (size_t i = 0; i < options.tracks.size(); i++) {
        size_t boxes_before = host_boxes.size();
        bool played = play_track(module, options.tracks[i], i, options.tracks.size(), options.block_frames, progress);
        for (size_t b = boxes_before; b < host_boxes.size(); b++)
            if (host_boxes[b].type & MB_ICONERROR) played = false;
        if (!played) failures++;
    }
    return failures;
}

// The INI file the plug-in keeps beside this program, as the plug-in derives it.
static std::string settings_file(void)
{
#ifdef _WIN32
    std::string path = program_path();
#else
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path(exe, n);
#endif
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
    play_options options;
    int status = parse_arguments(program_arguments(argc, argv), &options);
    if (status >= 0) return status;
    loaded_plugin plugin;
    if (!load_plugin(options.plugin_path, &plugin)) return 2;

    out_module *module = plugin.module;
    HWND window = host_create_window();
    module->main_window = window;
    module->module_instance = plugin.instance;
    module->init();

    if (options.want_about) {
        // The box the player's About button shows, for real where there is a display; its
        // text goes to stderr as every box of this program does.
        host_config.show_boxes = true;
        module->about(window);
        host_config.show_boxes = false;
    }
#ifdef _WIN32
    if (options.want_config) {
        // Without a window system (no display, or Wine's null driver with no desktop) only a
        // message-only window could be made, and the dialog would fail at once.
        if (GetAncestor(window, GA_PARENT) != GetDesktopWindow()) {
            fprintf(stderr, "tollvane-play: no display: the configuration dialog cannot be shown\n");
            host_destroy_window(window);
            unload_plugin(plugin);
            return 1;
        }
        module->config(window);
    }
#endif

    int failures = play_tracks(module, options);
    module->quit();
    if (options.want_config) fprintf(stderr, "tollvane-play: settings saved to %s\n", settings_file().c_str());
    host_destroy_window(window);
    unload_plugin(plugin);
    return failures ? 1 : 0;
}
