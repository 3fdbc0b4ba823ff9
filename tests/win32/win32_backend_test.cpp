// The Win32 backend under the real shell, in one process under Wine: the
// settings dialog made from the program's resource and driven through it, the
// window class, start-up's windows by mode (with the display modes that the
// test fixture added to the virtual screen), the message pump into
// MainWindowProc, multisampling, and the error box.
//
// Dialogs and boxes are modal on the test's own thread, so a driver thread
// watches for them, reads them back and answers them with keys; whatever it
// leaves open is closed when it finishes, so no test can hang on a dialog.
#include <GL/glew.h>
#include <GL/wglew.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "effects/filter.h"
#include "platform/audio/null_audio.h"
#include "shell/settings_dialog.h"
#include "shell/shell.h"
#include "tests/support/gl_offers.h"
#include "tests/support/settings_record.h"
#include "measure/workbench.h"
#include "tests/win32/win32_windows.h"

namespace {

using namespace win32test;
using platform::ControlKind;

const std::wstring kDemoClass = L"Sorvane";
constexpr const char* kMusicFile = "04-Slow_Amber_Circles.ogg";

// The modes the fixture added to the virtual screen ("1024x768 800x600").
std::vector<std::pair<int, int>> AddedModes() {
  std::vector<std::pair<int, int>> modes;
  std::istringstream in(SORVANE_TEST_MODES);
  std::string mode;
  int w = 0, h = 0;
  while (in >> mode)
    if (std::sscanf(mode.c_str(), "%dx%d", &w, &h) == 2) modes.emplace_back(w, h);
  return modes;
}

// Effects that draw nothing and report what start-up gave them: the surface
// their context draws into, and how many frames were rendered.
struct Surface {
  GLint sampleBuffers = -1;
  bool multisamplingOffered = false;  // by the driver, asked of it directly
  int swapInterval = -1;  // as start-up left it; the driver's default is 1
  int depthBits = -1;
  bool doubleBuffered = false;
};

class ProbeEffect : public filter {
 public:
  void init() override {
    glGetIntegerv(GL_SAMPLE_BUFFERS, &surface.sampleBuffers);
    surface.multisamplingOffered = DriverOffersMultisampling(4);
    if (wglGetSwapIntervalEXT) surface.swapInterval = wglGetSwapIntervalEXT();
    HDC dc = wglGetCurrentDC();
    PIXELFORMATDESCRIPTOR pfd{};
    if (DescribePixelFormat(dc, GetPixelFormat(dc), sizeof pfd, &pfd)) {
      surface.depthBits = pfd.cDepthBits;
      surface.doubleBuffered = (pfd.dwFlags & PFD_DOUBLEBUFFER) != 0;
    }
  }
  void render(double) override {
    // What the demo's thread asked of the system's power management by its
    // first frame (set again unchanged; the call answers with the previous).
    if (frames++ == 0) firstFrameState = SetThreadExecutionState(kAwake);
  }
  static constexpr EXECUTION_STATE kAwake = ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED;
  Surface surface;
  std::atomic<int> frames{0};
  EXECUTION_STATE firstFrameState = 0;
};

// The shell never deletes its effects; the tests own theirs. The driver
// thread reads the relief layer's frame count while the demo runs.
std::vector<std::unique_ptr<ProbeEffect>> ownedEffects;
std::atomic<ProbeEffect*> probeAbs{nullptr};

filter* ProbeFactory(EffectKind kind) {
  ProbeEffect* effect = ownedEffects.emplace_back(new ProbeEffect).get();
  if (kind == EffectKind::Abs) probeAbs = effect;
  return effect;
}

// What the demo's thread carries out, seen by a CBT hook on it: each system
// command DefWindowProc is about to carry out (a refused one never gets
// there), and the thread's execution state when a dialog-class window was
// last created (the error box, where one is shown). Read on that thread once
// the run is over.
struct ThreadWatch {
  std::vector<WPARAM> commands;
  EXECUTION_STATE stateAtLastDialog = 0;
  HHOOK hook = nullptr;
  ThreadWatch() {
    current = this;
    hook = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
  }
  ~ThreadWatch() {
    UnhookWindowsHookEx(hook);
    current = nullptr;
  }
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (current && code == HCBT_SYSCOMMAND) current->commands.push_back(wParam & 0xFFF0);
    if (current && code == HCBT_CREATEWND) {
      const LPCWSTR name = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs->lpszClass;
      const bool dialog = IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) == 32770 : std::wstring(name) == L"#32770";
      // Asked by setting the state to none, which answers with the one before.
      if (dialog) current->stateAtLastDialog = SetThreadExecutionState(ES_CONTINUOUS);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static inline ThreadWatch* current = nullptr;
};
// A system command no window acts on: DefWindowProc reaching it shows the
// hook sees the commands that do.
constexpr WPARAM kInertCommand = 0xF200;

HWND DemoWindowOfThisProcess(std::chrono::milliseconds limit) {
  return WaitForWindow(Titled(kDemoClass, L"sorvane", GetCurrentProcessId()), limit);
}

HWND SettingsDialog(std::chrono::milliseconds limit = 20s) {
  return WaitForWindow(Titled(kDialogClass, L"sorvane", GetCurrentProcessId()), limit);
}

// Picks the resolution "W*H" in the settings dialog and presses Return;
// false when no dialog came.
bool ChooseAndStart(const std::string& resolution) {
  HWND dialog = SettingsDialog();
  if (!dialog) return false;
  const LRESULT at = SendDlgItemMessageA(dialog, kSettingsResolution, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(resolution.c_str()));
  SendDlgItemMessageW(dialog, kSettingsResolution, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
  PressKey(dialog, VK_RETURN);
  return true;
}

// Runs `driver` on a thread while the test's thread runs `body` (which shows
// modal windows). Afterwards closes what is left of this process's windows,
// then joins.
template <typename Body>
auto WithDriver(const std::function<void()>& driver, Body body) {
  std::atomic<bool> bodyDone{false};
  std::thread thread([&] {
    driver();
    // Leftovers of a failed test: cancel dialogs and boxes, close the demo.
    while (!bodyDone) {
      EnumWindows(
          [](HWND w, LPARAM) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return TRUE;
            if (ClassOf(w) == kDialogClass) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
            if (ClassOf(w) == kDemoClass) PostMessageW(w, WM_CLOSE, 0, 0);
            return TRUE;
          },
          0);
      std::this_thread::sleep_for(100ms);
    }
  });
  auto result = body();
  bodyDone = true;
  thread.join();
  return result;
}

// Whether Wine lists every mode the fixture added at 32 bits per pixel.
bool AddedModesListed() {
  for (const auto& [w, h] : AddedModes()) {
    bool found = false;
    DEVMODEW dm{};
    dm.dmSize = sizeof dm;
    for (DWORD i = 0; !found && EnumDisplaySettingsW(nullptr, i, &dm); ++i)
      found = static_cast<int>(dm.dmPelsWidth) == w && static_cast<int>(dm.dmPelsHeight) == h && dm.dmBitsPerPel == 32;
    if (!found) return false;
  }
  return true;
}

// Wine's desktop keeps the display's list of modes and reads it again when
// the screen's configuration changes; now and then it is left with a list
// read without the added modes. Switching the screen to an added mode and
// back, from the Unix side, makes it read the list again.
void MakeWineSeeTheAddedModes() {
  if (AddedModesListed()) return;
  std::string command = "/bin/sh -c \"'" SORVANE_SOURCE_DIR "/tests/support/add-test-modes' --flip " SORVANE_TEST_MODES
                        " >/dev/null 2>&1\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  WaitUntil(AddedModesListed, 10s);
}

class Win32BackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeWineSeeTheAddedModes();
    ResetShellState();
    ownedEffects.clear();
    probeAbs = nullptr;
    DemoEffectFactory = ProbeFactory;
    video = platform::CreateDesktopVideo();
    DemoVideo = video.get();
    DemoAudio = &audio;
    WriteDefaultSettings(settings);
    settings.spare = 7;
    ActiveSettings = &settings;
    screen = {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    dir.Enter();
  }
  void TearDown() override {
    video->Shutdown();
    ResetShellState();
  }

  std::unique_ptr<platform::Video> video;
  platform::NullAudio audio;
  DemoSettings settings{};
  std::pair<int, int> screen;
  TempDir dir;
};

// What the driver read from the live dialog.
struct DialogSeen {
  bool found = false;
  std::wstring caption;
  LONG style = 0, exStyle = 0;
  RECT rect{};
  std::vector<Control> controls;
  std::vector<int> tabOrder;
  int focusId = 0;
  std::vector<std::string> entries;
  int selection = -2;
  bool fullscreenChecked = false, multisampleChecked = false;
  std::vector<RECT> templateRects;  // the shell template's rectangles, in pixels of this dialog
};

DialogSeen ReadDialog(HWND dialog) {
  DialogSeen seen;
  seen.found = true;
  seen.caption = TextOf(dialog);
  seen.style = GetWindowLongW(dialog, GWL_STYLE);
  seen.exStyle = GetWindowLongW(dialog, GWL_EXSTYLE);
  GetWindowRect(dialog, &seen.rect);
  seen.controls = Controls(dialog);
  HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
  for (HWND w = first; w && seen.tabOrder.size() < 16;) {
    seen.tabOrder.push_back(GetDlgCtrlID(w));
    w = GetNextDlgTabItem(dialog, w, FALSE);
    if (w == first) break;
  }
  seen.focusId = GetDlgCtrlID(FocusOf(dialog));
  HWND box = GetDlgItem(dialog, kSettingsResolution);
  const int count = static_cast<int>(SendMessageW(box, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[64] = {};
    if (SendMessageA(box, CB_GETLBTEXTLEN, i, 0) < 64) SendMessageA(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    seen.entries.emplace_back(text);
  }
  seen.selection = static_cast<int>(SendMessageW(box, CB_GETCURSEL, 0, 0));
  seen.fullscreenChecked = IsDlgButtonChecked(dialog, kSettingsFullscreen) == BST_CHECKED;
  seen.multisampleChecked = IsDlgButtonChecked(dialog, kSettingsMultisample) == BST_CHECKED;
  for (int i = 0; i < SettingsDialogTemplate.controlCount; ++i) {
    const platform::DialogControl& c = SettingsDialogTemplate.controls[i];
    // The dialog manager converts position and size separately.
    RECT r{c.x, c.y, c.width, c.height};
    MapDialogRect(dialog, &r);
    seen.templateRects.push_back({r.left, r.top, r.left + r.right, r.top + r.bottom});
  }
  return seen;
}

// The resolution entries the display offers at 32 bits per pixel, in its own
// order, each size once, as the user should see them.
std::vector<std::string> DisplayEntriesAt32Bits() {
  std::vector<std::string> entries;
  DEVMODEW dm{};
  dm.dmSize = sizeof dm;
  for (DWORD i = 0; EnumDisplaySettingsW(nullptr, i, &dm); ++i) {
    if (dm.dmBitsPerPel != 32) continue;
    const std::string text = std::to_string(dm.dmPelsWidth) + "*" + std::to_string(dm.dmPelsHeight);
    bool seen = false;
    for (const std::string& e : entries) seen = seen || e == text;
    if (!seen) entries.push_back(text);
  }
  return entries;
}

const wchar_t* ExpectedClass(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label: return L"Static";
    case ControlKind::DropDown: return L"ComboBox";
    default: return L"Button";
  }
}

TEST_F(Win32BackendTest, TheDialogIsTheResourceWithTheShellsControlsAndAcceptsWithReturn) {
  DialogSeen seen;
  int chosen = -1;
  const intptr_t result = WithDriver(
      [&] {
        HWND dialog = SettingsDialog();
        if (!dialog) return;
        seen = ReadDialog(dialog);
        // Pick the last entry, clear full screen, tick multisampling, Return.
        chosen = static_cast<int>(seen.entries.size()) - 1;
        SendDlgItemMessageW(dialog, kSettingsResolution, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
        SendMessageW(GetDlgItem(dialog, kSettingsFullscreen), BM_CLICK, 0, 0);
        SendMessageW(GetDlgItem(dialog, kSettingsMultisample), BM_CLICK, 0, 0);
        PressKey(dialog, VK_RETURN);
        WaitUntil([&] { return !IsWindow(dialog); });
      },
      [] { return ShowSettingsDialog(); });

  ASSERT_TRUE(seen.found) << "no settings dialog appeared";
  EXPECT_EQ(seen.caption, L"sorvane");
  EXPECT_EQ(seen.style & (WS_CAPTION | WS_POPUP | DS_MODALFRAME), WS_CAPTION | WS_POPUP | DS_MODALFRAME);
  EXPECT_EQ(seen.style & WS_SYSMENU, 0) << "no system menu, so no close box";
  EXPECT_NE(seen.exStyle & WS_EX_TOOLWINDOW, 0);
  EXPECT_NEAR(seen.rect.left + seen.rect.right, screen.first, 2) << "centred";
  EXPECT_NEAR(seen.rect.top + seen.rect.bottom, screen.second, 2) << "centred";

  // The resource's controls are the shell template's, in the same order, at
  // the same places.
  ASSERT_EQ(seen.controls.size(), static_cast<size_t>(SettingsDialogTemplate.controlCount));
  for (size_t i = 0; i < seen.controls.size(); ++i) {
    const platform::DialogControl& want = SettingsDialogTemplate.controls[i];
    const Control& got = seen.controls[i];
    SCOPED_TRACE("control " + std::to_string(i));
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.className, ExpectedClass(want.kind));
    // A drop-down list's text is its selected entry.
    if (want.kind != ControlKind::DropDown) {
      EXPECT_EQ(Narrow(got.text), want.text ? want.text : "");
    }
    const RECT& r = seen.templateRects[i];
    EXPECT_EQ(got.rect.left, r.left);
    EXPECT_EQ(got.rect.top, r.top);
    EXPECT_EQ(got.rect.right, r.right);
    // A closed drop-down list is one line high; its template height counts the list.
    if (want.kind != ControlKind::DropDown) {
      EXPECT_EQ(got.rect.bottom, r.bottom);
    }
    const LONG type = got.style & (want.kind == ControlKind::Label ? SS_TYPEMASK : BS_TYPEMASK);
    switch (want.kind) {
      case ControlKind::Label: EXPECT_EQ(type, SS_RIGHT); break;
      case ControlKind::CheckBox: EXPECT_EQ(type, BS_AUTOCHECKBOX); break;
      case ControlKind::DefaultButton: EXPECT_EQ(type, BS_DEFPUSHBUTTON); break;
      case ControlKind::Button: EXPECT_EQ(type, BS_PUSHBUTTON); break;
      case ControlKind::DropDown:
        EXPECT_EQ(got.style & (CBS_DROPDOWNLIST | CBS_SORT), CBS_DROPDOWNLIST);
        break;
    }
  }
  EXPECT_EQ(seen.tabOrder, (std::vector<int>{kSettingsDemo, kSettingsDie, kSettingsResolution, kSettingsFullscreen,
                                            kSettingsMultisample}));
  EXPECT_EQ(seen.focusId, kSettingsDemo);

  // The list is the display's, added modes included, with the record's size
  // preselected and the boxes set from the record.
  EXPECT_EQ(seen.entries, DisplayEntriesAt32Bits());
  for (const auto& [w, h] : AddedModes()) {
    const std::string text = std::to_string(w) + "*" + std::to_string(h);
    EXPECT_NE(std::find(seen.entries.begin(), seen.entries.end(), text), seen.entries.end()) << text;
  }
  const auto current = std::find(seen.entries.begin(), seen.entries.end(), "1280*1024");
  EXPECT_EQ(seen.selection, current == seen.entries.end() ? -1 : current - seen.entries.begin());
  EXPECT_TRUE(seen.fullscreenChecked);
  EXPECT_FALSE(seen.multisampleChecked);

  // Return pressed "Demo": the record holds the choice.
  EXPECT_EQ(result, 1);
  ASSERT_GE(chosen, 0);
  int w = 0, h = 0;
  ASSERT_EQ(std::sscanf(seen.entries[static_cast<size_t>(chosen)].c_str(), "%d*%d", &w, &h), 2);
  EXPECT_EQ(FieldsOf(settings), (SettingsFields{w, h, 32, 1, 0, 1, 0}));
}

// A display whose list lacks the record's size (here the record asks for one
// no mode has): the box opens with nothing chosen, and Return starts at the
// screen's current size, full screen.
TEST_F(Win32BackendTest, WithTheRecordsSizeNotOfferedReturnTakesTheScreensSize) {
  settings.width = 1600;
  settings.height = 1200;
  int selection = -2;
  const intptr_t result = WithDriver(
      [&] {
        HWND dialog = SettingsDialog();
        if (!dialog) return;
        selection = static_cast<int>(SendDlgItemMessageW(dialog, kSettingsResolution, CB_GETCURSEL, 0, 0));
        PressKey(dialog, VK_RETURN);
        WaitUntil([&] { return !IsWindow(dialog); });
      },
      [] { return ShowSettingsDialog(); });
  EXPECT_EQ(selection, CB_ERR) << "a line was chosen though the record's size is not offered";
  EXPECT_EQ(result, 1) << "Return was refused";
  EXPECT_EQ(settings.width, screen.first);
  EXPECT_EQ(settings.height, screen.second);
  EXPECT_EQ(settings.windowed, 0);
}

TEST_F(Win32BackendTest, EscapeOrACloseRequestEndsTheDialogWithZeroAndLeavesTheRecord) {
  for (const bool escape : {true, false}) {
    SCOPED_TRACE(escape ? "Escape" : "WM_CLOSE");
    WriteDefaultSettings(settings);
    const DemoSettings before = settings;
    bool found = false;
    const intptr_t result = WithDriver(
        [&] {
          HWND dialog = SettingsDialog();
          if (!(found = dialog != nullptr)) return;
          SendDlgItemMessageW(dialog, kSettingsResolution, CB_SETCURSEL, 0, 0);
          SendMessageW(GetDlgItem(dialog, kSettingsFullscreen), BM_CLICK, 0, 0);
          if (escape)
            PressKey(dialog, VK_ESCAPE);
          else
            PostMessageW(dialog, WM_CLOSE, 0, 0);
          WaitUntil([&] { return !IsWindow(dialog); });
        },
        [] { return ShowSettingsDialog(); });
    ASSERT_TRUE(found);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::memcmp(&settings, &before, sizeof settings), 0);
  }
}

TEST_F(Win32BackendTest, TheWindowClassSorvaneCarriesMessagesThroughTheRegisteredProcedure) {
  static std::vector<std::pair<platform::Window*, uint32_t>> received;
  received.clear();
  ASSERT_TRUE(video->RegisterWindowClass([](platform::Window* w, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
    if (m == WM_KEYDOWN || m == WM_CLOSE) received.emplace_back(w, m);
    return MainWindowProc(w, m, wp, lp);
  }));
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), kDemoClass.c_str(), &wc));
  EXPECT_EQ(wc.style, static_cast<UINT>(CS_VREDRAW | CS_HREDRAW | CS_OWNDC));
  EXPECT_EQ(wc.cbClsExtra, 0);
  EXPECT_EQ(wc.cbWndExtra, 0);
  EXPECT_EQ(wc.hInstance, GetModuleHandleW(nullptr));
  EXPECT_EQ(wc.hIcon, nullptr);
  EXPECT_EQ(wc.hbrBackground, nullptr);
  EXPECT_EQ(wc.lpszMenuName, nullptr);
  EXPECT_EQ(wc.hCursor, LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));

  platform::WindowSpec spec;
  spec.title = "sorvane";
  spec.width = 320;
  spec.height = 200;
  platform::Window* window = video->OpenWindow(spec);
  ASSERT_NE(window, nullptr);
  HWND hwnd = FindWindowW(kDemoClass.c_str(), L"sorvane");
  ASSERT_NE(hwnd, nullptr);
  // Sent straight to the window, then posted through the queue.
  SendMessageW(hwnd, WM_KEYDOWN, VK_SPACE, 0);
  PostMessageW(hwnd, WM_CLOSE, 0, 0);
  std::vector<uint32_t> polled;
  bool quitWithoutWindow = false;
  platform::Message m;
  while (video->PollMessage(&m)) {
    polled.push_back(m.message);
    if (m.message == platform::kMsgQuit) quitWithoutWindow = m.window == nullptr;
    video->Dispatch(m);
  }
  EXPECT_EQ(received, (std::vector<std::pair<platform::Window*, uint32_t>>{{window, WM_KEYDOWN}, {window, WM_CLOSE}}));
  EXPECT_EQ(std::count(polled.begin(), polled.end(), platform::kMsgQuit), 1) << "only the close request quits";
  EXPECT_EQ(polled.back(), platform::kMsgQuit);
  EXPECT_TRUE(quitWithoutWindow);
  EXPECT_TRUE(IsWindow(hwnd)) << "the window stays after WM_CLOSE";
}

struct Placement {
  RECT rect{};
  LONG style = 0, exStyle = 0;
  int screenWidth = 0, screenHeight = 0;
};

Placement PlacementOf(HWND hwnd) {
  Placement p;
  GetWindowRect(hwnd, &p.rect);
  p.style = GetWindowLongW(hwnd, GWL_STYLE);
  p.exStyle = GetWindowLongW(hwnd, GWL_EXSTYLE);
  p.screenWidth = GetSystemMetrics(SM_CXSCREEN);
  p.screenHeight = GetSystemMetrics(SM_CYSCREEN);
  return p;
}

TEST_F(Win32BackendTest, FullScreenSwitchesToTheModeWithTheWindowCoveringItUntilShutdown) {
  ASSERT_TRUE(WriteTestOgg(kMusicFile, 0.5));
  const auto modes = AddedModes();
  ASSERT_FALSE(modes.empty()) << "the fixture added no display modes";
  for (const auto& [w, h] : modes) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    ASSERT_TRUE(InitDemo(w, h, 32, true, false));
    const Placement p = PlacementOf(DemoWindowOfThisProcess(5s));
    EXPECT_EQ(p.screenWidth, w);
    EXPECT_EQ(p.screenHeight, h);
    EXPECT_EQ(p.rect.left, 0);
    EXPECT_EQ(p.rect.top, 0);
    EXPECT_EQ(p.rect.right, w);
    EXPECT_EQ(p.rect.bottom, h);
    EXPECT_EQ(p.style & (WS_POPUP | WS_CAPTION), WS_POPUP);
    EXPECT_NE(p.exStyle & WS_EX_APPWINDOW, 0);
    video->Shutdown();
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), screen.first) << "the desktop's mode is back";
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), screen.second);
    audio.Stop();
    audio.Free();
  }
  // A size the display does not offer stops start-up before any window.
  EXPECT_FALSE(InitDemo(1234, 567, 32, true, false));
  EXPECT_EQ(FindWindowW(kDemoClass.c_str(), nullptr), nullptr);
}

TEST_F(Win32BackendTest, AWindowIsCentredOnTheScreenByItsOuterSize) {
  ASSERT_TRUE(WriteTestOgg(kMusicFile, 0.5));
  const std::pair<int, int> sizes[] = {{640, 480}, {screen.first + 320, screen.second + 176}};
  for (const auto& [w, h] : sizes) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    ASSERT_TRUE(InitDemo(w, h, 32, false, false));
    const Placement p = PlacementOf(DemoWindowOfThisProcess(5s));
    EXPECT_EQ(p.rect.left, (screen.first >> 1) - (w >> 1));
    EXPECT_EQ(p.rect.top, (screen.second >> 1) - (h >> 1));
    if (w <= screen.first) {
      EXPECT_EQ(p.rect.right - p.rect.left, w);
      EXPECT_EQ(p.rect.bottom - p.rect.top, h);
      RECT client{};
      GetClientRect(DemoWindowOfThisProcess(1s), &client);
      EXPECT_LT(client.bottom, h) << "the frame is inside the outer size";
    }
    EXPECT_EQ(p.style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(p.exStyle & (WS_EX_APPWINDOW | WS_EX_WINDOWEDGE), WS_EX_APPWINDOW | WS_EX_WINDOWEDGE);
    EXPECT_EQ(p.screenWidth, screen.first) << "a window does not switch the display";
    video->Shutdown();
    audio.Stop();
    audio.Free();
  }
}

// A whole run: the dialog answered, the demo running, then ended by a key or
// a close request that has to pass through the message pump, the class's
// window procedure and MainWindowProc.
TEST_F(Win32BackendTest, EscapeOrWM_CLOSEReachMainWindowProcAndEndTheRunWithZero) {
  ASSERT_TRUE(WriteTestOgg(kMusicFile, 0.5));
  struct Way {
    const char* name;
    bool windowedWithMultisampling;
    std::function<void(HWND)> end;
  };
  const Way ways[] = {
      {"Escape, full screen", false, [](HWND w) { PressKey(w, VK_ESCAPE); }},
      {"WM_CLOSE, windowed and multisampled", true, [](HWND w) { PostMessageW(w, WM_CLOSE, 0, 0); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    ResetShellState();
    DemoEffectFactory = ProbeFactory;
    probeAbs = nullptr;
    platform::NullAudio runAudio;
    WriteDefaultSettings(settings);
    std::atomic<bool> ended{false};
    bool sawWindow = false, ranOnAfterOtherKey = false, stillRunningAfterOtherKey = false, awakeAfter = true;
    std::vector<WPARAM> carried;
    const int status = WithDriver(
        [&] {
          HWND dialog = SettingsDialog();
          if (!dialog) return;
          if (way.windowedWithMultisampling) {
            SendMessageW(GetDlgItem(dialog, kSettingsFullscreen), BM_CLICK, 0, 0);
            SendMessageW(GetDlgItem(dialog, kSettingsMultisample), BM_CLICK, 0, 0);
          }
          PressKey(dialog, VK_RETURN);
          HWND window = DemoWindowOfThisProcess(30s);
          if (!(sawWindow = window != nullptr)) return;
          if (!WaitUntil([&] { return probeAbs.load() && probeAbs.load()->frames >= 3; })) return;
          // Another key is swallowed: frames go on.
          PressKey(window, 'A');
          const int before = probeAbs.load()->frames;
          ranOnAfterOtherKey = WaitUntil([&] { return probeAbs.load()->frames >= before + 5; });
          stillRunningAfterOtherKey = !ended;
          // The system asks the window in front before it starts the screen
          // saver or powers the monitor down.
          SendMessageW(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
          SendMessageW(window, WM_SYSCOMMAND, SC_MONITORPOWER, 2);
          SendMessageW(window, WM_SYSCOMMAND, kInertCommand, 0);
          way.end(window);
          WaitUntil([&] { return ended.load(); });
        },
        [&] {
          ThreadWatch watch;
          const int s = RunDemo(*video, runAudio);
          ended = true;
          carried = watch.commands;
          awakeAfter = SetThreadExecutionState(ES_CONTINUOUS) != ES_CONTINUOUS;
          return s;
        });
    ASSERT_TRUE(sawWindow) << "no demo window";
    EXPECT_NE(std::find(carried.begin(), carried.end(), kInertCommand), carried.end()) << "the hook saw no command";
    EXPECT_EQ(std::find(carried.begin(), carried.end(), SC_SCREENSAVE), carried.end()) << "the screen saver may start";
    EXPECT_EQ(std::find(carried.begin(), carried.end(), SC_MONITORPOWER), carried.end()) << "the monitor may power down";
    ASSERT_NE(probeAbs.load(), nullptr);
    EXPECT_EQ(probeAbs.load()->firstFrameState, ProbeEffect::kAwake) << "the display may sleep while the demo plays";
    EXPECT_FALSE(awakeAfter) << "the display is held awake after the demo";
    EXPECT_TRUE(ranOnAfterOtherKey);
    EXPECT_TRUE(stillRunningAfterOtherKey);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(QuitRequested);
    EXPECT_EQ(std::count(runAudio.calls.begin(), runAudio.calls.end(), "Stop"), 1);
    ASSERT_NE(probeAbs.load(), nullptr);
    // The chosen surface: double-buffered with a depth buffer, multisampled
    // exactly when the box was ticked and the driver offers it (Wine 10 on
    // Debian 13's virtual X server offers none: the plain surface then).
    const Surface& surface = probeAbs.load()->surface;
    EXPECT_TRUE(surface.doubleBuffered);
    EXPECT_GE(surface.depthBits, 8);
    EXPECT_EQ(surface.sampleBuffers, way.windowedWithMultisampling && surface.multisamplingOffered ? 1 : 0);
    EXPECT_EQ(surface.swapInterval, 0) << "vsync off sets interval 0";
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), screen.first);
  }
}

// A failed start-up shows the one error box; dismissing it ends the run
// with 1.
TEST_F(Win32BackendTest, AFailedStartUpShowsTheErrorBoxAndDismissingItGivesOne) {
  // No music file: start-up fails at the stream, after the window exists,
  // full screen in an added mode. The box shows over the desktop's own mode
  // with the cursor back.
  const auto modes = AddedModes();
  ASSERT_FALSE(modes.empty()) << "the fixture added no display modes";
  const std::string chosen = std::to_string(modes.front().first) + "*" + std::to_string(modes.front().second);
  bool sawBox = false, topmost = false, hasIcon = false, cursorShown = false;
  EXECUTION_STATE stateAtBox = 0;
  std::pair<int, int> screenAtBox;
  std::vector<std::wstring> texts;
  const int status = WithDriver(
      [&] {
        if (!ChooseAndStart(chosen)) return;
        HWND box = WaitForWindow(Titled(kDialogClass, L"Error", GetCurrentProcessId()), 30s);
        if (!(sawBox = box != nullptr)) return;
        screenAtBox = {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        CURSORINFO cursor{};
        cursor.cbSize = sizeof cursor;
        cursorShown = GetCursorInfo(&cursor) && (cursor.flags & CURSOR_SHOWING);
        topmost = (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        for (const Control& c : Controls(box)) {
          if (!(c.style & WS_VISIBLE)) continue;
          if (c.className == L"Static" && (c.style & SS_TYPEMASK) == SS_ICON) hasIcon = true;
          else if (!c.text.empty()) texts.push_back(c.text);
        }
        PressKey(box, VK_RETURN);
        WaitUntil([&] { return !IsWindow(box); });
      },
      [&] {
        ThreadWatch watch;
        const int s = RunDemo(*video, audio);
        stateAtBox = watch.stateAtLastDialog;
        return s;
      });
  ASSERT_TRUE(sawBox) << "no error box";
  EXPECT_EQ(stateAtBox, ES_CONTINUOUS) << "the display is held awake under the error box";
  ASSERT_NE(ActiveSettings, nullptr);
  EXPECT_EQ(ActiveSettings->width, modes.front().first) << "the dialog did not take the added mode";
  EXPECT_EQ(screenAtBox, screen) << "the switched mode is still in force under the box";
  EXPECT_TRUE(cursorShown) << "the cursor is still hidden under the box";
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(topmost) << "the box is system-modal";
  EXPECT_TRUE(hasIcon);
  EXPECT_NE(std::find(texts.begin(), texts.end(), L"An error occured during init or extension missing."), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), L"OK"), texts.end());
  EXPECT_EQ(texts.size(), 2u) << "one message and one button";
}

// Another program taking the focus from the demo in a switched full-screen
// mode gets the desktop's mode back at once and the demo minimised; the
// demo's own mode returns when it is activated again. The system putting
// the desktop's mode back under the demo while it keeps the focus (the lock
// screen does, on another desktop) is undone as soon as the display says so.
// The frames go on throughout, and the display is held awake from the first
// frame to the end.
TEST_F(Win32BackendTest, FocusLostInASwitchedModeGivesTheDesktopItsModeBackUntilTheDemoIsActivated) {
  ASSERT_TRUE(WriteTestOgg(kMusicFile, 0.5));
  const auto modes = AddedModes();
  ASSERT_FALSE(modes.empty()) << "the fixture added no display modes";
  const auto [w, h] = modes.front();
  const std::string chosen = std::to_string(w) + "*" + std::to_string(h);
  // The driver's thread owns the other program's window, so it answers its
  // messages while it waits, as that program would.
  auto within1s = [](const std::function<bool()>& condition) {
    return WaitUntil([&] {
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
      return condition();
    }, 1s);
  };
  auto screenIs = [&](std::pair<int, int> size) {
    return within1s([&] { return std::make_pair(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)) == size; });
  };
  bool switched = false, givenBack = false, minimised = false, framesWentOn = false, takenAgain = false,
       covers = false, awakeAtEnd = true, reclaimed = false;
  double givenBackMs = -1, takenAgainMs = -1, reclaimedMs = -1;
  const int status = WithDriver(
      [&] {
        if (!ChooseAndStart(chosen)) return;
        HWND demo = DemoWindowOfThisProcess(30s);
        if (!demo || !WaitUntil([&] { return probeAbs.load() && probeAbs.load()->frames >= 3; })) return;
        switched = screenIs({w, h});
        // Another program's window: one of this thread, which is not the
        // demo's, is another application to the window manager.
        HWND other = CreateWindowExW(0, L"STATIC", L"another program", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
        auto since = std::chrono::steady_clock::now();
        auto msSince = [&] {
          return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
        };
        SetForegroundWindow(other);
        givenBack = screenIs(screen);
        givenBackMs = msSince();
        minimised = within1s([&] { return IsIconic(demo) != FALSE; });
        const int before = probeAbs.load()->frames;
        framesWentOn = WaitUntil([&] { return probeAbs.load()->frames >= before + 5; });
        since = std::chrono::steady_clock::now();
        SetForegroundWindow(demo);
        takenAgain = screenIs({w, h});
        takenAgainMs = msSince();
        covers = within1s([&] {
          const Placement p = PlacementOf(demo);
          return !IsIconic(demo) && p.rect.left == 0 && p.rect.top == 0 && p.rect.right == w && p.rect.bottom == h;
        });
        DestroyWindow(other);
        since = std::chrono::steady_clock::now();
        ChangeDisplaySettingsW(nullptr, 0);
        SendMessageW(demo, WM_DISPLAYCHANGE, 32, MAKELPARAM(screen.first, screen.second));
        reclaimed = screenIs({w, h}) && within1s([&] { return PlacementOf(demo).rect.right == w; });
        reclaimedMs = msSince();
        PressKey(demo, VK_ESCAPE);
      },
      [&] {
        const int s = RunDemo(*video, audio);
        // The demo's thread (this one) no longer holds the display awake.
        awakeAtEnd = SetThreadExecutionState(ES_CONTINUOUS) != ES_CONTINUOUS;
        return s;
      });
  EXPECT_TRUE(switched) << "the demo did not switch to " << chosen;
  ASSERT_NE(probeAbs.load(), nullptr);
  EXPECT_EQ(probeAbs.load()->firstFrameState, ProbeEffect::kAwake) << "the display may sleep while the demo plays";
  EXPECT_FALSE(awakeAtEnd) << "the display is held awake after the demo";
  EXPECT_TRUE(givenBack) << "the desktop's mode did not come back within 1 s of the focus going";
  EXPECT_TRUE(minimised) << "the demo stayed on the screen behind the other program";
  EXPECT_TRUE(framesWentOn) << "the demo stopped drawing while another program had the focus";
  EXPECT_TRUE(takenAgain) << "the demo's mode did not come back within 1 s of its activation";
  EXPECT_TRUE(covers) << "the demo does not cover the screen again";
  EXPECT_TRUE(reclaimed) << "the demo's mode did not come back within 1 s of the system taking it";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), screen.first);
  std::printf("desktop's mode back %.0f ms after the focus went; the demo's mode back %.0f ms after its activation, "
              "%.0f ms after the system took it\n",
              givenBackMs, takenAgainMs, reclaimedMs);
}

}  // namespace
