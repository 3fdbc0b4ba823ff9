// The settings dialog's logic without a display: the mode list against
// scripted displays, and the dialog procedure driven through a recording host.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/video/null_video.h"
#include "shell/settings_dialog.h"
#include "tests/support/settings_record.h"

namespace {

using platform::DisplayMode;

// A host that behaves like the real controls (a selection and check marks that
// read back what was set) and records what the procedure asked of it.
class RecordingHost final : public platform::DialogHost {
 public:
  std::map<int, std::vector<std::string>> strings;
  std::map<int, int> selection;
  std::map<int, bool> checks;
  std::vector<std::string> calls;
  int ends = 0;
  intptr_t result = -12345;

  void AddString(int id, const char* text) override {
    strings[id].push_back(text);
    calls.push_back("AddString " + std::to_string(id));
  }
  void SetCurSel(int id, int index) override {
    selection[id] = index;
    calls.push_back("SetCurSel " + std::to_string(id) + " " + std::to_string(index));
  }
  int GetCurSel(int id) override { return selection.count(id) ? selection[id] : -1; }
  void SetCheck(int id, bool checked) override {
    checks[id] = checked;
    calls.push_back("SetCheck " + std::to_string(id) + " " + std::to_string(checked));
  }
  bool GetCheck(int id) override { return checks.count(id) && checks[id]; }
  void End(intptr_t value) override {
    ++ends;
    result = value;
  }
};

bool Called(const RecordingHost& host, const std::string& prefix) {
  for (const std::string& c : host.calls)
    if (c.rfind(prefix, 0) == 0) return true;
  return false;
}

DisplayModeQuery Scripted(const std::vector<DisplayMode>& modes) {
  return [modes](int index, DisplayMode& mode) {
    if (index < 0 || static_cast<size_t>(index) >= modes.size()) return false;
    mode = modes[static_cast<size_t>(index)];
    return true;
  };
}

std::vector<std::pair<int, int>> Pairs(const DisplayModeEntry* list, int32_t count) {
  std::vector<std::pair<int, int>> out;
  for (int32_t i = 0; i < count; ++i) out.emplace_back(list[i].width, list[i].height);
  return out;
}

// A whole dialog session over a scripted display, as the demo runs it.
class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetShellState();
    WriteDefaultSettings(settings);
    settings.spare = 0;
    ActiveSettings = &settings;
    DemoVideo = &video;
  }
  void TearDown() override { ResetShellState(); }

  intptr_t Init() { return SettingsDialogProc(host, platform::kDlgInit, 0, 0); }
  intptr_t Command(uintptr_t wParam) { return SettingsDialogProc(host, platform::kDlgCommand, wParam, 0); }

  platform::NullVideo video;
  DemoSettings settings{};
  RecordingHost host;
};

TEST(DisplayModeListTest, KeepsTheDisplaysOrderAtTheRecordsDepthEachSizeOnce) {
  const std::vector<DisplayMode> modes = {
      {1024, 768, 32, 60}, {800, 600, 32, 60},  {1024, 768, 32, 75}, {800, 600, 16, 60},
      {640, 480, 16, 60},  {1280, 1024, 32, 60}, {800, 600, 32, 85}, {1024, 768, 24, 60},
  };
  DisplayModeEntry list[8];
  int32_t n = CollectDisplayModes(Scripted(modes), 32, list, 8);
  EXPECT_EQ(Pairs(list, n), (std::vector<std::pair<int, int>>{{1024, 768}, {800, 600}, {1280, 1024}}));
  n = CollectDisplayModes(Scripted(modes), 16, list, 8);
  EXPECT_EQ(Pairs(list, n), (std::vector<std::pair<int, int>>{{800, 600}, {640, 480}}));
  n = CollectDisplayModes(Scripted(modes), 8, list, 8);
  EXPECT_EQ(n, 0);

  // The first failing query ends the list, even if a later index would answer.
  const DisplayModeQuery gap = [](int index, DisplayMode& mode) {
    if (index == 1) return false;
    mode = {640 + index, 480, 32, 60};
    return true;
  };
  n = CollectDisplayModes(gap, 32, list, 8);
  EXPECT_EQ(Pairs(list, n), (std::vector<std::pair<int, int>>{{640, 480}}));
}

TEST(DisplayModeListTest, StopsWhenFullAndWhenTheDisplayNeverStopsAnswering) {
  // 3000 distinct sizes, interleaved with other depths: the first 1024 at 32.
  int asked = 0;
  const DisplayModeQuery many = [&asked](int index, DisplayMode& mode) {
    ++asked;
    if (index >= 6000) return false;
    mode = {100 + index / 2, 200, index % 2 ? 16 : 32, 60};
    return true;
  };
  static DisplayModeEntry list[kDisplayModeCapacity + 1];
  list[kDisplayModeCapacity] = {-7, -7};
  int32_t n = CollectDisplayModes(many, 32, list, kDisplayModeCapacity);
  ASSERT_EQ(n, kDisplayModeCapacity);
  EXPECT_EQ(list[0].width, 100);
  EXPECT_EQ(list[kDisplayModeCapacity - 1].width, 100 + kDisplayModeCapacity - 1);
  EXPECT_EQ(list[kDisplayModeCapacity].width, -7) << "wrote past the capacity";
  EXPECT_LT(asked, 6000) << "kept asking after the list was full";

  // A broken display that repeats one mode forever still ends.
  const DisplayModeQuery endless = [](int, DisplayMode& mode) {
    mode = {1280, 1024, 32, 60};
    return true;
  };
  n = CollectDisplayModes(endless, 32, list, kDisplayModeCapacity);
  EXPECT_EQ(Pairs(list, n), (std::vector<std::pair<int, int>>{{1280, 1024}}));

  asked = 0;
  EXPECT_EQ(CollectDisplayModes(many, 32, list, 0), 0);
  EXPECT_EQ(CollectDisplayModes(many, 32, nullptr, 5), 0);
  EXPECT_EQ(asked, 0);
}

TEST(SettingsTemplateTest, EveryControlTheProcedureUsesExistsWithTheRightKind) {
  const platform::DialogTemplate& t = SettingsDialogTemplate;
  auto kindOf = [&t](int id) {
    for (int i = 0; i < t.controlCount; ++i)
      if (t.controls[i].id == id) return static_cast<int>(t.controls[i].kind);
    return -1;
  };
  EXPECT_EQ(kindOf(t.acceptId), static_cast<int>(platform::ControlKind::DefaultButton));
  EXPECT_EQ(kindOf(t.cancelId), static_cast<int>(platform::ControlKind::Button));
  EXPECT_EQ(kindOf(kSettingsResolution), static_cast<int>(platform::ControlKind::DropDown));
  EXPECT_EQ(kindOf(kSettingsFullscreen), static_cast<int>(platform::ControlKind::CheckBox));
  EXPECT_EQ(kindOf(kSettingsMultisample), static_cast<int>(platform::ControlKind::CheckBox));
  // Focus starts on the first control that takes it: "Demo".
  EXPECT_EQ(t.controls[0].id, t.acceptId);
  // Everything but the opened list lies inside the dialog.
  for (int i = 0; i < t.controlCount; ++i) {
    const platform::DialogControl& c = t.controls[i];
    EXPECT_LE(c.x + c.width, t.width) << i;
    if (c.kind != platform::ControlKind::DropDown) {
      EXPECT_LE(c.y + c.height, t.height) << i;
    }
  }
}

TEST_F(SettingsDialogTest, InitOffersTheModesAndPreselectsTheRecordsResolutionOnlyWhenOffered) {
  video.modes = {{800, 600, 32, 60}, {1280, 1024, 16, 60}, {1280, 1024, 32, 60}, {800, 600, 32, 75}};
  EXPECT_EQ(Init(), 1);
  EXPECT_EQ(host.strings[kSettingsResolution], (std::vector<std::string>{"800*600", "1280*1024"}));
  EXPECT_EQ(DisplayModeCount, 2);
  EXPECT_EQ(host.GetCurSel(kSettingsResolution), 1);
  EXPECT_TRUE(host.GetCheck(kSettingsFullscreen));
  EXPECT_FALSE(host.GetCheck(kSettingsMultisample));
  EXPECT_EQ(host.ends, 0);

  // The default offered only at another depth: no selection at all.
  RecordingHost other;
  video.modes = {{800, 600, 32, 60}, {1280, 1024, 16, 60}};
  EXPECT_EQ(SettingsDialogProc(other, platform::kDlgInit, 0, 0), 1);
  EXPECT_EQ(other.strings[kSettingsResolution], (std::vector<std::string>{"800*600"}));
  EXPECT_FALSE(Called(other, "SetCurSel")) << "a reopened dialog starts from an empty list";
  EXPECT_EQ(DisplayModeCount, 1);

  // No mode at the record's depth: an empty box, nothing selected.
  RecordingHost none;
  video.modes = {{1280, 1024, 16, 60}, {1024, 768, 24, 60}};
  SettingsDialogProc(none, platform::kDlgInit, 0, 0);
  EXPECT_TRUE(none.strings[kSettingsResolution].empty());
  EXPECT_FALSE(Called(none, "SetCurSel"));
  EXPECT_EQ(DisplayModeCount, 0);
}

TEST_F(SettingsDialogTest, InitSetsTheCheckMarksFromTheRecord) {
  settings.windowed = 5;
  settings.multisample = 1;
  Init();
  EXPECT_FALSE(Called(host, "SetCheck 1003"));
  EXPECT_TRUE(host.GetCheck(kSettingsMultisample));
}

TEST_F(SettingsDialogTest, DemoWritesTheChoiceAndKeepsBits) {
  video.modes = {{800, 600, 24, 60}, {1280, 1024, 24, 60}, {1920, 1080, 24, 60}};
  settings.bits = 24;
  settings.vsync = 1;
  settings.spare = -9;
  Init();
  ASSERT_EQ(host.GetCurSel(kSettingsResolution), 1);
  host.selection[kSettingsResolution] = 2;  // the user picks 1920*1080
  host.checks[kSettingsFullscreen] = false;  // and clears "Fullscreen"
  host.checks[kSettingsMultisample] = true;
  EXPECT_EQ(Command(kSettingsDemo | (0xBEEFu << 16)), 0) << "only the low 16 bits name the command";
  EXPECT_EQ(host.ends, 1);
  EXPECT_EQ(host.result, 1);
  EXPECT_EQ(FieldsOf(settings), (SettingsFields{1920, 1080, 24, 1, 0, 1, 0}));
}

TEST_F(SettingsDialogTest, DieAndOtherCommandsLeaveTheRecordAlone) {
  settings.spare = 3;
  settings.vsync = 2;
  Init();
  host.selection[kSettingsResolution] = -1;
  host.checks[kSettingsFullscreen] = false;
  const DemoSettings before = settings;
  for (uintptr_t id : {uintptr_t{kSettingsFullscreen}, uintptr_t{kSettingsMultisample},
                       uintptr_t{kSettingsResolution} | (1u << 16), uintptr_t{0xFFFF}, uintptr_t{0}})
    EXPECT_EQ(Command(id), 0);
  EXPECT_EQ(host.ends, 0);
  EXPECT_EQ(SettingsDialogProc(host, 0x0200, kSettingsDemo, 0), 0) << "not a command";
  EXPECT_EQ(host.ends, 0);
  EXPECT_EQ(Command(kSettingsDie), 0);
  EXPECT_EQ(host.ends, 1);
  EXPECT_EQ(host.result, 0);
  EXPECT_EQ(std::memcmp(&before, &settings, sizeof settings), 0);
}

// A screen without the record's 1280 × 1024: the box opens with no
// selection, and "Demo" starts at the display's current size, full screen
// or not; a picked line still wins, and a position the list lacks is refused.
TEST_F(SettingsDialogTest, DemoWithoutAResolutionStartsAtTheDisplaysCurrentSize) {
  video.modes = {{800, 600, 32, 60}, {1024, 768, 32, 60}};
  video.desktop = {1024, 768};
  Init();
  ASSERT_EQ(host.GetCurSel(kSettingsResolution), -1);
  const DemoSettings before = settings;
  host.selection[kSettingsResolution] = 2;
  Command(kSettingsDemo);
  EXPECT_EQ(host.ends, 0) << "refused: the dialog stays open";
  EXPECT_EQ(std::memcmp(&before, &settings, sizeof settings), 0);
  host.selection[kSettingsResolution] = -1;
  Command(kSettingsDemo);
  EXPECT_EQ(host.ends, 1);
  EXPECT_EQ(settings.width, 1024);
  EXPECT_EQ(settings.height, 768);
  EXPECT_EQ(settings.windowed, 0);
  host.selection[kSettingsResolution] = 0;
  Command(kSettingsDemo);
  EXPECT_EQ(settings.width, 800);

  // Nothing to choose from, and a display that cannot say its size: a
  // windowed run at the record's size still works.
  RecordingHost empty;
  video.modes = {};
  video.desktop = {0, 0};
  WriteDefaultSettings(settings);
  SettingsDialogProc(empty, platform::kDlgInit, 0, 0);
  empty.checks[kSettingsFullscreen] = false;
  SettingsDialogProc(empty, platform::kDlgCommand, kSettingsDemo, 0);
  EXPECT_EQ(empty.result, 1);
  EXPECT_EQ(settings.width, 1280);
  EXPECT_EQ(settings.height, 1024);
  EXPECT_EQ(settings.windowed, 1);
}

TEST_F(SettingsDialogTest, ShowRunsTheTemplateOnTheDemosVideo) {
  const platform::DialogTemplate* shown = nullptr;
  video.dialog = [&](const platform::DialogTemplate& tmpl, platform::DialogProc procedure) -> intptr_t {
    shown = &tmpl;
    procedure(host, platform::kDlgInit, 0, 0);
    procedure(host, platform::kDlgCommand, tmpl.cancelId, 0);
    return host.result;
  };
  EXPECT_EQ(ShowSettingsDialog(), 0);
  EXPECT_EQ(shown, &SettingsDialogTemplate);

  // A backend that cannot show dialogs, and no backend at all.
  video.dialog = nullptr;
  EXPECT_EQ(ShowSettingsDialog(), -1);
  DemoVideo = nullptr;
  EXPECT_EQ(ShowSettingsDialog(), -1);
}

TEST_F(SettingsDialogTest, WithoutARecordOrDisplayNothingIsOfferedOrWritten) {
  DemoVideo = nullptr;
  Init();
  EXPECT_TRUE(host.strings[kSettingsResolution].empty());
  DemoVideo = &video;
  ActiveSettings = nullptr;
  RecordingHost bare;
  EXPECT_EQ(SettingsDialogProc(bare, platform::kDlgInit, 0, 0), 1);
  EXPECT_TRUE(bare.calls.empty());
  SettingsDialogProc(bare, platform::kDlgCommand, kSettingsDemo, 0);
  EXPECT_EQ(bare.result, 1);
}

}  // namespace
