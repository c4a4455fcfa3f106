// The cue sheet's text: the exact bytes of a sheet, titles made safe and cut, the byte-order
// mark, replaced entries and REM tracks, starts in 1/75 s, every sheet the builder makes read
// back as ours, a sheet adopted and appended to, and the sheets that are someone else's.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "output/cue_sheet.h"
#ifndef _WIN32
#include "win32_shim/shim_control.h"
#endif

namespace {

// Switches the stand-in to code_page for one case; on Windows, whether the system has it (a
// row that needs another one is skipped there).
struct code_page_scope {
    bool usable;
    explicit code_page_scope(UINT code_page)
    {
#ifndef _WIN32
        shim_set_ansi_code_page(code_page);
        usable = true;
#else
        usable = GetACP() == code_page;
#endif
    }
    ~code_page_scope()
    {
#ifndef _WIN32
        shim_set_ansi_code_page(CP_UTF8);
#endif
    }
};

struct track { const char *title; uint64_t start_75ths; };

// A buffer of the size the builder asks for, 0xCC beyond what it should write.
struct sheet_buffer {
    std::vector<char> bytes = std::vector<char>(cue_sheet_max_bytes, static_cast<char>(0xCC));
    cue_sheet sheet;
};

std::string sheet_bytes(const cue_sheet &sheet)
{
    size_t length;
    const char *bytes = cue_sheet_bytes(&sheet, &length);
    return std::string(bytes, length);
}

// A new sheet for path with tracks, as the file would hold it.
std::string built(const char *path, std::vector<track> tracks, sheet_buffer *b = nullptr)
{
    sheet_buffer own;
    if (!b) b = &own;
    EXPECT_TRUE(cue_sheet_start(&b->sheet, b->bytes.data(), path));
    for (const track &t : tracks) EXPECT_NE(cue_sheet_add_track(&b->sheet, t.title, t.start_75ths), 0u) << t.title;
    return sheet_bytes(b->sheet);
}

cue_read_result read(const std::string &bytes, const char *path, cue_sheet_facts *facts)
{
    facts->tracks = facts->last_number = 12345;
    facts->last_start_75ths = 12345;
    return cue_sheet_read(bytes.data(), bytes.size(), path, facts);
}

const std::string bom = "\xEF\xBB\xBF";

std::string index_line(uint64_t start_75ths)
{
    std::string text = built("mix.wav", {{"t", start_75ths}});
    size_t at = text.find("INDEX 01 ");
    return text.substr(at + 9, text.find('\r', at) - at - 9);
}

} // namespace

TEST(cue_sheet, a_new_sheet_has_these_bytes)
{
    sheet_buffer b;
    std::string text = built("D:\\music\\mix.wav",
                             {{"Lowmoor - Harbour Lights", cue_start_75ths(0, 44100)},
                              {"Lowmoor - Night Ferry", cue_start_75ths(132300, 44100)},
                              {"Lowmoor - Tollgate", cue_start_75ths(132300 + 88200 + 44099, 44100)}},
                             &b);
    EXPECT_EQ(text, "FILE \"mix.wav\" WAVE\r\n"
                    "  TRACK 01 AUDIO\r\n"
                    "    TITLE \"Lowmoor - Harbour Lights\"\r\n"
                    "    INDEX 01 00:00:00\r\n"
                    "  TRACK 02 AUDIO\r\n"
                    "    TITLE \"Lowmoor - Night Ferry\"\r\n"
                    "    INDEX 01 00:03:00\r\n"
                    "  TRACK 03 AUDIO\r\n"
                    "    TITLE \"Lowmoor - Tollgate\"\r\n"
                    "    INDEX 01 00:05:74\r\n"); // one frame short of 6 s
    EXPECT_EQ(static_cast<unsigned char>(b.bytes[3 + text.size()]), 0xCC) << "wrote past the text";
}

// frames * 75 / rate rounded down, written mm:ss:ff with minutes past 99 as they come.
TEST(cue_sheet, starts_are_frames_in_75ths_rounded_down)
{
    const uint64_t most = ~static_cast<uint64_t>(0);
    struct row { uint64_t frames; uint32_t rate; uint64_t start_75ths; const char *text; } rows[] = {
        {0, 44100, 0, "00:00:00"},                                            // 0
        {587, 44100, 0, "00:00:00"},                                          // 1: a frame short of 1/75 s
        {588, 44100, 1, "00:00:01"},                                          // 2
        {44100ull * (99 * 60 + 59) + 588 * 74, 44100, 449999, "99:59:74"},    // 3
        {44100ull * 6000, 44100, 450000, "100:00:00"},                        // 4: minutes past 99
        {8000ull * 3600 * 1000 + 7999, 8000, 270000074, "60000:00:74"},       // 5: 1000 hours
        {most, 44100, 31372013730798557ull, "6971558606844:07:32"},          // 6: 2^64 - 1 frames
        {most, 75, most, "4099276460824344:48:15"},                           // 7: the largest start
        {most, 1, most, "4099276460824344:48:15"},                            // 8: stops there
        {12345, 0, 0, "00:00:00"},                                            // 9: no rate
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        EXPECT_EQ(cue_start_75ths(r.frames, r.rate), r.start_75ths);
        if (r.text) {
            EXPECT_EQ(index_line(r.start_75ths), r.text);
        }
    }
}

// Titles: quotes become ', control characters go (C1 too), text from the ANSI code page
// becomes UTF-8, and the cut at 255 bytes keeps whole characters; only 1024 bytes are read.
TEST(cue_text, titles_are_utf8_without_quotes_or_controls_and_cut_whole)
{
    const std::string a1024(1024, 'a'), euro1024(1024, '\x80'), e1024(1024, '\xe9');
    std::string e_utf8, notes = "a", tabs_then(1000, '\t'), tabs_past(1024, '\t');
    for (int i = 0; i < 512; i++) e_utf8 += "\xC3\xA9";
    for (int i = 0; i < 100; i++) notes += "\xF0\x9F\x8E\xB5";
    tabs_then += "tail";
    tabs_past += "x";
    std::string euros, es, e127;
    for (int i = 0; i < 85; i++) euros += "\xE2\x82\xAC";
    for (int i = 0; i < 127; i++) e127 += "\xC3\xA9";
    struct row { UINT code_page; std::string title, expected; } rows[] = {
        {CP_UTF8, "Say \"hi\" \"", "Say 'hi' '"},                                     // 0
        {CP_UTF8, "a\tb\r\nc\x7f" "d\x1b", "abcd"},                                  // 1: C0 and DEL
        {CP_UTF8, "x\xC2\x85y\xC2\x9F", "xy"},                                        // 2: C1 (NEL) too
        {CP_UTF8, "Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xB5", "Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xB5"}, // 3
        {CP_UTF8, "a\xFF" "b\xE2\x82", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},              // 4: malformed: U+FFFD
        {1252, "Caf\xe9 \x93q\x94 \x80", "Caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D \xE2\x82\xAC"}, // 5
        {1252, "\x81x\x8d\x9d", "x"},                                                 // 6: C1 of 1252
        {CP_UTF8, a1024, std::string(255, 'a')},                                      // 7: 1 KiB
        {CP_UTF8, e_utf8, e127},                                                      // 8: 254, not half of one
        {CP_UTF8, notes, notes.substr(0, 1 + 63 * 4)},                                // 9: 253
        {1252, euro1024, euros},                                                      // 10: 85 x 3 = 255
        {1252, e1024, e127},                                                          // 11
        {CP_UTF8, tabs_then, "tail"},                                                 // 12: removed, then read on
        {CP_UTF8, tabs_past, ""},                                                     // 13: past 1024 bytes
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        code_page_scope page(r.code_page);
        if (!page.usable) continue;
        char out[cue_title_max_bytes + 40];
        memset(out, 0xCC, sizeof out);
        size_t bytes = cue_title(r.title.c_str(), out);
        EXPECT_EQ(std::string(out, bytes), r.expected);
        EXPECT_EQ(out[bytes], 0);
        EXPECT_EQ(static_cast<unsigned char>(out[cue_title_max_bytes + 1]), 0xCC);
    }
    char out[cue_title_max_bytes + 1] = "x";
    EXPECT_EQ(cue_title(nullptr, out), 0u);
    EXPECT_EQ(out[0], 0);
}

// The FILE line holds the name without its folder, and a sheet needs one.
TEST(cue_text, the_file_line_names_the_file_without_its_folder)
{
    struct row { const char *path, *name; } rows[] = {
        {"D:\\music\\mix.wav", "mix.wav"},       // 0
        {"mix.wav", "mix.wav"},                  // 1
        {"D:mix.wav", "mix.wav"},                // 2: a drive's current folder
        {"D:\\music/live\\a b.wav", "a b.wav"},  // 3
        {"D:\\music\\", nullptr},                // 4: no name
        {"", nullptr},                           // 5
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        char name[cue_name_max_bytes];
        size_t bytes = cue_file_name(r.path, name);
        EXPECT_EQ(std::string(name, bytes), r.name ? r.name : "");
        sheet_buffer b;
        EXPECT_EQ(cue_sheet_start(&b.sheet, b.bytes.data(), r.path), r.name != nullptr);
    }
    std::string longest = "D:\\" + std::string(1024, 'n'), longer = longest + "n";
    char name[cue_name_max_bytes];
    EXPECT_EQ(cue_file_name(longest.c_str(), name), 1024u);
    EXPECT_EQ(cue_file_name(longer.c_str(), name), 0u);
}

// UTF-8 with a mark when the name or a title holds more than ASCII, else plain ASCII; an entry
// replaced away takes its need for the mark with it.
TEST(cue_sheet, a_byte_order_mark_only_where_text_is_not_ascii)
{
    struct row { UINT code_page; const char *path; std::vector<track> tracks; bool mark; } rows[] = {
        {CP_UTF8, "mix.wav", {{"plain", 0}, {"\"quoted\"\t", 75}}, false},       // 0
        {CP_UTF8, "mix.wav", {{"plain", 0}, {"caf\xC3\xA9", 75}}, true},         // 1
        {CP_UTF8, "D:\\\xC3\xA9t\xC3\xA9.wav", {{"plain", 0}}, true},            // 2: the name
        {1252, "D:\\\xe9t\xe9\\mix.wav", {{"plain", 0}}, false},                 // 3: only the folder
        {1252, "mix.wav", {{"\x80", 0}}, true},                                  // 4
        {CP_UTF8, "mix.wav", {{"plain", 0}, {"caf\xC3\xA9", 75}, {"cafe", 75}}, false}, // 5: replaced
        {CP_UTF8, "mix.wav", {}, false},                                         // 6
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        code_page_scope page(r.code_page);
        if (!page.usable) continue;
        std::string text = built(r.path, r.tracks);
        EXPECT_EQ(text.compare(0, 3, bom) == 0, r.mark);
        EXPECT_EQ(text.compare(0, 6, r.mark ? bom + "FIL" : "FILE \""), 0);
    }
}

// A track in the same 1/75 s as the last replaces it and keeps its number; one before it is
// refused; past 99 tracks each is a REM line that reads back as a track.
TEST(cue_sheet, same_75th_replaces_and_tracks_past_99_are_rem_lines)
{
    sheet_buffer b;
    ASSERT_TRUE(cue_sheet_start(&b.sheet, b.bytes.data(), "mix.wav"));
    EXPECT_EQ(cue_sheet_add_track(&b.sheet, "mix", 0), 1u);
    EXPECT_EQ(cue_sheet_add_track(&b.sheet, "first", 0), 1u);
    EXPECT_EQ(cue_sheet_add_track(&b.sheet, "second", 750), 2u);
    std::string before = sheet_bytes(b.sheet);
    EXPECT_EQ(cue_sheet_add_track(&b.sheet, "earlier", 749), 0u);
    EXPECT_EQ(sheet_bytes(b.sheet), before);
    EXPECT_EQ(before, "FILE \"mix.wav\" WAVE\r\n"
                      "  TRACK 01 AUDIO\r\n    TITLE \"first\"\r\n    INDEX 01 00:00:00\r\n"
                      "  TRACK 02 AUDIO\r\n    TITLE \"second\"\r\n    INDEX 01 00:10:00\r\n");
    for (uint32_t n = 3; n <= 101; n++)
        EXPECT_EQ(cue_sheet_add_track(&b.sheet, ("t" + std::to_string(n)).c_str(), n * 750), n);
    EXPECT_EQ(cue_sheet_add_track(&b.sheet, "\"news\"", 101 * 750), 101u); // a REM entry replaced
    std::string text = sheet_bytes(b.sheet);
    EXPECT_NE(text.find("\r\n  TRACK 99 AUDIO\r\n    TITLE \"t99\"\r\n    INDEX 01 16:30:00\r\n"
                        "  REM TRACK 100 TITLE \"t100\" INDEX 01 16:40:00\r\n"
                        "  REM TRACK 101 TITLE \"'news'\" INDEX 01 16:50:00\r\n"),
              std::string::npos);
    EXPECT_EQ(text.size() - text.rfind("INDEX 01 16:50:00\r\n"), 19u) << "the replaced line is gone";
    cue_sheet_facts facts;
    EXPECT_EQ(read(text, "mix.wav", &facts), cue_read_ours);
    EXPECT_EQ(facts.tracks, 101u);
    EXPECT_EQ(facts.last_number, 101u);
    EXPECT_EQ(facts.last_start_75ths, 101u * 750);
}

// Whatever the builder makes reads back as ours, with the tracks it wrote.
TEST(cue_sheet, every_sheet_it_builds_reads_back_as_ours)
{
    const uint64_t most = ~static_cast<uint64_t>(0);
    std::vector<track> many;
    for (uint64_t n = 0; n < 150; n++) many.push_back({"\xC3\xA9\"\x01", n * 4500 * 120});
    const std::string malformed(1024, '\xFF');
    struct row { UINT code_page; const char *path, *read_as; std::vector<track> tracks; } rows[] = {
        {CP_UTF8, "D:\\mix.wav", "mix.wav", {}},                                                  // 0
        {CP_UTF8, "D:\\mix.wav", "e:\\other\\MIX.WAV", {{"a", 0}, {"b", 1}, {"c", most}}},       // 1
        {CP_UTF8, "D:\\a \"b\".wav", "a \"b\".wav", {{"", 0}}},                                  // 2
        {CP_UTF8, "\xC3\xA9T\xC3\xA9 \xF0\x9F\x8E\xB5.wav", "\xC3\x89t\xC3\x89 \xF0\x9F\x8E\xB5.WAV", many}, // 3
        {1252, "D:\\caf\xe9 \xc0.wav", "CAF\xc9 \xe0.wav", {{"\x93q\x94", 7}}},                  // 4
        {CP_UTF8, "\xD0\xB4\xC5\x82\xCE\xB1.wav", "\xD0\x94\xC5\x81\xCE\x91.wav", {{"x", 3}}}, // 5: three alphabets
        {CP_UTF8, "mix.wav", "mix.wav", {{malformed.c_str(), 3}}},                               // 6: 85 U+FFFD
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        code_page_scope page(r.code_page);
        if (!page.usable) continue;
        sheet_buffer b;
        std::string text = built(r.path, r.tracks, &b);
        cue_sheet_facts facts;
        EXPECT_EQ(read(text, r.path, &facts), cue_read_ours);
        EXPECT_EQ(read(text, r.read_as, &facts), cue_read_ours) << "as Windows compares names";
        EXPECT_EQ(facts.tracks, b.sheet.tracks);
        EXPECT_EQ(facts.tracks, r.tracks.size());
        EXPECT_EQ(facts.last_number, r.tracks.size());
        EXPECT_EQ(facts.last_start_75ths, r.tracks.empty() ? 0 : r.tracks.back().start_75ths);
    }
}

// An adopted sheet keeps its bytes, mark and all; the new entry follows a line end of its own.
// A track in the same 1/75 s as the adopted last one replaces that entry, keeping its number.
TEST(cue_sheet, an_adopted_sheet_keeps_its_lines_and_gets_the_next_track)
{
    const std::string users = bom + "REM GENRE Radio\nPERFORMER \"Lowmoor\"\nfile \"Mix.wav\" wave\n"
                              "  track 01 audio\n    title \"One\"\n    index 00 00:00:00\n    index 01 00:00:32\n"
                              "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    PERFORMER \"X\"\n    INDEX 01 01:00:00";
    const std::string ours = built("mix.wav", {{"One", 0}, {"Two", 4500}});
    const std::string two = "  TRACK 02 AUDIO\r\n    TITLE \"Zwei\"\r\n    INDEX 01 01:00:00\r\n";
    const std::string three = "  TRACK 03 AUDIO\r\n    TITLE \"Three\"\r\n    INDEX 01 02:00:00\r\n";
    struct row {
        std::string sheet;
        const char *title;
        uint64_t start_75ths;
        uint32_t number;
        std::string expected;
    } rows[] = {
        {users, "Three", 9000, 3, users + "\r\n" + three},                                         // 0
        {users, "Zwei", 4500, 2, users.substr(0, users.find("  TRACK 02")) + two},                   // 1
        {ours, "Three", 9000, 3, built("mix.wav", {{"One", 0}, {"Two", 4500}, {"Three", 9000}})},   // 2
        {ours, "tr\xC3\xAAs", 9000, 3, built("mix.wav", {{"One", 0}, {"Two", 4500}, {"tr\xC3\xAAs", 9000}})}, // 3: marked
        {"FILE mix.wav WAVE", "One", 0, 1, "FILE mix.wav WAVE\r\n" + built("x", {{"One", 0}}).substr(15)},    // 4
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        sheet_buffer b;
        memcpy(b.bytes.data(), r.sheet.data(), r.sheet.size());
        ASSERT_TRUE(cue_sheet_adopt(&b.sheet, b.bytes.data(), r.sheet.size(), "D:\\mix.wav"));
        EXPECT_EQ(cue_sheet_add_track(&b.sheet, r.title, r.start_75ths), r.number);
        EXPECT_EQ(sheet_bytes(b.sheet), r.expected);
    }
}

// Any doubt leaves a sheet alone: another file's name, one FILE line too many or none, text
// that is no UTF-8, a track whose start cannot be read. The rule on FILE comes first.
TEST(cue_sheet, sheets_of_other_files_or_unreadable_ones_are_not_ours)
{
    const std::string file = "FILE \"mix.wav\" WAVE\r\n", one = "  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n";
    const std::string track = "  TRACK 01 AUDIO\r\n    INDEX 01 ", rem = "  REM TRACK 5 TITLE \"x\" INDEX 01 00:01:00\r\n";
    struct row {
        std::string sheet;
        cue_read_result expected;
        uint32_t tracks, last_number;
        uint64_t last_start;
    } rows[] = {
        {file + one, cue_read_ours, 1, 1, 0},                                                       // 0
        {"FILE \"other.wav\" WAVE\r\n" + one, cue_read_other_file, 0, 0, 0},                                 // 1
        {file + file + one, cue_read_other_file, 0, 0, 0},                                                   // 2
        {one, cue_read_other_file, 0, 0, 0},                                                                 // 3
        {"FILE \"mix.wav\" BINARY\r\n" + one, cue_read_other_file, 0, 0, 0},                                 // 4
        {"FILE \"D:\\mix.wav\" WAVE\r\n" + one, cue_read_other_file, 0, 0, 0}, // 5: a folder
        {"", cue_read_other_file, 0, 0, 0},                                                                  // 6
        {"FILE \"mix.wav\" WAVE 2\r\n" + one, cue_read_other_file, 0, 0, 0},                                 // 7
        {"FILE \"mix.wav WAVE\r\n" + one, cue_read_other_file, 0, 0, 0}, // 8: no closing quote
        {"FILE \"other.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n", cue_read_other_file, 0, 0, 0}, // 9: FILE first
        {"FILE mix.wav wave\r  TRACK 1 AUDIO\r    INDEX 1 0:00:00", cue_read_ours, 1, 1, 0},        // 10: CR only
        {"FILE \"MIX.WAV\"\tWAVE\n\ttrack 07 audio\n\tindex 01 3:02:01\n", cue_read_ours, 1, 7, 13651}, // 11
        {file + "REM caf\xe9\r\n" + one, cue_read_not_utf8, 0, 0, 0}, // 12: 1252 text
        {file + std::string("REM \0\r\n", 7) + one, cue_read_not_utf8, 0, 0, 0},                             // 13
        {std::string("\xFF\xFE" "F\0I\0L\0E\0", 10), cue_read_not_utf8, 0, 0, 0}, // 14: UTF-16
        {file + "  TRACK 01 AUDIO\r\n    INDEX 00 00:00:00\r\n", cue_read_unreadable_track, 0, 0, 0},         // 15
        {file + track + "00:60:00\r\n", cue_read_unreadable_track, 0, 0, 0},                                 // 16
        {file + track + "00:00:75\r\n", cue_read_unreadable_track, 0, 0, 0},                                 // 17
        {file + track + "00:01\r\n", cue_read_unreadable_track, 0, 0, 0},                                    // 18
        {file + track + "00:00:00 x\r\n", cue_read_unreadable_track, 0, 0, 0},                               // 19
        {file + track + "4099276460824344:48:16\r\n", cue_read_unreadable_track, 0, 0, 0}, // 20: past 64 bits
        {file + "INDEX 01 00:00:00\r\n" + one, cue_read_unreadable_track, 0, 0, 0},                          // 21
        {one + file, cue_read_unreadable_track, 0, 0, 0},                                                    // 22
        {file + "  TRACK 00 AUDIO\r\n    INDEX 01 00:00:00\r\n", cue_read_unreadable_track, 0, 0, 0},         // 23
        {file + "  TRACK 1000000 AUDIO\r\n    INDEX 01 00:00:00\r\n", cue_read_unreadable_track, 0, 0, 0},    // 24
        {file + one + "    INDEX x1 00:00:00\r\n", cue_read_unreadable_track, 0, 0, 0},                       // 25
        {file + one + rem + "    INDEX 01 00:02:00\r\n", cue_read_unreadable_track, 0, 0, 0}, // 26
        {file + one + "REM TRACK by hand\r\nREM TRACK 2 TITLE x INDEX 01 00:01:00\r\n", cue_read_ours, 1, 1, 0}, // 27
        {file + one + "REM track 5 title \"x\" index 01 00:01:00\r\n", cue_read_ours, 2, 5, 75},    // 28
        {file + one + "    INDEX 01 00:00:01\r\n    INDEX 01 00:00:02\r\n", cue_read_ours, 1, 1, 2}, // 29: the last one
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        cue_sheet_facts facts;
        EXPECT_EQ(read(r.sheet, "D:\\mix.wav", &facts), r.expected);
        EXPECT_EQ(facts.tracks, r.tracks);
        EXPECT_EQ(facts.last_number, r.last_number);
        EXPECT_EQ(facts.last_start_75ths, r.last_start);
    }
}

// The sheet of exactly total bytes: head, a FILE line and a track, then REM lines.
static std::string padded(size_t total, const std::string &head)
{
    std::string text = head + "FILE \"mix.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n";
    while (text.size() < total) {
        size_t rest = total - text.size();
        if (rest > 4000) text += "REM " + std::string(3990, 'p') + "\r\n";
        else text += std::string(rest - 1, 'p') + "\n";
    }
    return text;
}

// 1 MiB for the sheet, 4 KiB for a line. The builder refuses an entry that would pass the
// sheet's bound and leaves the sheet as it was, still ours.
TEST(cue_sheet, bounds_of_the_sheet_and_its_lines)
{
    const std::string file = "FILE \"mix.wav\" WAVE\r\n", one = "  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n";
    struct row { std::string sheet; cue_read_result expected; } rows[] = {
        {padded(cue_sheet_max_bytes, ""), cue_read_ours},                           // 0
        {padded(cue_sheet_max_bytes, bom), cue_read_ours},                          // 1
        {padded(cue_sheet_max_bytes + 1, ""), cue_read_too_large},                  // 2
        {padded(cue_sheet_max_bytes + 1, bom), cue_read_too_large},                 // 3
        {file + one + std::string(4096, 'p'), cue_read_ours},                       // 4
        {file + one + std::string(4097, 'p'), cue_read_too_large},                  // 5
        {bom + "FILE mix.wav WAVE" + std::string(4079, ' ') + "\r\n" + one, cue_read_ours}, // 6: the mark
        {bom + "FILE mix.wav WAVE" + std::string(4080, ' ') + "\r\n" + one, cue_read_too_large}, // 7: is no part of it
        {file + one + std::string(4095, 'p') + "\xC3\xA9", cue_read_too_large},     // 8: 4096 characters, 4097 bytes
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        cue_sheet_facts facts;
        EXPECT_EQ(read(r.sheet, "mix.wav", &facts), r.expected);
    }

    sheet_buffer b;
    ASSERT_TRUE(cue_sheet_start(&b.sheet, b.bytes.data(), "mix.wav"));
    const std::string title(cue_title_max_bytes, 'w');
    std::string last;
    for (uint64_t start = 0; cue_sheet_add_track(&b.sheet, title.c_str(), start) != 0; start++)
        if (b.sheet.text_bytes + 1000 > cue_sheet_max_bytes) last = sheet_bytes(b.sheet);
    EXPECT_EQ(sheet_bytes(b.sheet), last);
    EXPECT_LE(last.size(), cue_sheet_max_bytes - 3);
    EXPECT_GT(last.size() + 400, cue_sheet_max_bytes);
    cue_sheet_facts facts;
    EXPECT_EQ(read(last, "mix.wav", &facts), cue_read_ours);
    EXPECT_EQ(facts.tracks, b.sheet.tracks);

    // A sheet can be too full to adopt: the builder keeps room for a mark in front.
    std::string full = padded(cue_sheet_max_bytes - 3, ""), fuller = padded(cue_sheet_max_bytes - 2, "");
    std::vector<char> buffer(cue_sheet_max_bytes);
    memcpy(buffer.data(), full.data(), full.size());
    EXPECT_TRUE(cue_sheet_adopt(&b.sheet, buffer.data(), full.size(), "mix.wav"));
    EXPECT_EQ(cue_sheet_add_track(&b.sheet, "x", 1), 0u);
    EXPECT_EQ(sheet_bytes(b.sheet), full);
    memcpy(buffer.data(), fuller.data(), fuller.size());
    EXPECT_FALSE(cue_sheet_adopt(&b.sheet, buffer.data(), fuller.size(), "mix.wav"));
}
