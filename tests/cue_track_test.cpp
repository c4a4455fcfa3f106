// The cue sheet that tracks keep beside the single file, through the player's entry points:
// its starts on the file's track boundaries across two runs, a stream's titles as tracks, a
// stale sheet written anew, another file's sheet left alone for the run, and a sheet that
// cannot be replaced, which costs the audio nothing.
#include <gtest/gtest.h>

#include <sstream>

#include "config/settings_store.h"
#include "output/track_file.h"
#include "output/track_output.h"
#include "tests/test_support.h"

using bytes = std::vector<uint8_t>;

namespace {

std::string text_of(const char *path)
{
    bytes file = read_file(path);
    return std::string(file.begin(), file.end());
}

// One track of the sheet as the plug-in writes it.
std::string track_lines(int number, const std::string &title, uint64_t frames, uint32_t rate)
{
    uint64_t at = frames * 75 / rate;
    char text[160];
    snprintf(text, sizeof text, "  TRACK %02d AUDIO\r\n    TITLE \"%s\"\r\n    INDEX 01 %02llu:%02llu:%02llu\r\n", number,
             title.c_str(), static_cast<unsigned long long>(at / 4500), static_cast<unsigned long long>(at / 75 % 60),
             static_cast<unsigned long long>(at % 75));
    return text;
}

const char sheet_head[] = "FILE \"single.wav\" WAVE\r\n";

class cue_track_test : public track_test {
protected:
    void SetUp() override
    {
        track_test::SetUp();
        remove_file("single.cue");
        use_single_file();
    }
    void use_single_file()
    {
        cfg_wav1 = cfg_cue = 1;
        strcpy(cfg_wav1p, "single.wav");
    }
    // The frames the single file holds, as its data size says.
    uint64_t frames_in_file() { return le32_at(read_file("single.wav"), 40) / 4; }
};

// Three tracks of other lengths and rates in one run, two more in a second one (a new process):
// each starts in the sheet where its audio starts in the file, in the file's frames, and the
// titles are the player's, made fit for the sheet.
TEST_F(cue_track_test, each_track_starts_where_its_audio_starts_in_the_file_across_runs)
{
    struct row { int rate, channels, bits, frames; const char *title, *in_sheet; } rows[] = {
        {44100, 2, 16, 3001, "Harbour \"Lights\"", "Harbour 'Lights'"},
        {22050, 1, 8, 1000, "Night\tFerry", "NightFerry"},
        {48000, 2, 24, 7777, "Tollgate \xC3\xA9t\xC3\xA9", "Tollgate \xC3\xA9t\xC3\xA9"},
        {44100, 2, 16, 44100, "Second run", "Second run"},
        {8000, 1, 16, 100, "Short", "Short"},
    };
    std::string expected = sheet_head;
    for (const row &r : rows) {
        SCOPED_TRACE(r.title);
        if (&r == rows + 3) { // the next run: the sheet and the file are all that is left
            fresh_plugin("out");
            use_single_file();
        }
        uint64_t start = file_exists("single.wav") ? frames_in_file() : 0;
        host_set_playlist(static_cast<int>(&r - rows), in_ansi(r.title).c_str());
        play(m, r.rate, r.channels, r.bits, pcm_block(r.frames, r.channels, r.bits));
        expected += track_lines(static_cast<int>(&r - rows) + 1, r.in_sheet, start, 44100);
        EXPECT_TRUE(host_boxes.empty());
    }
    EXPECT_EQ(text_of("single.cue"), "\xEF\xBB\xBF" + expected); // UTF-8 with its mark: one title is not ASCII
}

// A stream in the single file: the player is asked once a second, and a new title starts a track
// of the sheet at the block that showed it; the audio goes on into the one file.
TEST_F(cue_track_test, a_stream_gets_a_track_per_title_in_the_one_file)
{
    const int rate = 44100, block = rate / 10;
    auto audio = pcm_block(5 * rate, 2, 16);
    host_set_playlist(0, "Radio - First");
    ASSERT_EQ(m->open(rate, 2, 16), 0);
    for (int at = 0; at < 5 * rate; at += block) {
        if (at == 15 * block) host_set_playlist(0, "Radio - Second"); // seen at 2.0 s
        if (at == 32 * block) host_set_playlist(0, "Radio - Third");  // seen at 4.0 s
        write(audio, at * 4, block * 4);
    }
    m->close();
    EXPECT_EQ(text_of("single.cue"), sheet_head + track_lines(1, "Radio - First", 0, rate) +
                                         track_lines(2, "Radio - Second", 2 * rate, rate) +
                                         track_lines(3, "Radio - Third", 4 * rate, rate));
    EXPECT_EQ(frames_in_file(), 5u * rate);
}

// A sheet of this file whose last start lies beyond the audio (the file was cut since) is
// written anew, the audio there becoming track 01 under the file's name. Another file's sheet is
// never touched: the user is told once, and no sheet is kept for the rest of the run.
TEST_F(cue_track_test, a_stale_sheet_is_written_anew_and_another_files_is_left_alone)
{
    play(m, 44100, 2, 16, pcm_block(44100, 2, 16));
    const std::string stale = std::string(sheet_head) + track_lines(1, "old", 0, 75) + track_lines(2, "cut", 300, 75);
    write_file("single.cue", bytes(stale.begin(), stale.end()));
    host_set_playlist(1, "next");
    play(m, 44100, 2, 16, pcm_block(100, 2, 16));
    EXPECT_EQ(text_of("single.cue"), sheet_head + track_lines(1, "single.wav", 0, 44100) +
                                         track_lines(2, "next", 44100, 44100));

    const std::string other = "FILE \"other.wav\" WAVE\r\n" + track_lines(1, "theirs", 0, 75);
    write_file("single.cue", bytes(other.begin(), other.end()));
    uint64_t before = frames_in_file();
    for (int i = 0; i < 2; i++) play(m, 44100, 2, 16, pcm_block(100, 2, 16));
    EXPECT_EQ(text_of("single.cue"), other);
    EXPECT_EQ(frames_in_file(), before + 200);
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Cue sheet of another file left as it is: \"single.cue\"");
}

// Another program holds the sheet without letting it be replaced: the user is told, the old
// sheet stays whole, and the track's audio is in the file as ever.
TEST_F(cue_track_test, a_sheet_that_cannot_be_replaced_costs_the_audio_nothing)
{
    play(m, 44100, 2, 16, pcm_block(100, 2, 16));
    const std::string old = text_of("single.cue");
    HANDLE reader = CreateFileA("single.cue", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    auto audio = pcm_block(300, 2, 16, 4);
    play(m, 44100, 2, 16, audio);
    CloseHandle(reader);
    EXPECT_EQ(text_of("single.cue"), old);
    EXPECT_EQ(frames_in_file(), 400u);
    bytes file = read_file("single.wav");
    EXPECT_EQ(0, memcmp(audio.data(), file.data() + file.size() - audio.size(), audio.size()));
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Cannot write cue sheet: \"single.cue\"");
    std::ostringstream names;
    for (const char *leftover : {"single.~01", "single.~02"}) names << file_exists(leftover);
    EXPECT_EQ(names.str(), "00"); // no temporary file left behind
}

} // namespace
