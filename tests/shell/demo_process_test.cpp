// The built demo as a user runs it: started in a folder holding its music,
// driven with real X input under the virtual X server, ended by Escape, the
// close box, or the error box of a failed start-up.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "measure/workbench.h"
#include "tests/support/x_session.h"

namespace {

using Clock = std::chrono::steady_clock;
using xsession::Windows;
using xsession::XWindow;

// The built demo started in `dir`, its errors in dir/stderr.txt.
class DemoProcess : public xsession::Child {
 public:
  explicit DemoProcess(const std::string& dir, bool withDisplay = true)
      : Child([&, env = withDisplay ? std::vector<char*>{} : xsession::EnvironmentWithoutDisplay()] {
          const std::string errors = dir + "/stderr.txt";
          return xsession::ExecDemo(SORVANE_BINARY, dir.c_str(), errors.c_str(), env.empty() ? nullptr : env.data());
        }) {}

  // Waits for the demo's own window (the large one titled "sorvane"),
  // accepting the settings dialog with Return if it comes first.
  std::string WaitForDemoWindow(std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end && Running()) {
      for (const XWindow& w : Windows("sorvane")) {
        if (w.width >= 1000) return w.id;
        xsession::PressKeys(w.id, "Return");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
  }
};

class DemoProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WriteTestOgg(dir / "04-Slow_Amber_Circles.ogg", 3.0)); }
  // Shaders and images, when the build has made them, so the real effects run.
  void CopyRunFolder() {
    xsession::Shell("cp -r '" + std::string(SORVANE_RUN_DIR) + "'/. '" + dir.path() + "'/ 2>/dev/null");
    ASSERT_TRUE(WriteTestOgg(dir / "04-Slow_Amber_Circles.ogg", 3.0));
  }
  TempDir dir;
};

// The run ends within a frame or two of the request; the limits below leave
// room for a sanitized build on a busy machine, where one full-screen frame
// and the exit take over a second.
TEST_F(DemoProcessTest, EscapeEndsAFullScreenRunWithStatusZero) {
  CopyRunFolder();
  DemoProcess demo(dir.path());
  const std::string window = demo.WaitForDemoWindow();
  ASSERT_FALSE(window.empty()) << ReadFile(dir / "stderr.txt");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(demo.Running()) << "the demo keeps drawing until asked to stop";
  ASSERT_EQ(Windows("sorvane").size(), 1u);
  EXPECT_EQ(Windows("sorvane")[0].width, 1280);
  xsession::PressKeys(window, "Escape");
  EXPECT_EQ(demo.Wait(std::chrono::seconds(5)), std::optional<int>(0)) << ReadFile(dir / "stderr.txt");
}

TEST_F(DemoProcessTest, OtherKeysDoNotEndTheRunButTheCloseBoxDoes) {
  CopyRunFolder();
  DemoProcess demo(dir.path());
  const std::string window = demo.WaitForDemoWindow();
  ASSERT_FALSE(window.empty()) << ReadFile(dir / "stderr.txt");
  xsession::PressKeys(window, "space");
  xsession::PressKeys(window, "q");
  EXPECT_FALSE(demo.Wait(std::chrono::milliseconds(300)).has_value());
  ASSERT_EQ(std::system("'" X11_TOOL "' close sorvane >/dev/null 2>&1"), 0);
  EXPECT_EQ(demo.Wait(std::chrono::seconds(5)), std::optional<int>(0));
}

TEST_F(DemoProcessTest, MissingMusicShowsTheErrorBoxAndEndsWithStatusOne) {
  CopyRunFolder();
  std::remove((dir / "04-Slow_Amber_Circles.ogg").c_str());
  DemoProcess demo(dir.path());
  std::vector<XWindow> box;
  const auto end = Clock::now() + std::chrono::seconds(20);
  while (box.empty() && Clock::now() < end && demo.Running()) {
    for (const XWindow& w : Windows("sorvane"))
      if (w.width < 1000) xsession::PressKeys(w.id, "Return");  // the settings dialog
    box = Windows("Error");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(box.size(), 1u) << "exactly one message box";
  EXPECT_TRUE(demo.Running()) << "the box waits for the user";
  xsession::PressKeys(box[0].id, "Return");
  EXPECT_EQ(demo.Wait(std::chrono::seconds(5)), std::optional<int>(1));
}

// A close signal ends each state the way its own way out does: the dialog
// as "Die" (status 0), the error box as dismissing it
// (status 1), the running demo as a close request (status 0). Unhonoured,
// each would wait for the user for ever.
TEST_F(DemoProcessTest, CloseSignalsEndEveryStateAsItsOwnWayOut) {
  CopyRunFolder();
  struct Case {
    const char* state;
    int signal;
    int status;
  };
  for (const Case c : {Case{"dialog", SIGTERM, 0}, Case{"error box", SIGINT, 1}, Case{"demo", SIGHUP, 0}}) {
    SCOPED_TRACE(c.state);
    const bool errorBox = std::string(c.state) == "error box";
    if (errorBox) std::remove((dir / "04-Slow_Amber_Circles.ogg").c_str());
    else ASSERT_TRUE(WriteTestOgg(dir / "04-Slow_Amber_Circles.ogg", 3.0));
    DemoProcess demo(dir.path());
    const auto end = Clock::now() + std::chrono::seconds(20);
    bool reached = false;
    while (!reached && Clock::now() < end && demo.Running()) {
      for (const XWindow& w : Windows("sorvane")) {
        if (std::string(c.state) == "dialog") reached = w.width < 1000;
        else if (w.width < 1000) xsession::PressKeys(w.id, "Return");
        else reached = std::string(c.state) == "demo";
      }
      if (errorBox) reached = !Windows("Error").empty();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(reached) << ReadFile(dir / "stderr.txt");
    // The demo's window shows before its effects load: a signal then is
    // taken by the first frame, however long loading takes (seconds under
    // the sanitizers).
    demo.Signal(c.signal);
    EXPECT_EQ(demo.Wait(std::chrono::seconds(10)), std::optional<int>(c.status)) << ReadFile(dir / "stderr.txt");
  }
}

TEST_F(DemoProcessTest, NoDisplayGivesOneClearLineAndStatusOne) {
  DemoProcess demo(dir.path(), /*withDisplay=*/false);
  EXPECT_EQ(demo.Wait(std::chrono::seconds(10)), std::optional<int>(1));
  std::string err = ReadFile(dir / "stderr.txt");
  while (!err.empty() && err.back() == '\n') err.pop_back();
  EXPECT_EQ(err.find('\n'), std::string::npos) << err;
  EXPECT_NE(err.find("An error occured during init or extension missing."), std::string::npos) << err;
}

}  // namespace
