// The built demo on a Wayland desktop as most Linux users have one now: a
// compositor of the test's own (sway, headless, drawing with pixman), with
// XWayland for the settings dialog, its output screenshot with grim. On a
// 1920 × 1080 output every way of playing (the defaults, another listed
// mode, a window, the window resized by the compositor, the X11 path through
// XWayland) shows the strip centred, 2:1 and across the window's width; on a
// screen scaled by 2 the picture has the screen's own pixels; without
// XWayland the demo plays all the same. Windows are placed as the desktops
// place them: tiled (sway's way), or floating at their own size (GNOME's and
// KDE's way; sway 1.10 floats a window of a fixed size by itself), and the
// strip is measured in the window wherever it is. Keys reach X11 windows
// through xdotool and Wayland ones through wtype.
//
// sway refuses to run as root: run as root, the suite becomes nobody first.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "measure/workbench.h"
#include "tests/support/x_session.h"

namespace {

using namespace std::chrono_literals;
using xsession::Child;

// The built demo, its run folder and the X11 helper; where the suite runs
// as root, copies that nobody can read (the build may lie in root's home).
std::string demoBinary = SORVANE_BINARY, runFolder = SORVANE_RUN_DIR, x11Tool = X11_TOOL;

// An RGB screenshot of the output.
struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  int At(int x, int y, int channel) const { return rgb[(static_cast<size_t>(y) * width + x) * 3 + channel]; }
};

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rect& r) {
  return out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
}

// Where the strip belongs in a window at `w` on an output of `output`
// pixels: 2:1, centred, across the window's width (or its height where the
// window is wider than 2:1), the part on the output.
Rect StripIn(const Rect& w, const Rect& output) {
  Rect s = w.width <= 2 * w.height ? Rect{w.x, w.y + (w.height - w.width / 2) / 2, w.width, w.width / 2}
                                   : Rect{w.x + (w.width - 2 * w.height) / 2, w.y, 2 * w.height, w.height};
  const int right = std::min(s.x + s.width, output.width), bottom = std::min(s.y + s.height, output.height);
  s.x = std::max(s.x, 0), s.y = std::max(s.y, 0);
  return {s.x, s.y, right - s.x, bottom - s.y};
}

// Equal to within `slack` pixels on every side: a fractional scale rounds
// the window's edges either way.
bool Near(const Rect& a, const Rect& b, int slack) {
  return std::abs(a.x - b.x) <= slack && std::abs(a.y - b.y) <= slack &&
         std::abs(a.x + a.width - b.x - b.width) <= slack && std::abs(a.y + a.height - b.y - b.height) <= slack;
}

// The rectangle the picture lights: the rows and columns of which more than
// a twentieth of the pixels are brighter than the letterbox's black.
Rect LitRect(const Image& image) {
  std::vector<int> rows(image.height), columns(image.width);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      if (image.At(x, y, 0) + image.At(x, y, 1) + image.At(x, y, 2) > 12) ++rows[y], ++columns[x];
  auto span = [](const std::vector<int>& counts, int across, int& first, int& length) {
    int last = -1;
    first = -1;
    for (int i = 0; i < static_cast<int>(counts.size()); ++i)
      if (counts[i] * 20 > across) {
        if (first < 0) first = i;
        last = i;
      }
    length = first < 0 ? 0 : last - first + 1;
  };
  Rect r;
  span(rows, image.width, r.y, r.height);
  span(columns, image.height, r.x, r.width);
  return r;
}

// How far the picture is from pixel doubling: horizontal differences within
// aligned pixel pairs against those across them, over the lit rectangle. A
// picture scaled up by two from half the pixels gives 0; one drawn at the
// screen's pixels about 1.
double PairSharpness(const Image& image, const Rect& r) {
  double within = 0, across = 0;
  for (int y = r.y + r.height / 4; y < r.y + 3 * r.height / 4; ++y)
    for (int x = r.x + r.width / 4; x < r.x + 3 * r.width / 4; ++x)
      ((x % 2 == 0) ? within : across) += std::abs(image.At(x, y, 1) - image.At(x + 1, y, 1));
  return std::min(within, across) / std::max(std::max(within, across), 1.0);
}

// A headless sway of the test's own, in a runtime folder of its own,
// stopped by its process id when the object goes.
enum class Placement { Tiled, Floating };

class Compositor {
 public:
  Compositor(int width, int height, double scale, bool xwayland, Placement placement = Placement::Tiled)
      : dir_(std::filesystem::temp_directory_path() / "sorvane-wayland-XXXXXX"), scale_(scale), width_(width),
        height_(height) {
    if (!mkdtemp(dir_.data())) return;
    chmod(dir_.c_str(), 0700);
    std::ofstream(dir_ + "/config") << "output HEADLESS-1 mode " << width << "x" << height << " position 0,0 scale "
                                    << scale << "\n"
                                    << "xwayland " << (xwayland ? "enable" : "disable") << "\n"
                                    << "for_window [shell=\"xdg_shell\"] floating "
                                    << (placement == Placement::Floating ? "enable" : "disable") << "\n"
                                    << "default_border none\n"
                                    << "default_floating_border none\n"
                                    << "output * bg #000000 solid_color\n" << "swaybg_command -\n"
                                    << "exec sh -c 'echo \"$DISPLAY\" >" << dir_ << "/display.part && mv " << dir_
                                    << "/display.part " << dir_ << "/display'\n";
    sway_.emplace([this] {
      const std::string log = dir_ + "/sway.log";
      std::freopen(log.c_str(), "w", stderr);
      std::freopen("/dev/null", "w", stdout);
      setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
      setenv("HOME", dir_.c_str(), 1);
      setenv("WLR_BACKENDS", "headless", 1);
      setenv("WLR_RENDERER", "pixman", 1);
      setenv("WLR_LIBINPUT_NO_DEVICES", "1", 1);
      // Nothing of an earlier compositor of this process's: sway takes a
      // set SWAYSOCK for its own socket's path.
      unsetenv("WAYLAND_DISPLAY");
      unsetenv("DISPLAY");
      unsetenv("SWAYSOCK");
      execlp("sway", "sway", "-c", (dir_ + "/config").c_str(), static_cast<char*>(nullptr));
      return 127;
    });
    // The socket, then (the configuration's last line) the X display.
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < end && sway_->Running() && !std::filesystem::exists(dir_ + "/display"))
      std::this_thread::sleep_for(50ms);
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      const std::string name = entry.path().filename();
      if (name.rfind("wayland-", 0) == 0 && name.find('.') == std::string::npos) wayland_ = name;
      if (name.rfind("sway-ipc.", 0) == 0) setenv("SWAYSOCK", entry.path().c_str(), 1);
    }
    std::string display;
    std::ifstream(dir_ + "/display") >> display;
    // This process's own X11 and Wayland tools (xdotool, grim, wtype) talk
    // to this compositor from now on.
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    setenv("WAYLAND_DISPLAY", wayland_.c_str(), 1);
    if (xwayland && !display.empty()) setenv("DISPLAY", display.c_str(), 1);
    else unsetenv("DISPLAY");
  }
  ~Compositor() {
    sway_.reset();
    std::filesystem::remove_all(dir_);
  }

  bool Started() const { return !wayland_.empty(); }
  Rect Output() const { return {0, 0, width_, height_}; }

  // The window of process `pid` at least `minWidth` units wide (the demo's,
  // not its dialog), in the output's pixels, as sway's tree places it; none
  // while there is no such window.
  std::optional<Rect> WindowOf(pid_t pid, int minWidth) const {
    const std::string out = xsession::Shell(
        "timeout 5 swaymsg -t get_tree -r 2>/dev/null | python3 -c '"
        "import json, sys\n"
        "def walk(n):\n"
        "    r = n[\"rect\"]\n"
        "    if n.get(\"pid\") == " + std::to_string(pid) + " and r[\"width\"] >= " + std::to_string(minWidth) +
        ": print(r[\"x\"], r[\"y\"], r[\"width\"], r[\"height\"])\n"
        "    for c in n.get(\"nodes\", []) + n.get(\"floating_nodes\", []): walk(c)\n"
        "walk(json.load(sys.stdin))'");
    Rect r;
    if (std::sscanf(out.c_str(), "%d %d %d %d", &r.x, &r.y, &r.width, &r.height) != 4) return std::nullopt;
    auto px = [this](int units) { return static_cast<int>(std::lround(units * scale_)); };
    return Rect{px(r.x), px(r.y), px(r.x + r.width) - px(r.x), px(r.y + r.height) - px(r.y)};
  }
  std::string Log() const { return ReadFile(dir_ + "/sway.log"); }

  std::optional<Image> Screenshot() const {
    const std::string path = dir_ + "/shot.ppm";
    if (std::system(("timeout 20 grim -t ppm '" + path + "'").c_str()) != 0) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int depth = 0;
    Image image;
    in >> magic >> image.width >> image.height >> depth;
    in.get();
    image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
    if (magic != "P6" || depth != 255 || !in.read(reinterpret_cast<char*>(image.rgb.data()), image.rgb.size()))
      return std::nullopt;
    return image;
  }

 private:
  std::string dir_, wayland_;
  double scale_;
  int width_, height_;
  std::optional<Child> sway_;
};

// The built demo in its run folder, under the compositor, its errors kept,
// with `variable` set to `value` where one is given.
class Demo : public Child {
 public:
  explicit Demo(const TempDir& home, const char* variable = nullptr, const char* value = nullptr)
      : Child([errors = home / "stderr.txt", folder = home.path(), variable, value] {
          // The run folder is not this user's: the shader log goes to the
          // state folder under this home.
          setenv("HOME", folder.c_str(), 1);
          if (variable) setenv(variable, value, 1);
          return xsession::ExecDemo(demoBinary.c_str(), runFolder.c_str(), errors.c_str());
        }) {}
};

// Answers the settings dialog: Return for the defaults, or first the keys
// that clear the full-screen box, or pick the line after the preselected one
// (the list's menu needs a moment to open and to close).
enum class Answer { Defaults, Window, NextMode };
bool AnswerDialog(Answer answer) {
  const std::string dialog = xsession::FindWindow("sorvane", 20);
  if (dialog.empty()) return false;
  if (answer == Answer::Window) return xsession::PressKeys(dialog, "Tab Tab Tab space Return");
  if (answer == Answer::NextMode) {
    xsession::PressKeys(dialog, "Tab Tab space");
    std::this_thread::sleep_for(300ms);
    xsession::Shell("timeout 5 xdotool key --delay 100 Down Return >/dev/null 2>&1");
    std::this_thread::sleep_for(300ms);
  }
  return xsession::PressKeys(dialog, "Return");
}

// Escape to the window with the keyboard focus, through the compositor's
// virtual keyboard (a Wayland window) or xdotool (an X11 one).
void PressEscape(bool x11) {
  if (x11) xsession::Shell("timeout 10 xdotool key Escape");
  else std::system("timeout 10 wtype -s 500 -k Escape");
}

// What the output shows once the demo's window is on it and the picture has
// faded in: the lit rectangle, and where the strip belongs in the window.
struct Seen {
  Rect strip, expected;
  std::optional<Image> shot;
};
Seen StripAfterFadeIn(const Compositor& compositor, Demo& demo, int minWidth = 900) {
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (!compositor.WindowOf(demo.Pid(), minWidth) && demo.Running() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(100ms);
  std::this_thread::sleep_for(7s);
  EXPECT_TRUE(demo.Running()) << "the demo ended on its own";
  Seen seen;
  const std::optional<Rect> window = compositor.WindowOf(demo.Pid(), minWidth);
  EXPECT_TRUE(window.has_value()) << "no demo window in the compositor's tree";
  if (window) seen.expected = StripIn(*window, compositor.Output());
  seen.shot = compositor.Screenshot();
  EXPECT_TRUE(seen.shot.has_value()) << "no screenshot";
  if (seen.shot) seen.strip = LitRect(*seen.shot);
  return seen;
}

class WaylandDesktop : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(std::filesystem::exists(runFolder)) << "no run folder"; }
  TempDir dir;
};

TEST_F(WaylandDesktop, EveryWayOfPlayingShowsTheStripCentredAcrossTheWindow) {
  Compositor compositor(1920, 1080, 1, true);
  ASSERT_TRUE(compositor.Started()) << compositor.Log();
  const Rect wholeWidth{0, 60, 1920, 960};
  struct Way {
    const char* name;
    Answer answer;
    const char* variable = nullptr;  // in the demo's environment
    const char* value = nullptr;
    bool x11 = false;                // the demo's window is an X11 one
    const char* said = nullptr;      // on stderr
  };
  const Way ways[] = {
      {"Return with the defaults", Answer::Defaults},
      {"the listed mode after the default", Answer::NextMode},
      {"a window, which the compositor tiles over the output", Answer::Window},
      {"the defaults on X11 through XWayland", Answer::Defaults, "SDL_VIDEODRIVER", "x11", true},
      // Recognised as XWayland (today's Xwayland names its outputs after the
      // compositor's), the mode is drawn and scaled, not asked of XWayland,
      // which would stretch it over the screen or leave it in a corner.
      {"the listed mode after the default on X11 through XWayland", Answer::NextMode, "SDL_VIDEODRIVER", "x11", true},
      // A driver without Wayland EGL: the demo goes on through XWayland.
      {"no EGL for Wayland", Answer::Defaults, "SDL_VIDEO_EGL_DRIVER", "/nonexistent/libEGL.so.1", true,
       "playing through X11"},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    Demo demo(dir, way.variable, way.value);
    ASSERT_TRUE(AnswerDialog(way.answer)) << "no settings dialog";
    const Seen seen = StripAfterFadeIn(compositor, demo);
    EXPECT_EQ(seen.strip, wholeWidth);
    std::printf("%s: strip %dx%d+%d+%d\n", way.name, seen.strip.width, seen.strip.height, seen.strip.x, seen.strip.y);
    PressEscape(way.x11);
    EXPECT_EQ(demo.Wait(20s), std::optional<int>(0)) << ReadFile(dir / "stderr.txt");
    const std::string errors = ReadFile(dir / "stderr.txt");
    if (way.said) {
      EXPECT_NE(errors.find(way.said), std::string::npos) << errors;
    }
  }

  // A window that the compositor makes half as wide when another opens
  // beside it: the strip follows it.
  Demo demo(dir);
  ASSERT_TRUE(AnswerDialog(Answer::Window)) << "no settings dialog";
  StripAfterFadeIn(compositor, demo);
  {
    Child other([] { return execl(x11Tool.c_str(), "x11_tool", "focus", "another program", static_cast<char*>(nullptr)); });
    std::this_thread::sleep_for(2s);
    const std::optional<Image> shot = compositor.Screenshot();
    ASSERT_TRUE(shot.has_value());
    const Rect strip = LitRect(*shot);
    EXPECT_EQ(strip.width, 960);
    EXPECT_EQ(strip.height, 480);
    EXPECT_EQ(strip.y, 300);
    EXPECT_TRUE(strip.x == 0 || strip.x == 960) << strip;
    std::printf("the window made half as wide: strip %dx%d+%d+%d\n", strip.width, strip.height, strip.x, strip.y);
  }
  std::this_thread::sleep_for(2s);
  PressEscape(false);
  EXPECT_EQ(demo.Wait(20s), std::optional<int>(0)) << ReadFile(dir / "stderr.txt");
}

// A window on a scaled screen, tiled as sway tiles it or floating at its own
// size as GNOME and KDE place it: the strip spans the window's width,
// centred in it, drawn at the screen's own pixels (not at the screen's units
// and scaled up).
TEST_F(WaylandDesktop, AWindowOnAScaledScreenHasTheStripAcrossItInTheScreensOwnPixels) {
  struct Screen {
    const char* name;
    int width, height;
    double scale;
    Placement placement;
  };
  const Screen screens[] = {
      {"1920x1080 at scale 2, the window tiled", 1920, 1080, 2, Placement::Tiled},
      {"3840x2160 at scale 2, the window floating", 3840, 2160, 2, Placement::Floating},
      {"2880x1800 at scale 1.5, the window floating", 2880, 1800, 1.5, Placement::Floating},
  };
  for (const Screen& screen : screens) {
    SCOPED_TRACE(screen.name);
    Compositor compositor(screen.width, screen.height, screen.scale, true, screen.placement);
    ASSERT_TRUE(compositor.Started()) << compositor.Log();
    Demo demo(dir);
    ASSERT_TRUE(AnswerDialog(Answer::Window)) << "no settings dialog; DISPLAY=" << std::getenv("DISPLAY") << "\n"
                                              << ReadFile(dir / "stderr.txt") << compositor.Log();
    const Seen seen = StripAfterFadeIn(compositor, demo, 600);
    EXPECT_TRUE(Near(seen.strip, seen.expected, 2)) << "strip " << seen.strip << ", in the window " << seen.expected;
    const double sharpness = seen.shot ? PairSharpness(*seen.shot, seen.strip) : 0;
    EXPECT_GT(sharpness, 0.5) << "the picture is drawn at the screen's units and scaled up";
    std::printf("%s: strip %dx%d+%d+%d (in the window: %dx%d+%d+%d), pair sharpness %.3f\n", screen.name,
                seen.strip.width, seen.strip.height, seen.strip.x, seen.strip.y, seen.expected.width,
                seen.expected.height, seen.expected.x, seen.expected.y, sharpness);
    PressEscape(false);
    EXPECT_EQ(demo.Wait(20s), std::optional<int>(0)) << ReadFile(dir / "stderr.txt");
  }
}

// Full screen with the defaults on screens of every shape: a laptop's
// 1366 × 768 without XWayland (no dialog, and a default size larger than
// the screen), a 21:9 ultrawide and a portrait screen with it. The strip is
// 2:1 and whole, pillarboxed where the screen is wider than 2:1.
TEST_F(WaylandDesktop, TheDefaultsPlayWholeOnScreensOfEveryShape) {
  struct Screen {
    const char* name;
    int width, height;
    bool xwayland;
  };
  const Screen screens[] = {
      {"1366x768 without XWayland", 1366, 768, false},
      {"2560x1080 (21:9)", 2560, 1080, true},
      {"1080x1920 (portrait)", 1080, 1920, true},
  };
  for (const Screen& screen : screens) {
    SCOPED_TRACE(screen.name);
    Compositor compositor(screen.width, screen.height, 1, screen.xwayland);
    ASSERT_TRUE(compositor.Started()) << compositor.Log();
    Demo demo(dir);
    if (screen.xwayland) {
      ASSERT_TRUE(AnswerDialog(Answer::Defaults)) << "no settings dialog";
    }
    const Seen seen = StripAfterFadeIn(compositor, demo, 600);
    // An odd margin falls to the bottom in GL's rows, to the top in the
    // screenshot's: a pixel either way.
    const Rect expected = StripIn(compositor.Output(), compositor.Output());
    EXPECT_TRUE(Near(seen.strip, expected, 1)) << "strip " << seen.strip << ", on the screen " << expected;
    std::printf("%s: strip %dx%d+%d+%d\n", screen.name, seen.strip.width, seen.strip.height, seen.strip.x, seen.strip.y);
    PressEscape(false);
    EXPECT_EQ(demo.Wait(20s), std::optional<int>(0)) << ReadFile(dir / "stderr.txt");
  }
}

TEST_F(WaylandDesktop, WithoutXWaylandTheDemoPlaysWithTheDefaultsAndSaysWhy) {
  Compositor compositor(1920, 1080, 1, false);
  ASSERT_TRUE(compositor.Started()) << compositor.Log();
  Demo demo(dir);
  const Seen seen = StripAfterFadeIn(compositor, demo);
  EXPECT_EQ(seen.strip, (Rect{0, 60, 1920, 960}));
  PressEscape(false);
  EXPECT_EQ(demo.Wait(20s), std::optional<int>(0)) << ReadFile(dir / "stderr.txt");
  const std::string errors = ReadFile(dir / "stderr.txt");
  EXPECT_NE(errors.find("the settings dialog needs X11"), std::string::npos) << errors;
}

}  // namespace

// sway will not run as root; nor, then, does this suite: it becomes nobody,
// with copies of the demo, its run folder and the X11 helper in a folder
// nobody owns.
int main(int argc, char** argv) {
  std::string staged;
  if (geteuid() == 0) {
    namespace fs = std::filesystem;
    const passwd* nobody = getpwnam("nobody");
    const group* nogroup = getgrnam("nogroup");
    staged = (fs::temp_directory_path() / "sorvane-wayland-suite-XXXXXX").string();
    std::error_code error;
    if (nobody && nogroup && mkdtemp(staged.data())) {
      fs::copy(runFolder, staged + "/run", fs::copy_options::recursive, error);
      fs::copy(demoBinary, staged + "/sorvane", error);
      fs::copy(x11Tool, staged + "/x11_tool", error);
      demoBinary = staged + "/sorvane", runFolder = staged + "/run", x11Tool = staged + "/x11_tool";
      for (const auto& entry : fs::recursive_directory_iterator(staged)) lchown(entry.path().c_str(), nobody->pw_uid, nogroup->gr_gid);
      lchown(staged.c_str(), nobody->pw_uid, nogroup->gr_gid);
    }
    if (!nobody || !nogroup || error || setgroups(0, nullptr) != 0 || setgid(nogroup->gr_gid) != 0 ||
        setuid(nobody->pw_uid) != 0) {
      std::fprintf(stderr, "wayland_test: cannot become nobody with a copy of the demo, and sway will not run as root\n");
      return 1;
    }
  }
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  if (!staged.empty()) std::filesystem::remove_all(staged);
  return status;
}
