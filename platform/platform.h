// platform.h — the narrow interface between the demo and the operating system.
//
// What it is for: everything the shell needs from a windowing system, a GL
// driver and a sound device, and nothing more. The shell, the GPU resources and
// the effects are portable C++ that talk only to `platform::Video` and
// `platform::Audio`. Behind this one header, two wings, one file a backend:
//   audio/   the music stream and its clocks: PipeWire, PulseAudio, WASAPI and
//            SDL backends, the clock models (music_clock.h), the Ogg source,
//            the desktop's one choice (desktop_audio.cpp), what the backends
//            share (backend.h);
//   video/   windows, GL contexts, events and dialogs: SDL2 with FLTK dialogs
//            on Linux, Win32 + WGL with its resource script (the dialog, the
//            manifest, the version) on Windows, the desktop's one choice
//            (desktop_video.cpp), and SIGINT/SIGTERM/SIGHUP as close
//            requests (signals.h);
//   web/     the browser: the page's canvas, form and panel, WebGL 1 under
//            the desktop GL calls the demo makes (legacy_gl.h), Web Audio,
//            the data files fetched from the site (program_folders_web.cpp);
//   here     where the installed program finds its files
//            (program_folders_linux.cpp, program_folders_win32.cpp).
//
// How to use it: `platform::CreateDesktopVideo()` / `platform::CreateDesktopAudio()`
// for the real thing (the desktop video backend is SDL2 on Linux, Win32 + WGL
// on Windows, the page in a browser). The null backends, `platform::NullVideo` (video/null_video.h)
// and `platform::NullAudio` (audio/null_audio.h), script and record every
// call for tests.
//
// Member names avoid the Win32 API's own (which are macros there), so a
// Windows backend can include <windows.h> beside this header.
//
// Messages follow the classic window-procedure model because the demo's own
// logic is written against it: the pump hands each pending event to the
// window's procedure as a `Message` with the usual numbers (key down 0x0100,
// close 0x0010, quit 0x0012). Platform code reports; the core decides: no
// backend ever ends the process or quits on its own.
//
// How it fails: every operation that can fail says so in its result (false,
// 0 or null) and has no other effect; no backend throws or aborts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Message numbers handed to window procedures.
enum : uint32_t {
  kMsgNull = 0x0000,
  kMsgClose = 0x0010,
  kMsgQuit = 0x0012,
  kMsgKeyDown = 0x0100,
  kMsgKeyUp = 0x0101,
  kMsgSysKeyDown = 0x0104,
  kMsgSysKeyUp = 0x0105,
};

// Virtual key codes carried in a key message's wParam (only the ones the
// demo or its tests care about; other keys carry their upper-case ASCII code
// or a code of 0x80 and above).
enum : uintptr_t {
  kKeyReturn = 13,
  kKeyEscape = 27,
  kKeySpace = 32,
};

struct Window;  // opaque, owned by the backend

using WindowProc = intptr_t (*)(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

struct Message {
  Window* window = nullptr;  // null for the thread's quit message
  uint32_t message = kMsgNull;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// The rendering surface start-up asks for: double-buffered RGBA.
struct SurfaceFormat {
  int colorBits = 32;
  int depthBits = 8;    // at least this many
  int samples = 0;      // 0: no multisampling; >1: ask for it, fall back to none
};

struct WindowSpec {
  std::string title;
  int x = 0, y = 0;           // outer top-left corner
  int width = 0, height = 0;  // OUTER size, frame and title bar included
  bool fullscreen = false;    // borderless, covering the switched display mode
  bool hidden = false;        // never shown (headless capture, tests)
  SurfaceFormat format;
};

struct DisplayMode {
  int width = 0;
  int height = 0;
  int bits = 0;        // bits per pixel: bytes per pixel × 8
  int refreshHz = 0;
};

struct ScreenSize {
  int width = 0;
  int height = 0;
};

// A modal dialog built from a template of controls. The backend shows it and
// routes its events to a dialog procedure with the same message model as
// windows: kDlgInit once, then kDlgCommand with the control id in wParam's low
// 16 bits. The procedure drives the controls through `DialogHost`.
enum : uint32_t {
  kDlgInit = 0x0110,
  kDlgCommand = 0x0111,
};

enum class ControlKind { Button, DefaultButton, Label, DropDown, CheckBox };

struct DialogControl {
  int id;
  ControlKind kind;
  const char* text;  // label or button text; null for none
  int x, y, width, height;  // dialog units
};

struct DialogTemplate {
  const char* caption;
  const char* fontFace;  // a family hint; the backend picks the closest bold sans
  int fontPoints;
  bool fontBold;
  int width, height;  // dialog units
  const DialogControl* controls;
  int controlCount;   // also the tab order
  int acceptId;       // chosen by Enter
  int cancelId;       // chosen by Escape and by any close request
};

class DialogHost {
 public:
  virtual void AddString(int controlId, const char* text) = 0;
  virtual void SetCurSel(int controlId, int index) = 0;  // -1: none
  virtual int GetCurSel(int controlId) = 0;              // -1: none
  virtual void SetCheck(int controlId, bool checked) = 0;
  virtual bool GetCheck(int controlId) = 0;
  virtual void End(intptr_t result) = 0;

 protected:
  ~DialogHost() = default;
};

using DialogProc = intptr_t (*)(DialogHost& dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Windowing, GL context, events, display modes and message boxes.
class Video {
 public:
  virtual ~Video() = default;

  // Connects to the display and registers the procedure that every window of
  // this backend uses. False: no display, or the backend cannot start.
  virtual bool RegisterWindowClass(WindowProc procedure) = 0;

  // Display mode `index` of the current display, in the display's own order.
  // False once the index is past the last mode.
  virtual bool GetDisplayMode(int index, DisplayMode* mode) = 0;

  // Switches the display to width × height at `bits` per pixel for the next
  // full-screen window. False: the display offers no such mode. A switched
  // display is switched back by `Shutdown`, on every way out of the process.
  // A display whose modes are only pretended (a Wayland compositor, XWayland)
  // is not switched: any size is accepted, listed or not, and the
  // full-screen window then covers the screen at the desktop's own size, as
  // `GetScreenSize` keeps saying.
  virtual bool SwitchDisplayMode(int width, int height, int bits) = 0;

  // The screen size in pixels in the current (possibly just switched) mode.
  virtual ScreenSize GetScreenSize() = 0;

  // Creates the window (not yet shown). The surface format travels with the
  // window because X11-like systems fix a window's visual when it is made.
  virtual Window* OpenWindow(const WindowSpec& spec) = 0;

  // The window's drawable, the handle that pixel formats, contexts and buffer
  // swaps are made against. Null: none.
  virtual Window* GetDrawable(Window* window) = 0;

  // The drawable's size in pixels now: what a window manager made of the
  // window, and on a scaled screen the screen's own pixels, not the
  // window's units. 0 × 0 where there is none (a minimised window).
  virtual ScreenSize GetDrawableSize(Window* drawable) = 0;

  // The index of the closest supported pixel format (0: none), and its
  // application to the drawable.
  virtual int ChooseSurfaceFormat(Window* drawable, const SurfaceFormat& format) = 0;
  virtual bool ApplySurfaceFormat(Window* drawable, int formatIndex) = 0;

  // An OpenGL compatibility-profile context for the drawable, and making it
  // current on the calling thread (GLEW is initialised by the caller).
  virtual bool CreateContext(Window* drawable) = 0;
  virtual bool MakeCurrent(Window* drawable) = 0;

  virtual void Show(Window* window) = 0;
  virtual void Focus(Window* window) = 0;
  virtual void HideCursor() = 0;

  // Swap control for the current context.
  virtual bool HasSwapControl() = 0;
  virtual void SetSwapInterval(int interval) = 0;

  // Removes one pending message without waiting; false when none is pending.
  // The quit message posted by `PostQuit` comes once the queue is otherwise
  // empty, with a null window. On Linux SIGINT, SIGTERM and SIGHUP arrive as
  // a close request for the demo window (a Windows GUI program gets no such
  // signals; the system's own close request reaches the window instead).
  virtual bool PollMessage(Message* message) = 0;
  // Hands a message to its window's procedure; the quit message has no window
  // and goes nowhere.
  virtual intptr_t Dispatch(const Message& message) = 0;
  virtual void PostQuit(int exitCode) = 0;
  // What a window does with a message its procedure does not handle.
  virtual intptr_t DefaultWindowProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

  virtual void Present(Window* drawable) = 0;

  // Puts a switched display mode back, hides full-screen windows and shows
  // the cursor again, so that what comes next (an error box) meets the
  // desktop as the user left it. The windows and contexts stay. Safe to call
  // when nothing was switched or hidden.
  virtual void LeaveFullscreen() = 0;

  // A modal message box with an error icon and one OK button; where no display
  // can show it, the text goes to stderr. A close signal (SIGINT, SIGTERM,
  // SIGHUP) dismisses it as OK does.
  virtual void ShowErrorBox(const char* caption, const char* text) = 0;

  // Shows a modal dialog and returns the value its procedure passed to
  // End, or -1 when the dialog cannot be shown at all. A close signal reaches
  // the procedure as the template's cancel command.
  virtual intptr_t RunDialog(const DialogTemplate& tmpl, DialogProc procedure) = 0;

  // Restores a switched display mode and lets go of the display. Safe to call
  // more than once; called on every way out.
  virtual void Shutdown() = 0;
};

// The music stream, standing in for a closed sound library: a file stream is
// created on an opened device, started, and its position read in bytes of the
// decoded 16-bit PCM (frames × channels × 2) following the sample being heard.
class Audio {
 public:
  virtual ~Audio() = default;
  // Opens the default output device (device -1) at `frequency` Hz.
  virtual bool Init(int device, int frequency) = 0;
  // Opens an Ogg Vorbis file, decoded as it plays, not looped. 0: the file is
  // missing or cannot be decoded, or no device is open.
  virtual uint32_t StreamCreateFile(const char* path) = 0;
  virtual bool Start() = 0;
  // Starts the stream from the beginning (restart) or where it stands.
  virtual bool ChannelPlay(uint32_t stream, bool restart) = 0;
  virtual uint64_t ChannelGetPosition(uint32_t stream) = 0;
  virtual double ChannelBytes2Seconds(uint32_t stream, uint64_t bytes) = 0;
  // Stops all output, then releases the device.
  virtual bool Stop() = 0;
  virtual bool Free() = 0;
};

// Where the program's own files may lie besides the working folder, and
// where it may write its own (the shader log) when the folder it reads from
// is not writable. `data`: folders to try in order (Windows: the program's
// own folder; Linux: ../share/sorvane beside the executable, where a package
// installs it). `state`: the user's folder for this program
// (%LOCALAPPDATA%\sorvane; $XDG_STATE_HOME/sorvane, by default
// ~/.local/state/sorvane), not necessarily existing yet. Empty where the
// system cannot say.
struct ProgramFolders {
  std::vector<std::string> data;
  std::string state;
};
ProgramFolders GetProgramFolders();

// The video backend of the platform this program was built for: the one
// place that picks it. Linux: `CreateSdlVideo`; Windows: `CreateWin32Video`;
// a browser: `CreateWebVideo` (the page's canvas, WebGL 1, the page's form
// as the dialog: web/web_video.cpp).
std::unique_ptr<Video> CreateDesktopVideo();
std::unique_ptr<Video> CreateSdlVideo();    // Linux builds only
std::unique_ptr<Video> CreateWin32Video();  // Windows builds only
std::unique_ptr<Video> CreateWebVideo();    // browser builds only

// A never-shown window with a GL context current on it, for drawing off
// screen (the capture tool, tests): start-up's steps in start-up's order, with
// a window procedure that handles nothing. Returns its drawable, or null when
// a step fails (no display, no pixel format, no context); GLEW is the
// caller's to initialise.
Window* OpenHiddenGlWindow(Video& video, const std::string& title, int width, int height);

// The desktop's music. On Linux, where a sound server answers and takes the
// stream, a stream whose position is the server's account of the sample
// being played: PipeWire's own stream where a PipeWire daemon links it to an
// audio sink, else a libpulse stream (PulseAudio); elsewhere (a bare ALSA
// device, SDL's dummy driver) an SDL device whose position is estimated from
// its callbacks; on Windows a WASAPI stream on the default device's own
// clock, else the SDL device. The choice is made by `Init` and
// `StreamCreateFile`. A server or a device that goes away mid-run (on
// Windows also a device that stops being the default) leaves the position
// running on at the music's pace until an output answers again, where the
// track resumes at the position reached.
std::unique_ptr<Audio> CreateDesktopAudio();
// The backends on their own, for tests and benchmarks; `CreateServerAudio`
// is the sound server's choice of the two after it, resumed as above. A
// server backend's `Init` fails, within two seconds and with nothing left
// behind, where no server of its kind answers; it never starts one. Linux
// builds only.
std::unique_ptr<Audio> CreateServerAudio();
std::unique_ptr<Audio> CreatePipeWireAudio();
std::unique_ptr<Audio> CreatePulseAudio();
// `BuffersHandedOver` reports the frames handed to the device so far, the
// naive clock, kept only so benchmarks can show what the heard clock fixes.
enum class ClockModel { Heard, BuffersHandedOver };
std::unique_ptr<Audio> CreateSdlAudio(ClockModel model = ClockModel::Heard);
// Windows' own: a WASAPI shared-mode stream on the default output device,
// its position the device's, on its own (not resumed). Windows builds only.
std::unique_ptr<Audio> CreateWasapiAudio();
// The browser's: Web Audio, the track decoded by the browser, its position
// the sample heard (web/web_audio.cpp). Browser builds only.
std::unique_ptr<Audio> CreateWebAudio();

}  // namespace platform
