// Output names: the directory joined to the player's title, the replaced characters, device
// names, the 255/259-character bounds and Wine's 255 bytes, each name created for real, and the
// error box's text.
#include <gtest/gtest.h>

#include "config/settings_store.h"
#include "output/output_naming.h"
#include "output/track_messages.h"
#include "tests/test_support.h"
#ifndef _WIN32
#include "win32_shim/shim_control.h"
#endif

// The path a title gets; "" where no name fits. pattern, copy, room and the UTF-8 rule as the
// track output passes them.
static std::string path_for(const char *dir, const char *title, const char *extension = ".wav",
                            const char *pattern = "%title%", int position = 3, unsigned copy = 0,
                            bool room_for_copies = false, bool utf8_name_bytes = false)
{
    out_module *m = fresh_plugin();
    host_set_playlist(position, title);
    char buffer[output_path_chars + 16];
    memset(buffer, 0xCC, sizeof buffer);
    playlist_entry entry;
    EXPECT_TRUE(ask_playlist_entry(m->main_window, false, &entry));
    name_recipe recipe = {dir, pattern, extension, room_for_copies, utf8_name_bytes};
    bool built = build_output_path(buffer, &recipe, &entry, copy);
    EXPECT_EQ(static_cast<unsigned char>(buffer[output_path_chars]), 0xCC) << "wrote past the 512-character buffer";
    return built ? buffer : "";
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

// The pattern: its fields filled in, its own text kept but for what would leave the folder or
// that Windows refuses (its dots stay), the device rule on the part before the first dot.
TEST(output_naming, patterns_number_and_name_the_file_within_its_folder)
{
    struct row { const char *pattern, *title; int position; const char *expected; } rows[] = {
        {"%pos%. %title%", "Intro", 0, "c:\\01. Intro.wav"},                   // 0: from 1, two digits
        {"%pos% - %title%", "A.B", 99, "c:\\100 - A_B.wav"},                  // 1: the title's dots go
        {"%title% (%pos%)", "x", 1233, "c:\\x (1234).wav"},                   // 2
        {"100%% %title% %x% %", "t", 0, "c:\\100% t %x% %.wav"},              // 3: %% and strays
        {"..\\%title%/x:%pos%*", "t", 4, "c:\\.._t_x_05_.wav"},             // 4: no other folder
        {"live\t%title%", "t", 0, "c:\\live_t.wav"},                          // 5: control characters
        {"NUL.%title%", "song", 0, "c:\\NUL_.song.wav"},                      // 6: the device before the dot
        {"con .%pos%", "", 0, "c:\\con _.01.wav"},                            // 7
        {"%title%.%title%", "aux", 0, "c:\\aux_.aux.wav"},                    // 8
        {"%pos%%title%", "", -1, "c:\\01.wav"},                               // 9: a position the player lacks
        {"%title%", "01. Intro", 0, "c:\\01_ Intro.wav"},                     // 10: today's names
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        EXPECT_EQ(path_for("c:\\", r.title, ".wav", r.pattern, r.position), r.expected);
    }
}

// Cut to fit: the last %title% first, then the pattern's text behind it, the number never; a
// name that still does not fit is none. Copies keep room for " (99999)" when asked to.
TEST(output_naming, long_names_cut_the_last_title_then_the_tail_and_number_their_copies)
{
    const std::string t(300, 't'), z(246, 'z'), c = "c:\\", d200 = "c:\\" + std::string(197, 'd'); // 251, 54 to fill
    struct row { std::string dir, pattern, title; unsigned copy; bool room; std::string expected; } rows[] = {
        {c, "%pos% - %title% [live]", t, 0, false, c + "04 - " + std::string(239, 't') + " [live].wav"},   // 0
        {c, "%pos% %title%" + z, "song", 0, false, c + "04 so" + z + ".wav"},                            // 1
        {d200, "%pos% %title%" + z, t, 0, false, d200 + "\\04 " + std::string(51, 'z') + ".wav"},       // 2
        {c, "%title%-%pos%-%title%", t, 0, false, ""}, // 3: the first title alone is too long
        {c + std::string(252, 'd'), "%pos%", "x", 0, false, ""},                                        // 4
        {c + std::string(252, 'd'), "%title%", "x", 0, false, c + std::string(252, 'd') + "\\.wav"},   // 5
        {c, "%title%", t, 0, true, c + std::string(243, 't') + ".wav"},                                  // 6
        {c, "%title%", t, 2, true, c + std::string(243, 't') + " (2).wav"},                              // 7
        {c, "%title%", t, 12345, true, c + std::string(243, 't') + " (12345).wav"},                      // 8
        {c, "%title%", "a", 3, false, c + "a (3).wav"},                                                  // 9
        {c, "%title%", "a", 100000, true, ""},                                                           // 10
        {c, "%title%", "nul", 2, true, c + "nul_ (2).wav"},                                              // 11
        {c + std::string(250, 'd'), "%title%", "a", 2, false, ""}, // 12: the folder leaves the number no room
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        EXPECT_EQ(path_for(r.dir.c_str(), r.title.c_str(), ".wav", r.pattern.c_str(), 3, r.copy, r.room), r.expected);
    }
}

static std::string times(size_t count, const std::string &text)
{
    std::string repeated;
    for (size_t i = 0; i < count; i++) repeated += text;
    return repeated;
}

// Where names are stored as UTF-8 beneath (Wine on Linux), a character of the ANSI code page may
// take three bytes there (the euro sign in Windows-1252, every Japanese one): the name is cut so
// that its UTF-8 form with the extension, and the room for " (N)" where asked, fits 255 bytes.
// Titles that agree on all that fits get one name. Without the rule names stay as they were.
// Natively the stand-in's code page is switched per row; under Wine the rows of its own run.
TEST(output_naming, names_stored_in_utf8_are_cut_to_its_255_bytes)
{
    const std::string euro = "\xE2\x82\xAC", ja = "\xE6\x97\xA5";
    struct row { UINT code_page; std::string title; bool room, wine; std::string name; } rows[] = {
        {1252, times(86, euro), false, false, times(86, euro)},                        // 0
        {1252, times(86, euro), false, true, times(83, euro)},                         // 1: 249 + 4 bytes
        {1252, times(100, euro), false, false, times(100, euro)},                      // 2
        {1252, times(100, euro), false, true, times(83, euro)},                        // 3
        {1252, times(86, euro), true, true, times(81, euro)},                          // 4: " (99999)" fits
        {1252, times(86, euro) + " Part One", false, true, times(83, euro)},           // 5: one name for both
        {1252, times(86, euro) + " Part Two", false, true, times(83, euro)},           // 6
        {1252, times(86, euro) + " Part One", false, false, times(86, euro) + " Part One"}, // 7
        {1252, "a" + times(84, euro), false, true, "a" + times(83, euro)},             // 8: 250 + 4 bytes
        {CP_UTF8, times(90, ja), false, false, times(83, ja)},                         // 9: the bytes already
        {CP_UTF8, times(90, ja), false, true, times(83, ja)},                          // 10
        {CP_UTF8, times(86, euro) + " Part Two", true, true, times(81, euro)},         // 11
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
#ifdef _WIN32
        if (GetACP() != r.code_page) continue;
#else
        shim_set_ansi_code_page(r.code_page);
#endif
        std::string title = in_ansi(r.title), name = in_ansi(r.name);
        ASSERT_FALSE(title.empty());
        EXPECT_EQ(path_for("c:\\", title.c_str(), ".wav", "%title%", 3, 0, r.room, r.wine), "c:\\" + name + ".wav");
    }
#ifndef _WIN32
    shim_set_ansi_code_page(CP_UTF8);
    // The stand-in tells Wine by the same export as Wine does.
    EXPECT_FALSE(names_stored_as_utf8());
    shim_set_wine(true);
    EXPECT_TRUE(names_stored_as_utf8());
    shim_set_wine(false);
#endif
}

TEST(output_naming, title_none_is_an_empty_title)
{
    EXPECT_EQ(path_for("c:\\", nullptr), "c:\\.wav");
}

// The name a title gets: device names with '_' appended, the rest unchanged.
struct name_row {
    std::string title, name;
};

static std::vector<name_row> device_name_rows()
{
    std::vector<name_row> rows;
    std::vector<std::string> devices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    // The superscripts in UTF-8 name a device only where that is the ANSI code page.
    bool utf8 = GetACP() == CP_UTF8;
    std::vector<std::string> kept_names = {"CONCERT", "NULL", "COM10", "LPT00", "COM", "LPT", "CO", "AUX_", " NUL",
                                           "NUL x", "xCON", "CONIN", "CONOUT", "CONIN$$", "COM\xB4", "LPT\xB0",
                                           "COM 1", "COM\xC2\xB4"};
    for (const char *prefix : {"COM", "LPT"}) {
        for (char digit = '0'; digit <= '9'; digit++) devices.push_back(std::string(prefix) + digit);
        for (char superscript : {'\xB9', '\xB2', '\xB3'}) {
            devices.push_back(std::string(prefix) + superscript);
            (utf8 ? devices : kept_names).push_back(std::string(prefix) + "\xC2" + superscript);
        }
    }
    for (const std::string &device : devices) {
        std::string lower = device, mixed = device;
        for (size_t i = 0; i < device.size(); i++) {
            lower[i] = static_cast<char>(tolower(static_cast<unsigned char>(device[i])));
            if (i % 2) mixed[i] = lower[i];
        }
        for (const std::string &form : {device, lower, mixed})
            for (const char *spaces : {"", " ", "   "})
                rows.push_back({form + spaces, form + spaces + "_"});
    }
    // Names that only start like one, or carry it inside, stay as they are.
    for (const std::string &kept : kept_names) rows.push_back({kept, kept});
    rows.push_back({"nul.wav", "nul_wav"}); // the dot is replaced first: no device any more
    return rows;
}

TEST(output_naming, device_names_get_an_underscore_appended)
{
    for (const name_row &row : device_name_rows()) {
        SCOPED_TRACE(row.title);
        EXPECT_EQ(path_for("c:\\music\\", row.title.c_str()), "c:\\music\\" + row.name + ".wav");
        EXPECT_EQ(path_for("", row.title.c_str(), ".raw"), row.name + ".raw");
    }
}

TEST(output_naming, control_characters_become_underscores)
{
    std::string title = "a", name = "a";
    for (int c = 1; c <= 31; c++) {
        title += static_cast<char>(c);
        name += '_';
    }
    title += "\x7F\x80\xFF z";
    name += "\x7F\x80\xFF z"; // delete and the upper half are valid in names
    EXPECT_EQ(path_for("c:\\", title.c_str()), "c:\\" + name + ".wav");
    EXPECT_EQ(path_for("c:\\", "\t"), "c:\\_.wav");
}

// The longest title part that keeps the name within 255 characters and the path within 259.
static size_t title_room(size_t directory_with_separator, size_t extension)
{
    size_t by_path = directory_with_separator + extension >= 259 ? 0 : 259 - directory_with_separator - extension;
    return std::min<size_t>(255 - extension, by_path);
}

TEST(output_naming, long_titles_give_the_longest_name_that_fits)
{
    for (size_t dir_length : {0u, 1u, 3u, 4u, 5u, 40u, 200u, 250u, 254u, 255u, 258u, 259u}) {
        std::string dir(dir_length, 'd');
        if (dir_length >= 3) dir = "c:\\" + std::string(dir_length - 3, 'd');
        if (dir_length == 3) dir = "c:\\"; // already ends in the separator
        size_t with_separator = dir_length + (dir_length > 0 && dir.back() != '\\');
        for (size_t title_length = 250; title_length <= 300; title_length++) {
            SCOPED_TRACE(testing::Message() << dir_length << " " << title_length);
            std::string title(title_length, 't');
            title[0] = '?'; // replacement applies to the part that is kept
            std::string path = path_for(dir.c_str(), title.c_str());
            size_t kept = std::min(title_length, title_room(with_separator, 4));
            std::string expected_title = kept ? "_" + std::string(kept - 1, 't') : "";
            std::string separator = with_separator > dir_length ? "\\" : "";
            EXPECT_EQ(path, dir + separator + expected_title + ".wav");
            if (with_separator + 4 <= 259) {
                EXPECT_LE(path.size(), 259u);
            }
        }
        // Characters of two, three and four bytes after 0 to 3 single bytes, so that a cut
        // falls on every byte of one. With UTF-8 as the ANSI code page (the stand-in's) only
        // whole characters stay; with a single-byte code page (Wine's 1252) each byte is a
        // character and the cut falls where the room ends. Stray continuation bytes and 0xFF
        // start no sequence and count one each.
        bool utf8 = GetACP() == CP_UTF8;
        for (const char *character : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E", "\x80", "\xFF"}) {
            size_t width = strlen(character);
            for (size_t shift = 0; shift < 4; shift++) {
                SCOPED_TRACE(testing::Message() << dir_length << " width " << width << " shift " << shift);
                std::string title(shift, 'a');
                for (int i = 0; i < 200; i++) title += character;
                size_t room = title_room(with_separator, 4);
                size_t kept = std::min(title.size(), room);
                if (utf8 && kept > shift) kept = shift + (kept - shift) / width * width;
                std::string separator = with_separator > dir_length ? "\\" : "";
                EXPECT_EQ(path_for(dir.c_str(), title.c_str()), dir + separator + title.substr(0, kept) + ".wav");
            }
        }
    }
}

TEST(output_naming, a_cut_device_name_takes_the_underscore_in_its_last_place)
{
    // "c:\" and ".wav" leave the 251 characters a name part holds beside the extension.
    std::string title = "NUL" + std::string(300, ' ');
    EXPECT_EQ(path_for("c:\\", title.c_str()), "c:\\NUL" + std::string(247, ' ') + "_.wav");
    std::string dir = "c:\\" + std::string(248, 'd'); // room for three characters of title
    EXPECT_EQ(path_for(dir.c_str(), "nul"), dir + "\\nu_.wav");
    EXPECT_EQ(path_for(dir.c_str(), "NULL"), dir + "\\NU_.wav"); // cut to a device name
    EXPECT_EQ(path_for(dir.c_str(), "com1"), dir + "\\com.wav"); // cut to no device name
    dir.pop_back(); // room for four
    EXPECT_EQ(path_for(dir.c_str(), "com1"), dir + "\\com_.wav");
    EXPECT_EQ(path_for(dir.c_str(), "con  "), dir + "\\con_.wav");
}

// Each name the rules give is one the real file system creates, and it holds the track.
static void expect_track_in(const char *dir, const char *title, const std::string &name)
{
    out_module *m = fresh_plugin(dir);
    host_set_playlist(0, title);
    std::string path = std::string(*dir ? dir : ".") + "/" + name + ".wav";
    remove_file(path);
    auto audio = pcm_block(40, 2, 16);
    ASSERT_EQ(m->open(44100, 2, 16), 0) << (host_boxes.empty() ? "" : host_boxes[0].text);
    m->write(audio.data(), static_cast<int>(audio.size()));
    m->close();
    EXPECT_TRUE(host_boxes.empty()) << host_boxes[0].text;
    std::vector<uint8_t> file = read_file(path);
    ASSERT_EQ(file.size(), 44u + audio.size());
    EXPECT_EQ(le32_at(file, 40), audio.size());
    EXPECT_EQ(0, memcmp(file.data() + 44, audio.data(), audio.size()));
    remove_file(path);
}

TEST(output_naming, every_name_is_created_and_holds_the_track)
{
    for (const name_row &row : device_name_rows()) {
        SCOPED_TRACE(row.title);
        expect_track_in("names", row.title.c_str(), row.name);
#ifndef _WIN32
        // Natively a device name is a plain file: none may appear.
        EXPECT_FALSE(file_exists("names/" + row.title + ".wav") && row.title != row.name);
#endif
    }
    for (size_t dir_length : {1u, 60u, 200u, 250u}) {
        std::string dir(dir_length, 'n');
        for (size_t title_length = 254; title_length <= 300; title_length += 1) {
            SCOPED_TRACE(testing::Message() << dir_length << " " << title_length);
            std::string title(title_length, 't');
            size_t kept = std::min(title_length, title_room(dir_length + 1, 4));
            expect_track_in(dir.c_str(), title.c_str(), std::string(kept, 't'));
        }
    }
    std::string controls = "tab\there\x1b[1m";
    expect_track_in("names", controls.c_str(), "tab_here_[1m");
}

TEST(track_messages, error_box_names_the_message_then_the_quoted_path)
{
    out_module *m = fresh_plugin();
    show_error(m->main_window, "c:\\x.wav", "Cannot create output file");
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Cannot create output file: \"c:\\x.wav\"");
    EXPECT_EQ(host_boxes[0].caption, "Tollvane v1.4");
    EXPECT_EQ(host_boxes[0].type, unsigned(MB_OK | MB_ICONERROR));
}

TEST(track_messages, error_box_holds_the_longest_path)
{
    out_module *m = fresh_plugin();
    std::string path(511, 'p');
    show_error(m->main_window, path.c_str(), "WAV file size limit reached");
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "WAV file size limit reached: \"" + path + "\"");
}
