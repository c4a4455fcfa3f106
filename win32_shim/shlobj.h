// Stand-in for <shlobj.h>: the shell's folder browser and its allocator. The browser is
// answered by whoever installed an answerer (shim_dialog_control.h); an item it returns holds
// the chosen path.
#ifndef TOLLVANE_SHIM_SHLOBJ_H
#define TOLLVANE_SHIM_SHLOBJ_H

#include <windows.h>

typedef struct _ITEMIDLIST ITEMIDLIST, *LPITEMIDLIST;
typedef const ITEMIDLIST *LPCITEMIDLIST;

typedef int (CALLBACK *BFFCALLBACK)(HWND browser, UINT message, LPARAM lparam, LPARAM data);

typedef struct _browseinfoA {
    HWND hwndOwner;
    LPCITEMIDLIST pidlRoot;
    LPSTR pszDisplayName;
    LPCSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
} BROWSEINFOA, *LPBROWSEINFOA;

#define BIF_RETURNONLYFSDIRS 0x0001
#define BFFM_INITIALIZED 1
#define BFFM_SELCHANGED 2
#define BFFM_SETSELECTIONA (WM_USER + 102)

// The shell's task allocator, with the methods of the COM interface the plug-in calls.
struct IMalloc {
    virtual void *Alloc(size_t bytes) = 0;
    virtual void Free(void *memory) = 0;
    virtual ULONG Release(void) = 0;
};
typedef IMalloc *LPMALLOC;

#ifdef __cplusplus
extern "C" {
#endif

HRESULT SHGetMalloc(LPMALLOC *allocator);
LPITEMIDLIST SHBrowseForFolderA(LPBROWSEINFOA browse);
BOOL SHGetPathFromIDListA(LPCITEMIDLIST item, LPSTR path);

#ifdef __cplusplus
}
#endif

#endif
