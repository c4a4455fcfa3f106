// The configuration dialog's procedure end to end on the stand-in's dialogs, which are made
// from the plug-in's own compiled templates: what it shows when it opens, the swap of the two
// control groups, what OK commits and Cancel does not, the three pickers' answers, and the
// names dialog it opens, whose values only the main OK commits.
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
void expect_groups(HWND dialog, bool single_file)
{
    for (uint32_t id : per_track_controls) EXPECT_EQ(enabled(dialog, id), !single_file) << "control " << id;
    for (uint32_t id : single_file_controls) EXPECT_EQ(enabled(dialog, id), single_file) << "control " << id;
    for (uint32_t id : always_enabled_controls) EXPECT_TRUE(enabled(dialog, id)) << "control " << id;
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

// The four naming options as the names dialog shows them, or as they were committed.
struct names_values {
    std::string pattern;
    LRESULT exists, info, split;
};

bool operator==(const names_values &a, const names_values &b)
{
    return a.pattern == b.pattern && a.exists == b.exists && a.info == b.info && a.split == b.split;
}

std::ostream &operator<<(std::ostream &out, const names_values &v)
{
    return out << "{\"" << v.pattern << "\", " << v.exists << ", " << v.info << ", " << v.split << "}";
}

names_values names_shown(HWND names)
{
    return {item_text(names, IDC_NAME_PATTERN), send(names, IDC_EXISTS, CB_GETCURSEL),
            send(names, IDC_INFO, BM_GETCHECK), send(names, IDC_SPLIT, BM_GETCHECK)};
}

names_values names_committed() { return {cfg_name, cfg_exists, cfg_info, cfg_split}; }

// Sets the names dialog's controls as a user would; a negative policy clears the list's
// selection, and each check box is clicked when its state differs.
void set_names(HWND names, const names_values &v)
{
    SetDlgItemTextA(names, IDC_NAME_PATTERN, v.pattern.c_str());
    send(names, IDC_EXISTS, CB_SETCURSEL, static_cast<WPARAM>(v.exists));
    if (send(names, IDC_INFO, BM_GETCHECK) != v.info) click(names, IDC_INFO);
    if (send(names, IDC_SPLIT, BM_GETCHECK) != v.split) click(names, IDC_SPLIT);
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

// Opened on settings of its own, the names dialog shows them in its controls, over a main
// dialog that takes no input meanwhile; its OK hands its values to the main dialog, which
// commits them on OK only. Each row is one run: how the names dialog ends, then the main one.
TEST(config_dialog, names_dialog_shows_the_settings_and_only_the_main_ok_commits_them)
{
    const names_values opened = {" %pos% - %title% ", exists_number, 1, 0};
    const names_values changed = {"%title% [%pos%]", exists_skip, 0, 1};
    struct row {
        int names_end, main_end;
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
        settings_seen before = snapshot();
        HWND main_dialog = nullptr;
        bool names_ran = false;
        names_driver = [&](HWND names) {
            names_ran = true;
            char title[64];
            GetWindowTextA(names, title, sizeof title);
            EXPECT_STREQ(title, "Tollvane v1.4 file names");
            EXPECT_FALSE(IsWindowEnabled(main_dialog)); // modal over the main dialog
            EXPECT_EQ(names_shown(names), opened);
            EXPECT_EQ(send(names, IDC_NAME_PATTERN, EM_GETLIMITTEXT), 259);
            ASSERT_EQ(send(names, IDC_EXISTS, CB_GETCOUNT), 4);
            const char *policies[] = {"Ask", "Replace", "Keep both (numbered)", "Skip the track"};
            for (int p = 0; p < 4; p++) {
                char text[64];
                send(names, IDC_EXISTS, CB_GETLBTEXT, p, reinterpret_cast<LPARAM>(text));
                EXPECT_STREQ(text, policies[p]);
            }
            set_names(names, changed);
            click(names, rows[i].names_end);
        };
        driver = [&](HWND dialog) {
            main_dialog = dialog;
            click(dialog, IDC_NAMES);
            EXPECT_TRUE(IsWindowEnabled(dialog));
            click(dialog, rows[i].main_end);
        };
        m->config(m->main_window);
        EXPECT_TRUE(names_ran);
        if (rows[i].committed) {
            EXPECT_EQ(names_committed(), changed);
            strcpy(cfg_name, opened.pattern.c_str()); // the rest as it was
            cfg_exists = exists_number;
            cfg_info = 1;
            cfg_split = 0;
        }
        EXPECT_TRUE(snapshot() == before);
    }
}

// Each opening of the names dialog shows the working copies: what its last OK left, not what a
// later Cancel dropped. Each row is one OK of the names dialog, what it is given and what that
// OK makes of it: the pattern cut to the setting, an emptied pattern as the default one, a list
// with no selection keeping the policy it opened with, spaces kept as typed.
TEST(config_dialog, names_dialog_opens_on_the_working_copies_its_cancel_keeps)
{
    out_module *m = fresh_dialog_plugin();
    struct row {
        names_values given, kept;
    } rows[] = {
        /* 0 */ {{std::string(300, 'x'), exists_replace, 1, 1}, {std::string(259, 'x'), exists_replace, 1, 1}},
        /* 1 */ {{"", -1, 0, 1}, {"%title%", exists_replace, 0, 1}},
        /* 2 */ {{"  %pos%%%  ", exists_ask, 1, 0}, {"  %pos%%%  ", exists_ask, 1, 0}},
    };
    constexpr size_t row_count = sizeof rows / sizeof rows[0];
    std::vector<names_values> shown;
    const names_values dropped = {"dropped", exists_skip, 0, 0};
    // Openings 0, 2, 4: an OK with the row's values; 1, 3, 5: other values, cancelled; 6 only looks.
    names_driver = [&](HWND names) {
        size_t opening = shown.size();
        shown.push_back(names_shown(names));
        if (opening == 2 * row_count) return; // left open: ended as Escape ends it
        set_names(names, opening % 2 == 0 ? rows[opening / 2].given : dropped);
        click(names, opening % 2 == 0 ? IDOK : IDCANCEL);
    };
    driver = [&](HWND dialog) {
        for (size_t i = 0; i <= 2 * row_count; i++) click(dialog, IDC_NAMES);
        click(dialog, IDOK);
    };
    m->config(m->main_window);
    const names_values defaults = {"%title%", exists_ask, 0, 0};
    ASSERT_EQ(shown.size(), 2 * row_count + 1);
    EXPECT_EQ(shown[0], defaults);
    for (size_t i = 0; i < row_count; i++) {
        SCOPED_TRACE("row #" + std::to_string(i));
        EXPECT_EQ(shown[2 * i + 1], rows[i].kept); // after the row's OK
        EXPECT_EQ(shown[2 * i + 2], rows[i].kept); // after the Cancel that followed it
    }
    EXPECT_EQ(names_committed(), rows[2].kept);
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
