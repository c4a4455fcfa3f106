// The user of the configuration dialog's tests, installed into the stand-in: each dialog goes to
// the driver of its kind, each picker to the function a test set.
#include "tests/config_dialog_driver.h"

#include "config/config_dialog_ids.h"
#include "config/settings_store.h"
#include "win32_shim/shim_acm.h"
#include "win32_shim/shim_dialog_control.h"
#include "tests/test_support.h"

std::function<void(HWND)> driver;
std::function<void(HWND)> options_driver;
std::function<MMRESULT(ACMFORMATCHOOSEA *)> chooser;
std::function<BOOL(const BROWSEINFOA *, char *)> browser;
std::function<BOOL(const OPENFILENAMEA *, char *)> save_dialog;

static void run_driver(HWND dialog)
{
    bool options = GetDlgItem(dialog, IDC_NAME_PATTERN) != nullptr;
    if (options && options_driver) options_driver(dialog);
    if (!options && driver) driver(dialog);
}
static MMRESULT run_chooser(ACMFORMATCHOOSEA *choose) { return chooser ? chooser(choose) : ACMERR_CANCELED; }
static BOOL run_browser(HWND, const BROWSEINFOA *browse, char *path) { return browser ? browser(browse, path) : FALSE; }
static BOOL run_save_dialog(const OPENFILENAMEA *save, char *typed, size_t)
{
    return save_dialog ? save_dialog(save, typed) : FALSE;
}

out_module *fresh_dialog_plugin()
{
    out_module *m = fresh_plugin();
    settings_reset(); // the default output directory too, which fresh_plugin points elsewhere
    driver = nullptr;
    options_driver = nullptr;
    chooser = nullptr;
    browser = nullptr;
    save_dialog = nullptr;
    shim_set_dialog_driver(run_driver);
    shim_set_format_chooser(run_chooser);
    shim_set_folder_browser(run_browser);
    shim_set_save_file_dialog(run_save_dialog);
    return m;
}

std::string item_text(HWND dialog, int id)
{
    char text[1024];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

LRESULT send(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam)
{
    return SendDlgItemMessageA(dialog, id, message, wparam, lparam);
}

void click(HWND dialog, int id) { send(dialog, id, BM_CLICK); }

bool enabled(HWND dialog, uint32_t id) { return IsWindowEnabled(GetDlgItem(dialog, static_cast<int>(id))) != 0; }

settings_seen snapshot()
{
    return {config_waveoutdir, cfg_wav1p, cfg_name, cfg_cvt, cfg_wav1, cfg_mode, cfg_thread, cfg_exists, cfg_info,
            cfg_split, cfg_cue, cfg_rf64, std::vector<BYTE>(cfg_wfx, cfg_wfx + format_buffer_bytes),
            std::vector<BYTE>(reinterpret_cast<BYTE *>(&cfg_wfx1), reinterpret_cast<BYTE *>(&cfg_wfx1) + 18)};
}

bool operator==(const settings_seen &a, const settings_seen &b)
{
    return a.dir == b.dir && a.path == b.path && a.name == b.name && a.cvt == b.cvt && a.wav1 == b.wav1 &&
           a.mode == b.mode && a.thread == b.thread && a.exists == b.exists && a.info == b.info &&
           a.split == b.split && a.cue == b.cue && a.rf64 == b.rf64 && a.wfx == b.wfx && a.wfx1 == b.wfx1;
}
