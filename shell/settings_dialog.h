// settings_dialog.h — the settings dialog: its template, the resolution list
// behind its drop-down box, and the procedure that edits the settings record.
//
// What it is for: before anything else opens, the user picks a resolution of
// the current display (only modes at the record's colour depth, each size
// once, in the display's own order), full screen or not and multisampling or
// not, then "Demo" (start) or "Die" (quit). The dialog edits `*ActiveSettings`
// in place; `bits` is never written.
//
// How to use it: `ShowSettingsDialog()` (shell.h) runs `SettingsDialogTemplate`
// with `SettingsDialogProc` on `DemoVideo`. The logic lives in pure functions
// over a mode query and a plain record — `CollectDisplayModes`,
// `FindDisplayMode`, `ApplySettingsChoice` — so tests drive it with scripted
// displays and no dialog at all.
//
// How it fails: it does not report anything. A failing mode query is the
// normal end of the list, a full list (1024 sizes) ends it early, and a query
// that never fails is asked at most `kDisplayModeQueryLimit` times. "Demo"
// with no resolution chosen (the record's size is not offered and the user
// picked none, or the list is empty) starts at the display's current size,
// so full screen needs no mode the display lacks; where the display cannot
// say its size, the record's width and height stay.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"
#include "shell/shell.h"

// One offered resolution.
struct DisplayModeEntry {
  int32_t width;
  int32_t height;
};

inline constexpr int32_t kDisplayModeCapacity = 1024;
// A guard against a display query that never reports the end: a real display
// has a few hundred modes at most.
inline constexpr int kDisplayModeQueryLimit = 1 << 16;

// The list behind the resolution box: entry i is the text at position i.
// Refilled from empty each time the dialog opens; zero at process start.
extern DisplayModeEntry DisplayModeList[kDisplayModeCapacity];
extern int32_t DisplayModeCount;

// Control ids of the settings dialog.
enum SettingsControl : int {
  kSettingsDemo = 1,  // also the accept command (Enter)
  kSettingsDie = 2,   // also the cancel command (Escape, a close request)
  kSettingsResolution = 1001,
  kSettingsFullscreen = 1003,
  kSettingsMultisample = 1006,
};

// Template 101: caption "sorvane", 198 × 77 dialog units, eight controls in
// tab order.
extern const platform::DialogTemplate SettingsDialogTemplate;

// Mode `index` of the display, in the display's order; false past the last.
using DisplayModeQuery = std::function<bool(int index, platform::DisplayMode& mode)>;

// Asks `query` for modes 0, 1, 2, … and stores in `list` each distinct
// width-and-height pair whose colour depth is `bits`, in query order. Stops at
// the first failing query, when `capacity` entries are stored, or after
// `kDisplayModeQueryLimit` queries. Returns the number of entries stored
// (0 when `capacity` ≤ 0).
int32_t CollectDisplayModes(const DisplayModeQuery& query, int32_t bits, DisplayModeEntry* list, int32_t capacity);

// The position of width × height among the first `count` entries; -1: none.
int32_t FindDisplayMode(const DisplayModeEntry* list, int32_t count, int32_t width, int32_t height);

// "%d*%d" of width then height, as the resolution box shows it.
struct DisplayModeText {
  char text[500];
};
DisplayModeText FormatDisplayMode(const DisplayModeEntry& mode);

// What the dialog's controls hold when "Demo" is pressed.
struct SettingsChoice {
  int selection;  // position in the resolution box; -1: none
  bool fullscreen;
  bool multisample;
  platform::ScreenSize current{};  // the display's size now; 0 × 0: unknown
};

// Writes the choice into the record: the chosen entry's width and height
// (with no selection the display's current size, or the record's own where
// that is unknown), `windowed` = !fullscreen, `multisample`, and 0 into
// `vsync` and `spare`; `bits` is left alone. Returns false and writes nothing
// when `selection` is neither -1 nor a position of the list.
bool ApplySettingsChoice(const SettingsChoice& choice, const DisplayModeEntry* list, int32_t count,
                         DemoSettings& settings);

// The dialog procedure: on kDlgInit fills the list from `DemoVideo` at
// `ActiveSettings->bits`, preselects the record's resolution when offered and
// sets the two check boxes from the record; on command kSettingsDemo applies
// the choice and ends with 1 (or stays open, see above); on kSettingsDie ends
// with 0. Returns 1 for kDlgInit and 0 for every other message. Without a
// record (or without `DemoVideo`) the list stays empty; without a record
// "Demo" ends with 1 and writes nothing.
intptr_t SettingsDialogProc(platform::DialogHost& dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);
