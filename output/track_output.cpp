// Owns output_state: open plans the track from the settings and starts its file; write keeps
// the player's clock and hands each block to the file; close finishes it. A split stream (an
// internet radio whose title changes with each song) asks the player for the title once a
// second of audio and, when the title names another file, finishes the file and starts the
// next one at that block.
#include "output/track_output.h"

#include <string.h>

#include "config/settings_store.h"
#include "output/track_cue.h"
#include "output/track_file.h"
#include "output/track_messages.h"
#include "output/track_plan.h"

track_output output_state;

// The plan the track opened with: every file of a split stream is made from it.
static track_plan open_plan;
// The entry a split stream's player reports (1 KiB: kept off the decoding thread's stack).
static playlist_entry asked_entry;

// What went wrong with the file is told here, each problem once, in the order it arose.
static void tell_file_news(void)
{
    file_problem problem;
    while (file_take_news(&problem)) tell_file_problem(output_state.player_window, file_path(), problem);
}

static void tell_cue_news(void)
{
    cue_problem problem;
    while (cue_take_news(&problem)) tell_cue_problem(output_state.player_window, cue_path(), problem);
}

// Starts the track's file for entry. The question about a file that exists is asked here, where
// the policy asks, and nowhere else. False when the track cannot go on: the user was told, or
// declined to replace.
static bool start_file(const playlist_entry *entry, BYTE exists_policy)
{
    file_start start = file_open(&open_plan, entry, exists_policy);
    if (start == file_asks) {
        if (!ask_to_overwrite(output_state.player_window, file_path())) return false;
        start = file_open(&open_plan, entry, exists_replace);
    }
    tell_file_news();
    return start == file_started;
}

// A new track: its format, the clocks from zero.
static void reset_track_state(int rate, int channels, int bits)
{
    output_state.discarding = false;
    output_state.frames_since_flush = 0;
    output_state.frames_since_open = 0;
    output_state.next_title_check = static_cast<uint64_t>(rate);
    output_state.input_rate = rate;
    output_state.input_channels = channels;
    output_state.input_bits = bits;
}

int track_open(HWND player_window, int rate, int channels, int bits)
{
    // A player that opens again without closing would leave the earlier file unpatched.
    track_close();
    output_state.player_window = player_window;
    if (!plan_track(rate, channels, bits, &open_plan)) {
        tell_output_unavailable(player_window);
        return -1;
    }
    reset_track_state(rate, channels, bits);
    ask_playlist_entry(player_window, false, &output_state.entry);
    if (!start_file(&output_state.entry, open_plan.exists_policy)) return -1;
    if (open_plan.cue_sheet) {
        cue_track_opened(file_path(), file_start_frames(), file_rate(), output_state.entry.title);
        tell_cue_news();
    }
    output_state.is_open = true;
    output_state.time_offset_ms = 0;
    return 0;
}

// In the single file a stream's next song is a new track of its cue sheet, from this block on,
// where the file takes it: at the file's rate.
static void start_cue_track(const playlist_entry &entry)
{
    if (strcmp(entry.title, output_state.entry.title) == 0) return;
    output_state.entry = entry;
    uint64_t into_track = output_state.frames_since_open * file_rate() / static_cast<uint64_t>(output_state.input_rate);
    cue_new_title(entry.title, into_track);
    tell_cue_news();
}

// Once a second of audio (counted over the whole track, so a seek does not delay it), the
// player is asked for its entry: the same position under another title is the next song of a
// stream, which gets a file of its own where its name is another, or a track of the single
// file's cue sheet. A request the player does not answer in time means neither.
static void check_stream_title(void)
{
    uint64_t rate = static_cast<uint64_t>(output_state.input_rate);
    output_state.next_title_check = (output_state.frames_since_open / rate + 1) * rate;
    playlist_entry &entry = asked_entry;
    if (!ask_playlist_entry(output_state.player_window, true, &entry)) return;
    if (entry.position != output_state.entry.position) return; // the player moves on to the next entry
    if (open_plan.cue_sheet) {
        start_cue_track(entry);
        return;
    }
    if (!plan_names_another_file(&open_plan, &entry)) return;
    file_finish(output_state.frames_since_flush == 0);
    tell_file_news();
    output_state.entry = entry;
    // A next file that cannot start has been told about; the rest of the track goes nowhere.
    if (!start_file(&entry, plan_split_policy(&open_plan))) output_state.discarding = true;
}

int track_write(char *block, int length)
{
    if (cfg_thread) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    else Sleep(0);
    if (!output_state.is_open) return 0;

    // Nothing to write or count; an empty block must not reach the converter either, which
    // takes a call without input for the end of the track.
    if (length <= 0) return 0;
    int frames = length / ((output_state.input_bits >> 3) * output_state.input_channels);
    if ((open_plan.split_streams || open_plan.cue_sheet) && !output_state.discarding &&
        output_state.frames_since_open >= output_state.next_title_check)
        check_stream_title(); // the block that shows the change goes into the new file
    if (!output_state.discarding) {
        file_write(reinterpret_cast<const BYTE *>(block), static_cast<uint32_t>(length), frames,
                   output_state.frames_since_flush == 0);
        tell_file_news();
    }
    output_state.frames_since_flush += frames;
    output_state.frames_since_open += static_cast<uint64_t>(frames);
    return 0;
}

void track_close(void)
{
    // A close without an open track (after a failed open, or twice) has nothing to finish.
    if (!output_state.is_open) return;
    output_state.is_open = false;
    if (output_state.discarding) return;
    file_finish(output_state.frames_since_flush == 0);
    tell_file_news();
    cue_track_closed();
}

void track_flush(int time_ms)
{
    output_state.time_offset_ms = time_ms;
    output_state.frames_since_flush = 0;
}

// Before the first open the rate is 0: MulDiv gives -1 and so does the clock, less the offset.
int track_time_ms(void)
{
    return output_state.time_offset_ms + MulDiv(output_state.frames_since_flush, 1000, output_state.input_rate);
}

void track_reset(void)
{
    memset(&output_state, 0, sizeof output_state);
    memset(&open_plan, 0, sizeof open_plan);
    memset(&asked_entry, 0, sizeof asked_entry);
    file_reset();
    cue_reset();
}
