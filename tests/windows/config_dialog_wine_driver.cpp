// Plays the user of the built DLL's configuration dialog under Wine: the DLL loaded once with a
// host window, the INI file beside the test program, and the real dialog opened through the
// module's config entry and driven from a second thread, with what its controls showed read
// there. gtest's assertions stay on the main thread: the driver only records.
#include "tests/windows/config_dialog_wine_driver.h"

#include "config/settings_store.h"
#include "tools/host_support.h"
#include "tests/test_support.h"

const char section[] = "WAV Writing Output Driver";

HMODULE dll;
out_module *module;
std::string ini;

static std::string exe_ini_path()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p = path;
    return p.substr(0, p.rfind('.')) + ".ini";
}

void load_dll()
{
    if (dll) return;
    dll = LoadLibraryA(TOLLVANE_DLL_PATH);
    ASSERT_NE(dll, nullptr) << TOLLVANE_DLL_PATH;
    auto get = reinterpret_cast<out_module *(*)(void)>(
        reinterpret_cast<void *>(GetProcAddress(dll, "winampGetOutModule")));
    ASSERT_NE(get, nullptr);
    module = get();
    module->main_window = host_create_window();
    module->module_instance = dll;
    ini = exe_ini_path();
}

std::string ini_value(const char *key)
{
    char value[300];
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, ini.c_str());
    return value;
}

std::vector<BYTE> ini_struct(const char *key, UINT bytes)
{
    std::vector<BYTE> value(bytes);
    if (!GetPrivateProfileStructA(section, key, value.data(), bytes, ini.c_str())) value.clear();
    return value;
}

std::string text_of(HWND window)
{
    char text[1024];
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string class_of(HWND window)
{
    char name[64];
    GetClassNameA(window, name, sizeof name);
    return name;
}

namespace {

struct drive_context {
    DWORD main_thread;
    std::function<void(HWND)> drive;
    bool found;
};

DWORD WINAPI driver_thread(LPVOID data)
{
    auto *c = static_cast<drive_context *>(data);
    HWND dialog = wait_for_dialog(c->main_thread, nullptr);
    c->found = dialog != nullptr;
    if (!dialog) return 0;
    c->drive(dialog);
    for (int tries = 0; tries < 100 && IsWindow(dialog); tries++) Sleep(10);
    while (IsWindow(dialog)) { // left open by a failing drive: cancel from the inside out
        HWND inner = find_dialog_of(c->main_thread, dialog);
        PostMessageA(inner ? inner : dialog, WM_COMMAND, IDCANCEL, 0);
        Sleep(100);
    }
    return 0;
}

} // namespace

bool run_config(std::function<void(HWND)> drive)
{
    drive_context c{GetCurrentThreadId(), std::move(drive), false};
    HANDLE thread = CreateThread(nullptr, 0, driver_thread, &c, 0, nullptr);
    module->config(module->main_window);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    return c.found;
}

void click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
LRESULT check_of(HWND dialog, int id) { return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0); }

void start_from_defaults()
{
    DeleteFileA(ini.c_str());
    const char *f = ini.c_str();
    WritePrivateProfileStringA(section, "config_waveoutdir", "c:\\", f);
    for (const char *key : {"cfg_cvt", "cfg_wav1", "cfg_mode", "cfg_thread"}) WritePrivateProfileStringA(section, key, "0", f);
    WritePrivateProfileStringA(section, "cfg_wav1p", "c:\\out.wav", f);
    WritePrivateProfileStringA(section, "cfg_wfx_s", "18", f);
    WritePrivateProfileStructA(section, "cfg_wfx", const_cast<WAVEFORMATEX *>(&default_format), 18, f);
    WritePrivateProfileStructA(section, "cfg_wfx1", const_cast<WAVEFORMATEX *>(&default_format), 18, f);
    module->init();
    DeleteFileA(f);
}

std::string codec_display(const void *format, DWORD bytes)
{
    return acm_tag_name(static_cast<const WAVEFORMATEX *>(format)->wFormatTag) + "\r\n" +
           acm_description(format, bytes);
}

std::vector<control_reading> read_controls(HWND dialog, const expected_dialog &d)
{
    std::vector<control_reading> readings;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        control_reading r;
        r.id = static_cast<uint32_t>(GetWindowLongA(child, GWL_ID));
        r.class_name = class_of(child);
        r.text = text_of(child);
        GetWindowRect(child, &r.rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&r.rect), 2);
        size_t i = readings.size();
        if (r.class_name == "ComboBox" && i < d.control_count) {
            // The template's height includes the drop-down list; the window's is the closed
            // box, and Wine sizes the list from the rest by its own reckoning. The template's
            // height is checked in the template itself: here the list must open below the box.
            RECT dropped;
            SendMessageA(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
            RECT units = {0, 0, d.controls[i].cx, d.controls[i].cy};
            MapDialogRect(dialog, &units);
            LONG list = dropped.bottom - dropped.top;
            if (list > r.rect.bottom - r.rect.top && list <= units.bottom) r.rect.bottom = r.rect.top + units.bottom;
        }
        r.style = GetWindowLongA(child, GWL_STYLE);
        r.ex_style = GetWindowLongA(child, GWL_EXSTYLE);
        r.enabled = IsWindowEnabled(child) != 0;
        if (i < d.control_count) {
            const expected_control &e = d.controls[i];
            // The dialog maps position and size each on its own, as creation does.
            RECT units = {e.x, e.y, e.cx, e.cy};
            MapDialogRect(dialog, &units);
            r.expected_rect = {units.left, units.top, units.left + units.right, units.top + units.bottom};
        }
        readings.push_back(r);
    }
    return readings;
}

static bool rect_equal(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

void expect_controls_are(const std::vector<control_reading> &controls, const expected_dialog &d,
                         const std::function<std::string(uint32_t, const char *)> &shown)
{
    ASSERT_EQ(controls.size(), d.control_count);
    for (size_t i = 0; i < d.control_count; i++) {
        const expected_control &e = d.controls[i];
        const control_reading &r = controls[i];
        SCOPED_TRACE("dialog " + std::to_string(d.template_id) + " control #" + std::to_string(i + 1) + " id " +
                     std::to_string(e.id));
        EXPECT_EQ(r.id, e.id);
        EXPECT_EQ(r.class_name, e.class_name);
        EXPECT_EQ(r.text, shown(e.id, e.title));
        EXPECT_TRUE(rect_equal(r.rect, r.expected_rect))
            << r.rect.left << "," << r.rect.top << "," << r.rect.right << "," << r.rect.bottom << " against "
            << r.expected_rect.left << "," << r.expected_rect.top << "," << r.expected_rect.right << ","
            << r.expected_rect.bottom;
        // The controls rework two styles of the template, as on Windows: a combo box keeps
        // WS_VSCROLL for its list, and an edit draws WS_BORDER as a client edge.
        uint32_t style = e.style, ex_style = e.ex_style;
        if (r.class_name == "ComboBox") style &= ~static_cast<uint32_t>(WS_VSCROLL);
        if (r.class_name == "Edit" && (style & WS_BORDER)) {
            style &= ~static_cast<uint32_t>(WS_BORDER);
            ex_style |= WS_EX_CLIENTEDGE;
        }
        EXPECT_EQ(static_cast<uint32_t>(r.style) & style, style) << std::hex << r.style;
        EXPECT_EQ(static_cast<uint32_t>(r.ex_style) & ex_style, ex_style) << std::hex << r.ex_style;
    }
}

std::string read_whole_ini()
{
    auto bytes = read_file(ini);
    return std::string(bytes.begin(), bytes.end());
}

