// The configuration dialog's two templates as the plug-in's outside fixes them, written out
// here independently of the resource script: each dialog box and its controls in template order.
#ifndef TOLLVANE_CONFIG_DIALOG_EXPECTED_H
#define TOLLVANE_CONFIG_DIALOG_EXPECTED_H

#include <windows.h>

#include <gtest/gtest.h>
#include <stdint.h>

#include "win32_shim/shim_dialog_template.h"

struct expected_control {
    uint32_t id;
    const char *class_name; // as GetClassNameA reports the standard class
    uint16_t class_ordinal;
    const char *title;
    int16_t x, y, cx, cy;
    uint32_t style;    // WS_CHILD | WS_VISIBLE and the listed styles, exactly
    uint32_t ex_style;
};

constexpr uint32_t visible_child = WS_CHILD | WS_VISIBLE;

// Both dialog boxes: at 0,0, no menu or class, empty caption, MS Sans Serif 8.
constexpr uint32_t expected_dialog_style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
constexpr uint16_t expected_language = 0x0409; // US English

static const expected_control expected_controls[] = {
    /* 1 */ {1, "Button", 0x80, "OK", 252, 98, 40, 14, visible_child | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
    /* 2 */ {2, "Button", 0x80, "Cancel", 296, 98, 40, 14, visible_child | BS_PUSHBUTTON | WS_TABSTOP, 0},
    /* 3 */ {1014, "Static", 0x82, "Output directory:", 12, 4, 53, 8, visible_child | SS_LEFT | WS_GROUP, 0},
    /* 4 */ {1000, "Button", 0x80, "", 8, 13, 172, 14, visible_child | BS_PUSHBUTTON | WS_TABSTOP, 0},
    /* 5 */ {1001, "Button", 0x80, "Convert to format:", 8, 36, 72, 10, visible_child | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
    /* 6 */ {1005, "Edit", 0x81, "", 8, 47, 156, 18, visible_child | ES_MULTILINE | ES_READONLY | WS_TABSTOP,
             WS_EX_STATICEDGE},
    /* 7 */ {1002, "Button", 0x80, "...", 164, 47, 16, 18, visible_child | BS_PUSHBUTTON | WS_TABSTOP, 0},
    /* 8 */ {1021, "Static", 0x82, "Note: some output formats will produce an error message.", 4, 72, 181, 8,
             visible_child | SS_LEFT | WS_GROUP, 0},
    /* 9 */ {1018, "Static", 0x82, "Output file mode:", 12, 98, 54, 8, visible_child | SS_LEFT | WS_GROUP, 0},
    /* 10 */ {1019, "ComboBox", 0x85, "", 68, 96, 112, 80, visible_child | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0},
    /* 11 */ {0xFFFFFFFF, "Button", 0x80, "Single-file mode", 188, 2, 148, 68, visible_child | BS_GROUPBOX, 0},
    /* 12 */ {1010, "Button", 0x80, "Enable", 200, 15, 38, 10, visible_child | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
    /* 13 */ {1015, "Static", 0x82, "File:", 196, 31, 14, 8, visible_child | SS_LEFT | WS_GROUP, 0},
    /* 14 */ {1011, "Edit", 0x81, "", 211, 28, 104, 12,
              visible_child | WS_BORDER | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP, 0},
    /* 15 */ {1012, "Button", 0x80, "...", 315, 28, 13, 13, visible_child | BS_PUSHBUTTON | WS_TABSTOP, 0},
    /* 16 */ {1016, "Static", 0x82, "Format:", 196, 50, 24, 8, visible_child | SS_LEFT | WS_GROUP, 0},
    /* 17 */ {1013, "Button", 0x80, "", 220, 48, 108, 13, visible_child | BS_PUSHBUTTON | WS_TABSTOP, 0},
    /* 18 */ {1020, "Button", 0x80, "Override thread priority (hack)", 212, 76, 109, 10,
              visible_child | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
    /* 19 */ {1022, "Button", 0x80, "File options...", 196, 98, 52, 14, visible_child | BS_PUSHBUTTON | WS_TABSTOP,
              0},
};
constexpr size_t expected_control_count = sizeof expected_controls / sizeof expected_controls[0];

// The controls that single-file mode enables; the rest of the table is per-track.
static const uint32_t single_file_controls[] = {1015, 1011, 1012, 1016, 1013};
static const uint32_t per_track_controls[] = {1014, 1000, 1001, 1005, 1021, 1002, 1018, 1019};
static const uint32_t always_enabled_controls[] = {1, 2, 0xFFFFFFFF, 1010, 1020, 1022};

// The file options dialog, template 102, opened by "File options...".
static const expected_control expected_file_options_controls[] = {
    /* 1 */ {1030, "Static", 0x82, "File name pattern:", 8, 9, 62, 8, visible_child | SS_LEFT | WS_GROUP, 0},
    /* 2 */ {1031, "Edit", 0x81, "", 74, 7, 258, 12, visible_child | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 0},
    /* 3 */ {1032, "Static", 0x82,
             "%title% the playlist title, %pos% its number in the playlist from 01, %% a percent sign", 74, 22, 258, 8,
             visible_child | SS_LEFT | WS_GROUP, 0},
    /* 4 */ {1033, "Static", 0x82, "When a file exists:", 8, 40, 62, 8, visible_child | SS_LEFT | WS_GROUP, 0},
    /* 5 */ {1034, "ComboBox", 0x85, "", 74, 38, 110, 62,
             visible_child | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0},
    /* 6 */ {1035, "Button", 0x80, "Write title and number into the file", 8, 56, 180, 10,
             visible_child | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
    /* 7 */ {1036, "Button", 0x80, "New file when a stream's title changes", 8, 70, 180, 10,
             visible_child | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
    /* 8 */ {0xFFFFFFFF, "Button", 0x80, "Single file and size", 4, 86, 240, 40, visible_child | BS_GROUPBOX, 0},
    /* 9 */ {1037, "Button", 0x80, "Keep a cue sheet beside the single file", 12, 99, 200, 10,
             visible_child | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
    /* 10 */ {1038, "Button", 0x80, "Let WAV files grow past 4 GiB (RF64)", 12, 112, 200, 10,
              visible_child | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
    /* 11 */ {1, "Button", 0x80, "OK", 252, 112, 40, 14, visible_child | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
    /* 12 */ {2, "Button", 0x80, "Cancel", 296, 112, 40, 14, visible_child | BS_PUSHBUTTON | WS_TABSTOP, 0},
};

// Likewise in the file options dialog, by the main dialog's "Enable" as it stands when it opens.
static const uint32_t single_file_options[] = {1037};
static const uint32_t per_track_options[] = {1030, 1031, 1032, 1033, 1034, 1035, 1036};
static const uint32_t always_enabled_options[] = {0xFFFFFFFF, 1038, 1, 2};

struct expected_dialog {
    uint16_t template_id;
    int16_t cx, cy; // dialog units
    const expected_control *controls;
    size_t control_count;
};

static const expected_dialog expected_dialogs[] = {
    {101, 340, 117, expected_controls, expected_control_count},
    {102, 340, 130, expected_file_options_controls,
     sizeof expected_file_options_controls / sizeof expected_file_options_controls[0]},
};
static const expected_dialog &expected_config_dialog = expected_dialogs[0];
static const expected_dialog &expected_file_options_dialog = expected_dialogs[1];

// Compares a parsed template with one of the tables above, field by field.
inline void expect_template_is(const dialog_template &t, const expected_dialog &d)
{
    SCOPED_TRACE("template " + std::to_string(d.template_id));
    EXPECT_EQ(t.style, expected_dialog_style);
    EXPECT_EQ(t.ex_style, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, d.cx);
    EXPECT_EQ(t.cy, d.cy);
    EXPECT_EQ(t.menu, "");
    EXPECT_EQ(t.window_class, "");
    EXPECT_EQ(t.title, "");
    EXPECT_TRUE(t.has_font);
    EXPECT_EQ(t.point_size, 8);
    EXPECT_EQ(t.typeface, "MS Sans Serif");
    ASSERT_EQ(t.items.size(), d.control_count);
    for (size_t i = 0; i < d.control_count; i++) {
        const expected_control &e = d.controls[i];
        const dialog_item_template &item = t.items[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + " id " + std::to_string(e.id));
        EXPECT_EQ(item.id, e.id);
        EXPECT_EQ(item.class_ordinal, e.class_ordinal);
        EXPECT_EQ(item.class_name, e.class_name);
        EXPECT_EQ(item.title, e.title);
        EXPECT_EQ(item.x, e.x);
        EXPECT_EQ(item.y, e.y);
        EXPECT_EQ(item.cx, e.cx);
        EXPECT_EQ(item.cy, e.cy);
        EXPECT_EQ(item.style, e.style) << std::hex << item.style << " against " << e.style;
        EXPECT_EQ(item.ex_style, e.ex_style);
        EXPECT_TRUE(item.creation_data.empty());
    }
}

#endif
