// The configuration dialog's procedure, the file options dialog it opens, and the working copies
// they share. While the main dialog runs, the values under edit live in its controls and in
// those copies; the file options dialog's OK changes only the copies; the main OK copies
// everything into the settings at once, the main Cancel drops it all. The INI file is written
// only by quit.
#include "config/config_dialog.h"

#include "config/config_dialog_ids.h"
#include "config/format_texts.h"
#include "config/platform_pickers.h"
#include "config/plugin_version.h"
#include "config/settings_store.h"

#include <string.h>

// The working copies of cfg_wfx and cfg_wfx1: each opening takes them from the settings, the
// format choosers change them, OK commits them.
static BYTE dlg_wfx[format_buffer_bytes];
static WAVEFORMATEX dlg_wfx1;
// The working copies of the file options: each opening of the main dialog takes them from the
// settings, the file options dialog's OK changes them, the main OK commits them.
static char dlg_name[text_setting_bytes];
static BYTE dlg_exists, dlg_info, dlg_split, dlg_cue, dlg_rf64;

// The controls that single-file mode greys out or enables, in each of the two dialogs; the
// controls left out are enabled in both modes.
struct enable_row {
    WORD control_id;
    BYTE per_track; // 1: a per-track control, 0: a single-file control
};

constexpr unsigned config_enable_rows = 13;

static const enable_row config_enable_table[config_enable_rows] = {
    {IDC_OUTPUT_DIR_LABEL, 1},
    {IDC_OUTPUT_DIR, 1},
    {IDC_CONVERT, 1},
    {IDC_CODEC_FORMAT, 1},
    {IDC_NOTE, 1},
    {IDC_CODEC_FORMAT_PICK, 1},
    {IDC_FILE_MODE_LABEL, 1},
    {IDC_FILE_MODE, 1},
    {IDC_SINGLE_PATH_LABEL, 0},
    {IDC_SINGLE_PATH, 0},
    {IDC_SINGLE_PATH_PICK, 0},
    {IDC_SINGLE_FORMAT_LABEL, 0},
    {IDC_SINGLE_FORMAT, 0},
};

constexpr unsigned file_options_enable_rows = 8;

// "Let WAV files grow" stays enabled: it concerns the single file and per-track files alike.
static const enable_row file_options_enable_table[file_options_enable_rows] = {
    {IDC_NAME_PATTERN_LABEL, 1},
    {IDC_NAME_PATTERN, 1},
    {IDC_NAME_LEGEND, 1},
    {IDC_EXISTS_LABEL, 1},
    {IDC_EXISTS, 1},
    {IDC_INFO, 1},
    {IDC_SPLIT, 1},
    {IDC_CUE, 0},
};

// Indexed by cfg_mode: file_mode_auto, file_mode_wav, file_mode_raw.
static const char *const mode_texts[file_mode_count] = {"Auto (recommended)", "Force WAV file", "Force raw data"};
static_assert(file_mode_auto == 0 && file_mode_wav == 1 && file_mode_raw == 2, "the texts follow the modes");
static const char config_dialog_title[] = TOLLVANE_VERSION " configuration";
// Indexed by cfg_exists: exists_ask, exists_replace, exists_number, exists_skip.
static const char *const exists_texts[exists_policy_count] = {"Ask", "Replace", "Keep both (numbered)",
                                                              "Skip the track"};
static_assert(exists_ask == 0 && exists_replace == 1 && exists_number == 2 && exists_skip == 3,
              "the texts follow the policies");
static const char file_options_title[] = TOLLVANE_VERSION " file options";

// Enables a table's per-track controls and disables its single-file ones when single_file_state
// is 0, and the reverse when it is 1.
static void enable_controls(HWND dialog, const enable_row *table, unsigned rows, BOOL single_file_state)
{
    BYTE state = single_file_state ? 1 : 0;
    for (unsigned i = 0; i < rows; i++)
        EnableWindow(GetDlgItem(dialog, table[i].control_id), (table[i].per_track ^ state) != 0);
}

static BYTE check_state(HWND dialog, int id)
{
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) != 0 ? 1 : 0;
}

static void set_check_state(HWND dialog, int id, BYTE state)
{
    SendDlgItemMessageA(dialog, id, BM_SETCHECK, state, 0);
}

static void open_dialog(HWND dialog)
{
    char text[format_text_chars];
    SetWindowTextA(dialog, config_dialog_title);
    SetDlgItemTextA(dialog, IDC_OUTPUT_DIR, config_waveoutdir);
    set_check_state(dialog, IDC_CONVERT, cfg_cvt);
    memcpy(dlg_wfx, cfg_wfx, format_buffer_bytes);
    dlg_wfx1 = cfg_wfx1;
    memcpy(dlg_name, cfg_name, text_setting_bytes);
    dlg_exists = cfg_exists;
    dlg_info = cfg_info;
    dlg_split = cfg_split;
    dlg_cue = cfg_cue;
    dlg_rf64 = cfg_rf64;
    set_check_state(dialog, IDC_SINGLE_FILE, cfg_wav1);
    set_check_state(dialog, IDC_THREAD, cfg_thread);
    SetDlgItemTextA(dialog, IDC_SINGLE_PATH, cfg_wav1p);
    describe_codec_format(dlg_wfx, text);
    SetDlgItemTextA(dialog, IDC_CODEC_FORMAT, text);
    describe_pcm_format(&dlg_wfx1, text);
    SetDlgItemTextA(dialog, IDC_SINGLE_FORMAT, text);
    for (unsigned i = 0; i < file_mode_count; i++)
        SendDlgItemMessageA(dialog, IDC_FILE_MODE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(mode_texts[i]));
    // A cfg_mode past the list selects nothing; OK then stores CB_ERR's low byte, 255.
    SendDlgItemMessageA(dialog, IDC_FILE_MODE, CB_SETCURSEL, cfg_mode, 0);
    enable_controls(dialog, config_enable_table, config_enable_rows, cfg_wav1);
}

// Everything under edit, handed to the settings at once. GetDlgItemTextA cuts to the buffer: at
// most 259 characters and the terminator. A combo box with no selection gives CB_ERR, whose low
// byte, 255, is the mode then.
static void commit_settings(HWND dialog)
{
    settings_values values;
    values.cvt = check_state(dialog, IDC_CONVERT);
    GetDlgItemTextA(dialog, IDC_OUTPUT_DIR, values.waveoutdir, text_setting_bytes);
    memcpy(values.wfx, dlg_wfx, format_buffer_bytes);
    values.wfx1 = dlg_wfx1;
    values.wav1 = check_state(dialog, IDC_SINGLE_FILE);
    values.thread = check_state(dialog, IDC_THREAD);
    values.mode = static_cast<BYTE>(SendDlgItemMessageA(dialog, IDC_FILE_MODE, CB_GETCURSEL, 0, 0));
    GetDlgItemTextA(dialog, IDC_SINGLE_PATH, values.wav1p, text_setting_bytes);
    memcpy(values.name, dlg_name, text_setting_bytes);
    values.exists = dlg_exists;
    values.info = dlg_info;
    values.split = dlg_split;
    values.cue = dlg_cue;
    values.rf64 = dlg_rf64;
    settings_commit(&values);
}

// single_file_state is the main dialog's "Enable" as it stands, committed or not: the options
// that apply to the mode being set up are the ones to edit.
static void open_file_options(HWND options, BOOL single_file_state)
{
    SetWindowTextA(options, file_options_title);
    // Typing stops at what the setting holds; the text is also cut when it is read back.
    SendDlgItemMessageA(options, IDC_NAME_PATTERN, EM_LIMITTEXT, text_setting_bytes - 1, 0);
    SetDlgItemTextA(options, IDC_NAME_PATTERN, dlg_name);
    for (unsigned i = 0; i < exists_policy_count; i++)
        SendDlgItemMessageA(options, IDC_EXISTS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(exists_texts[i]));
    SendDlgItemMessageA(options, IDC_EXISTS, CB_SETCURSEL, dlg_exists, 0);
    set_check_state(options, IDC_INFO, dlg_info);
    set_check_state(options, IDC_SPLIT, dlg_split);
    set_check_state(options, IDC_CUE, dlg_cue);
    set_check_state(options, IDC_RF64, dlg_rf64);
    enable_controls(options, file_options_enable_table, file_options_enable_rows, single_file_state);
}

// The file options dialog's OK: its values become the working copies, which only the main OK
// commits; greyed ones come back as they were shown. An emptied pattern is the default one, as
// it is when the INI file gives an empty one; a list left with no selection keeps the policy it
// opened with, so cfg_exists stays within its values.
static void keep_file_options(HWND options)
{
    GetDlgItemTextA(options, IDC_NAME_PATTERN, dlg_name, text_setting_bytes);
    if (!dlg_name[0]) strcpy(dlg_name, default_name_pattern);
    LRESULT chosen = SendDlgItemMessageA(options, IDC_EXISTS, CB_GETCURSEL, 0, 0);
    if (chosen >= 0 && chosen < static_cast<LRESULT>(exists_policy_count)) dlg_exists = static_cast<BYTE>(chosen);
    dlg_info = check_state(options, IDC_INFO);
    dlg_split = check_state(options, IDC_SPLIT);
    dlg_cue = check_state(options, IDC_CUE);
    dlg_rf64 = check_state(options, IDC_RF64);
}

// lparam of WM_INITDIALOG: the single-file state, as run_file_options passes it.
static INT_PTR CALLBACK file_options_proc(HWND options, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_INITDIALOG) {
        open_file_options(options, lparam != 0);
        return 1;
    }
    if (message != WM_COMMAND) return 0;
    switch (wparam) { // clicks only, as in the main dialog
    case IDOK:
        keep_file_options(options);
        EndDialog(options, IDOK);
        break;
    case IDCANCEL:
        EndDialog(options, IDCANCEL);
        break;
    }
    return 0;
}

// Modal over the main dialog, which it disables meanwhile; its template is in the module the
// main dialog was made from.
static void run_file_options(HWND dialog)
{
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_FILE_OPTIONS), dialog, file_options_proc,
                    check_state(dialog, IDC_SINGLE_FILE));
}

INT_PTR CALLBACK config_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_INITDIALOG) {
        open_dialog(dialog);
        return 1;
    }
    if (message != WM_COMMAND) return 0;
    // The whole wParam is compared: only clicks (notification code 0) act, so a change of
    // the combo box's selection, for one, does nothing until OK reads it.
    switch (wparam) {
    case IDOK:
        commit_settings(dialog);
        EndDialog(dialog, 0);
        break;
    case IDCANCEL: // also Escape and the close box
        EndDialog(dialog, 0);
        break;
    case IDC_OUTPUT_DIR:
        browse_for_folder(dialog, reinterpret_cast<HWND>(lparam), "Select output directory");
        break;
    case IDC_CODEC_FORMAT_PICK:
        choose_format(dialog, FALSE, dlg_wfx, &dlg_wfx1);
        break;
    case IDC_SINGLE_FILE: // the check box has toggled itself already
        enable_controls(dialog, config_enable_table, config_enable_rows, check_state(dialog, IDC_SINGLE_FILE));
        break;
    case IDC_SINGLE_PATH_PICK:
        choose_single_file_path(dialog);
        break;
    case IDC_SINGLE_FORMAT:
        choose_format(dialog, TRUE, dlg_wfx, &dlg_wfx1);
        break;
    case IDC_FILE_OPTIONS:
        run_file_options(dialog);
        break;
    }
    return 0;
}
