// The boxes the user sees about a track; see track_messages.h.
#include "output/track_messages.h"

#include <string.h>

#include "config/plugin_version.h"

// The box's text: the message and the whole 512-character path fit, and wsprintfA, which
// stops at 1024 characters, never cuts it.
constexpr size_t error_text_chars = 640;

void show_error(HWND owner, const char *path, const char *message)
{
    char text[error_text_chars];
    // The path is cut only where a message would not leave it room.
    char cut_path[output_path_chars];
    size_t path_room = sizeof text - strlen(message) - 6;
    size_t path_length = strlen(path);
    if (path_length > path_room) path_length = path_room;
    if (path_length > sizeof cut_path - 1) path_length = sizeof cut_path - 1;
    memcpy(cut_path, path, path_length);
    cut_path[path_length] = 0;
    wsprintfA(text, "%s: \"%s\"", message, cut_path);
    MessageBoxA(owner, text, TOLLVANE_VERSION, MB_OK | MB_ICONERROR);
}

static const char output_unavailable[] = "Error initializing output.";

// Indexed by file_problem.
static const char *const problem_texts[file_problem_count] = {
    "Cannot create output file",    "Cannot open file",           "Not a PCM WAV file",
    output_unavailable,             "WAV file size limit reached", "Cannot write to output file",
    "Codec stopped accepting data",
};

void tell_output_unavailable(HWND owner)
{
    MessageBoxA(owner, output_unavailable, TOLLVANE_VERSION, MB_OK | MB_ICONERROR);
}

void tell_file_problem(HWND owner, const char *path, file_problem problem)
{
    // The conversion names no file: the format is what fails, whatever the name.
    if (problem == problem_no_conversion) tell_output_unavailable(owner);
    else show_error(owner, path, problem_texts[problem]);
}

// Indexed by cue_problem.
static const char *const cue_problem_texts[cue_problem_count] = {
    "Cue sheet of another file left as it is",
    "Cannot write cue sheet",
};

void tell_cue_problem(HWND owner, const char *path, cue_problem problem)
{
    show_error(owner, path, cue_problem_texts[problem]);
}

// The question's own words beside the path.
constexpr unsigned overwrite_question_chars = output_path_chars + 64;

bool ask_to_overwrite(HWND owner, const char *path)
{
    char question[overwrite_question_chars];
    wsprintfA(question, "File: \"%s\" already exists. Overwrite ?", path);
    return MessageBoxA(owner, question, TOLLVANE_VERSION, MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}
