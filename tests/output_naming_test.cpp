// Output names: the directory joined to the player's title, the ten replaced characters, the
// 512-character bound, and the error box's text.
#include <gtest/gtest.h>

#include "config/settings_store.h"
#include "output/output_naming.h"
#include "test_support.h"

static std::string path_for(const char *dir, const char *title, const char *extension = ".wav")
{
    fresh_plugin();
    snprintf(config_waveoutdir, sizeof config_waveoutdir, "%s", dir);
    host_set_playlist(3, title);
    char buffer[output_path_chars + 16];
    memset(buffer, 0xCC, sizeof buffer);
    build_output_path(buffer, extension);
    EXPECT_EQ(static_cast<unsigned char>(buffer[output_path_chars]), 0xCC) << "wrote past the 512-character buffer";
    return buffer;
}

TEST(output_naming, directory_title_and_extension_are_joined)
{
    struct row { const char *dir, *title, *extension, *expected; } rows[] = {
        {"c:\\", "A/B: C?", ".wav", "c:\\A_B_ C_.wav"},                 // 0
        {"d:\\music", "song", ".raw", "d:\\music\\song.raw"},           // 1: separator added
        {"d:\\music\\", "song", ".mp3", "d:\\music\\song.mp3"},         // 2: none doubled
        {"", "song", ".wav", "song.wav"},                               // 3: relative
        {"c:\\", "", ".wav", "c:\\.wav"},                               // 4: empty title
        {"c:\\", "01. Intro", ".wav", "c:\\01_ Intro.wav"},             // 5: dots too
        {"c:\\", ".\\/:*?\"<>|", ".wav", "c:\\__________.wav"},         // 6: all ten
        {"c:\\a.b:c", "x", ".wav", "c:\\a.b:c\\x.wav"},                 // 7: directory untouched
        {"/tmp", "x", ".wav", "/tmp\\x.wav"},                           // 8: only '\' counts as the end
        {"c:\\", "caf\xe9 & friends", ".wav", "c:\\caf\xe9 & friends.wav"}, // 9: others kept
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(path_for(rows[i].dir, rows[i].title, rows[i].extension), rows[i].expected);
    }
}

TEST(output_naming, title_none_is_an_empty_title)
{
    EXPECT_EQ(path_for("c:\\", nullptr), "c:\\.wav");
}

TEST(output_naming, long_titles_are_cut_so_the_path_fits_512_characters)
{
    std::string dir(259, 'd');
    for (size_t title_length : {0u, 100u, 248u, 249u, 250u, 251u, 600u, 5000u}) {
        SCOPED_TRACE(title_length);
        std::string title(title_length, 't');
        std::string path = path_for(dir.c_str(), title.c_str());
        size_t room = 511 - 260 - 4; // directory and '\', then the extension
        size_t kept = std::min(title_length, room);
        EXPECT_EQ(path, dir + "\\" + std::string(kept, 't') + ".wav");
        EXPECT_LE(path.size(), 511u);
    }
    // Replacement still applies to what is kept of a cut title.
    std::string path = path_for("c:\\", std::string(600, '?').c_str());
    EXPECT_EQ(path, "c:\\" + std::string(511 - 3 - 4, '_') + ".wav");
}

TEST(output_naming, error_box_names_the_message_then_the_quoted_path)
{
    fresh_plugin();
    show_error("c:\\x.wav", "Cannot create output file");
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Cannot create output file: \"c:\\x.wav\"");
    EXPECT_EQ(host_boxes[0].caption, "Tollvane v1.4");
    EXPECT_EQ(host_boxes[0].type, unsigned(MB_OK | MB_ICONERROR));
}

TEST(output_naming, error_box_holds_the_longest_path)
{
    fresh_plugin();
    std::string path(511, 'p');
    show_error(path.c_str(), "WAV file size limit reached");
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "WAV file size limit reached: \"" + path + "\"");
}
