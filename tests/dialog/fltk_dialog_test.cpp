// The FLTK dialog backend under the virtual X server, driven with real X
// input through xdotool; each dialog runs in a child process whose exit
// status carries the dialog's result.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string>
#include <thread>

#include "platform/video/fltk_dialog.h"
#include "platform/video/null_video.h"
#include "shell/settings_dialog.h"
#include "tests/support/x_session.h"

namespace {

using namespace std::chrono_literals;
using platform::ControlKind;
using xsession::Child;

constexpr int kAccepted = 10;
constexpr int kCancelled = 20;

// A dialog shaped like the settings dialog: a default button, a plain button,
// a label, a drop-down and two check boxes.
constexpr platform::DialogControl kControls[] = {
    {1, ControlKind::DefaultButton, "OK", 140, 56, 50, 14}, {2, ControlKind::Button, "Cancel", 7, 56, 50, 14},
    {-1, ControlKind::Label, "List:", 30, 8, 64, 12},       {50, ControlKind::DropDown, nullptr, 98, 6, 75, 92},
    {60, ControlKind::CheckBox, nullptr, 98, 25, 9, 10},    {70, ControlKind::CheckBox, nullptr, 98, 37, 14, 10},
};
constexpr platform::DialogTemplate kTemplate = {"sorvane", "Verdana", 9, true, 198, 77, kControls,
                                                 static_cast<int>(std::size(kControls)), 1, 2};

// The procedures see the dialog only through these, one child at a time.
int initCalls = 0;
int toggles = 0;

intptr_t AcceptCancelProc(platform::DialogHost& dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == platform::kDlgInit) {
    ++initCalls;
    return 1;
  }
  if (message != platform::kDlgCommand) return 0;
  if ((wParam & 0xFFFF) == 1) dialog.End(kAccepted);
  if ((wParam & 0xFFFF) == 2) dialog.End(kCancelled);
  return 0;
}

// Fills the controls on init; on accept ends with 100 + 10 × (selection + 1)
// + the check marks (1 and 2) + 4 if check box 60 reported a toggle, + 50 if
// any host call misbehaved.
bool hostMisbehaved = false;

intptr_t ControlsProc(platform::DialogHost& dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == platform::kDlgInit) {
    // Texts FLTK's menus would parse ("/" makes a submenu) or merge (equal
    // texts): each must stay one entry of its own, so there are exactly three.
    for (const char* text : {"a/b", "same", "same"}) dialog.AddString(50, text);
    dialog.SetCurSel(50, 3);
    if (dialog.GetCurSel(50) != -1) hostMisbehaved = true;
    dialog.SetCurSel(50, 2);
    if (dialog.GetCurSel(50) != 2) hostMisbehaved = true;
    dialog.SetCheck(60, true);
    // Calls on controls of another kind do nothing.
    dialog.AddString(60, "not a list");
    dialog.SetCheck(50, true);
    if (dialog.GetCurSel(60) != -1 || dialog.GetCheck(50) || dialog.GetCheck(1234)) hostMisbehaved = true;
    return 1;
  }
  if (message != platform::kDlgCommand) return 0;
  const int id = static_cast<int>(wParam & 0xFFFF);
  if (id == 60) ++toggles;
  if (id == 1)
    dialog.End(100 + 10 * (dialog.GetCurSel(50) + 1) + (dialog.GetCheck(60) ? 1 : 0) + (dialog.GetCheck(70) ? 2 : 0) +
               (toggles ? 4 : 0) + (hostMisbehaved ? 50 : 0));
  if (id == 2) dialog.End(kCancelled);
  return 0;
}

int RunAndEncode(const platform::DialogTemplate& tmpl, platform::DialogProc proc) {
  return static_cast<int>(platform::RunFltkDialog(tmpl, proc));
}

class FltkDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xsession::HaveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
  }
};

TEST(FltkDialogNoDisplayTest, GivesMinusOneWithoutShowingAnything) {
  for (const char* display : {static_cast<const char*>(nullptr), ":987"}) {
    Child child([display] {
      if (display) setenv("DISPLAY", display, 1);
      else unsetenv("DISPLAY");
      const intptr_t result = platform::RunFltkDialog(kTemplate, AcceptCancelProc);
      return initCalls ? 99 : static_cast<int>(result);
    });
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(10s), std::optional<int>(0xFF)) << (display ? display : "DISPLAY unset");
  }
}

TEST_F(FltkDialogTest, ReturnAcceptsWhileEscapeAndACloseRequestCancel) {
  struct Case {
    const char* how;
    int expected;
  };
  for (const Case& c : {Case{"Return", kAccepted}, Case{"KP_Enter", kAccepted}, Case{"Escape", kCancelled},
                        Case{"close", kCancelled}}) {
    Child child([] { return RunAndEncode(kTemplate, AcceptCancelProc); });
    const std::string window = xsession::FindWindow("sorvane");
    ASSERT_FALSE(window.empty()) << "no window titled sorvane before " << c.how;
    if (std::string(c.how) == "close") {
      EXPECT_EQ(std::system("timeout 5 '" X11_TOOL "' close sorvane >/dev/null 2>&1"), 0);
    } else {
      EXPECT_TRUE(xsession::PressKeys(window, c.how));
    }
    EXPECT_EQ(child.Wait(10s), std::optional<int>(c.expected)) << c.how;
  }
}

TEST_F(FltkDialogTest, EndDuringInitReturnsAtOnceWithoutAWindow) {
  Child child([] {
    return RunAndEncode(kTemplate, [](platform::DialogHost& dialog, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
      if (message == platform::kDlgInit) dialog.End(7);
      return 1;
    });
  });
  EXPECT_EQ(child.Wait(10s), std::optional<int>(7));
}

TEST_F(FltkDialogTest, WindowIsCentredAndOfFixedSize) {
  Child child([] { return RunAndEncode(kTemplate, AcceptCancelProc); });
  const std::string window = xsession::FindWindow("sorvane");
  ASSERT_FALSE(window.empty());
  const std::string geometry = xsession::Shell("timeout 5 xdotool getwindowgeometry --shell " + window);
  const std::string screen = xsession::Shell("timeout 5 xdotool getdisplaygeometry");
  const std::string hints = xsession::Shell("timeout 5 xprop -id " + window + " WM_NORMAL_HINTS");
  int x = 0, y = 0, w = 0, h = 0, sw = 0, sh = 0;
  ASSERT_EQ(std::sscanf(geometry.c_str(), "WINDOW=%*d X=%d Y=%d WIDTH=%d HEIGHT=%d", &x, &y, &w, &h), 4) << geometry;
  ASSERT_EQ(std::sscanf(screen.c_str(), "%d %d", &sw, &sh), 2) << screen;
  EXPECT_NEAR(x, (sw - w) / 2, 1);
  EXPECT_NEAR(y, (sh - h) / 2, 1);
  // Wider than tall, as 198 × 77 units of a font's width and height are.
  EXPECT_GT(w, 2 * h);
  EXPECT_LT(w, 4 * h);
  const std::string size = std::to_string(w) + " by " + std::to_string(h);
  EXPECT_NE(hints.find("minimum size: " + size), std::string::npos) << hints;
  EXPECT_NE(hints.find("maximum size: " + size), std::string::npos) << hints;
  xsession::PressKeys(window, "Escape");
  EXPECT_EQ(child.Wait(10s), std::optional<int>(kCancelled));
}

TEST_F(FltkDialogTest, HostCallsReachTheControlsAndTabFollowsTheTemplatesOrder) {
  // Focus starts on "OK"; three Tabs pass "Cancel" and the list to reach
  // check box 60, and Space clears it.
  Child child([] { return RunAndEncode(kTemplate, ControlsProc); });
  const std::string window = xsession::FindWindow("sorvane");
  ASSERT_FALSE(window.empty());
  EXPECT_TRUE(xsession::PressKeys(window, "Tab Tab Tab space Return"));
  EXPECT_EQ(child.Wait(10s), std::optional<int>(100 + 30 + 0 + 4));

  // Untouched, the controls read back what init set.
  Child untouched([] { return RunAndEncode(kTemplate, ControlsProc); });
  const std::string again = xsession::FindWindow("sorvane");
  ASSERT_FALSE(again.empty());
  EXPECT_TRUE(xsession::PressKeys(again, "Return"));
  EXPECT_EQ(untouched.Wait(10s), std::optional<int>(100 + 30 + 1));
}

// The settings dialog itself over a scripted display, with mouse clicks at
// the template's positions scaled to the window: the layout follows the
// dialog units.
class SettingsOnFltkTest : public FltkDialogTest {
 protected:
  // 1: "Demo"; 2: windowed; 4: 1024 × 768 chosen; 8: multisample; 16: the
  // record's untouched fields kept.
  static int RunSettings() {
    platform::NullVideo video;
    video.modes = {{800, 600, 32, 60}, {1024, 768, 32, 60}, {1280, 1024, 32, 60}};
    video.dialog = platform::RunFltkDialog;
    DemoSettings settings{};
    WriteDefaultSettings(settings);
    settings.spare = 5;
    ActiveSettings = &settings;
    DemoVideo = &video;
    const intptr_t result = ShowSettingsDialog();
    const bool defaults = settings.width == 1280 && settings.height == 1024 && settings.bits == 32;
    return (result == 1 ? 1 : 0) | (settings.windowed ? 2 : 0) | (settings.width == 1024 ? 4 : 0) |
           (settings.multisample ? 8 : 0) | (result == 0 && defaults && settings.spare == 5 ? 16 : 0) |
           (result == 1 && settings.spare == 0 && settings.bits == 32 ? 16 : 0);
  }

  // Clicks the centre of the template rectangle (x, y, w, h) of control `i`.
  static void Click(const std::string& window, int i) {
    const std::string g = xsession::Shell("timeout 5 xdotool getwindowgeometry --shell " + window);
    int w = 0, h = 0;
    ASSERT_EQ(std::sscanf(g.c_str(), "WINDOW=%*d X=%*d Y=%*d WIDTH=%d HEIGHT=%d", &w, &h), 2) << g;
    const platform::DialogTemplate& t = SettingsDialogTemplate;
    const platform::DialogControl& c = t.controls[i];
    const int height = c.kind == ControlKind::DropDown ? 12 : c.height;  // the closed box
    const long px = std::lround((c.x + c.width / 2.0) * w / t.width);
    const long py = std::lround((c.y + height / 2.0) * h / t.height);
    const std::string cmd = "timeout 5 xdotool mousemove --window " + window + " " + std::to_string(px) + " " +
                            std::to_string(py) + " click 1 >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::this_thread::sleep_for(100ms);
  }

  static int IndexOf(int id) {
    for (int i = 0; i < SettingsDialogTemplate.controlCount; ++i)
      if (SettingsDialogTemplate.controls[i].id == id) return i;
    return -1;
  }
};

TEST_F(SettingsOnFltkTest, ClearingFullscreenAndPressingDemoGivesAWindowedRunAtTheDefaultSize) {
  Child child(RunSettings);
  const std::string window = xsession::FindWindow("sorvane");
  ASSERT_FALSE(window.empty());
  Click(window, IndexOf(kSettingsFullscreen));
  Click(window, IndexOf(kSettingsMultisample));
  Click(window, IndexOf(kSettingsDemo));
  EXPECT_EQ(child.Wait(10s), std::optional<int>(1 | 2 | 8 | 16));
}

TEST_F(SettingsOnFltkTest, TheListOffersTheDisplaysModesAndReturnKeepsFullScreen) {
  // Space opens the list on the preselected 1280*1024; Up moves to 1024*768.
  Child child(RunSettings);
  const std::string window = xsession::FindWindow("sorvane");
  ASSERT_FALSE(window.empty());
  EXPECT_TRUE(xsession::PressKeys(window, "Tab Tab space"));
  std::this_thread::sleep_for(300ms);
  xsession::Shell("timeout 5 xdotool key --delay 100 Up Return >/dev/null 2>&1");
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(xsession::PressKeys(window, "Return"));
  EXPECT_EQ(child.Wait(10s), std::optional<int>(1 | 4 | 16));
}

TEST_F(SettingsOnFltkTest, DieEndsWithZeroAndTheRecordUntouched) {
  Child clicked(RunSettings);
  const std::string window = xsession::FindWindow("sorvane");
  ASSERT_FALSE(window.empty());
  Click(window, IndexOf(kSettingsFullscreen));
  Click(window, IndexOf(kSettingsDie));
  EXPECT_EQ(clicked.Wait(10s), std::optional<int>(16));
}

}  // namespace
