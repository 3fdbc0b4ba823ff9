// fltk_dialog.h — modal dialogs built from a `DialogTemplate`, drawn with FLTK.
//
// What it is for: the desktop video backend's `RunDialog`. The dialog is
// shown before any GL window exists: a fixed-size window centred on the
// screen, titled with the template's caption, holding the template's controls
// in their order (which is also the Tab order). Layout follows dialog units:
// one horizontal unit is a quarter of the average character width, one
// vertical unit an eighth of the character height, of a sans (bold when the
// template asks) at the template's point size (taken at 96 dpi); the family
// hint is not looked at. Labels are right-aligned at the top of their
// rectangle, a DropDown is a drop-down list whose closed box is one line
// high, check boxes carry no text, and the default button is drawn as such.
//
// How to use it: `RunFltkDialog(tmpl, procedure)` blocks until the procedure
// calls `End` and returns that value. The procedure gets kDlgInit once, after
// the controls exist and before the window shows; then kDlgCommand with the
// control id in wParam (high bits 0) whenever a button is pressed, a check box
// toggled or a list entry picked. Enter sends `acceptId`; Escape and any
// close request from the window manager send `cancelId`, and so do SIGINT,
// SIGTERM and SIGHUP while the dialog is up (see signals.h). Focus starts on
// the first control that takes it.
//
// How it fails: -1, with nothing shown, when no X display can be opened (the
// process is never ended by FLTK for that). Host calls on an id that names no
// control of the right kind do nothing (`GetCurSel` then gives -1, `GetCheck`
// false). If the window vanishes without `End`, the procedure gets the cancel
// command; should it still not end the dialog, the result is -1.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {

intptr_t RunFltkDialog(const DialogTemplate& tmpl, DialogProc procedure);

// A modal error box: the caption, an alert icon, the text and one OK button,
// dismissed by OK, Enter, Escape or the close box. False, with nothing shown,
// when no X display can be opened.
bool ShowFltkErrorBox(const char* caption, const char* text);

}  // namespace platform
