// win32_dialog.h — modal dialogs made from a dialog resource of the program.
//
// What it is for: the Win32 video backend's `RunDialog`. The dialog is a
// DIALOGEX resource linked into the executable (win32_dialog.rc, built by
// windres), shown with DialogBoxParamW over the window that is in the
// foreground at that moment. Its procedure is the portable `DialogProc` of
// the shell: kDlgInit for WM_INITDIALOG (its result decides whether the
// system puts the focus on the first tab stop), kDlgCommand for WM_COMMAND
// with wParam and lParam as they come; the `DialogHost` it gets drives the
// controls with SendDlgItemMessageA (CB_ADDSTRING, CB_SETCURSEL, CB_GETCURSEL,
// BM_SETCHECK, BM_GETCHECK) and ends the dialog with EndDialog. The system's
// dialog manager turns Enter into the default button's command and Escape
// into IDCANCEL.
//
// How to use it: `RunWin32Dialog(SORVANE_SETTINGS_DIALOG, procedure)` from the
// thread that will own the dialog; it blocks until the procedure calls `End`
// and returns that value.
//
// How it fails: -1 when the resource is missing from the program or the
// dialog cannot be created (the procedure is then never called). Host calls
// on an id with no control of the right class do nothing useful: the system
// returns CB_ERR (-1) for `GetCurSel` and BST_UNCHECKED for `GetCheck`.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {

intptr_t RunWin32Dialog(int resourceId, DialogProc procedure);

}  // namespace platform
