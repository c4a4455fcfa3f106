// The two shell pickers of the configuration dialog. Neither validates what comes back: the
// directory need not exist and the file need not be writable; OK takes them as shown.
#include "config/platform_pickers.h"

#include <commdlg.h>
#include <shlobj.h>
#include <stddef.h>
#include <string.h>

#include "config/config_dialog_ids.h"
#include "config/settings_store.h"

// Once the browser is up, selects the path that data points to.
static int CALLBACK browse_callback(HWND browser, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED) SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data); // data: a path
    return 0;
}

void browse_for_folder(HWND dialog, HWND button, const char *title)
{
    LPMALLOC allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || !allocator) return;
    char path[text_setting_bytes];
    GetWindowTextA(button, path, sizeof path);

    BROWSEINFOA browse;
    memset(&browse, 0, sizeof browse);
    browse.hwndOwner = dialog;
    browse.lpszTitle = title;
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    browse.lpfn = browse_callback;
    browse.lParam = reinterpret_cast<LPARAM>(path);
    LPITEMIDLIST item = SHBrowseForFolderA(&browse);
    if (item) {
        SHGetPathFromIDListA(item, path);
        SetWindowTextA(button, path);
        allocator->Free(item);
    }
    allocator->Release();
}

// The size of the record before its later optional fields, which every Windows version takes.
// It is the record's own layout up to the template name: 76 bytes on i686, 136 on x86_64, where
// the i686 number makes comdlg32 refuse the record and the dialog never opens.
constexpr DWORD open_file_name_bytes = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void *) != 4 || open_file_name_bytes == 76, "the pre-2000 record is 76 bytes on i686");

void choose_single_file_path(HWND dialog)
{
    char path[text_setting_bytes];
    GetDlgItemTextA(dialog, IDC_SINGLE_PATH, path, sizeof path);

    OPENFILENAMEA save;
    memset(&save, 0, sizeof save);
    save.lStructSize = open_file_name_bytes;
    save.hwndOwner = dialog;
    save.lpstrFilter = "WAV files\0*.wav\0"; // one pair; the literal's terminator ends the list
    save.lpstrFile = path;
    save.nMaxFile = sizeof path;
    // No OFN_OVERWRITEPROMPT: the single file is appended to, so an existing one is the point.
    save.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    save.lpstrDefExt = "wav";
    if (GetSaveFileNameA(&save)) SetDlgItemTextA(dialog, IDC_SINGLE_PATH, path);
}
