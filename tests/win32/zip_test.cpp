// The unpacked zip end to end, as a Windows user meets it: sorvane.exe started
// in a copy of the zip's folder (with nothing from the build on the DLL
// path), its settings dialog answered with keys, the demo watched on the
// screen, and its exit status read. Damaged copies of the folder check that a
// missing or broken file ends in the one error box and status 1, and that a
// broken shader only shows in "shaders.log".
//
// SORVANE_ZIP_DIR names the unpacked folder (tests/win32/run-zip-tests sets
// it); every case works on a fresh copy of it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/win32/win32_windows.h"

namespace fs = std::filesystem;
using namespace win32test;

namespace {

const std::wstring kDemoClass = L"Sorvane";
const std::wstring kStartupFailure = L"An error occured during init or extension missing.";
constexpr const char* kImage = "311_18.jpg";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A copy of the zip's folder in a fresh temporary folder, removed afterwards.
class Folder {
 public:
  Folder() {
    const char* zip = std::getenv("SORVANE_ZIP_DIR");
    if (!zip || !*zip) return;
    std::random_device seed;
    path_ = fs::temp_directory_path() / ("sorvane-zip-" + std::to_string(seed()));
    std::error_code error;
    fs::copy(zip, path_, fs::copy_options::recursive, error);
    if (error) path_.clear();
  }
  ~Folder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// sorvane.exe running in a folder; killed if still running at the end.
class Demo {
 public:
  // Started in `workingFolder` (by default the program's own, as the zip's
  // instructions say).
  explicit Demo(const fs::path& folder, const fs::path& workingFolder = {}) {
    const std::wstring exe = (folder / "sorvane.exe").wstring();
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const std::wstring cwd = (workingFolder.empty() ? folder : workingFolder).wstring();
    if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(),
                       &startup, &process_)) {
      CloseHandle(process_.hThread);
    } else {
      process_ = {};
    }
  }
  ~Demo() {
    if (!process_.hProcess) return;
    if (!Wait(0ms)) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 10000);
    }
    CloseHandle(process_.hProcess);
  }
  Demo(const Demo&) = delete;
  Demo& operator=(const Demo&) = delete;

  bool Started() const { return process_.hProcess != nullptr; }
  DWORD Pid() const { return process_.dwProcessId; }

  // The exit status, waiting up to `limit`; nothing while it still runs.
  std::optional<DWORD> Wait(std::chrono::milliseconds limit) {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) return std::nullopt;
    DWORD status = 0;
    GetExitCodeProcess(process_.hProcess, &status);
    return status;
  }

  // Waits for the settings dialog and accepts it with Return; false when
  // no dialog came.
  bool AcceptSettings() {
    HWND dialog = WaitForWindow(Titled(kDialogClass, L"sorvane", Pid()), 60s);
    if (dialog) PressKey(dialog, VK_RETURN);
    return dialog != nullptr;
  }
  HWND Window(std::chrono::milliseconds limit = 60s) { return WaitForWindow(Titled(kDemoClass, L"sorvane", Pid()), limit); }
  HWND ErrorBox(std::chrono::milliseconds limit = 60s) {
    return WaitForWindow(Titled(kDialogClass, L"Error", Pid()), limit);
  }

 private:
  PROCESS_INFORMATION process_{};
};

// The pixels of a screen rectangle, 0x00RRGGBB, read through GDI as a
// screenshot would.
std::vector<uint32_t> Grab(const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  std::vector<uint32_t> pixels;
  if (w <= 0 || h <= 0) return pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY)) {
      GdiFlush();
      const auto* p = static_cast<const uint32_t*>(bits);
      pixels.reserve(static_cast<size_t>(w) * h);
      for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) pixels.push_back(p[i] & 0xFFFFFF);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// Share of pixels that are not (nearly) black.
double LitShare(const std::vector<uint32_t>& pixels) {
  if (pixels.empty()) return 0.0;
  size_t lit = 0;
  for (uint32_t p : pixels) lit += ((p >> 16 & 0xFF) > 24 || (p >> 8 & 0xFF) > 24 || (p & 0xFF) > 24);
  return static_cast<double>(lit) / static_cast<double>(pixels.size());
}

class ZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Without its folder the test has nothing to check: that is a failure,
    // never a pass.
    const char* zip = std::getenv("SORVANE_ZIP_DIR");
    ASSERT_TRUE(zip && *zip) << "SORVANE_ZIP_DIR is not set (run tests/win32/run-zip-tests)";
    ASSERT_FALSE(folder.path().empty()) << "cannot copy " << zip;
    ASSERT_TRUE(fs::exists(folder / "sorvane.exe")) << zip << " holds no sorvane.exe";
  }

  // Starts the demo, accepts the dialog's defaults with Return, and expects
  // the start-up error box: dismissing it must end the demo with 1.
  void ExpectErrorBoxThenStatusOne() {
    Demo demo(folder.path());
    ASSERT_TRUE(demo.Started());
    ASSERT_TRUE(demo.AcceptSettings()) << "no settings dialog";
    HWND box = demo.ErrorBox();
    ASSERT_NE(box, nullptr) << "no error box";
    bool saysWhy = false;
    for (const Control& c : Controls(box)) saysWhy = saysWhy || c.text == kStartupFailure;
    EXPECT_TRUE(saysWhy);
    EXPECT_FALSE(demo.Wait(300ms).has_value()) << "the demo ended before the box was dismissed";
    PressKey(box, VK_RETURN);
    EXPECT_EQ(demo.Wait(20s), std::optional<DWORD>(1));
  }

  Folder folder;
};

TEST_F(ZipTest, ReturnStartsTheDemoWhichDrawsTheMovingPictureUntilEscapeEndsItWithZero) {
  Demo demo(folder.path());
  ASSERT_TRUE(demo.Started());
  ASSERT_TRUE(demo.AcceptSettings()) << "no settings dialog";
  HWND window = demo.Window();
  ASSERT_NE(window, nullptr) << "no demo window";

  // Full screen by default: the window covers the screen, and the picture is
  // the 2:1 strip across its middle.
  RECT rect{};
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(rect.bottom, GetSystemMetrics(SM_CYSCREEN));
  const int width = rect.right, stripHeight = rect.right / 2;
  const int stripTop = (rect.bottom - stripHeight) / 2;
  const RECT strip{width / 4, stripTop + stripHeight / 4, width * 3 / 4, stripTop + stripHeight * 3 / 4};

  std::vector<uint32_t> first;
  EXPECT_TRUE(WaitUntil([&] { return LitShare(first = Grab(strip)) > 0.2; }, 30s)) << "the strip stays dark";
  EXPECT_TRUE(WaitUntil([&] { return Grab(strip) != first; }, 10s)) << "the picture does not move";
  EXPECT_EQ(demo.ErrorBox(0ms), nullptr);
  EXPECT_FALSE(demo.Wait(0ms).has_value()) << "the demo ended on its own";

  PressKey(window, VK_ESCAPE);
  EXPECT_EQ(demo.Wait(20s), std::optional<DWORD>(0));
  const std::string log = ReadAll(folder / "shaders.log");
  EXPECT_NE(log.find("# shader linking log:"), std::string::npos) << log;
}

// A shortcut whose "Start in" is elsewhere: the data beside the program is
// found, and the shader log is written there too.
TEST_F(ZipTest, StartedFromAnotherFolderTheDemoFindsItsDataBesideTheProgram) {
  const fs::path elsewhere = folder.path().parent_path() / (folder.path().filename().string() + "-elsewhere");
  fs::create_directories(elsewhere);
  {
    Demo demo(folder.path(), elsewhere);
    ASSERT_TRUE(demo.Started());
    ASSERT_TRUE(demo.AcceptSettings()) << "no settings dialog";
    HWND window = demo.Window();
    ASSERT_NE(window, nullptr) << "no demo window";
    EXPECT_EQ(demo.ErrorBox(3s), nullptr) << "start-up failed: the data was not found";
    PressKey(window, VK_ESCAPE);
    EXPECT_EQ(demo.Wait(20s), std::optional<DWORD>(0));
  }
  EXPECT_NE(ReadAll(folder / "shaders.log").find("# shader linking log:"), std::string::npos);
  EXPECT_FALSE(fs::exists(elsewhere / "shaders.log"));
  std::error_code ignored;
  fs::remove_all(elsewhere, ignored);
}

TEST_F(ZipTest, WithoutTheMusicTheErrorBoxEndsTheDemoWithOne) {
  fs::remove(folder / "04-Slow_Amber_Circles.ogg");
  ExpectErrorBoxThenStatusOne();
}

TEST_F(ZipTest, ADamagedImageEndsInTheErrorBoxAndStatusOne) {
  const std::string original = ReadAll(folder / kImage);
  ASSERT_GT(original.size(), 1000u);
  {
    SCOPED_TRACE("truncated");
    WriteAll(folder / kImage, original.substr(0, original.size() / 2));
    ExpectErrorBoxThenStatusOne();
  }
  {
    SCOPED_TRACE("random bytes");
    std::mt19937 random(12);
    std::string noise(original.size(), '\0');
    for (char& c : noise) c = static_cast<char>(random());
    WriteAll(folder / kImage, noise);
    ExpectErrorBoxThenStatusOne();
  }
  {
    SCOPED_TRACE("a directory in its place");
    fs::remove(folder / kImage);
    fs::create_directory(folder / kImage);
    ExpectErrorBoxThenStatusOne();
  }
}

TEST_F(ZipTest, ABrokenShaderLeavesTheDemoRunningAndShadersLogSaysWhy) {
  WriteAll(folder / "abs.frag", "void main() { gl_FragColor = vec4(sorvane_undeclared_colour); }\n");
  Demo demo(folder.path());
  ASSERT_TRUE(demo.Started());
  ASSERT_TRUE(demo.AcceptSettings()) << "no settings dialog";
  HWND window = demo.Window();
  ASSERT_NE(window, nullptr) << "no demo window";
  // Running, not failing: no box while the log is written and frames go by.
  EXPECT_TRUE(WaitUntil([&] { return ReadAll(folder / "shaders.log").find("sorvane_undeclared_colour") != std::string::npos; },
                        30s));
  EXPECT_EQ(demo.ErrorBox(2s), nullptr);
  EXPECT_FALSE(demo.Wait(0ms).has_value());
  PressKey(window, VK_ESCAPE);
  EXPECT_EQ(demo.Wait(20s), std::optional<DWORD>(0));
  const std::string log = ReadAll(folder / "shaders.log");
  EXPECT_NE(log.find("# fragment shader log:"), std::string::npos) << log;
  EXPECT_NE(log.find("sorvane_undeclared_colour"), std::string::npos) << log;
}

}  // namespace
