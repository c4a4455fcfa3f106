// The track output through the player's entry points: the WAV container byte for byte, sizes
// after odd and even payloads, raw files, the overwrite question, appending to the single file,
// and what happens when the disk or the 32-bit RIFF size runs out.
#include <gtest/gtest.h>

#include <filesystem>

#include "config/settings_store.h"
#include "output/track_file.h"
#include "output/track_output.h"
#include "output/wav_container.h"
#include "tests/test_support.h"
#ifndef _WIN32
#include "win32_shim/shim_control.h"
#endif

using bytes = std::vector<uint8_t>;

static void put_le32(bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (8 * i));
}

static bytes concat(bytes a, const std::vector<char> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using track_output_test = track_test;

TEST_F(track_output_test, default_header_is_the_44_byte_pcm_header_byte_for_byte)
{
    const bytes expected_head = {
        'R', 'I', 'F', 'F', 0x0C, 0x04, 0, 0, // RIFF size 36 + 1000
        'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        16, 0, 0, 0,                          // fmt size
        1, 0, 2, 0,                           // PCM, 2 channels
        0x44, 0xAC, 0, 0,                     // 44100 Hz
        0x10, 0xB1, 2, 0,                     // 176400 bytes per second
        4, 0, 16, 0,                          // block align 4, 16 bits
        'd', 'a', 't', 'a', 0xE8, 0x03, 0, 0, // data size 1000
    };
    auto audio = pcm_block(250, 2, 16);
    play(m, 44100, 2, 16, audio, 576 * 4);
    EXPECT_EQ(read_file("out/track.wav"), concat(expected_head, audio));
}

// While the track plays, the sizes say "to the end of the file": a player that dies leaves a file
// that readers read whole.
TEST_F(track_output_test, sizes_say_to_the_end_until_close_patches_them)
{
    ASSERT_EQ(m->open(22050, 1, 16), 0);
    auto audio = pcm_block(100, 1, 16);
    m->write(audio.data(), static_cast<int>(audio.size()));
    // Nobody else may open the file while the track is written to it.
    HANDLE other = CreateFileA("out\\track.wav", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
#ifndef _WIN32
    // A plain POSIX read passes the stand-in's sharing check, which lets this test look inside.
    bytes during = read_file("out/track.wav");
    ASSERT_EQ(during.size(), 44u + 200u);
    EXPECT_EQ(le32_at(during, 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32_at(during, 40), 0xFFFFFFFFu);
#endif
    m->close();
    EXPECT_EQ(read_file("out/track.wav"), concat(pcm_header(1, 22050, 16, 200), audio));
}

TEST_F(track_output_test, odd_payload_gets_a_zero_pad_byte_counted_in_the_riff_size)
{
    for (int length : {1, 3, 577}) {
        SCOPED_TRACE(length);
        remove_file("out/track.wav");
        auto audio = pcm_block(length, 1, 8);
        play(m, 8000, 1, 8, audio, 64);
        bytes expected = concat(pcm_header(1, 8000, 8, length), audio);
        expected.push_back(0); // pad byte
        EXPECT_EQ(read_file("out/track.wav"), expected);
        uint32_t riff = 0;
        std::vector<riff_chunk> chunks;
        ASSERT_TRUE(riff_walk(expected, &riff, &chunks));
        EXPECT_EQ(riff + 8, expected.size());
    }
}

TEST_F(track_output_test, every_width_and_channel_count_gets_its_own_header)
{
    struct row { int rate, channels, bits; } rows[] = {
        {8000, 1, 8}, {11025, 2, 8}, {48000, 1, 16}, {96000, 2, 24}, {192000, 6, 32}, {44100, 3, 24},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << "/" << r.channels << "/" << r.bits);
        remove_file("out/track.wav");
        auto audio = pcm_block(300, r.channels, r.bits);
        play(m, r.rate, r.channels, r.bits, audio, 1000 * r.channels);
        EXPECT_EQ(read_file("out/track.wav"),
                  concat(pcm_header((uint16_t)r.channels, (uint32_t)r.rate, (uint16_t)r.bits, (uint32_t)audio.size()),
                         audio));
    }
}

TEST_F(track_output_test, several_tracks_each_get_their_own_file_named_after_the_title)
{
    auto first = pcm_block(10, 2, 16, 1), second = pcm_block(20, 2, 16, 2);
    host_set_playlist(0, "a");
    play(m, 44100, 2, 16, first);
    host_set_playlist(1, "b");
    play(m, 44100, 2, 16, second);
    EXPECT_EQ(read_file("out/a.wav"), concat(pcm_header(2, 44100, 16, 40), first));
    EXPECT_EQ(read_file("out/b.wav"), concat(pcm_header(2, 44100, 16, 80), second));
    EXPECT_TRUE(host_boxes.empty());
}

TEST_F(track_output_test, existing_file_is_replaced_only_after_ok)
{
    bytes old_content = {'o', 'l', 'd'};
    write_file("out/track.wav", old_content);
    auto audio = pcm_block(8, 2, 16);

    EXPECT_EQ(m->open(44100, 2, 16), -1);
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].caption, "Tollvane v1.4");
    EXPECT_EQ(host_boxes[0].text, "File: \"out\\track.wav\" already exists. Overwrite ?");
    EXPECT_EQ(host_boxes[0].type, unsigned(MB_OKCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(read_file("out/track.wav"), old_content);
    EXPECT_EQ(m->write(audio.data(), 32), 0); // after a failed open: nothing written
    EXPECT_EQ(read_file("out/track.wav"), old_content);

    host_config.questions = question_policy::ok;
    play(m, 44100, 2, 16, audio);
    EXPECT_EQ(host_boxes.size(), 2u);
    EXPECT_EQ(read_file("out/track.wav"), concat(pcm_header(2, 44100, 16, 32), audio));
}

// With a policy set, an existing file never stops the player with a question: it is replaced,
// kept beside the first free "NAME (N)", or the track is skipped (it plays on, nothing is
// written, the clock runs, and nothing is patched at close).
TEST_F(track_output_test, an_existing_file_is_replaced_numbered_or_skipped_without_a_question)
{
    const bytes old_content = {'o', 'l', 'd'};
    auto audio = pcm_block(8, 2, 16);
    const bytes written = concat(pcm_header(2, 44100, 16, 32), audio);
    struct row { BYTE policy; const char *second_file; bool track_written; } rows[] = {
        {exists_replace, nullptr, true},
        {exists_number, "out/track (2).wav", true},
        {exists_skip, nullptr, false},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(static_cast<int>(r.policy));
        for (const char *f : {"out/track.wav", "out/track (2).wav", "out/track (3).wav"}) remove_file(f);
        write_file("out/track.wav", old_content);
        host_boxes.clear();
        cfg_exists = r.policy;
        play(m, 44100, 2, 16, audio);
        EXPECT_TRUE(host_boxes.empty());
        EXPECT_EQ(output_state.frames_since_flush, 8); // the clock ran
        EXPECT_EQ(read_file("out/track.wav"), r.policy == exists_replace ? written : old_content);
        if (r.second_file) {
            EXPECT_EQ(read_file(r.second_file), written);
            play(m, 44100, 2, 16, audio); // and the next one along
            EXPECT_EQ(read_file("out/track (3).wav"), written);
        }
        EXPECT_EQ(file_exists("out/track (2).wav"), r.second_file != nullptr);
    }
}

// A pattern whose own text and number leave no room is told as a name that cannot be created.
TEST_F(track_output_test, a_pattern_that_cannot_fit_refuses_the_track)
{
    std::string folder = "out\\" + std::string(40, 'd'); // leaves 214 characters for the name
    snprintf(config_waveoutdir, sizeof config_waveoutdir, "%s", folder.c_str());
    snprintf(cfg_name, sizeof cfg_name, "%s%%title%%%%pos%%", std::string(240, 'x').c_str());
    EXPECT_EQ(m->open(44100, 2, 16), -1);
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Cannot create output file: \"" + folder + "\\\"");
}

// The title as the player gave it, its playlist number and the writer, in a LIST chunk of form
// INFO behind the audio and its pad byte, counted in the RIFF size.
TEST_F(track_output_test, tags_follow_the_audio_in_a_list_chunk)
{
    cfg_info = 1;
    host_set_playlist(4, "A/B \"Live\"");
    auto audio = pcm_block(7, 1, 8);
    play(m, 8000, 1, 8, audio);
    bytes expected = concat(pcm_header(1, 8000, 8, 7), audio);
    expected.push_back(0); // the data chunk's pad byte
    const bytes tags = {
        'L', 'I', 'S', 'T', 56, 0, 0, 0, 'I', 'N', 'F', 'O',
        'I', 'N', 'A', 'M', 11, 0, 0, 0, 'A', '/', 'B', ' ', '"', 'L', 'i', 'v', 'e', '"', 0, 0, // title, padded
        'I', 'T', 'R', 'K', 2, 0, 0, 0, '5', 0,                                                     // position + 1
        'I', 'S', 'F', 'T', 14, 0, 0, 0, 'T', 'o', 'l', 'l', 'v', 'a', 'n', 'e', ' ', 'v', '1', '.', '4', 0,
    };
    expected.insert(expected.end(), tags.begin(), tags.end());
    put_le32(expected, 4, static_cast<uint32_t>(expected.size() - 8));
    EXPECT_EQ(read_file("out/A_B _Live_.wav"), expected);
    remove_file("out/A_B _Live_.wav");
}

// A stream's title changes: once a second of audio the player is asked, and a title that names
// another file finishes the file and starts the next one with the block that showed it (up to
// a second late). Without conversion the files' audio joined is the track's, and the clock
// runs on. A name that exists gets a number, unasked; a file this very stream wrote is never
// replaced, not even where the setting replaces, and skipping skips the repeat.
TEST_F(track_output_test, a_new_title_in_a_stream_starts_a_new_file_with_nothing_lost_or_doubled)
{
    const int second = 44100, block = second / 10;
    auto audio = pcm_block(4 * second, 2, 16);
    auto part = [&](int from, int to) {
        return concat(pcm_header(2, 44100, 16, (to - from) * second * 4),
                      std::vector<char>(audio.begin() + from * second * 4, audio.begin() + to * second * 4));
    };
    for (BYTE policy : {exists_ask, exists_replace, exists_number, exists_skip}) {
        SCOPED_TRACE(static_cast<int>(policy));
        for (const char *f : {"out/first.wav", "out/second.wav", "out/first (2).wav"}) remove_file(f);
        cfg_split = 1;
        cfg_exists = policy;
        host_set_playlist(0, "first");
        ASSERT_EQ(m->open(44100, 2, 16), 0);
        for (int at = 0; at < 4 * second; at += block) {
            if (at == 12 * block) host_set_playlist(0, "second"); // asked at 2.0 s
            if (at == 25 * block) host_set_playlist(0, "first");  // asked at 3.0 s: first.wav is the stream's
            m->write(audio.data() + at * 4, block * 4);
        }
        EXPECT_EQ(output_state.frames_since_flush, 4 * second);
        m->close();
        EXPECT_TRUE(host_boxes.empty());
        EXPECT_EQ(read_file("out/first.wav"), part(0, 2));
        EXPECT_EQ(read_file("out/second.wav"), part(2, 3));
        EXPECT_EQ(read_file("out/first (2).wav"), policy == exists_skip ? bytes() : part(3, 4));
    }
}

// The dialog's OK while a stream plays (a new folder, a new pattern, other options) applies from
// the next track on: the track keeps the settings it opened with, and its title, which never
// changes, keeps naming the one file.
TEST_F(track_output_test, settings_committed_while_a_track_plays_apply_from_the_next_track)
{
    cfg_split = 1;
    host_set_playlist(0, "song");
    remove_file("out/song.wav");
    auto audio = pcm_block(3 * 44100, 2, 16);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    m->write(audio.data(), static_cast<int>(audio.size() / 2));
    settings_values changed;
    settings_snapshot(&changed);
    strcpy(changed.waveoutdir, "out2");
    strcpy(changed.name, "x%title%");
    changed.mode = file_mode_raw;
    changed.info = 1;
    settings_commit(&changed);
    m->write(audio.data() + audio.size() / 2, static_cast<int>(audio.size() / 2));
    m->close();
    EXPECT_EQ(read_file("out/song.wav"), concat(pcm_header(2, 44100, 16, static_cast<uint32_t>(audio.size())), audio));
    EXPECT_FALSE(file_exists("out2/xsong.raw"));
    EXPECT_FALSE(file_exists("out/xsong.wav"));
    EXPECT_TRUE(host_boxes.empty());
}

// No split: a title that gives the same name, a position the player moved on to, a player that
// does not answer in time (the stand-in's hung window), or the option off. A next file that
// cannot start is told about, and the rest of the track goes nowhere while the clock runs.
TEST_F(track_output_test, a_stream_splits_only_where_a_title_names_another_file_that_opens)
{
    struct row { const char *name; int position; const char *title; BYTE split; bool hung; bool blocked; } rows[] = {
        {"the same name", 0, "A?B", 1, false, false},
        {"another position", 1, "other", 1, false, false},
        {"the option off", 0, "other", 0, false, false},
#ifndef _WIN32
        {"a player that does not answer", 0, "other", 1, true, false},
#endif
        {"a next file that cannot start", 0, "other", 1, false, true},
    };
    auto audio = pcm_block(44100 * 2, 2, 16);
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        for (const char *f : {"out/A_B.wav", "out/other.wav"}) remove_file(f);
        // A folder of the next file's name, which replacing cannot make a file of.
        if (r.blocked) std::filesystem::create_directory("out/other.wav");
        cfg_exists = r.blocked ? exists_replace : exists_ask;
        host_boxes.clear();
        cfg_split = r.split;
        host_set_playlist(0, "A.B");
        ASSERT_EQ(m->open(44100, 2, 16), 0);
        m->write(audio.data(), 44100 * 4);
        host_set_playlist(r.position, r.title);
#ifndef _WIN32
        shim_set_window_hung(r.hung);
#endif
        m->write(audio.data() + 44100 * 4, 44100 * 4);
#ifndef _WIN32
        shim_set_window_hung(false);
#endif
        EXPECT_EQ(output_state.frames_since_flush, 2 * 44100);
        m->close();
        size_t kept = r.blocked ? 44100 * 4 : audio.size();
        EXPECT_EQ(read_file("out/A_B.wav"),
                  concat(pcm_header(2, 44100, 16, static_cast<uint32_t>(kept)),
                         std::vector<char>(audio.begin(), audio.begin() + kept)));
        if (r.blocked) {
            ASSERT_EQ(host_boxes.size(), 1u);
            EXPECT_EQ(host_boxes[0].text, "Cannot create output file: \"out\\other.wav\"");
            std::filesystem::remove("out/other.wav");
        } else {
            EXPECT_TRUE(host_boxes.empty());
            EXPECT_FALSE(file_exists("out/other.wav"));
        }
    }
}

TEST_F(track_output_test, raw_mode_writes_the_payload_alone)
{
    cfg_mode = 2;
    auto audio = pcm_block(101, 1, 8);
    play(m, 8000, 1, 8, audio);
    auto raw = read_file("out/track.raw");
    EXPECT_EQ(raw, bytes(audio.begin(), audio.end())); // no header, no pad byte
    EXPECT_FALSE(file_exists("out/track.wav"));
}

TEST_F(track_output_test, unknown_file_modes_act_as_force_wav)
{
    for (int mode : {1, 3, 255}) {
        SCOPED_TRACE(mode);
        cfg_mode = static_cast<BYTE>(mode);
        remove_file("out/track.wav");
        auto audio = pcm_block(4, 2, 16);
        play(m, 44100, 2, 16, audio);
        EXPECT_EQ(read_file("out/track.wav"), concat(pcm_header(2, 44100, 16, 16), audio));
    }
}

TEST_F(track_output_test, partial_frames_are_written_but_not_counted)
{
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    auto audio = pcm_block(100, 2, 16);
    m->write(audio.data(), 7); // one whole frame and three bytes
    EXPECT_EQ(output_state.frames_since_flush, 1);
    m->write(audio.data() + 7, 393);
    EXPECT_EQ(output_state.frames_since_flush, 1 + 98);
    m->close();
    EXPECT_EQ(read_file("out/track.wav"), concat(pcm_header(2, 44100, 16, 400), audio));
}

TEST_F(track_output_test, write_and_close_without_an_open_track_do_nothing)
{
    auto audio = pcm_block(10, 2, 16);
    EXPECT_EQ(m->write(audio.data(), 40), 0);
    m->close();
    m->close();
    EXPECT_FALSE(file_exists("out/track.wav"));
    EXPECT_TRUE(host_boxes.empty());
}

TEST_F(track_output_test, open_while_a_track_is_open_finishes_the_earlier_file)
{
    auto first = pcm_block(10, 2, 16, 1), second = pcm_block(6, 2, 16, 2);
    host_set_playlist(0, "a");
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    m->write(first.data(), static_cast<int>(first.size()));
    host_set_playlist(1, "b");
    play(m, 44100, 2, 16, second); // no close between the tracks
    EXPECT_EQ(read_file("out/a.wav"), concat(pcm_header(2, 44100, 16, 40), first));
    EXPECT_EQ(read_file("out/b.wav"), concat(pcm_header(2, 44100, 16, 24), second));
}

TEST_F(track_output_test, empty_and_negative_writes_change_nothing_while_converting)
{
    // An empty block must not reach the converter, where no input means the end of the track.
    cfg_cvt = 1;
    WAVEFORMATEX target = {WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    memcpy(cfg_wfx, &target, sizeof target);
    auto audio = pcm_block(2000, 2, 16);
    play(m, 44100, 2, 16, audio, 576 * 4);
    bytes plain = read_file("out/track.wav");
    ASSERT_GT(plain.size(), 44u + 3000u);

    remove_file("out/track.wav");
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    for (size_t at = 0; at < audio.size(); at += 576 * 4) {
        EXPECT_EQ(m->write(audio.data() + at, 0), 0);
        EXPECT_EQ(m->write(audio.data() + at, -4), 0);
        m->write(audio.data() + at, static_cast<int>(std::min<size_t>(576 * 4, audio.size() - at)));
    }
    EXPECT_EQ(output_state.frames_since_flush, 2000);
    m->close();
    EXPECT_EQ(read_file("out/track.wav"), plain);
}

TEST_F(track_output_test, open_without_a_whole_frame_or_rate_or_with_oversized_fields_creates_nothing)
{
    struct row { int rate, channels, bits; } rows[] = {
        {0, 2, 16}, {-44100, 2, 16}, {44100, 0, 16}, {44100, -2, 16}, {44100, 2, 7}, {44100, 2, 0}, {44100, 70000, 16},
        {44100, 16384, 32},      // block align 65536 would wrap to 0
        {44100, 8192, 65535},    // 65535 bits are 8191 bytes a sample
        {44100, 65535, 16},      // block align 131070
        {65538, 65535, 8},       // block align 65535, but 4295032830 bytes a second
        {1073741824, 1, 32},     // exactly 2^32 bytes a second
        {2147483647, 2, 16},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << "/" << r.channels << "/" << r.bits);
        host_boxes.clear();
        EXPECT_EQ(m->open(r.rate, r.channels, r.bits), -1);
        ASSERT_EQ(host_boxes.size(), 1u);
        EXPECT_EQ(host_boxes[0].text, "Error initializing output.");
        EXPECT_EQ(host_boxes[0].type, unsigned(MB_OK | MB_ICONERROR));
        EXPECT_FALSE(file_exists("out/track.wav"));
        EXPECT_EQ(m->write(const_cast<char *>("abcd"), 4), 0);
    }
}

TEST_F(track_output_test, formats_at_the_edge_of_their_fields_are_written_exactly)
{
    struct row { int rate, channels, bits; } rows[] = {
        {65536, 65535, 8},       // block align 65535, 4294901760 bytes a second
        {1073741823, 1, 32},     // 4294967292 bytes a second
        {8000, 16383, 32},       // block align 65532
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << "/" << r.channels << "/" << r.bits);
        remove_file("out/track.wav");
        auto audio = pcm_block(2, r.channels, r.bits);
        play(m, r.rate, r.channels, r.bits, audio, audio.size());
        auto file = read_file("out/track.wav");
        ASSERT_EQ(file.size(), 44u + audio.size());
        uint32_t align = static_cast<uint32_t>(r.channels * (r.bits / 8));
        EXPECT_EQ(le32_at(file, 28), align * static_cast<uint32_t>(r.rate));
        EXPECT_EQ(file[32] | file[33] << 8, static_cast<int>(align));
        EXPECT_TRUE(host_boxes.empty());
    }
}

TEST_F(track_output_test, quit_with_a_track_open_finishes_the_file)
{
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    auto audio = pcm_block(30, 2, 16);
    m->write(audio.data(), static_cast<int>(audio.size()));
    m->quit();
    EXPECT_FALSE(output_state.is_open);
    EXPECT_EQ(read_file("out/track.wav"), concat(pcm_header(2, 44100, 16, 120), audio));
    remove_file("out/track.wav"); // the handle is closed: the file can go
    EXPECT_FALSE(file_exists("out/track.wav"));
}

TEST_F(track_output_test, title_none_gives_an_empty_name)
{
    host_set_playlist(0, nullptr);
    remove_file("out/.wav");
    auto audio = pcm_block(2, 2, 16);
    play(m, 44100, 2, 16, audio);
    EXPECT_EQ(read_file("out/.wav"), concat(pcm_header(2, 44100, 16, 8), audio));
    remove_file("out/.wav");
}

TEST_F(track_output_test, a_title_too_long_for_a_file_name_is_cut_to_one)
{
    host_set_playlist(0, std::string(700, 'x').c_str());
    auto audio = pcm_block(3, 2, 16);
    play(m, 44100, 2, 16, audio);
    EXPECT_TRUE(host_boxes.empty());
    std::string name = "out/" + std::string(251, 'x') + ".wav"; // 255 characters with ".wav"
    EXPECT_EQ(read_file(name), concat(pcm_header(2, 44100, 16, 12), audio));
    remove_file(name);
}

// A replace that cannot finish starting its file keeps the old one byte for byte and leaves no
// temporary file: whether replacing is the setting or the answer to the question, and whether
// the new header cannot be written (a full disk, played by the stand-in) or the rename is refused
// (another program holds the old file without letting it be deleted).
TEST_F(track_output_test, a_replace_that_cannot_start_keeps_the_old_file)
{
    const bytes old_content = {'o', 'l', 'd'};
    struct row { BYTE policy; bool full_disk; const char *message; } rows[] = {
        {exists_replace, false, "Cannot create output file"},
        {exists_ask, false, "Cannot create output file"},
#ifndef _WIN32
        {exists_replace, true, "Cannot write to output file"},
        {exists_ask, true, "Cannot write to output file"},
#endif
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.policy) + (r.full_disk ? ", full disk" : ", old file held"));
        fresh_plugin("out", question_policy::ok);
        cfg_exists = r.policy;
        write_file("out/track.wav", old_content);
        HANDLE reader = INVALID_HANDLE_VALUE;
        if (!r.full_disk)
            reader = CreateFileA("out\\track.wav", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
#ifndef _WIN32
        if (r.full_disk) shim_set_write_budget(0);
#endif
        EXPECT_EQ(m->open(44100, 2, 16), -1);
#ifndef _WIN32
        shim_set_write_budget(-1);
#endif
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        EXPECT_EQ(read_file("out/track.wav"), old_content);
        for (const auto &entry : std::filesystem::directory_iterator("out"))
            EXPECT_NE(entry.path().filename().string().rfind("track.~", 0), 0u) << "left behind: " << entry.path();
        ASSERT_EQ(host_boxes.size(), r.policy == exists_ask ? 2u : 1u);
        EXPECT_EQ(host_boxes.back().text, std::string(r.message) + ": \"out\\track.wav\"");
    }
}

#ifndef _WIN32
// A raw file goes on past the 4 GiB that stop a WAV file, every byte handed over counted (the
// stand-in's disk that never fills keeps none of them: the file is a hole), and a write that
// fails there keeps every whole frame before it: the cut goes beyond 4 GiB too.
TEST_F(track_output_test, raw_files_have_no_size_limit)
{
    fresh_plugin("out");
    host_set_playlist(0, "sink");
    remove_file("out/sink.raw");
    cfg_mode = 2;
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    shim_set_write_sink(4096);
    std::vector<char> block(64u << 20); // 64 MiB: 65 of them pass 4 GiB
    for (int i = 0; i < 65; i++) m->write(block.data(), static_cast<int>(block.size()));
    shim_set_write_sink(0);
    const uint64_t past_4_gib = 65ull * block.size();
    EXPECT_EQ(file_state.data_bytes, past_4_gib);
    shim_set_write_budget(7); // one whole frame and part of the next
    m->write(block.data(), 400);
    shim_set_write_budget(-1);
    m->close();
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Cannot write to output file: \"out\\sink.raw\"");
    EXPECT_EQ(std::filesystem::file_size("out/sink.raw"), past_4_gib + 4);
    remove_file("out/sink.raw");
}

// A WAV track cannot even write its header on a full disk and is refused, its file gone; a raw
// track has no header, opens, and learns of it at its first write.
TEST_F(track_output_test, a_full_disk_refuses_a_header_and_is_reported_once_during_a_track)
{
    host_set_playlist(0, "full");
    shim_set_write_budget(0);
    EXPECT_EQ(m->open(44100, 2, 16), -1);
    EXPECT_FALSE(file_exists("out/full.wav"));
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Cannot write to output file: \"out\\full.wav\"");

    host_boxes.clear();
    cfg_mode = 2; // raw
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    auto audio = pcm_block(100, 2, 16);
    for (int i = 0; i < 3; i++) EXPECT_EQ(m->write(audio.data(), 400), 0);
    EXPECT_EQ(file_state.data_bytes, 0u);
    EXPECT_EQ(output_state.frames_since_flush, 300);
    m->close();
    shim_set_write_budget(-1);
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Cannot write to output file: \"out\\full.raw\"");
    remove_file("out/full.raw");
}
#endif

#ifndef _WIN32
// The stand-in plays a full disk; Windows gives no portable way to fill one in a test.
TEST_F(track_output_test, failed_writes_count_only_what_reached_the_file)
{
    cfg_info = 1; // the tags go only behind audio that is whole
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    auto audio = pcm_block(100, 2, 16);
    shim_set_write_budget(100);
    m->write(audio.data(), 400);
    m->write(audio.data() + 100, 300);
    EXPECT_EQ(m->write(audio.data(), 400), 0);
    shim_set_write_budget(-1); // room again for the patches at close
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Cannot write to output file: \"out\\track.wav\"");
    EXPECT_EQ(host_boxes[0].type, unsigned(MB_OK | MB_ICONERROR));
    m->close();
    auto file = read_file("out/track.wav");
    EXPECT_EQ(file, concat(pcm_header(2, 44100, 16, 100), std::vector<char>(audio.begin(), audio.begin() + 100)));
}
#endif

// --- single-file mode: the first track creates the file, later ones append ---

class single_file_test : public track_output_test {
protected:
    void SetUp() override
    {
        track_output_test::SetUp();
        cfg_wav1 = 1;
        strcpy(cfg_wav1p, "single.wav");
    }
};

TEST_F(single_file_test, tracks_in_the_file_format_are_appended_without_a_question)
{
    auto first = pcm_block(50, 2, 16, 1), second = pcm_block(25, 2, 16, 2);
    play(m, 44100, 2, 16, first);
    play(m, 44100, 2, 16, second);
    bytes expected = concat(concat(pcm_header(2, 44100, 16, 300), first), second);
    EXPECT_EQ(read_file("single.wav"), expected);
    EXPECT_TRUE(host_boxes.empty());
    EXPECT_FALSE(file_exists("out/track.wav"));
}

TEST_F(single_file_test, appending_after_an_odd_payload_drops_the_old_pad_byte)
{
    cfg_wfx1 = {WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
    auto first = pcm_block(3, 1, 8, 1), second = pcm_block(4, 1, 8, 2);
    play(m, 8000, 1, 8, first);
    EXPECT_EQ(read_file("single.wav").size(), 44u + 4u);
    play(m, 8000, 1, 8, second);
    bytes expected = concat(concat(pcm_header(1, 8000, 8, 7), first), second);
    expected.push_back(0); // the new pad byte after seven bytes of payload
    EXPECT_EQ(read_file("single.wav"), expected);
}

TEST_F(single_file_test, fmt_sizes_16_to_18_are_accepted_and_others_refused)
{
    for (uint32_t fmt_size : {15u, 16u, 17u, 18u, 19u, 20u}) {
        SCOPED_TRACE(fmt_size);
        host_boxes.clear();
        bytes file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                      (uint8_t)fmt_size, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0};
        file.resize(20 + fmt_size, 0);
        bytes tail = {'d', 'a', 't', 'a', 2, 0, 0, 0, 0x11, 0x22};
        file.insert(file.end(), tail.begin(), tail.end());
        write_file("single.wav", file);
        bool accepted = fmt_size >= 16 && fmt_size <= 18;
        int result = m->open(8000, 1, 8);
        EXPECT_EQ(result, accepted ? 0 : -1);
        if (!accepted) {
            ASSERT_EQ(host_boxes.size(), 1u);
            EXPECT_EQ(host_boxes[0].text, "Not a PCM WAV file: \"single.wav\"");
            EXPECT_EQ(read_file("single.wav"), file);
            continue;
        }
        m->write(const_cast<char *>("\x33\x44"), 2);
        m->close();
        bytes expected = file;
        expected.insert(expected.end(), {0x33, 0x44});
        // The data chunk is even, so no pad byte follows it, even at the odd offset that an
        // unpadded 17-byte fmt body leaves.
        put_le32(expected, 4, (uint32_t)expected.size() - 8);
        put_le32(expected, 24 + fmt_size, 4); // data size
        EXPECT_EQ(read_file("single.wav"), expected);
    }
}

TEST_F(single_file_test, files_that_are_not_plain_pcm_wav_are_refused_untouched)
{
    bytes good = concat(pcm_header(2, 44100, 16, 4), {1, 2, 3, 4});
    bytes with_list = good;
    bytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    with_list.insert(with_list.begin() + 36, list.begin(), list.end());
    bytes compressed = good;
    compressed[20] = 2; // MS ADPCM tag
    bytes not_riff = good;
    not_riff[0] = 'X';
    bytes not_wave = good;
    not_wave[8] = 'X';
    bytes cases[] = {with_list, compressed, not_riff, not_wave, bytes(good.begin(), good.begin() + 10),
                     bytes(good.begin(), good.begin() + 38), bytes()};
    int index = 0;
    for (const bytes &file : cases) {
        SCOPED_TRACE(index++);
        host_boxes.clear();
        write_file("single.wav", file);
        EXPECT_EQ(m->open(44100, 2, 16), -1);
        ASSERT_EQ(host_boxes.size(), 1u);
        EXPECT_EQ(host_boxes[0].text, "Not a PCM WAV file: \"single.wav\"");
        EXPECT_EQ(read_file("single.wav"), file);
        EXPECT_FALSE(output_state.is_open);
    }
}

TEST_F(single_file_test, payload_end_follows_the_data_size_field)
{
    cfg_wfx1 = {WAVE_FORMAT_PCM, 1, 44100, 132300, 3, 24, 0};
    auto audio = pcm_block(2, 1, 24);
    bytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    // Whatever follows the payload (an odd payload's pad byte, trailing chunks) goes.
    bytes closed = concat(pcm_header(1, 44100, 24, 3), {1, 2, 3});
    closed.push_back(0);
    closed.insert(closed.end(), list.begin(), list.end());
    write_file("single.wav", closed);
    play(m, 44100, 1, 24, audio);
    bytes expected = concat(concat(pcm_header(1, 44100, 24, 9), {1, 2, 3}), audio);
    expected.push_back(0);
    EXPECT_EQ(read_file("single.wav"), expected);
}

TEST_F(single_file_test, a_track_that_was_never_closed_keeps_every_whole_frame)
{
    auto old_audio = pcm_block(5, 2, 16, 1), audio = pcm_block(2, 2, 16, 2);
    struct row { uint32_t data_size; size_t partial_bytes; } rows[] = {
        {0, 0}, {0, 3}, {0, 1},  // never closed: the sizes read zero
        {24, 3}, {4000, 0}, {0xFFFFFFFFu, 2}, // beyond the file's end: the file must not grow
        {22, 2}, {23, 3},        // off the frame grid (a track cut by a full disk): on it again
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.data_size << " " << r.partial_bytes);
        bytes unclosed = concat(pcm_header(2, 44100, 16, r.data_size), old_audio);
        put_le32(unclosed, 4, r.data_size ? 0x1234 : 0);
        unclosed.insert(unclosed.end(), old_audio.begin(), old_audio.begin() + r.partial_bytes);
        write_file("single.wav", unclosed);
        play(m, 44100, 2, 16, audio);
        EXPECT_EQ(read_file("single.wav"), concat(concat(pcm_header(2, 44100, 16, 28), old_audio), audio));
        EXPECT_TRUE(host_boxes.empty());
    }
}

TEST_F(single_file_test, an_empty_unclosed_file_takes_the_track_alone)
{
    auto audio = pcm_block(3, 1, 8);
    cfg_wfx1 = {WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
    write_file("single.wav", pcm_header(1, 8000, 8, 0));
    play(m, 8000, 1, 8, audio);
    bytes expected = concat(pcm_header(1, 8000, 8, 3), audio);
    expected.push_back(0);
    EXPECT_EQ(read_file("single.wav"), expected);
}

// Natively and under Wine, a file as long as its header claims is made without writing it.
TEST_F(single_file_test, a_payload_that_would_pass_4_gib_is_refused_untouched)
{
    struct row { uint32_t data_size; uint64_t length; } rows[] = {
        {0xFFFFFFF0u, 44 + 0xFFFFFFF0ull}, // as claimed, and there
        {0, 44 + 0xFFFFFFF0ull},           // never closed
        {0, 44 + 0x100000004ull},          // more than a 32-bit size can hold
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.length);
        host_boxes.clear();
        bytes head = pcm_header(2, 44100, 16, r.data_size);
        make_sparse_file("single.wav", head, r.length);
        EXPECT_EQ(m->open(44100, 2, 16), -1);
        ASSERT_EQ(host_boxes.size(), 1u);
        EXPECT_EQ(host_boxes[0].text, "Not a PCM WAV file: \"single.wav\"");
        EXPECT_EQ(ends_of("single.wav", 44).length, r.length);
        EXPECT_EQ(ends_of("single.wav", 44).head, head);
        remove_file("single.wav");
    }
    // Right at the limit two bytes of room are left: the track fills them and is cut there.
    host_boxes.clear();
    cfg_wfx1 = {WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
    make_sparse_file("single.wav", pcm_header(1, 8000, 8, 0), wav_max_file_bytes - 2);
    ASSERT_EQ(m->open(8000, 1, 8), 0);
    m->write(const_cast<char *>("\x11\x22\x33\x44"), 4);
    m->close();
    EXPECT_EQ(ends_of("single.wav", 44).length, uint64_t(wav_max_file_bytes));
    EXPECT_EQ(ends_of("single.wav", 44).head, pcm_header(1, 8000, 8, wav_max_file_bytes - 44));
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "WAV file size limit reached: \"single.wav\"");
    remove_file("single.wav");
}

TEST_F(single_file_test, riff_size_never_passes_32_bits_and_only_whole_frames_fit)
{
    // A track never closed, ten bytes short of the limit: two of the track's 4-byte frames fit.
    make_sparse_file("single.wav", pcm_header(2, 44100, 16, 0), wav_max_file_bytes - 10);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    uint32_t data_before = file_state.data_bytes;
    auto audio = pcm_block(4, 2, 16);
    m->write(audio.data(), 16);
    EXPECT_EQ(file_state.data_bytes, data_before + 8);
    EXPECT_EQ(file_state.file_bytes, wav_max_file_bytes - 2);
    m->write(audio.data(), 16);
    EXPECT_EQ(file_state.file_bytes, wav_max_file_bytes - 2);
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "WAV file size limit reached: \"single.wav\"");
    EXPECT_EQ(output_state.frames_since_flush, 8); // the player's clock runs on
    m->close();
    EXPECT_EQ(ends_of("single.wav", 44).length, uint64_t(wav_max_file_bytes - 2));
    EXPECT_EQ(ends_of("single.wav", 44).head, pcm_header(2, 44100, 16, wav_max_file_bytes - 2 - 44));
    remove_file("single.wav");
}

TEST_F(single_file_test, a_failed_conversion_set_up_leaves_the_file_as_it_was)
{
    // 12-bit samples, which the converter does not take, behind headers the append would mend.
    bytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    auto twelve_bit = [&](uint32_t data_size, size_t partial_bytes) {
        bytes file = pcm_header(1, 8000, 12, data_size);
        file[32] = 2; // block align 2
        file.insert(file.end(), {1, 2, 3, 4, 5, 6});
        file.insert(file.end(), list.begin(), list.end());
        file.resize(file.size() + partial_bytes, 7);
        return file;
    };
    bytes closed = twelve_bit(6, 0), unclosed = twelve_bit(0, 1), beyond = twelve_bit(1000, 0);
    for (const bytes &file : {closed, unclosed, beyond}) {
        host_boxes.clear();
        write_file("single.wav", file);
        EXPECT_EQ(m->open(44100, 2, 16), -1);
        ASSERT_EQ(host_boxes.size(), 1u);
        EXPECT_EQ(host_boxes[0].text, "Error initializing output.");
        EXPECT_EQ(read_file("single.wav"), file);
        EXPECT_FALSE(output_state.is_open);
        EXPECT_EQ(m->write(const_cast<char *>("abcd"), 4), 0);
        EXPECT_EQ(read_file("single.wav"), file);
    }
}

TEST_F(single_file_test, a_track_in_another_format_is_converted_to_the_file_format)
{
    cfg_wfx1 = {WAVE_FORMAT_PCM, 1, 44100, 44100, 1, 8, 0};
    auto silence = std::vector<char>(4 * 100, 0); // 16-bit stereo zeros become 8-bit 128s
    play(m, 44100, 2, 16, silence);
    auto first = read_file("single.wav");
    EXPECT_EQ(first, concat(pcm_header(1, 44100, 8, 100), std::vector<char>(100, char(0x80))));
    play(m, 44100, 2, 16, silence);
    EXPECT_EQ(read_file("single.wav"), concat(pcm_header(1, 44100, 8, 200), std::vector<char>(200, char(0x80))));
    EXPECT_TRUE(host_boxes.empty());
}
