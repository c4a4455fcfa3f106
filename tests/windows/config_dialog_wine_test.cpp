// The configuration dialog of the built DLL under Wine: the templates read out of the DLL, and
// the real dialog opened through the module's config entry and driven from a second thread as
// a user would (clicks, selections, the ACM format chooser, the file options dialog over it),
// with the INI file that the next quit writes read back. gtest's assertions stay on the main thread:
// the driver only records.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "config/config_dialog_ids.h"
#include "config/settings_store.h"
#include "tests/config_dialog_expected.h"
#include "win32_shim/shim_dialog_template.h"
#include "tests/test_support.h"
#include "tests/windows/config_dialog_wine_driver.h"

namespace {

const char dialog_title[] = "Tollvane v1.4 configuration";

// A hand-written INI with no default left: every control must show something of its own.
// cfg_wfx: IMA ADPCM 44100 Hz stereo; cfg_wfx1: PCM 22050 Hz mono 8 bits.
const BYTE ima_format[20] = {0x11, 0, 2, 0, 0x44, 0xAC, 0, 0, 0xDB, 0xAC, 0, 0, 0, 8, 4, 0, 2, 0, 0xF9, 7};
const WAVEFORMATEX pcm_22050_mono_8 = {WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 0};

void write_non_default_ini()
{
    DeleteFileA(ini.c_str());
    const char *f = ini.c_str();
    WritePrivateProfileStringA(section, "config_waveoutdir", "C:\\rips", f);
    WritePrivateProfileStringA(section, "cfg_cvt", "1", f);
    WritePrivateProfileStringA(section, "cfg_wav1", "1", f);
    WritePrivateProfileStringA(section, "cfg_wav1p", "C:\\all tracks.wav", f);
    WritePrivateProfileStringA(section, "cfg_mode", "2", f);
    WritePrivateProfileStringA(section, "cfg_thread", "1", f);
    WritePrivateProfileStringA(section, "cfg_wfx_s", "20", f);
    WritePrivateProfileStructA(section, "cfg_wfx", const_cast<BYTE *>(ima_format), 20, f);
    WritePrivateProfileStructA(section, "cfg_wfx1", const_cast<WAVEFORMATEX *>(&pcm_22050_mono_8), 18, f);
}

// Opens the file options dialog over the main one as a click on "File options..." does; null
// when none came.
HWND open_options(HWND dialog)
{
    PostMessageA(GetDlgItem(dialog, IDC_FILE_OPTIONS), BM_CLICK, 0, 0); // it runs inside the click
    return wait_for_dialog(GetWindowThreadProcessId(dialog, nullptr), dialog);
}

// What the file options dialog showed, and whether the main dialog under it took input meanwhile.
struct options_reading {
    bool opened = false;
    std::string title, pattern;
    LRESULT limit = -2, policy = -2, info = -2, split = -2, cue = -2, rf64 = -2;
    std::vector<std::string> policies;
    bool main_enabled = true;
    std::vector<control_reading> controls;
};

options_reading read_options(HWND options, HWND dialog)
{
    options_reading r;
    r.opened = true;
    r.title = text_of(options);
    r.pattern = text_of(GetDlgItem(options, IDC_NAME_PATTERN));
    r.limit = SendDlgItemMessageA(options, IDC_NAME_PATTERN, EM_GETLIMITTEXT, 0, 0);
    r.policy = SendDlgItemMessageA(options, IDC_EXISTS, CB_GETCURSEL, 0, 0);
    LRESULT count = SendDlgItemMessageA(options, IDC_EXISTS, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++) {
        char text[64] = "";
        SendDlgItemMessageA(options, IDC_EXISTS, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        r.policies.push_back(text);
    }
    r.info = check_of(options, IDC_INFO);
    r.split = check_of(options, IDC_SPLIT);
    r.cue = check_of(options, IDC_CUE);
    r.rf64 = check_of(options, IDC_RF64);
    r.main_enabled = IsWindowEnabled(dialog) != 0;
    r.controls = read_controls(options, expected_file_options_dialog);
    return r;
}

// What a user sets in the file options dialog before ending it.
struct option_choice {
    std::string pattern;
    int policy;
    LRESULT info, split, cue, rf64;
};

// Types the pattern, picks the policy from the list, clicks each check box whose state differs
// and ends the file options dialog with `end`, as a user would. The runs click no greyed box.
void fill_options(HWND options, const option_choice &c, int end)
{
    SetDlgItemTextA(options, IDC_NAME_PATTERN, c.pattern.c_str());
    HWND list = GetDlgItem(options, IDC_EXISTS);
    SendMessageA(list, CB_SETCURSEL, c.policy, 0);
    SendMessageA(options, WM_COMMAND, MAKEWPARAM(IDC_EXISTS, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    const std::pair<int, LRESULT> boxes[] = {{IDC_INFO, c.info}, {IDC_SPLIT, c.split}, {IDC_CUE, c.cue},
                                             {IDC_RF64, c.rf64}};
    for (const auto &box : boxes)
        if (check_of(options, box.first) != box.second) click(options, box.first);
    HWND button = GetDlgItem(options, end);
    PostMessageA(button, BM_CLICK, 0, 0);
    wait_gone(options);
}

template <size_t count> bool listed(const uint32_t (&ids)[count], uint32_t id)
{
    return std::find(ids, ids + count, id) != ids + count;
}

// The file options dialog opened in one mode: the other mode's options greyed, the rest not.
void expect_options_enabled(const options_reading &r, bool single_file)
{
    ASSERT_EQ(r.controls.size(), expected_file_options_dialog.control_count);
    for (const control_reading &c : r.controls) {
        bool expected = listed(per_track_options, c.id)     ? !single_file
                        : listed(single_file_options, c.id) ? single_file
                                                            : listed(always_enabled_options, c.id);
        EXPECT_EQ(c.enabled, expected) << "control " << c.id;
    }
}

} // namespace

TEST(config_dialog_dll, templates_in_the_dll_are_the_control_tables)
{
    load_dll();
    for (const expected_dialog &d : expected_dialogs) {
        HRSRC found = FindResourceExA(dll, RT_DIALOG, MAKEINTRESOURCEA(d.template_id),
                                      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        ASSERT_NE(found, nullptr) << d.template_id;
        const uint8_t *data = static_cast<const uint8_t *>(LockResource(LoadResource(dll, found)));
        dialog_template t;
        ASSERT_TRUE(parse_dialog_template(data, SizeofResource(dll, found), &t));
        expect_template_is(t, d);
    }
}

TEST(config_dialog_dll, controls_are_the_template_and_show_the_settings)
{
    load_dll();
    write_non_default_ini();
    module->init();
    std::string ini_before = read_whole_ini();
    std::string title;
    LONG dialog_style = 0;
    std::vector<control_reading> controls;
    std::vector<LRESULT> checks;
    LRESULT selection = -2, count = -2;
    std::vector<bool> enabled_after_click;
    bool found = run_config([&](HWND dialog) {
        title = text_of(dialog);
        dialog_style = GetWindowLongA(dialog, GWL_STYLE);
        controls = read_controls(dialog, expected_config_dialog);
        for (int id : {1001, 1010, 1020}) checks.push_back(check_of(dialog, id));
        selection = SendDlgItemMessageA(dialog, 1019, CB_GETCURSEL, 0, 0);
        count = SendDlgItemMessageA(dialog, 1019, CB_GETCOUNT, 0, 0);
        click(dialog, 1010); // "Enable" off: the groups swap at once
        for (const control_reading &r : controls)
            enabled_after_click.push_back(IsWindowEnabled(GetDlgItem(dialog, static_cast<int>(r.id))) != 0);
        click(dialog, IDCANCEL);
    });
    ASSERT_TRUE(found);
    EXPECT_EQ(title, dialog_title);
    EXPECT_EQ(dialog_style & expected_dialog_style, LONG(expected_dialog_style));
    ASSERT_EQ(controls.size(), expected_control_count);
    // What each control shows: its template caption, or the setting it stands for.
    expect_controls_are(controls, expected_config_dialog, [](uint32_t id, const char *caption) -> std::string {
        switch (id) {
        case 1000: return "C:\\rips";
        case 1005: return codec_display(ima_format, 20);
        case 1011: return "C:\\all tracks.wav";
        case 1013: return acm_description(&pcm_22050_mono_8, 18);
        case 1019: return "Force raw data";
        }
        return caption;
    });
    for (size_t i = 0; i < expected_control_count; i++) {
        const expected_control &e = expected_controls[i];
        const control_reading &r = controls[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + " id " + std::to_string(e.id));
        bool single = std::find(std::begin(single_file_controls), std::end(single_file_controls), e.id) !=
                      std::end(single_file_controls);
        bool per_track = std::find(std::begin(per_track_controls), std::end(per_track_controls), e.id) !=
                         std::end(per_track_controls);
        // Opened in single-file mode, then "Enable" clicked off.
        EXPECT_EQ(r.enabled, !per_track);
        EXPECT_EQ(enabled_after_click[i], !single);
        EXPECT_EQ((r.style & WS_DISABLED) != 0, per_track);
    }
    EXPECT_EQ(checks, (std::vector<LRESULT>{BST_CHECKED, BST_CHECKED, BST_CHECKED}));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(selection, 2);
    // Cancel: quit saves what was loaded, unchanged.
    module->quit();
    EXPECT_EQ(read_whole_ini(), ini_before);
}

TEST(config_dialog_dll, ok_commits_and_the_next_quit_writes_the_ini)
{
    load_dll();
    start_from_defaults();
    bool found = run_config([](HWND dialog) {
        click(dialog, 1001);
        click(dialog, 1010);
        click(dialog, 1020);
        HWND combo = GetDlgItem(dialog, 1019);
        SendMessageA(combo, CB_SETCURSEL, 1, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(1019, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
        click(dialog, IDOK);
    });
    ASSERT_TRUE(found);
    EXPECT_FALSE(file_exists(ini)); // the dialog itself writes no file
    module->quit();
    EXPECT_EQ(ini_value("config_waveoutdir"), "c:\\");
    EXPECT_EQ(ini_value("cfg_cvt"), "1");
    EXPECT_EQ(ini_value("cfg_wav1"), "1");
    EXPECT_EQ(ini_value("cfg_wav1p"), "c:\\out.wav");
    EXPECT_EQ(ini_value("cfg_mode"), "1");
    EXPECT_EQ(ini_value("cfg_thread"), "1");
    EXPECT_EQ(ini_value("cfg_wfx_s"), "18");
    std::vector<BYTE> default_bytes(reinterpret_cast<const BYTE *>(&default_format),
                                    reinterpret_cast<const BYTE *>(&default_format) + 18);
    EXPECT_EQ(ini_struct("cfg_wfx", 18), default_bytes);
    EXPECT_EQ(ini_struct("cfg_wfx1", 18), default_bytes);
}

// Picks a tag by name and the format at an index in Wine's "Sound Selection" box, as a user
// does with its two lists, and confirms or cancels it.
struct chooser_reading {
    bool opened = false;
    std::string tag_shown, format_shown, display_before, display_after;
};

void use_chooser(HWND dialog, int button, const char *tag, int format_index, bool confirm, chooser_reading *out)
{
    int display = button == 1002 ? 1005 : 1013;
    out->display_before = text_of(GetDlgItem(dialog, display));
    PostMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0); // the chooser runs inside the click
    HWND chooser = wait_for_dialog(GetWindowThreadProcessId(dialog, nullptr), dialog);
    if (!chooser) return;
    out->opened = true;
    HWND tags = GetDlgItem(chooser, 101), formats = GetDlgItem(chooser, 102);
    LRESULT n = SendMessageA(tags, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; i++) {
        char name[128];
        SendMessageA(tags, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        if (strcmp(name, tag) != 0) continue;
        SendMessageA(tags, CB_SETCURSEL, i, 0);
        SendMessageA(chooser, WM_COMMAND, MAKEWPARAM(101, CBN_SELCHANGE), reinterpret_cast<LPARAM>(tags));
        break;
    }
    SendMessageA(formats, CB_SETCURSEL, format_index, 0);
    SendMessageA(chooser, WM_COMMAND, MAKEWPARAM(102, CBN_SELCHANGE), reinterpret_cast<LPARAM>(formats));
    out->tag_shown = text_of(tags);
    out->format_shown = text_of(formats);
    PostMessageA(chooser, WM_COMMAND, confirm ? IDOK : IDCANCEL, 0);
    wait_gone(chooser);
    Sleep(50); // the display is set after the chooser returns
    out->display_after = text_of(GetDlgItem(dialog, display));
}

TEST(config_dialog_dll, format_chooser_cancelled_changes_nothing_and_a_choice_is_shown)
{
    load_dll();
    start_from_defaults();
    chooser_reading cancelled, chosen, single_codec, single_pcm;
    bool found = run_config([&](HWND dialog) {
        use_chooser(dialog, 1002, "IMA ADPCM", 0, false, &cancelled);
        use_chooser(dialog, 1002, "IMA ADPCM", 1, true, &chosen);
        // Wine offers every tag to the single-file chooser too, and writes a 20-byte record
        // where 18 were allowed: the choice must come to nothing.
        use_chooser(dialog, 1013, "IMA ADPCM", 0, true, &single_codec);
        use_chooser(dialog, 1013, "PCM", 0, true, &single_pcm);
        click(dialog, IDOK);
    });
    ASSERT_TRUE(found);
    ASSERT_TRUE(cancelled.opened);
    EXPECT_EQ(cancelled.tag_shown, "IMA ADPCM");
    EXPECT_EQ(cancelled.display_before, codec_display(&default_format, 18));
    EXPECT_EQ(cancelled.display_after, cancelled.display_before);
    ASSERT_TRUE(chosen.opened);
    EXPECT_EQ(chosen.tag_shown, "IMA ADPCM");
    module->quit();
    // The choice committed on OK is what the display showed, in the ACM's own words.
    std::vector<BYTE> committed = ini_struct("cfg_wfx", static_cast<UINT>(std::stoul(ini_value("cfg_wfx_s"))));
    ASSERT_GE(committed.size(), 18u);
    EXPECT_EQ(committed[0], 0x11); // IMA ADPCM
    EXPECT_EQ(chosen.display_after, codec_display(committed.data(), static_cast<DWORD>(committed.size())));
    EXPECT_NE(chosen.display_after.find("IMA ADPCM\r\n"), std::string::npos);

    ASSERT_TRUE(single_codec.opened);
    EXPECT_EQ(single_codec.tag_shown, "IMA ADPCM");
    EXPECT_EQ(single_codec.display_before, acm_description(&default_format, 18));
    EXPECT_EQ(single_codec.display_after, single_codec.display_before);
    ASSERT_TRUE(single_pcm.opened);
    std::vector<BYTE> single = ini_struct("cfg_wfx1", 18);
    ASSERT_EQ(single.size(), 18u);
    EXPECT_EQ(single[0], WAVE_FORMAT_PCM);
    EXPECT_EQ(single_pcm.display_after, acm_description(single.data(), 18));
}

// The shell's folder browser opens on the directory the button shows (else it would start on
// the desktop folder), and the save dialog adds the default extension to a typed name.
TEST(config_dialog_dll, shell_pickers_start_from_what_is_shown)
{
    load_dll();
    start_from_defaults();
    std::string folder_after, path_after;
    bool browser_opened = false, save_opened = false;
    bool found = run_config([&](HWND dialog) {
        DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
        PostMessageA(GetDlgItem(dialog, 1000), BM_CLICK, 0, 0);
        if (HWND browser = wait_for_dialog(thread, dialog)) {
            browser_opened = true;
            Sleep(300); // the selection is set once the browser is up
            PostMessageA(browser, WM_COMMAND, IDOK, 0);
            wait_gone(browser);
        }
        Sleep(50);
        folder_after = text_of(GetDlgItem(dialog, 1000));

        PostMessageA(GetDlgItem(dialog, 1012), BM_CLICK, 0, 0);
        if (HWND save = wait_for_dialog(thread, dialog)) {
            save_opened = true;
            HWND name_box = FindWindowExA(GetDlgItem(save, 0x47c), nullptr, nullptr, nullptr);
            HWND name = name_box ? FindWindowExA(name_box, nullptr, "Edit", nullptr) : nullptr;
            SendMessageA(name ? name : GetDlgItem(save, 0x47c), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("C:\\chosen"));
            PostMessageA(save, WM_COMMAND, IDOK, 0);
            wait_gone(save);
        }
        Sleep(50);
        path_after = text_of(GetDlgItem(dialog, 1011));
        click(dialog, IDOK);
    });
    ASSERT_TRUE(found);
    EXPECT_TRUE(browser_opened);
    EXPECT_EQ(folder_after, "C:\\");
    EXPECT_TRUE(save_opened);
    EXPECT_EQ(path_after, "C:\\chosen.wav");
    module->quit();
    EXPECT_EQ(ini_value("config_waveoutdir"), "C:\\");
    EXPECT_EQ(ini_value("cfg_wav1p"), "C:\\chosen.wav");
}

// Loaded from the INI file, the six file options show in the file options dialog, whose
// controls are its template, opened in per-track mode: the cue sheet's box greyed; the main
// dialog under it takes no input. Cancel in both leaves them.
TEST(config_dialog_dll, file_options_are_their_template_and_open_on_the_settings)
{
    load_dll();
    start_from_defaults();
    const char *f = ini.c_str();
    WritePrivateProfileStringA(section, "cfg_name", "\" %pos% - %title% \"", f);
    WritePrivateProfileStringA(section, "cfg_exists", "2", f);
    WritePrivateProfileStringA(section, "cfg_info", "1", f);
    WritePrivateProfileStringA(section, "cfg_cue", "1", f);
    WritePrivateProfileStringA(section, "cfg_rf64", "1", f);
    module->init();
    options_reading shown;
    bool found = run_config([&](HWND dialog) {
        if (HWND options = open_options(dialog)) {
            shown = read_options(options, dialog);
            fill_options(options, {"changed", 3, 0, 1, BST_CHECKED, BST_UNCHECKED}, IDCANCEL);
        }
        click(dialog, IDCANCEL);
    });
    ASSERT_TRUE(found);
    ASSERT_TRUE(shown.opened);
    EXPECT_EQ(shown.title, "Tollvane v1.4 file options");
    EXPECT_FALSE(shown.main_enabled);
    expect_controls_are(shown.controls, expected_file_options_dialog,
                        [](uint32_t id, const char *caption) -> std::string {
                            switch (id) {
                            case IDC_NAME_PATTERN: return " %pos% - %title% ";
                            case IDC_EXISTS: return "Keep both (numbered)";
                            }
                            return caption;
                        });
    expect_options_enabled(shown, false);
    EXPECT_EQ(shown.limit, 259);
    EXPECT_EQ(shown.policies, (std::vector<std::string>{"Ask", "Replace", "Keep both (numbered)", "Skip the track"}));
    EXPECT_EQ(shown.policy, 2);
    EXPECT_EQ(shown.info, BST_CHECKED);
    EXPECT_EQ(shown.split, BST_UNCHECKED);
    EXPECT_EQ(shown.cue, BST_CHECKED);
    EXPECT_EQ(shown.rf64, BST_CHECKED);
    module->quit();
    EXPECT_EQ(ini_value("cfg_name"), " %pos% - %title% ");
    EXPECT_EQ(ini_value("cfg_exists"), "2");
    EXPECT_EQ(ini_value("cfg_info"), "1");
    EXPECT_EQ(ini_value("cfg_split"), "<missing>");
    EXPECT_EQ(ini_value("cfg_cue"), "1");
    EXPECT_EQ(ini_value("cfg_rf64"), "1");
}

// The file options dialog's OK fills what the main dialog's OK commits, and nothing else does.
// Each row is one run from the defaults: the naming options and "Let WAV files grow" set in
// per-track mode; "Enable" clicked and the dialog opened again, now with the cue sheet's box
// to set and the per-track options greyed, though single-file mode is not committed yet; then
// how the main dialog ends, and whether "Enable" is cleared and the dialog opened a third time
// on what the OKs left, with other values dropped by Cancel.
TEST(config_dialog_dll, file_options_ok_fills_what_only_the_main_ok_commits)
{
    load_dll();
    struct row {
        int main_end;
        bool reopen;
        bool committed;
    } rows[] = {
        /* 0 */ {IDOK, false, true},
        /* 1 */ {IDCANCEL, false, false},
        /* 2 */ {IDOK, true, true},
    };
    const std::string typed = "%pos%. " + std::string(300, 'x'); // the setting holds 259 characters
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        SCOPED_TRACE("row #" + std::to_string(i));
        start_from_defaults();
        bool opened = false;
        options_reading single_file, reopened;
        bool found = run_config([&](HWND dialog) {
            HWND options = open_options(dialog);
            opened = options != nullptr;
            if (options) fill_options(options, {typed, 3, 1, 1, BST_UNCHECKED, BST_CHECKED}, IDOK);
            click(dialog, IDC_SINGLE_FILE);
            if (HWND again = open_options(dialog)) {
                single_file = read_options(again, dialog);
                fill_options(again, {typed, 3, 1, 1, BST_CHECKED, BST_CHECKED}, IDOK);
            }
            if (rows[i].reopen) {
                click(dialog, IDC_SINGLE_FILE);
                if (HWND third = open_options(dialog)) {
                    reopened = read_options(third, dialog);
                    fill_options(third, {"dropped", 1, 0, 0, BST_CHECKED, BST_UNCHECKED}, IDCANCEL);
                }
            }
            click(dialog, rows[i].main_end);
        });
        ASSERT_TRUE(found);
        EXPECT_TRUE(opened);
        ASSERT_TRUE(single_file.opened);
        expect_options_enabled(single_file, true);
        EXPECT_EQ(single_file.pattern, typed.substr(0, 259));
        EXPECT_EQ(single_file.cue, BST_UNCHECKED);
        EXPECT_EQ(single_file.rf64, BST_CHECKED);
        if (rows[i].reopen) {
            ASSERT_TRUE(reopened.opened);
            expect_options_enabled(reopened, false);
            EXPECT_EQ(reopened.pattern, typed.substr(0, 259));
            EXPECT_EQ(reopened.policy, 3);
            EXPECT_EQ(reopened.info, BST_CHECKED);
            EXPECT_EQ(reopened.split, BST_CHECKED);
            EXPECT_EQ(reopened.cue, BST_CHECKED); // greyed, and kept as the last OK left it
            EXPECT_EQ(reopened.rf64, BST_CHECKED);
        }
        module->quit();
        if (rows[i].committed) {
            EXPECT_EQ(ini_value("cfg_name"), typed.substr(0, 259));
            EXPECT_EQ(ini_value("cfg_exists"), "3");
            EXPECT_EQ(ini_value("cfg_info"), "1");
            EXPECT_EQ(ini_value("cfg_split"), "1");
            EXPECT_EQ(ini_value("cfg_cue"), "1");
            EXPECT_EQ(ini_value("cfg_rf64"), "1");
            EXPECT_EQ(ini_value("cfg_wav1"), rows[i].reopen ? "" : "1");
        } else {
            for (const char *key : {"cfg_name", "cfg_exists", "cfg_info", "cfg_split", "cfg_cue", "cfg_rf64"})
                EXPECT_EQ(ini_value(key), "<missing>") << key;
            EXPECT_EQ(ini_value("cfg_wav1"), "");
        }
        EXPECT_EQ(ini_value("cfg_cvt"), ""); // the rest as it was: 0 is written empty
    }
}
