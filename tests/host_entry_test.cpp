// The player's view of the plug-in: the record behind the export, the About box, pause, flush
// and the clock. On Windows one suite loads the built DLL with LoadLibraryA as the player does.
#include <gtest/gtest.h>

#include "config/settings_store.h"
#include "output/track_output.h"
#include "tests/test_support.h"

TEST(host_entry, export_returns_one_record_with_the_plugin_identity)
{
    out_module *m = fresh_plugin();
    EXPECT_EQ(winampGetOutModule(), m);
    EXPECT_EQ(m->version, 0x10);
    EXPECT_STREQ(m->description, "Tollvane v1.4 (x86)");
    EXPECT_EQ(m->id, 66669);
    EXPECT_EQ(m->set_volume, m->set_pan);
    EXPECT_EQ(m->get_output_time, m->get_written_time);
    EXPECT_EQ(m->is_playing(), 0);
}

TEST(host_entry, about_box_has_three_lines_and_no_icon)
{
    out_module *m = fresh_plugin();
    m->about(m->main_window);
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].caption, "About");
    EXPECT_EQ(host_boxes[0].type, unsigned(MB_OK));
    const std::string &text = host_boxes[0].text;
    EXPECT_EQ(text.rfind("Tollvane v1.4\n", 0), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST(host_entry, pause_gates_can_write_only)
{
    out_module *m = fresh_plugin("out");
    remove_file("out/track.wav");
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    EXPECT_EQ(m->can_write(), 666666666);
    EXPECT_EQ(m->pause(1), 0);
    EXPECT_EQ(m->can_write(), 0);
    auto audio = pcm_block(10, 2, 16);
    m->write(audio.data(), 40); // still written while paused
    m->set_volume(0);
    m->set_pan(-127);
    EXPECT_EQ(m->pause(0), 1);
    EXPECT_EQ(m->can_write(), 666666666);
    EXPECT_EQ(m->pause(1), 0);
    m->close();
    ASSERT_EQ(m->open(44100, 2, 16), -1); // the file exists and the question is cancelled
    host_config.questions = question_policy::ok;
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    EXPECT_EQ(m->can_write(), 666666666); // open clears the pause
    m->close();
}

TEST(host_entry, clock_counts_frames_with_muldiv_rounding_and_flush_offset)
{
    out_module *m = fresh_plugin("out", question_policy::ok);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    EXPECT_EQ(m->get_output_time(), 0);
    auto second = pcm_block(44100, 2, 16);
    m->write(second.data(), static_cast<int>(second.size()));
    EXPECT_EQ(m->get_output_time(), 1000);
    EXPECT_EQ(m->get_written_time(), 1000);
    m->flush(5000);
    EXPECT_EQ(m->get_output_time(), 5000);
    m->write(second.data(), 22 * 4); // 22 frames: 0.4988 ms
    EXPECT_EQ(m->get_output_time(), 5000);
    m->write(second.data(), 1 * 4); // 23 frames: 0.5215 ms rounds up
    EXPECT_EQ(m->get_output_time(), 5001);
    m->close();
    EXPECT_EQ(read_file("out/track.wav").size(), 44u + 176400u + 92u); // flush discards nothing

    ASSERT_EQ(m->open(44100, 2, 16), 0);
    EXPECT_EQ(m->get_output_time(), 0); // open clears the offset
    m->close();
}

TEST(host_entry, clock_before_any_open_is_the_offset_minus_one)
{
    out_module *m = fresh_plugin(); // attach: as in a process that never opened a track
    m->flush(250);
    EXPECT_EQ(m->get_output_time(), 249);
    m->flush(0);
    EXPECT_EQ(m->get_written_time(), -1);
}

#ifdef _WIN32
// The product itself: the DLL the player loads, called only through its one export.
TEST(host_entry_dll, loaded_dll_writes_a_track_through_its_record)
{
    HMODULE dll = LoadLibraryA(TOLLVANE_DLL_PATH);
    ASSERT_NE(dll, nullptr) << TOLLVANE_DLL_PATH;
    auto get = reinterpret_cast<out_module *(*)(void)>(
        reinterpret_cast<void *>(GetProcAddress(dll, "winampGetOutModule")));
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(GetProcAddress(dll, "DllMain"), nullptr);
    out_module *m = get();
    ASSERT_NE(m, winampGetOutModule()); // not the copy linked into this test
    EXPECT_EQ(get(), m);
    EXPECT_STREQ(m->description, "Tollvane v1.4 (x86)");
    ASSERT_TRUE(host_catch_message_boxes(dll));
    host_boxes.clear();
    host_config.questions = question_policy::ok;
    m->main_window = host_create_window();
    m->module_instance = dll;
    host_set_playlist(7, "dll: track");
    // The DLL keeps settings of its own: with no INI beside this test, the default c:\.
    remove_file("c:\\dll_ track.wav");
    m->init();
    ASSERT_EQ(m->open(48000, 1, 16), 0);
    auto audio = pcm_block(5, 1, 16);
    m->write(audio.data(), 10);
    EXPECT_EQ(m->get_output_time(), 0);
    m->close();
    auto expected = read_file("c:\\dll_ track.wav");
    ASSERT_EQ(expected.size(), 54u);
    EXPECT_EQ(le32_at(expected, 4), 46u);
    EXPECT_EQ(le32_at(expected, 24), 48000u);
    EXPECT_EQ(le32_at(expected, 40), 10u);
    remove_file("c:\\dll_ track.wav");
    m->about(m->main_window);
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].caption, "About");
    FreeLibrary(dll);
}
#endif
