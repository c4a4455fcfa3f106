// The configuration dialog's procedure end to end on the stand-in's dialogs, which are made
// from the plug-in's own compiled templates: what it shows when it opens, the swap of the two
// control groups, what OK commits and Cancel does not, the three pickers' answers, and the
// file options dialog it opens, whose values only the main OK commits.
#include <gtest/gtest.h>

#include <mmreg.h>
#include <msacm.h>
#include <string.h>

#include <functional>
#include <string>

#include "config/config_dialog.h"
#include "config/config_dialog_ids.h"
#include "config/settings_store.h"
#include "tests/config_dialog_expected.h"
#include "win32_shim/shim_acm.h"
#include "win32_shim/shim_control.h"
#include "win32_shim/shim_dialog_control.h"
#include "win32_shim/shim_dialog_template.h"
#include "tests/config_dialog_driver.h"
#include "tests/test_support.h"

namespace {

// The group that the state leaves enabled, and the other one disabled; the rest always on.
template <size_t per_track_count, size_t single_file_count, size_t always_count>
void expect_enabled_as(HWND dialog, bool single_file, const uint32_t (&per_track)[per_track_count],
                       const uint32_t (&single)[single_file_count], const uint32_t (&always)[always_count])
{
    for (uint32_t id : per_track) EXPECT_EQ(enabled(dialog, id), !single_file) << "control " << id;
    for (uint32_t id : single) EXPECT_EQ(enabled(dialog, id), single_file) << "control " << id;
    for (uint32_t id : always) EXPECT_TRUE(enabled(dialog, id)) << "control " << id;
}

void expect_groups(HWND dialog, bool single_file)
{
    expect_enabled_as(dialog, single_file, per_track_controls, single_file_controls, always_enabled_controls);
}

void expect_option_groups(HWND options, bool single_file)
{
    expect_enabled_as(options, single_file, per_track_options, single_file_options, always_enabled_options);
}

// IMA ADPCM, 44100 Hz stereo, as the codec enumerates it (cbSize 2: samples per block).
const BYTE ima_format[20] = {0x11, 0, 2, 0, 0x44, 0xAC, 0, 0, 0xDB, 0xAC, 0, 0, 0, 8, 4, 0, 2, 0, 0xF9, 7};
const WAVEFORMATEX pcm_22050_mono_8 = {WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 0};

// Answers a chooser as Wine's does: the record written, the record's own texts garbage.
MMRESULT choose_like_wine(ACMFORMATCHOOSEA *choose, const void *format, DWORD bytes)
{
    memcpy(choose->pwfx, format, bytes); // may exceed cbwfx, as Wine's chooser does
    memset(choose->szFormatTag, '?', sizeof choose->szFormatTag - 1);
    memset(choose->szFormat, '?', sizeof choose->szFormat - 1);
    return MMSYSERR_NOERROR;
}

// The six file options as the file options dialog shows them, or as they were committed.
struct option_values {
    std::string pattern;
    LRESULT exists, info, split, cue, rf64;
};

bool operator==(const option_values &a, const option_values &b)
{
    return a.pattern == b.pattern && a.exists == b.exists && a.info == b.info && a.split == b.split &&
           a.cue == b.cue && a.rf64 == b.rf64;
}

std::ostream &operator<<(std::ostream &out, const option_values &v)
{
    return out << "{\"" << v.pattern << "\", " << v.exists << ", " << v.info << ", " << v.split << ", " << v.cue
               << ", " << v.rf64 << "}";
}

option_values options_shown(HWND options)
{
    return {item_text(options, IDC_NAME_PATTERN), send(options, IDC_EXISTS, CB_GETCURSEL),
            send(options, IDC_INFO, BM_GETCHECK),  send(options, IDC_SPLIT, BM_GETCHECK),
            send(options, IDC_CUE, BM_GETCHECK),   send(options, IDC_RF64, BM_GETCHECK)};
}

option_values options_committed() { return {cfg_name, cfg_exists, cfg_info, cfg_split, cfg_cue, cfg_rf64}; }

// Sets the file options dialog's controls as a user would; a negative policy clears the list's
// selection, and each check box is clicked when its state differs. The stand-in lets a click
// through to a greyed box: what the values go through is checked here, the greying on its own.
void set_options(HWND options, const option_values &v)
{
    SetDlgItemTextA(options, IDC_NAME_PATTERN, v.pattern.c_str());
    send(options, IDC_EXISTS, CB_SETCURSEL, static_cast<WPARAM>(v.exists));
    const std::pair<int, LRESULT> boxes[] = {{IDC_INFO, v.info}, {IDC_SPLIT, v.split}, {IDC_CUE, v.cue},
                                             {IDC_RF64, v.rf64}};
    for (const auto &box : boxes)
        if (send(options, box.first, BM_GETCHECK) != box.second) click(options, box.first);
}

} // namespace

TEST(config_dialog, embedded_templates_are_the_control_tables)
{
    size_t res_size;
    const uint8_t *res = shim_plugin_resources(&res_size);
    for (const expected_dialog &d : expected_dialogs) {
        const uint8_t *data;
        size_t size;
        uint16_t language;
        ASSERT_TRUE(find_res_resource(res, res_size, 5, d.template_id, &data, &size, &language)) << d.template_id;
        EXPECT_EQ(language, expected_language);
        dialog_template t;
        ASSERT_TRUE(parse_dialog_template(data, size, &t));
        expect_template_is(t, d);
        // A template cut short anywhere is refused, not read past its end.
        for (size_t cut = 0; cut < size; cut += 7) EXPECT_FALSE(parse_dialog_template(data, cut, &t)) << cut;
    }
}

TEST(config_dialog, opens_on_the_default_settings)
{
    out_module *m = fresh_dialog_plugin();
    bool ran = false;
    driver = [&](HWND dialog) {
        ran = true;
        char title[64];
        GetWindowTextA(dialog, title, sizeof title);
        EXPECT_STREQ(title, "Tollvane v1.4 configuration");
        EXPECT_EQ(item_text(dialog, IDC_OUTPUT_DIR), "c:\\");
        EXPECT_EQ(item_text(dialog, IDC_SINGLE_PATH), "c:\\out.wav");
        for (int id : {IDC_CONVERT, IDC_SINGLE_FILE, IDC_THREAD}) EXPECT_EQ(send(dialog, id, BM_GETCHECK), BST_UNCHECKED);
        ASSERT_EQ(send(dialog, IDC_FILE_MODE, CB_GETCOUNT), 3);
        const char *modes[] = {"Auto (recommended)", "Force WAV file", "Force raw data"};
        for (int i = 0; i < 3; i++) {
            char text[64];
            send(dialog, IDC_FILE_MODE, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            EXPECT_STREQ(text, modes[i]);
        }
        EXPECT_EQ(send(dialog, IDC_FILE_MODE, CB_GETCURSEL), 0);
        EXPECT_EQ(item_text(dialog, IDC_FILE_MODE), "Auto (recommended)");
        std::string pcm = acm_description(&default_format, 18);
        EXPECT_EQ(pcm, "44100 Hz; 16 bits; Stereo");
        EXPECT_EQ(item_text(dialog, IDC_CODEC_FORMAT), acm_tag_name(WAVE_FORMAT_PCM) + "\r\n" + pcm);
        EXPECT_EQ(item_text(dialog, IDC_SINGLE_FORMAT), pcm);
        expect_groups(dialog, false);
        click(dialog, IDCANCEL);
    };
    m->config(m->main_window);
    EXPECT_TRUE(ran);
}

TEST(config_dialog, enable_swaps_the_groups_at_once)
{
    out_module *m = fresh_dialog_plugin();
    cfg_wav1 = 1;
    driver = [&](HWND dialog) {
        EXPECT_EQ(send(dialog, IDC_SINGLE_FILE, BM_GETCHECK), BST_CHECKED);
        expect_groups(dialog, true);
        click(dialog, IDC_SINGLE_FILE);
        EXPECT_EQ(send(dialog, IDC_SINGLE_FILE, BM_GETCHECK), BST_UNCHECKED);
        expect_groups(dialog, false);
        click(dialog, IDC_SINGLE_FILE);
        expect_groups(dialog, true);
        click(dialog, IDC_CONVERT); // the other check boxes only toggle
        click(dialog, IDC_THREAD);
        expect_groups(dialog, true);
        click(dialog, IDCANCEL);
    };
    m->config(m->main_window);
    EXPECT_EQ(cfg_wav1, 1);
    EXPECT_EQ(cfg_cvt, 0);
    EXPECT_EQ(cfg_thread, 0);
}

// One run that changes every setting through its control, ended by OK or by Cancel.
static void change_everything(HWND dialog, int end_with)
{
    click(dialog, IDC_CONVERT);
    click(dialog, IDC_SINGLE_FILE);
    click(dialog, IDC_THREAD);
    send(dialog, IDC_FILE_MODE, CB_SETCURSEL, 2);
    browser = [](const BROWSEINFOA *, char *path) {
        strcpy(path, "D:\\Music\\Out");
        return TRUE;
    };
    click(dialog, IDC_OUTPUT_DIR);
    save_dialog = [](const OPENFILENAMEA *, char *typed) {
        strcpy(typed, "D:\\all"); // no extension typed: the dialog adds "wav"
        return TRUE;
    };
    click(dialog, IDC_SINGLE_PATH_PICK);
    chooser = [](ACMFORMATCHOOSEA *choose) { return choose_like_wine(choose, ima_format, sizeof ima_format); };
    click(dialog, IDC_CODEC_FORMAT_PICK);
    chooser = [](ACMFORMATCHOOSEA *choose) { return choose_like_wine(choose, &pcm_22050_mono_8, 18); };
    click(dialog, IDC_SINGLE_FORMAT);
    EXPECT_EQ(item_text(dialog, IDC_OUTPUT_DIR), "D:\\Music\\Out");
    EXPECT_EQ(item_text(dialog, IDC_SINGLE_PATH), "D:\\all.wav");
    click(dialog, end_with);
}

TEST(config_dialog, ok_commits_every_setting_and_writes_no_file)
{
    out_module *m = fresh_dialog_plugin();
    remove_file("ini_probe.ini");
    snprintf(ini_path, sizeof ini_path, "ini_probe.ini");
    driver = [](HWND dialog) { change_everything(dialog, IDOK); };
    m->config(m->main_window);
    EXPECT_EQ(cfg_cvt, 1);
    EXPECT_STREQ(config_waveoutdir, "D:\\Music\\Out");
    EXPECT_EQ(0, memcmp(cfg_wfx, ima_format, sizeof ima_format));
    EXPECT_EQ(0, memcmp(&cfg_wfx1, &pcm_22050_mono_8, 18));
    EXPECT_EQ(cfg_wav1, 1);
    EXPECT_EQ(cfg_thread, 1);
    EXPECT_EQ(cfg_mode, 2);
    EXPECT_STREQ(cfg_wav1p, "D:\\all.wav");
    EXPECT_FALSE(file_exists("ini_probe.ini")); // the settings reach the file at quit only
    EXPECT_EQ(shim_shell_items_outstanding(), 0);
}

TEST(config_dialog, cancel_commits_nothing_and_the_next_opening_shows_the_settings)
{
    out_module *m = fresh_dialog_plugin();
    settings_seen before = snapshot();
    driver = [](HWND dialog) { change_everything(dialog, IDCANCEL); };
    m->config(m->main_window);
    EXPECT_TRUE(snapshot() == before);
    // The working copies were changed by the chooser; the next opening starts from the settings.
    std::string shown;
    driver = [&](HWND dialog) {
        shown = item_text(dialog, IDC_CODEC_FORMAT);
        click(dialog, IDOK);
    };
    m->config(m->main_window);
    EXPECT_EQ(shown, acm_tag_name(WAVE_FORMAT_PCM) + "\r\n" + acm_description(&default_format, 18));
    EXPECT_TRUE(snapshot() == before);
}

TEST(config_dialog, chosen_formats_are_described_from_the_chosen_records)
{
    out_module *m = fresh_dialog_plugin();
    driver = [](HWND dialog) {
        chooser = [dialog](ACMFORMATCHOOSEA *choose) {
            EXPECT_EQ(choose->fdwStyle, DWORD(ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT));
            EXPECT_EQ(choose->cbwfx, 2066u);
            EXPECT_EQ(choose->fdwEnum, 0u);
            EXPECT_EQ(choose->hwndOwner, dialog);
            return choose_like_wine(choose, ima_format, sizeof ima_format);
        };
        click(dialog, IDC_CODEC_FORMAT_PICK);
        EXPECT_EQ(item_text(dialog, IDC_CODEC_FORMAT),
                  "IMA ADPCM\r\n" + acm_description(reinterpret_cast<const WAVEFORMATEX *>(ima_format), 20));

        std::string single_before = item_text(dialog, IDC_SINGLE_FORMAT);
        chooser = [](ACMFORMATCHOOSEA *choose) {
            EXPECT_EQ(choose->cbwfx, 18u);
            EXPECT_EQ(choose->fdwEnum, DWORD(ACM_FORMATENUMF_WFORMATTAG));
            EXPECT_EQ(choose->pwfxEnum->wFormatTag, WAVE_FORMAT_PCM);
            // Wine offers every tag here and writes the whole 20-byte record.
            return choose_like_wine(choose, ima_format, sizeof ima_format);
        };
        click(dialog, IDC_SINGLE_FORMAT);
        EXPECT_EQ(item_text(dialog, IDC_SINGLE_FORMAT), single_before);

        // The choosers open on the working copies: the codec chosen above, and the single-file
        // format as it was, the codec choice for it discarded. Cancel keeps both.
        chooser = [](ACMFORMATCHOOSEA *choose) {
            if (choose->cbwfx == 2066) EXPECT_EQ(0, memcmp(choose->pwfx, ima_format, sizeof ima_format));
            else EXPECT_EQ(0, memcmp(choose->pwfx, &default_format, 18));
            return MMRESULT(ACMERR_CANCELED);
        };
        click(dialog, IDC_CODEC_FORMAT_PICK);
        click(dialog, IDC_SINGLE_FORMAT);

        chooser = [](ACMFORMATCHOOSEA *choose) { return choose_like_wine(choose, &pcm_22050_mono_8, 18); };
        click(dialog, IDC_SINGLE_FORMAT);
        EXPECT_EQ(item_text(dialog, IDC_SINGLE_FORMAT), acm_description(&pcm_22050_mono_8, 18));
        click(dialog, IDOK);
    };
    m->config(m->main_window);
    EXPECT_EQ(0, memcmp(cfg_wfx, ima_format, sizeof ima_format));
    EXPECT_EQ(0, memcmp(&cfg_wfx1, &pcm_22050_mono_8, 18));
}

// Opened on settings of its own, the file options dialog shows them in its controls, over a
// main dialog that takes no input meanwhile; its OK hands its values to the main dialog, which
// commits them on OK only. Each row is one run: how the file options dialog ends, then the main.
TEST(config_dialog, file_options_show_the_settings_and_only_the_main_ok_commits_them)
{
    const option_values opened = {" %pos% - %title% ", exists_number, 1, 0, 1, 0};
    const option_values changed = {"%title% [%pos%]", exists_skip, 0, 1, 0, 1};
    struct row {
        int options_end, main_end;
        bool committed;
    } rows[] = {
        /* 0 */ {IDOK, IDOK, true},
        /* 1 */ {IDOK, IDCANCEL, false},
        /* 2 */ {IDCANCEL, IDOK, false},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        SCOPED_TRACE("row #" + std::to_string(i));
        out_module *m = fresh_dialog_plugin();
        strcpy(cfg_name, opened.pattern.c_str());
        cfg_exists = exists_number;
        cfg_info = 1;
        cfg_cue = 1;
        settings_seen before = snapshot();
        HWND main_dialog = nullptr;
        bool options_ran = false;
        options_driver = [&](HWND options) {
            options_ran = true;
            char title[64];
            GetWindowTextA(options, title, sizeof title);
            EXPECT_STREQ(title, "Tollvane v1.4 file options");
            EXPECT_FALSE(IsWindowEnabled(main_dialog)); // modal over the main dialog
            EXPECT_EQ(options_shown(options), opened);
            EXPECT_EQ(send(options, IDC_NAME_PATTERN, EM_GETLIMITTEXT), 259);
            ASSERT_EQ(send(options, IDC_EXISTS, CB_GETCOUNT), 4);
            const char *policies[] = {"Ask", "Replace", "Keep both (numbered)", "Skip the track"};
            for (int p = 0; p < 4; p++) {
                char text[64];
                send(options, IDC_EXISTS, CB_GETLBTEXT, p, reinterpret_cast<LPARAM>(text));
                EXPECT_STREQ(text, policies[p]);
            }
            set_options(options, changed);
            click(options, rows[i].options_end);
        };
        driver = [&](HWND dialog) {
            main_dialog = dialog;
            click(dialog, IDC_FILE_OPTIONS);
            EXPECT_TRUE(IsWindowEnabled(dialog));
            click(dialog, rows[i].main_end);
        };
        m->config(m->main_window);
        EXPECT_TRUE(options_ran);
        if (rows[i].committed) {
            EXPECT_EQ(options_committed(), changed);
            strcpy(cfg_name, opened.pattern.c_str()); // the rest as it was
            cfg_exists = exists_number;
            cfg_info = 1;
            cfg_split = 0;
            cfg_cue = 1;
            cfg_rf64 = 0;
        }
        EXPECT_TRUE(snapshot() == before);
    }
}

// The file options dialog greys out the options of the mode that the main dialog's "Enable"
// shows when it opens, whatever the settings hold; the button that opens it is never greyed.
// Each row: the committed mode, and whether "Enable" is clicked before the opening.
TEST(config_dialog, file_options_grey_out_by_the_enable_box_as_it_stands)
{
    struct row {
        BYTE wav1;
        bool toggled;
    } rows[] = {
        /* 0 */ {0, false},
        /* 1 */ {1, false},
        /* 2 */ {0, true},
        /* 3 */ {1, true},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        SCOPED_TRACE("row #" + std::to_string(i));
        out_module *m = fresh_dialog_plugin();
        cfg_wav1 = rows[i].wav1;
        bool single_file = (rows[i].wav1 != 0) != rows[i].toggled;
        bool options_ran = false;
        options_driver = [&](HWND options) {
            options_ran = true;
            expect_option_groups(options, single_file);
        };
        driver = [&](HWND dialog) {
            if (rows[i].toggled) click(dialog, IDC_SINGLE_FILE);
            expect_groups(dialog, single_file);
            click(dialog, IDC_FILE_OPTIONS);
            click(dialog, IDCANCEL);
        };
        m->config(m->main_window);
        EXPECT_TRUE(options_ran);
    }
}

// Each opening of the file options dialog shows the working copies: what its last OK left, not
// what a later Cancel dropped. Each row is one OK of that dialog, what it is given and what that
// OK makes of it: the pattern cut to the setting, an emptied pattern as the default one, a list
// with no selection keeping the policy it opened with, spaces kept as typed.
TEST(config_dialog, file_options_open_on_the_working_copies_their_cancel_keeps)
{
    out_module *m = fresh_dialog_plugin();
    struct row {
        option_values given, kept;
    } rows[] = {
        /* 0 */ {{std::string(300, 'x'), exists_replace, 1, 1, 1, 1},
                 {std::string(259, 'x'), exists_replace, 1, 1, 1, 1}},
        /* 1 */ {{"", -1, 0, 1, 0, 1}, {"%title%", exists_replace, 0, 1, 0, 1}},
        /* 2 */ {{"  %pos%%%  ", exists_ask, 1, 0, 1, 0}, {"  %pos%%%  ", exists_ask, 1, 0, 1, 0}},
    };
    constexpr size_t row_count = sizeof rows / sizeof rows[0];
    std::vector<option_values> shown;
    const option_values dropped = {"dropped", exists_skip, 0, 0, 0, 0};
    // Openings 0, 2, 4: an OK with the row's values; 1, 3, 5: other values, cancelled; 6 only looks.
    options_driver = [&](HWND options) {
        size_t opening = shown.size();
        shown.push_back(options_shown(options));
        if (opening == 2 * row_count) return; // left open: ended as Escape ends it
        set_options(options, opening % 2 == 0 ? rows[opening / 2].given : dropped);
        click(options, opening % 2 == 0 ? IDOK : IDCANCEL);
    };
    driver = [&](HWND dialog) {
        for (size_t i = 0; i <= 2 * row_count; i++) click(dialog, IDC_FILE_OPTIONS);
        click(dialog, IDOK);
    };
    m->config(m->main_window);
    const option_values defaults = {"%title%", exists_ask, 0, 0, 0, 0};
    ASSERT_EQ(shown.size(), 2 * row_count + 1);
    EXPECT_EQ(shown[0], defaults);
    for (size_t i = 0; i < row_count; i++) {
        SCOPED_TRACE("row #" + std::to_string(i));
        EXPECT_EQ(shown[2 * i + 1], rows[i].kept); // after the row's OK
        EXPECT_EQ(shown[2 * i + 2], rows[i].kept); // after the Cancel that followed it
    }
    EXPECT_EQ(options_committed(), rows[2].kept);
}

TEST(config_dialog, mode_outside_the_list_opens_unselected_and_ok_stores_255)
{
    out_module *m = fresh_dialog_plugin();
    cfg_mode = 7;
    driver = [](HWND dialog) {
        EXPECT_EQ(send(dialog, IDC_FILE_MODE, CB_GETCURSEL), CB_ERR);
        EXPECT_EQ(item_text(dialog, IDC_FILE_MODE), "");
        click(dialog, IDOK);
    };
    m->config(m->main_window);
    EXPECT_EQ(cfg_mode, 255);
}

// What the folder browser's callback sends reaches the installed window procedure natively.
static std::string selection_sent;
static LRESULT record_selection(HWND, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == BFFM_SETSELECTIONA && wparam == TRUE) selection_sent = reinterpret_cast<const char *>(lparam);
    return 0;
}

TEST(config_dialog, folder_browser_opens_on_the_shown_directory_and_cancel_keeps_it)
{
    out_module *m = fresh_dialog_plugin();
    strcpy(config_waveoutdir, "E:\\Rips");
    selection_sent.clear();
    shim_set_window_proc(record_selection);
    driver = [](HWND dialog) {
        browser = [](const BROWSEINFOA *browse, char *) {
            EXPECT_STREQ(browse->lpszTitle, "Select output directory");
            EXPECT_EQ(browse->ulFlags, UINT(BIF_RETURNONLYFSDIRS));
            EXPECT_EQ(browse->pidlRoot, nullptr);
            return FALSE;
        };
        click(dialog, IDC_OUTPUT_DIR);
        EXPECT_EQ(item_text(dialog, IDC_OUTPUT_DIR), "E:\\Rips");
        save_dialog = [](const OPENFILENAMEA *save, char *typed) {
            EXPECT_STREQ(typed, "c:\\out.wav");
            EXPECT_EQ(save->Flags, DWORD(OFN_PATHMUSTEXIST | OFN_HIDEREADONLY));
            EXPECT_EQ(0, memcmp(save->lpstrFilter, "WAV files\0*.wav\0\0", 17));
            EXPECT_STREQ(save->lpstrDefExt, "wav");
            EXPECT_EQ(save->nMaxFile, 260u);
            return FALSE;
        };
        click(dialog, IDC_SINGLE_PATH_PICK);
        EXPECT_EQ(item_text(dialog, IDC_SINGLE_PATH), "c:\\out.wav");
        click(dialog, IDOK);
    };
    m->config(m->main_window);
    host_create_window(); // the host's procedure again in place of the recorder
    EXPECT_EQ(selection_sent, "E:\\Rips");
    EXPECT_STREQ(config_waveoutdir, "E:\\Rips");
}
