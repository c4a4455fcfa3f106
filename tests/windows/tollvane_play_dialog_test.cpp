// tollvane-play's --config and --about under Wine, as a user meets them: the program shows
// the plug-in's dialog or About box for real and waits; this test plays the user from outside
// the process, then reads what the program printed and the INI file it saved at the end.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>


namespace fs = std::filesystem;

namespace {

const char section[] = "WAV Writing Output Driver";

// tollvane-play started with its stderr in errors.txt, not waited for.
struct started_program {
    PROCESS_INFORMATION process{};
    bool started = false;
};

started_program start(const std::string &args)
{
    started_program p;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE errors = CreateFileA("errors.txt", GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing;
    startup.hStdOutput = errors;
    startup.hStdError = errors;
    std::string command = "tollvane-play.exe " + args;
    p.started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                               &p.process) != 0;
    CloseHandle(errors);
    CloseHandle(nothing);
    return p;
}

// Waits for the program's end (ended by force after 10 s) and returns its exit status.
DWORD finish(started_program &p)
{
    if (WaitForSingleObject(p.process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(p.process.hProcess, 99);
    WaitForSingleObject(p.process.hProcess, 5000);
    DWORD status = 99;
    GetExitCodeProcess(p.process.hProcess, &status);
    CloseHandle(p.process.hProcess);
    CloseHandle(p.process.hThread);
    return status;
}

std::string printed()
{
    std::ifstream in("errors.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct window_search {
    DWORD process;
    const char *title;
    HWND found;
};

BOOL CALLBACK match_window(HWND window, LPARAM data)
{
    auto *s = reinterpret_cast<window_search *>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char class_name[16], title[64];
    GetClassNameA(window, class_name, sizeof class_name);
    GetWindowTextA(window, title, sizeof title);
    if (process != s->process || strcmp(class_name, "#32770") != 0 || strcmp(title, s->title) != 0) return TRUE;
    s->found = window;
    return FALSE;
}

// The program's own box of that title (other tests may show the same one at the same time).
HWND wait_for_window(const started_program &p, const char *title)
{
    for (int tries = 0; tries < 500; tries++) {
        window_search s{p.process.dwProcessId, title, nullptr};
        EnumWindows(match_window, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        Sleep(10);
    }
    return nullptr;
}

std::string ini_value(const char *key)
{
    char full[MAX_PATH];
    GetFullPathNameA("tollvane-play.ini", MAX_PATH, full, nullptr);
    char value[300];
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, full);
    return value;
}

class tollvane_play_dialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : {"tollvane-play.exe", "out_tollvane.dll", "tollvane-play.ini"}) fs::remove(name);
        fs::copy_file(TOLLVANE_PLAY_PATH, "tollvane-play.exe");
        fs::copy_file(TOLLVANE_DLL_PATH, "out_tollvane.dll");
    }
};

} // namespace

TEST_F(tollvane_play_dialog, config_without_files_shows_the_dialog_and_saves_what_ok_commits)
{
    started_program p = start("--config");
    ASSERT_TRUE(p.started);
    HWND dialog = wait_for_window(p, "Tollvane v1.4 configuration");
    if (dialog) {
        SendMessageA(GetDlgItem(dialog, 1001), BM_CLICK, 0, 0); // "Convert to format:"
        SendMessageA(GetDlgItem(dialog, 1020), BM_CLICK, 0, 0); // "Override thread priority (hack)"
        SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    }
    DWORD status = finish(p);
    ASSERT_NE(dialog, nullptr) << printed();
    EXPECT_EQ(status, 0u) << printed();
    EXPECT_NE(printed().find("tollvane-play: settings saved to "), std::string::npos) << printed();
    EXPECT_EQ(ini_value("cfg_cvt"), "1");
    EXPECT_EQ(ini_value("cfg_thread"), "1");
    EXPECT_EQ(ini_value("config_waveoutdir"), "c:\\");
}

TEST_F(tollvane_play_dialog, about_shows_the_box_for_real_and_prints_its_text)
{
    started_program p = start("--about");
    ASSERT_TRUE(p.started);
    HWND box = wait_for_window(p, "About");
    char text[512] = "";
    if (box) {
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    DWORD status = finish(p);
    ASSERT_NE(box, nullptr) << printed();
    EXPECT_EQ(std::string(text).rfind("Tollvane v1.4\n", 0), 0u) << text;
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(printed().rfind("About: Tollvane v1.4\n", 0), 0u) << printed();
}
