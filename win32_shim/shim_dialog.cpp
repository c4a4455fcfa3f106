// Dialogs of the native stand-in: DialogBoxParamA builds a dialog from the extended template
// compiled from the plug-in's own resource script, with controls that hold text, check state,
// enable state, an edit's limit, and combo-box items and selection; a test's driver plays the
// user. A dialog procedure may open another dialog modally over its own, as on Windows. The
// folder browser and the save-file dialog are answered by a test likewise.
#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include "win32_shim/shim_dialog_control.h"
#include "win32_shim/shim_dialog_template.h"

#include <stddef.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

// The .res image of the plug-in's resource script, embedded by the build.
extern const unsigned char shim_embedded_resources[];
extern const size_t shim_embedded_resources_size;

enum window_kind { kind_dialog, kind_control, kind_browser };

struct shim_hwnd_tag {
    window_kind kind;
    shim_hwnd_tag *parent;
    uint32_t id;
    std::string class_name;
    uint32_t style;
    uint32_t ex_style;
    std::string text;
    bool enabled;
    int check;
    std::vector<std::string> items;
    int selection;
    size_t limit; // edits: the characters the user may type
    // Dialogs only.
    std::vector<shim_hwnd_tag *> controls;
    DLGPROC procedure;
    HINSTANCE instance; // as given to DialogBoxParamA
    bool ended;
    INT_PTR result;
};

struct _ITEMIDLIST {
    char path[MAX_PATH];
};

namespace {

std::vector<shim_hwnd_tag *> live_windows;
shim_dialog_driver_fn dialog_driver = nullptr;
shim_folder_browser_fn folder_browser = nullptr;
shim_save_file_fn save_file_dialog = nullptr;
int items_outstanding = 0;

// Only windows the stand-in made are ours; the host's window is a tag of its own.
shim_hwnd_tag *ours(HWND window)
{
    return std::find(live_windows.begin(), live_windows.end(), window) != live_windows.end() ? window : nullptr;
}

shim_hwnd_tag *make_window(window_kind kind, shim_hwnd_tag *parent)
{
    shim_hwnd_tag *w = new shim_hwnd_tag();
    w->kind = kind;
    w->parent = parent;
    w->enabled = true;
    w->selection = -1;
    w->limit = 30000; // Wine's default for an edit
    live_windows.push_back(w);
    return w;
}

void destroy_window(shim_hwnd_tag *w)
{
    for (shim_hwnd_tag *control : w->controls) destroy_window(control);
    live_windows.erase(std::remove(live_windows.begin(), live_windows.end(), w), live_windows.end());
    delete w;
}

bool is_combo(const shim_hwnd_tag *w) { return w->class_name == "ComboBox"; }
bool is_auto_check_box(const shim_hwnd_tag *w)
{
    return w->class_name == "Button" && (w->style & BS_TYPEMASK) == BS_AUTOCHECKBOX;
}

// The text a window shows: a drop-down list shows its selected item.
std::string window_text(const shim_hwnd_tag *w)
{
    if (is_combo(w) && (w->style & 3) == CBS_DROPDOWNLIST)
        return w->selection >= 0 ? w->items[static_cast<size_t>(w->selection)] : std::string();
    return w->text;
}

// Copies at most size - 1 characters and the terminator, as Windows cuts window texts.
int copy_text(const std::string &text, LPSTR buffer, int size)
{
    if (!buffer || size <= 0) return 0;
    size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return static_cast<int>(n);
}

LRESULT control_message(shim_hwnd_tag *w, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_SETTEXT:
        w->text = lparam ? reinterpret_cast<const char *>(lparam) : "";
        return TRUE;
    case WM_GETTEXT: return copy_text(window_text(w), reinterpret_cast<LPSTR>(lparam), static_cast<int>(wparam));
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(window_text(w).size());
    }
    if (w->class_name == "Button") {
        switch (message) {
        case BM_GETCHECK: return w->check;
        case BM_SETCHECK: w->check = static_cast<int>(wparam); return 0;
        case BM_CLICK:
            if (is_auto_check_box(w)) w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            if (w->parent && w->parent->procedure)
                w->parent->procedure(w->parent, WM_COMMAND, MAKEWPARAM(w->id, BN_CLICKED), reinterpret_cast<LPARAM>(w));
            return 0;
        }
    }
    if (w->class_name == "Edit") {
        switch (message) {
        // Like Windows, the limit holds typing only: WM_SETTEXT may set a longer text.
        case EM_LIMITTEXT: w->limit = wparam ? wparam : 0x7FFFFFFE; return 0;
        case EM_GETLIMITTEXT: return static_cast<LRESULT>(w->limit);
        }
    }
    if (is_combo(w)) {
        switch (message) {
        case CB_ADDSTRING:
            w->items.push_back(lparam ? reinterpret_cast<const char *>(lparam) : "");
            return static_cast<LRESULT>(w->items.size() - 1);
        case CB_GETCOUNT: return static_cast<LRESULT>(w->items.size());
        case CB_GETCURSEL: return w->selection;
        case CB_SETCURSEL:
            // An index past the list clears the selection and reports CB_ERR, as Windows does.
            if (wparam >= w->items.size()) {
                w->selection = -1;
                return CB_ERR;
            }
            w->selection = static_cast<int>(wparam);
            return w->selection;
        case CB_GETLBTEXT:
            if (wparam >= w->items.size()) return CB_ERR;
            strcpy(reinterpret_cast<char *>(lparam), w->items[wparam].c_str());
            return static_cast<LRESULT>(w->items[wparam].size());
        case CB_RESETCONTENT:
            w->items.clear();
            w->selection = -1;
            return 0;
        }
    }
    return 0;
}

class shell_allocator : public IMalloc {
public:
    void *Alloc(size_t bytes) override { return malloc(bytes); }
    void Free(void *memory) override
    {
        if (memory) items_outstanding--;
        free(memory);
    }
    ULONG Release(void) override { return 1; } // the shell's allocator lives as long as the process
};

shell_allocator the_allocator;

} // namespace

void shim_set_dialog_driver(shim_dialog_driver_fn driver) { dialog_driver = driver; }
void shim_set_folder_browser(shim_folder_browser_fn answerer) { folder_browser = answerer; }
void shim_set_save_file_dialog(shim_save_file_fn answerer) { save_file_dialog = answerer; }
int shim_shell_items_outstanding(void) { return items_outstanding; }

const uint8_t *shim_plugin_resources(size_t *size)
{
    *size = shim_embedded_resources_size;
    return shim_embedded_resources;
}

// Differs from Windows: every module's resources are the plug-in's one resource script, so
// the instance handle is only kept for GetWindowLongPtrA; the template must be given by number.
extern "C" INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND owner, DLGPROC procedure,
                                   LPARAM param)
{
    uintptr_t id = reinterpret_cast<uintptr_t>(template_name);
    const uint8_t *bytes;
    size_t size;
    dialog_template parsed;
    if (id > 0xFFFF ||
        !find_res_resource(shim_embedded_resources, shim_embedded_resources_size, 5 /* RT_DIALOG */,
                           static_cast<uint16_t>(id), &bytes, &size, nullptr) ||
        !parse_dialog_template(bytes, size, &parsed)) {
        SetLastError(1814); // ERROR_RESOURCE_NAME_NOT_FOUND
        return -1;
    }
    shim_hwnd_tag *dialog = make_window(kind_dialog, nullptr);
    dialog->class_name = "#32770";
    dialog->style = parsed.style;
    dialog->ex_style = parsed.ex_style;
    dialog->text = parsed.title;
    dialog->procedure = procedure;
    dialog->instance = instance;
    for (const dialog_item_template &item : parsed.items) {
        shim_hwnd_tag *control = make_window(kind_control, dialog);
        control->id = item.id;
        control->class_name = item.class_name;
        control->style = item.style;
        control->ex_style = item.ex_style;
        control->text = item.title;
        control->enabled = !(item.style & WS_DISABLED);
        dialog->controls.push_back(control);
    }
    // A dialog of ours that owns this one takes no input until it ends, as Windows disables an
    // enabled owner for a modal dialog's lifetime. The driver runs again for the new dialog.
    shim_hwnd_tag *disabled_owner = ours(owner);
    if (disabled_owner && disabled_owner->enabled) disabled_owner->enabled = false;
    else disabled_owner = nullptr;
    procedure(dialog, WM_INITDIALOG, 0, param);
    if (!dialog->ended && dialog_driver) dialog_driver(dialog);
    if (!dialog->ended) procedure(dialog, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    // Differs from Windows: a procedure that ignores Cancel does not keep the dialog up.
    INT_PTR result = dialog->ended ? dialog->result : IDCANCEL;
    destroy_window(dialog);
    if (disabled_owner && ours(disabled_owner)) disabled_owner->enabled = true;
    return result;
}

extern "C" BOOL EndDialog(HWND dialog, INT_PTR result)
{
    shim_hwnd_tag *w = ours(dialog);
    if (!w || w->kind != kind_dialog) return FALSE;
    w->ended = true;
    w->result = result;
    return TRUE;
}

extern "C" HWND GetDlgItem(HWND dialog, int id)
{
    shim_hwnd_tag *w = ours(dialog);
    if (!w) return nullptr;
    for (shim_hwnd_tag *control : w->controls)
        if (control->id == static_cast<uint32_t>(id)) return control;
    return nullptr;
}

extern "C" int GetDlgCtrlID(HWND control)
{
    shim_hwnd_tag *w = ours(control);
    return w ? static_cast<int>(w->id) : 0;
}

extern "C" BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) { return SetWindowTextA(GetDlgItem(dialog, id), text); }

extern "C" UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control) {
        if (buffer && size > 0) buffer[0] = 0;
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(control, buffer, size));
}

extern "C" LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam)
{
    shim_hwnd_tag *control = GetDlgItem(dialog, id);
    return control ? control_message(control, message, wparam, lparam) : 0;
}

extern "C" BOOL SetWindowTextA(HWND window, LPCSTR text)
{
    shim_hwnd_tag *w = ours(window);
    if (!w) return FALSE;
    w->text = text ? text : "";
    return TRUE;
}

extern "C" int GetWindowTextA(HWND window, LPSTR buffer, int size)
{
    shim_hwnd_tag *w = ours(window);
    if (!w) return copy_text(std::string(), buffer, size);
    return copy_text(window_text(w), buffer, size);
}

// Returns nonzero when the window was disabled before, as Windows does.
extern "C" BOOL EnableWindow(HWND window, BOOL enable)
{
    shim_hwnd_tag *w = ours(window);
    if (!w) return FALSE;
    BOOL was_disabled = !w->enabled;
    w->enabled = enable != 0;
    return was_disabled;
}

extern "C" BOOL IsWindowEnabled(HWND window)
{
    shim_hwnd_tag *w = ours(window);
    return w && w->enabled;
}

extern "C" int GetClassNameA(HWND window, LPSTR buffer, int size)
{
    shim_hwnd_tag *w = ours(window);
    return copy_text(w ? w->class_name : std::string(), buffer, size);
}

extern "C" LONG GetWindowLongA(HWND window, int index)
{
    shim_hwnd_tag *w = ours(window);
    if (!w) return 0;
    switch (index) {
    case GWL_STYLE: return static_cast<LONG>((w->style & ~static_cast<uint32_t>(WS_DISABLED)) | (w->enabled ? 0 : WS_DISABLED));
    case GWL_EXSTYLE: return static_cast<LONG>(w->ex_style);
    case GWL_ID: return static_cast<LONG>(w->id);
    }
    return 0;
}

extern "C" LONG_PTR GetWindowLongPtrA(HWND window, int index)
{
    shim_hwnd_tag *w = ours(window);
    if (w && index == GWLP_HINSTANCE) return reinterpret_cast<LONG_PTR>(w->instance);
    return GetWindowLongA(window, index);
}

extern "C" HRESULT SHGetMalloc(LPMALLOC *allocator)
{
    *allocator = &the_allocator;
    return S_OK;
}

// Differs from Windows: what the callback sends the browser (BFFM_SETSELECTIONA) goes to the
// window procedure installed with shim_set_window_proc, where a test can see it.
extern "C" LPITEMIDLIST SHBrowseForFolderA(LPBROWSEINFOA browse)
{
    shim_hwnd_tag *browser = make_window(kind_browser, nullptr);
    browser->class_name = "#32770";
    browser->text = browse->lpszTitle ? browse->lpszTitle : "";
    if (browse->lpfn) browse->lpfn(browser, BFFM_INITIALIZED, 0, browse->lParam);
    char path[MAX_PATH] = "";
    BOOL chosen = folder_browser && folder_browser(browser, browse, path);
    destroy_window(browser);
    if (!chosen) return nullptr;
    LPITEMIDLIST item = static_cast<LPITEMIDLIST>(the_allocator.Alloc(sizeof(ITEMIDLIST)));
    copy_text(path, item->path, MAX_PATH);
    items_outstanding++;
    return item;
}

extern "C" BOOL SHGetPathFromIDListA(LPCITEMIDLIST item, LPSTR path)
{
    if (!item || !path) return FALSE;
    copy_text(item->path, path, MAX_PATH);
    return TRUE;
}

extern "C" BOOL GetSaveFileNameA(LPOPENFILENAMEA save)
{
    // comdlg32 takes the record in its full size or in the size before the optional fields, as
    // laid out for the caller's own pointer width; any other size opens nothing.
    DWORD short_size = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof save->lpTemplateName;
    if (save->lStructSize != sizeof(OPENFILENAMEA) && save->lStructSize != short_size) return FALSE;
    if (!save_file_dialog || !save->lpstrFile) return FALSE;
    char typed[MAX_PATH];
    copy_text(save->lpstrFile, typed, sizeof typed);
    if (!save_file_dialog(save, typed, sizeof typed)) return FALSE;
    std::string path = typed;
    size_t name = path.find_last_of("\\/");
    name = name == std::string::npos ? 0 : name + 1;
    if (save->lpstrDefExt && save->lpstrDefExt[0] && path.find('.', name) == std::string::npos)
        path += std::string(".") + save->lpstrDefExt;
    if (path.size() + 1 > save->nMaxFile) return FALSE; // the dialog reports a buffer too small
    copy_text(path, save->lpstrFile, static_cast<int>(save->nMaxFile));
    save->nFileOffset = static_cast<WORD>(name);
    size_t dot = path.rfind('.');
    save->nFileExtension = static_cast<WORD>(dot != std::string::npos && dot >= name ? dot + 1 : path.size());
    return TRUE;
}
