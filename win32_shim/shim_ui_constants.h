// Window, dialog and control constants with Windows' names and values, as #defines only: the
// native build's resource compiler reads this file too (through resource/windows.h), so it
// must hold nothing but preprocessor lines.
#ifndef TOLLVANE_SHIM_UI_CONSTANTS_H
#define TOLLVANE_SHIM_UI_CONSTANTS_H

#define IDOK 1
#define IDCANCEL 2

#define LANG_ENGLISH 0x09
#define SUBLANG_ENGLISH_US 0x01

#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_VSCROLL 0x00200000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_STATICEDGE 0x00020000L

#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L

#define BS_PUSHBUTTON 0x0L
#define BS_DEFPUSHBUTTON 0x1L
#define BS_AUTOCHECKBOX 0x3L
#define BS_GROUPBOX 0x7L
#define BS_TYPEMASK 0xFL

#define ES_MULTILINE 0x4L
#define ES_AUTOHSCROLL 0x80L
#define ES_READONLY 0x800L

#define SS_LEFT 0x0L

#define CBS_DROPDOWNLIST 0x3L

#endif
