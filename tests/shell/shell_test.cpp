// The shell against the null platform: the window procedure, the frame loop,
// start-up's failure paths and the letterbox.
#include <GL/glew.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "effects/filter.h"
#include "effects/picture.h"
#include "platform/audio/null_audio.h"
#include "platform/video/null_video.h"
#include "shell/shell.h"
#include "tests/support/gl_offers.h"
#include "measure/workbench.h"

using platform::NullAudio;
using platform::NullVideo;

namespace {

// What the recording effects saw, in order: "abs init", "mask render 0.5", …
std::vector<std::string> effectLog;

class RecordingEffect : public filter {
 public:
  explicit RecordingEffect(const char* name) : name_(name) {}
  void init() override { effectLog.push_back(name_ + " init"); }
  void render(double time) override {
    effectLog.push_back(name_ + " render " + std::to_string(time));
    times.push_back(time);
  }
  std::vector<double> times;

 private:
  std::string name_;
};

RecordingEffect* recordedAbs = nullptr;
RecordingEffect* recordedMask = nullptr;

// The shell keeps its effects for the whole process and never deletes them;
// the tests own theirs here, so that every run can make new ones.
std::vector<std::unique_ptr<RecordingEffect>> ownedEffects;

filter* RecordingFactory(EffectKind kind) {
  auto* effect = ownedEffects.emplace_back(new RecordingEffect(kind == EffectKind::Abs ? "abs" : "mask")).get();
  (kind == EffectKind::Abs ? recordedAbs : recordedMask) = effect;
  return effect;
}

bool Called(const std::vector<std::string>& calls, const std::string& op) {
  return std::find(calls.begin(), calls.end(), op) != calls.end();
}

size_t IndexOf(const std::vector<std::string>& calls, const std::string& op) {
  return static_cast<size_t>(std::find(calls.begin(), calls.end(), op) - calls.begin());
}

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetShellState();
    effectLog.clear();
    recordedAbs = recordedMask = nullptr;
    DemoEffectFactory = RecordingFactory;
    DemoVideo = &video;
    DemoAudio = &audio;
  }
  void TearDown() override { ResetShellState(); }

  // Puts the shell in the state a successful start-up leaves it in.
  void FakeRunningDemo() {
    video.RegisterWindowClass(MainWindowProc);
    DemoWindow = DemoDC = video.OpenWindow({});
    AbsEffect = RecordingFactory(EffectKind::Abs);
    MaskEffect = RecordingFactory(EffectKind::Mask);
    MusicStream = 1;
  }

  NullVideo video;
  NullAudio audio;
};

TEST_F(ShellTest, WindowProcedureQuitsOnEscapeAndCloseOnly) {
  FakeRunningDemo();
  platform::Window* w = DemoWindow;
  auto quits = [&] { return std::count(video.calls.begin(), video.calls.end(), "PostQuit"); };

  EXPECT_EQ(MainWindowProc(w, platform::kMsgKeyDown, 'A', 0), 0);
  EXPECT_EQ(MainWindowProc(w, platform::kMsgKeyDown, platform::kKeyReturn, 0), 0);
  EXPECT_EQ(quits(), 0) << "keys other than Escape do nothing";
  EXPECT_FALSE(Called(video.calls, "DefaultWindowProc")) << "key presses get no default processing";

  EXPECT_EQ(MainWindowProc(w, platform::kMsgKeyDown, platform::kKeyEscape, 0), 0);
  EXPECT_EQ(quits(), 1);
  EXPECT_EQ(MainWindowProc(w, platform::kMsgClose, 0, 0), 0);
  EXPECT_EQ(quits(), 2);
  EXPECT_EQ(MainWindowProc(w, platform::kMsgQuit, 0, 0), 0);
  EXPECT_EQ(quits(), 3);

  // Everything else, system keys included, takes the default path and
  // returns its result.
  EXPECT_EQ(MainWindowProc(w, platform::kMsgSysKeyDown, platform::kKeyEscape, 0), 0x5EED);
  EXPECT_EQ(MainWindowProc(w, platform::kMsgKeyUp, platform::kKeyEscape, 0), 0x5EED);
  EXPECT_EQ(MainWindowProc(w, 0x0005, 0, 0), 0x5EED);
  EXPECT_EQ(quits(), 3);
}

TEST_F(ShellTest, FrameLoopDrawsEachFrameAtThePositionReadAfterThePreviousSwap) {
  FakeRunningDemo();
  // Frames that take no time: no lead.
  FrameClock = [] { return 5.0; };
  // Bytes of 16-bit stereo at 44.1 kHz: 176400 per second.
  audio.positions = {17640, 35280, 176400};
  double t = 0.0;
  for (int i = 0; i < 4; ++i) t = RunFrame(t);

  ASSERT_EQ(recordedAbs->times.size(), 4u);
  EXPECT_EQ(recordedAbs->times, (std::vector<double>{0.0, 0.1, 0.2, 1.0}));
  EXPECT_EQ(recordedMask->times, recordedAbs->times) << "both layers get the same time";
  // Abs is drawn before mask in every frame.
  for (size_t i = 0; i + 1 < effectLog.size(); i += 2) {
    EXPECT_EQ(effectLog[i].rfind("abs render", 0), 0u) << effectLog[i];
    EXPECT_EQ(effectLog[i + 1].rfind("mask render", 0), 0u) << effectLog[i + 1];
  }
  EXPECT_EQ(audio.positionReads, 4) << "one clock read per frame, after the swap";
  EXPECT_EQ(video.presents, 4);
}

// Frames that each take 30 ms from the clock's reading to their present are
// on screen for the 30 ms after it: each is drawn for the middle of that,
// 45 ms past its reading. A frame that stalls for 300 ms is no prediction;
// a lead above 100 ms is not believed; without DrawAhead the bare readings.
TEST_F(ShellTest, EachFrameIsDrawnForTheMiddleOfItsTimeOnScreen) {
  static double now;
  auto run = [&](const std::vector<double>& cost, bool ahead = true) {
    ResetShellState();
    DrawAhead = ahead;
    DemoEffectFactory = RecordingFactory;
    DemoVideo = &video;
    DemoAudio = &audio;
    FrameClock = [] { return now; };
    FakeRunningDemo();
    now = 100.0;
    // The music position at each reading: the time since the first frame.
    audio.positionReads = 0;
    audio.positions.clear();
    double elapsed = 0;
    for (double c : cost) audio.positions.push_back(static_cast<uint64_t>((elapsed += c) * 44100) * 4);
    size_t presented = 0;
    video.onPresent = [&](int) { now += cost[std::min(presented++, cost.size() - 1)]; };
    double t = 0.0;
    for (size_t i = 0; i < cost.size(); ++i) t = RunFrame(t);
    std::vector<double> leads;  // drawn time less the music read before it
    for (size_t i = 1; i < recordedAbs->times.size(); ++i)
      leads.push_back(recordedAbs->times[i] - static_cast<double>(audio.positions[i - 1] / 4) / 44100);
    return leads;
  };
  std::vector<double> cost(24, 0.030);
  cost[12] = 0.300;
  const std::vector<double> leads = run(cost);
  for (size_t i = 3; i < leads.size(); ++i) EXPECT_NEAR(leads[i], 0.045, 1e-4) << "frame " << i + 1;
  EXPECT_NEAR(run(std::vector<double>(8, 0.200)).back(), 0.1, 1e-4) << "a lead above 100 ms is not believed";
  for (double lead : run(cost, false)) EXPECT_NEAR(lead, 0.0, 1e-4);

  // Music that stands from the start (not started yet, a still) is drawn
  // as read, and the lead comes back as soon as it moves.
  run({});
  audio.positionReads = 0;
  audio.positions.clear();
  video.onPresent = [&](int) { now += 0.030; };
  for (double at : {5.0, 5.0, 5.0, 5.0, 5.0, 5.0, 5.03, 5.06, 5.09, 5.12})
    audio.positions.push_back(static_cast<uint64_t>(at * 44100 + 0.5) * 4);
  double t = 0.0;
  for (int i = 0; i < 10; ++i) t = RunFrame(t);
  const std::vector<double>& drawn = recordedAbs->times;
  for (size_t frame = 1; frame < 7; ++frame) EXPECT_NEAR(drawn[frame], 5.0, 1e-4) << "frame " << frame + 1;
  EXPECT_NEAR(drawn[9], 5.09 + 0.045, 1e-4) << "moving again";
}

TEST_F(ShellTest, QuitDuringThePumpFinishesTheFrameAndEndsTheRun) {
  FakeRunningDemo();
  video.swapControl = false;
  // Escape arrives while frame 3 is being drawn; the music has long ended
  // (the position stays put) and the loop must not care.
  audio.positions = {44100, 88200, 88200};
  int frame = 0;
  video.onPresent = [&](int presents) {
    if (presents == 2) video.QueueMessage(platform::kMsgKeyDown, platform::kKeyEscape);
  };
  double t = 0.0;
  do {
    ++frame;
    const int readsBefore = audio.positionReads;
    const int presentsBefore = video.presents;
    t = RunFrame(t);
    EXPECT_EQ(video.presents, presentsBefore + 1);
    EXPECT_EQ(audio.positionReads, readsBefore + 1);
  } while (!QuitRequested && frame < 100);
  EXPECT_EQ(frame, 3) << "the frame in which the quit arrived is the last";
  EXPECT_EQ(recordedAbs->times.size(), 3u);
  // The quit message went through the dispatcher, to no window.
  ASSERT_FALSE(video.dispatched.empty());
  EXPECT_EQ(video.dispatched.back().message, platform::kMsgQuit);
  EXPECT_EQ(video.dispatched.back().window, nullptr);
}

TEST_F(ShellTest, LetterboxIsAStripTwiceAsWideAsHighCentredAndNeverCut) {
  auto vp = [](int w, int h) {
    const Viewport v = LetterboxViewport(w, h);
    return std::vector<int>{v.x, v.y, v.width, v.height};
  };
  EXPECT_EQ(vp(1280, 1024), (std::vector<int>{0, 192, 1280, 640}));
  EXPECT_EQ(vp(1024, 768), (std::vector<int>{0, 128, 1024, 512}));
  EXPECT_EQ(vp(1366, 768), (std::vector<int>{0, 42, 1366, 683}));
  EXPECT_EQ(vp(2000, 1000), (std::vector<int>{0, 0, 2000, 1000}));
  EXPECT_EQ(vp(2560, 1080), (std::vector<int>{200, 0, 2160, 1080})) << "21:9 is pillarboxed, not cut";
  EXPECT_EQ(vp(5120, 1440), (std::vector<int>{1120, 0, 2880, 1440})) << "32:9 is pillarboxed, not cut";
  EXPECT_EQ(vp(1281, 1025), (std::vector<int>{0, 192, 1281, 640})) << "odd sizes halve by arithmetic shift";
}

// Each step of start-up that can fail, in order, with the first operation
// that must not have run after it.
TEST_F(ShellTest, EachFailingStartupStepStopsStartupThere) {
  struct Case {
    const char* failing;
    const char* neverAfter;
  };
  const Case cases[] = {
      {"RegisterWindowClass", "SwitchDisplayMode"}, {"SwitchDisplayMode", "OpenWindow"},
      {"OpenWindow", "GetDrawable"},                {"GetDrawable", "ChooseSurfaceFormat"},
      {"ChooseSurfaceFormat", "ApplySurfaceFormat"}, {"ApplySurfaceFormat", "CreateContext"},
      {"CreateContext", "MakeCurrent"},             {"MakeCurrent", "Show"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    ResetShellState();
    DemoEffectFactory = RecordingFactory;
    NullVideo v;
    NullAudio a;
    v.failing = {c.failing};
    EXPECT_EQ(RunDemo(v, a), 1);
    EXPECT_EQ(v.errorBoxes, (std::vector<std::string>{"Error|An error occured during init or extension missing."}));
    EXPECT_TRUE(Called(v.calls, c.failing));
    EXPECT_FALSE(Called(v.calls, c.neverAfter));
    EXPECT_FALSE(Called(v.calls, "Present")) << "the frame loop never runs";
    EXPECT_TRUE(a.calls.empty()) << "no audio device is opened";
    const bool switched = Called(v.calls, "SwitchDisplayMode") && std::string(c.failing) != "SwitchDisplayMode";
    EXPECT_EQ(v.displayRestores, switched ? 1 : 0) << "a switched display is put back on the way out";
    EXPECT_EQ(v.boxOverSwitchedMode, std::vector<bool>{false}) << "the box is shown over the desktop's own mode";
    EXPECT_FALSE(v.displaySwitched);
    EXPECT_EQ(v.calls.back(), "Shutdown");
  }
}

TEST_F(ShellTest, MissingShaderExtensionsFailAfterTheWindowIsShown) {
  // Without a GL context GLEW finds no extension at all; an earlier test in
  // this process may have left its flags set, and glewInit does not clear
  // them when it finds no context, so they start as a fresh process has them.
  __GLEW_ARB_shading_language_100 = __GLEW_ARB_shader_objects = __GLEW_ARB_fragment_shader = GL_FALSE;
  NullVideo v;
  NullAudio a;
  EXPECT_EQ(RunDemo(v, a), 1);
  EXPECT_TRUE(Called(v.calls, "Show"));
  EXPECT_TRUE(Called(v.calls, "HideCursor"));
  EXPECT_FALSE(Called(v.calls, "HasSwapControl"));
  EXPECT_TRUE(effectLog.empty());
  EXPECT_EQ(v.errorBoxes.size(), 1u);
  EXPECT_EQ(v.boxOverHiddenCursor, std::vector<bool>{false}) << "the cursor is back for the box";
  EXPECT_EQ(v.boxOverSwitchedMode, std::vector<bool>{false});
}

TEST_F(ShellTest, FullScreenRequestUsesTheSwitchedModeAndAskedSurface) {
  NullVideo v;
  NullAudio a;
  v.desktop = {1920, 1200};
  v.modes = {{1920, 1200, 32, 60}, {1280, 1024, 32, 60}};
  v.failing = {"GetDrawable"};  // stop right after the window is made
  DemoSettings s{};
  WriteDefaultSettings(s);
  s.multisample = 1;
  ActiveSettings = &s;
  DemoVideo = &v;
  DemoAudio = &a;
  EXPECT_FALSE(InitDemo(1280, 1024, 32, true, false));
  ASSERT_EQ(v.windows.size(), 1u);
  const platform::WindowSpec& w = v.windows[0];
  EXPECT_EQ(w.title, "sorvane");
  EXPECT_TRUE(w.fullscreen);
  EXPECT_EQ(w.x, 0);
  EXPECT_EQ(w.y, 0);
  EXPECT_EQ(w.width, 1280);
  EXPECT_EQ(w.format.colorBits, 32);
  EXPECT_GE(w.format.depthBits, 8);
  EXPECT_EQ(w.format.samples, 4) << "the multisampling box asks for four samples";
  EXPECT_TRUE(v.displaySwitched);

  // Windowed: centred by the outer size on the desktop; larger than the
  // screen gives negative coordinates.
  NullVideo v2;
  v2.desktop = {1280, 1024};
  v2.failing = {"GetDrawable"};
  DemoVideo = &v2;
  s.multisample = 0;
  EXPECT_FALSE(InitDemo(1601, 1200, 32, false, false));
  ASSERT_EQ(v2.windows.size(), 1u);
  EXPECT_EQ(v2.windows[0].x, 640 - 800);
  EXPECT_EQ(v2.windows[0].y, 512 - 600);
  EXPECT_FALSE(v2.windows[0].fullscreen);
  EXPECT_EQ(v2.windows[0].format.samples, 0);
  EXPECT_FALSE(v2.displaySwitched);
}

TEST_F(ShellTest, DialogResultDecidesWhetherTheDemoStarts) {
  NullVideo v;
  NullAudio a;
  v.dialogResult = 0;  // "Die"
  EXPECT_EQ(RunDemo(v, a), 0);
  EXPECT_FALSE(Called(v.calls, "RegisterWindowClass"));
  EXPECT_FALSE(Called(v.calls, "OpenWindow"));
  EXPECT_TRUE(a.calls.empty());
  EXPECT_TRUE(v.errorBoxes.empty());
}

// Start-up with a real GL context behind the null backend, so the run goes
// past the extension checks to the effects and the music.
class RunningShellTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    gl = platform::CreateDesktopVideo();
    dir.Enter();
  }
  std::unique_ptr<platform::Video> gl;
  TempDir dir;
};

TEST_F(RunningShellTest, MissingMusicFailsOnlyAfterBothEffectsLoaded) {
  NullVideo v;
  v.glDelegate = gl.get();
  NullAudio a;
  EXPECT_EQ(RunDemo(v, a), 1);
  EXPECT_EQ(effectLog, (std::vector<std::string>{"abs init", "mask init"}));
  EXPECT_EQ(a.calls, (std::vector<std::string>{"Init", "StreamCreateFile"}));
  EXPECT_EQ(v.errorBoxes.size(), 1u);
  EXPECT_FALSE(Called(v.calls, "Present"));
  EXPECT_EQ(v.swapIntervals, (std::vector<int>{0})) << "vsync off sets interval 0 explicitly";
}

// The multisampling box gives a multisampled surface, read back from GL,
// where the driver offers one; where it offers none (Debian 13's virtual X
// server), and for a request no driver can meet, start-up falls back to a
// plain surface without failing.
TEST_F(RunningShellTest, TheMultisamplingBoxReachesGl) {
  ASSERT_TRUE(WriteTestOgg("04-Slow_Amber_Circles.ogg", 0.5));
  for (int32_t box : {1, 0}) {
    SCOPED_TRACE(box);
    ResetShellState();
    DemoEffectFactory = RecordingFactory;
    NullVideo v;
    v.glDelegate = gl.get();
    NullAudio a;
    DemoSettings s{};
    WriteDefaultSettings(s);
    s.multisample = box;
    ActiveSettings = &s;
    DemoVideo = &v;
    DemoAudio = &a;
    ASSERT_TRUE(InitDemo(320, 200, 32, false, false));
    GLint buffers = -1, samples = -1;
    glGetIntegerv(GL_SAMPLE_BUFFERS, &buffers);
    glGetIntegerv(GL_SAMPLES, &samples);
    const bool offered = DriverOffersMultisampling(4);
    if (box) std::printf("the driver %s four samples\n", offered ? "offers" : "does not offer");
    EXPECT_EQ(buffers, box && offered ? 1 : 0);
    EXPECT_EQ(samples, box && offered ? 4 : 0);
    v.Shutdown();
  }
  platform::WindowSpec spec;
  spec.width = spec.height = 64;
  spec.hidden = true;
  spec.format.samples = 4096;
  ASSERT_TRUE(gl->RegisterWindowClass(MainWindowProc));
  platform::Window* window = gl->OpenWindow(spec);
  ASSERT_NE(window, nullptr) << "no multisampled visual: the window is made without";
  // The surface as start-up makes it: format, context, current.
  platform::Window* drawable = gl->GetDrawable(window);
  ASSERT_NE(drawable, nullptr);
  const int formatIndex = gl->ChooseSurfaceFormat(drawable, spec.format);
  ASSERT_NE(formatIndex, 0) << "an impossible sample count falls back to a plain format";
  ASSERT_TRUE(gl->ApplySurfaceFormat(drawable, formatIndex));
  ASSERT_TRUE(gl->CreateContext(drawable));
  ASSERT_TRUE(gl->MakeCurrent(drawable));
  GLint buffers = -1;
  glGetIntegerv(GL_SAMPLE_BUFFERS, &buffers);
  EXPECT_EQ(buffers, 0);
  gl->Shutdown();
}

TEST_F(RunningShellTest, NoAudioDeviceFailsStartup) {
  ASSERT_TRUE(WriteTestOgg("04-Slow_Amber_Circles.ogg", 0.5));
  NullVideo v;
  v.glDelegate = gl.get();
  NullAudio a;
  a.failing = {"Init"};
  EXPECT_EQ(RunDemo(v, a), 1);
  EXPECT_EQ(a.calls, (std::vector<std::string>{"Init"}));
  EXPECT_EQ(v.errorBoxes.size(), 1u);
}

TEST_F(RunningShellTest, AFullRunEndsWithStatusZeroAndRestoresTheDisplay) {
  ASSERT_TRUE(WriteTestOgg("04-Slow_Amber_Circles.ogg", 0.5));
  struct WayOut {
    const char* name;
    std::function<void(NullVideo&)> arrange;
  };
  const WayOut ways[] = {
      {"escape", [](NullVideo& v) { v.onPresent = [&v](int n) { if (n == 5) v.QueueMessage(platform::kMsgKeyDown, platform::kKeyEscape); }; }},
      {"close", [](NullVideo& v) { v.onPresent = [&v](int n) { if (n == 2) v.QueueMessage(platform::kMsgClose); }; }},
      // The handler is installed by start-up; the signal comes mid-run.
      {"SIGTERM", [](NullVideo& v) { v.onPresent = [](int n) { if (n == 3) std::raise(SIGTERM); }; }},
  };
  for (const WayOut& way : ways) {
    SCOPED_TRACE(way.name);
    ResetShellState();
    DemoEffectFactory = RecordingFactory;
    NullVideo v;
    v.glDelegate = gl.get();
    NullAudio a;
    a.positions = {1000, 2000};
    way.arrange(v);
    EXPECT_EQ(RunDemo(v, a), 0);
    EXPECT_TRUE(v.errorBoxes.empty());
    EXPECT_EQ(v.displayRestores, 1) << "the full-screen mode is put back";
    EXPECT_LT(IndexOf(a.calls, "Stop"), IndexOf(a.calls, "Free"));
    EXPECT_EQ(v.calls.back(), "Shutdown");
    EXPECT_LE(v.presents, 6);
  }
  // A failed start-up restores the display too.
  ResetShellState();
  DemoEffectFactory = RecordingFactory;
  NullVideo v;
  v.glDelegate = gl.get();
  NullAudio a;
  a.failing = {"StreamCreateFile"};
  EXPECT_EQ(RunDemo(v, a), 1);
  EXPECT_EQ(v.displayRestores, 1);
}

// A layer that paints its whole viewport white and notes where it was.
class WhitePainter : public filter {
 public:
  void init() override {}
  void render(double) override {
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &framebuffer);
    glGetIntegerv(GL_SAMPLES, &samples);
    glEnable(GL_SCISSOR_TEST);
    glScissor(viewport[0], viewport[1], viewport[2], viewport[3]);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 0);
    glDisable(GL_SCISSOR_TEST);
  }
  GLint viewport[4] = {};
  GLint framebuffer = -1, samples = -1;
};

// The white rectangle of the frame in the window's back buffer, read as the
// frame is presented: {x, y, width, height} from the bottom-left corner.
std::vector<int> WhiteIn(platform::ScreenSize drawable) {
  const int width = drawable.width, height = drawable.height;
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  int left = width, right = -1, bottom = height, top = -1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (pixels[(static_cast<size_t>(y) * width + x) * 4] > 128) {
        left = std::min(left, x), right = std::max(right, x);
        bottom = std::min(bottom, y), top = std::max(top, y);
      }
  return right < 0 ? std::vector<int>{} : std::vector<int>{left, bottom, right - left + 1, top - bottom + 1};
}

// The part of `viewport` inside the drawable, as WhiteIn reads it.
std::vector<int> Visible(Viewport viewport, platform::ScreenSize drawable) {
  const int x = std::max(viewport.x, 0), y = std::max(viewport.y, 0);
  return {x, y, std::min(viewport.x + viewport.width, drawable.width) - x,
          std::min(viewport.y + viewport.height, drawable.height) - y};
}

// The strip is laid out for the window as it is: anew when a window manager
// changes its size, and, where full screen could not switch the display
// (Wayland), drawn at the chosen size and scaled into the screen's letterbox.
TEST_F(RunningShellTest, TheStripFollowsTheWindowAndAFullScreenThatDidNotSwitch) {
  ASSERT_TRUE(WriteTestOgg("04-Slow_Amber_Circles.ogg", 0.5));
  WhitePainter painter;
  NullAudio a;
  DemoSettings settings{};
  WriteDefaultSettings(settings);
  auto start = [&](NullVideo& v, bool fullscreen, int32_t multisample = 0) {
    ResetShellState();
    settings.multisample = multisample;
    ActiveSettings = &settings;
    DemoEffectFactory = RecordingFactory;
    DemoVideo = &v;
    DemoAudio = &a;
    v.glDelegate = gl.get();
    v.modes.push_back({640, 480, 32, 60});
    ASSERT_TRUE(InitDemo(640, 480, 32, fullscreen, false));
    AbsEffect = &painter;
    MaskEffect = nullptr;
  };
  std::vector<int> seen;
  // The window's real drawable (a windowed one is smaller than its outer
  // size where the system frames it).
  platform::ScreenSize drawable;
  NullVideo window;
  window.onPresent = [&](int) { seen = WhiteIn(drawable = gl->GetDrawableSize(DemoDC)); };
  start(window, false);
  RunFrame(0);
  EXPECT_EQ(seen, Visible(LetterboxViewport(drawable.width, drawable.height), drawable))
      << "not laid out for the window's drawable from the first frame";
  window.drawableSize = {500, 480};
  RunFrame(0);
  EXPECT_EQ(std::vector<int>(painter.viewport, painter.viewport + 4), (std::vector<int>{0, 115, 500, 250}))
      << "not laid out for the window made narrower";
  a.Free();

  // A window on a screen scaled by two: its drawable has twice the pixels
  // of the size asked from the start, and the strip spans them all.
  NullVideo scaled;
  scaled.drawableSize = {1280, 960};
  start(scaled, false);
  RunFrame(0);
  EXPECT_EQ(std::vector<int>(painter.viewport, painter.viewport + 4), (std::vector<int>{0, 160, 1280, 640}))
      << "not laid out for the scaled window's pixels from the first frame";
  a.Free();

  NullVideo wayland;
  wayland.emulatedModes = true;
  wayland.desktop = {800, 600};
  wayland.onPresent = [&](int) { seen = WhiteIn(drawable = gl->GetDrawableSize(DemoDC)); };
  start(wayland, true);
  RunFrame(0);
  EXPECT_NE(painter.framebuffer, 0) << "not drawn off screen";
  EXPECT_EQ(std::vector<int>(painter.viewport, painter.viewport + 4), (std::vector<int>{0, 0, 640, 320}))
      << "not drawn at the size chosen";
  EXPECT_EQ(seen, Visible(LetterboxViewport(drawable.width, drawable.height), drawable))
      << "not scaled into the screen's letterbox";
  EXPECT_EQ(painter.samples, 0);
  a.Free();

  // A screen scaled by two whose own pixels were chosen (3840 × 2160 on a
  // 4K screen at 200 %): the drawable is the chosen size, and the picture
  // is drawn into it directly, with no copy.
  NullVideo native;
  native.emulatedModes = true;
  native.desktop = {320, 240};
  native.drawableSize = {640, 480};
  start(native, true);
  RunFrame(0);
  EXPECT_EQ(painter.framebuffer, 0) << "copied although drawn at the drawable's own size";
  EXPECT_EQ(std::vector<int>(painter.viewport, painter.viewport + 4), (std::vector<int>{0, 80, 640, 320}));
  a.Free();

  // The multisampling box there: the picture is drawn with the samples and
  // resolved before it is scaled; the window it is copied into has none.
  NullVideo multisampled;
  multisampled.emulatedModes = true;
  multisampled.desktop = {800, 600};
  multisampled.onPresent = [&](int) { seen = WhiteIn(drawable = gl->GetDrawableSize(DemoDC)); };
  start(multisampled, true, 1);
  RunFrame(0);
  GLint most = 0;
  glGetIntegerv(GL_MAX_SAMPLES_EXT, &most);
  EXPECT_EQ(painter.samples, GLEW_EXT_framebuffer_multisample && most >= 4 ? 4 : 0)
      << "the box's samples did not reach the picture drawn off screen";
  EXPECT_EQ(multisampled.windows.back().format.samples, 0) << "a multisampled window the picture is only copied into";
  EXPECT_EQ(seen, Visible(LetterboxViewport(drawable.width, drawable.height), drawable))
      << "the multisampled picture was not resolved and scaled into the screen's letterbox";
  a.Free();
}

}  // namespace
