#include "shell/settings_dialog.h"

#include <cstdio>

DisplayModeEntry DisplayModeList[kDisplayModeCapacity];
int32_t DisplayModeCount = 0;

namespace {

using platform::ControlKind;

constexpr platform::DialogControl kSettingsControls[] = {
    {kSettingsDemo, ControlKind::DefaultButton, "Demo", 140, 56, 50, 14},
    {kSettingsDie, ControlKind::Button, "Die", 7, 56, 50, 14},
    {-1, ControlKind::Label, "Resolution:", 30, 8, 64, 12},
    // The height includes the opened list.
    {kSettingsResolution, ControlKind::DropDown, nullptr, 98, 6, 75, 92},
    {-1, ControlKind::Label, "Fullscreen:", 29, 25, 65, 10},
    {kSettingsFullscreen, ControlKind::CheckBox, nullptr, 98, 25, 9, 10},
    {-1, ControlKind::Label, "Multisampling:", 29, 37, 65, 10},
    {kSettingsMultisample, ControlKind::CheckBox, nullptr, 98, 37, 14, 10},
};

void InitDialog(platform::DialogHost& dialog) {
  // The box starts empty each time the dialog opens, so the list does too.
  DisplayModeCount = 0;
  if (!ActiveSettings) return;
  const DemoSettings& settings = *ActiveSettings;
  if (DemoVideo) {
    platform::Video* video = DemoVideo;
    DisplayModeCount = CollectDisplayModes(
        [video](int index, platform::DisplayMode& mode) { return video->GetDisplayMode(index, &mode); },
        settings.bits, DisplayModeList, kDisplayModeCapacity);
  }
  for (int32_t i = 0; i < DisplayModeCount; ++i)
    dialog.AddString(kSettingsResolution, FormatDisplayMode(DisplayModeList[i]).text);
  const int32_t current = FindDisplayMode(DisplayModeList, DisplayModeCount, settings.width, settings.height);
  if (current >= 0) dialog.SetCurSel(kSettingsResolution, current);
  if (settings.windowed == 0) dialog.SetCheck(kSettingsFullscreen, true);
  if (settings.multisample != 0) dialog.SetCheck(kSettingsMultisample, true);
}

void Accept(platform::DialogHost& dialog) {
  if (!ActiveSettings) {
    dialog.End(1);
    return;
  }
  const SettingsChoice choice{dialog.GetCurSel(kSettingsResolution), dialog.GetCheck(kSettingsFullscreen),
                              dialog.GetCheck(kSettingsMultisample),
                              DemoVideo ? DemoVideo->GetScreenSize() : platform::ScreenSize{}};
  // A position the list does not have is refused: the dialog stays open.
  if (ApplySettingsChoice(choice, DisplayModeList, DisplayModeCount, *ActiveSettings)) dialog.End(1);
}

}  // namespace

const platform::DialogTemplate SettingsDialogTemplate = {
    "sorvane",
    "Verdana",
    9,
    true,
    198,
    77,
    kSettingsControls,
    static_cast<int>(sizeof kSettingsControls / sizeof kSettingsControls[0]),
    kSettingsDemo,
    kSettingsDie,
};

int32_t CollectDisplayModes(const DisplayModeQuery& query, int32_t bits, DisplayModeEntry* list, int32_t capacity) {
  int32_t count = 0;
  if (!list || capacity <= 0) return 0;
  for (int index = 0; index < kDisplayModeQueryLimit && count < capacity; ++index) {
    platform::DisplayMode mode;
    if (!query(index, mode)) break;
    if (mode.bits != bits) continue;
    if (FindDisplayMode(list, count, mode.width, mode.height) >= 0) continue;
    list[count++] = {mode.width, mode.height};
  }
  return count;
}

int32_t FindDisplayMode(const DisplayModeEntry* list, int32_t count, int32_t width, int32_t height) {
  for (int32_t i = 0; i < count; ++i)
    if (list[i].width == width && list[i].height == height) return i;
  return -1;
}

DisplayModeText FormatDisplayMode(const DisplayModeEntry& mode) {
  DisplayModeText t;
  std::snprintf(t.text, sizeof t.text, "%d*%d", static_cast<int>(mode.width), static_cast<int>(mode.height));
  return t;
}

bool ApplySettingsChoice(const SettingsChoice& choice, const DisplayModeEntry* list, int32_t count,
                         DemoSettings& settings) {
  if (choice.selection != -1) {
    if (choice.selection < 0 || choice.selection >= count) return false;
    settings.width = list[choice.selection].width;
    settings.height = list[choice.selection].height;
  } else if (choice.current.width > 0 && choice.current.height > 0) {
    settings.width = choice.current.width;
    settings.height = choice.current.height;
  }
  settings.windowed = choice.fullscreen ? 0 : 1;
  settings.spare = 0;
  settings.vsync = 0;
  settings.multisample = choice.multisample ? 1 : 0;
  return true;
}

intptr_t SettingsDialogProc(platform::DialogHost& dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == platform::kDlgInit) {
    InitDialog(dialog);
    return 1;
  }
  if (message != platform::kDlgCommand) return 0;
  switch (static_cast<int>(wParam & 0xFFFF)) {
    case kSettingsDemo:
      Accept(dialog);
      break;
    case kSettingsDie:
      dialog.End(0);
      break;
    default:  // the check boxes mark themselves; the box's notifications need nothing
      break;
  }
  return 0;
}

intptr_t ShowSettingsDialog() {
  if (!DemoVideo || !ActiveSettings) return -1;
  return DemoVideo->RunDialog(SettingsDialogTemplate, SettingsDialogProc);
}
