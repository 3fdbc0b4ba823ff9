// shell.h — the demo's entry, start-up and frame loop, and the state they share.
//
// What it is for: `RunDemo` owns one whole run: the default settings, the
// settings dialog, `InitDemo` (window, GL context, effects, music) and the
// frame loop, whose time is the music position in seconds. `MainWindowProc`
// turns Escape and the closing of the window into a quit request.
//
// How to use it: `main` hands `RunDemo` the platform backends; tests hand it
// the null backends and recording layers (`DemoEffectFactory`).
//
// How it fails: every start-up failure travels back to `RunDemo` along one
// path, which shows "An error occured during init or extension missing." and
// returns 1. The frame loop checks no results.
#pragma once

#include <cstdint>
#include <string>

#include "effects/picture.h"
#include "gpu/offscreen.h"
#include "platform/platform.h"
#include "shell/data_folder.h"
#include "shell/frame_lead.h"

class filter;

// The settings the dialog edits and start-up consumes. Seven 32-bit fields.
struct DemoSettings {
  int32_t width;
  int32_t height;
  int32_t bits;
  int32_t windowed;     // nonzero: a window; 0: full screen
  int32_t vsync;        // nonzero: swap interval 1
  int32_t multisample;  // nonzero: ask for a multisampled surface
  int32_t spare;        // read by nothing
};

// Writes the defaults: 1280 × 1024 × 32, full screen, no vsync, no
// multisampling. `spare` is left as it is.
void WriteDefaultSettings(DemoSettings& settings);

// Program-wide shell state: one of each for the whole run, zero at start.
extern DemoSettings* ActiveSettings;
extern bool QuitRequested;
extern platform::Video* DemoVideo;
extern platform::Audio* DemoAudio;
extern platform::Window* DemoWindow;
extern platform::Window* DemoDC;
extern bool DemoGLContext;
extern uint32_t MusicStream;
// The picture's layers (effects/picture.h); AbsEffect and MaskEffect are its
// relief and its veil, by the names the frame loop has always used.
extern Picture DemoPicture;
extern filter*& AbsEffect;
extern filter*& MaskEffect;
extern FrameLead DemoFrameLead;

// Where the picture goes in the window (layout.cpp): start-up's one-time
// letterbox until the drawable's size changes, then the letterbox of the
// drawable as it is. `offscreen` holds the picture drawn at the chosen size
// where full screen could not switch the display to it.
struct PictureLayout {
  platform::ScreenSize drawable;  // the drawable's size the strip is laid out for
  OffscreenTarget offscreen;
};
extern PictureLayout DemoLayout;
extern EffectFactory DemoEffectFactory;

intptr_t MainWindowProc(platform::Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Shows the settings dialog over `ActiveSettings`; returns the dialog's end
// value (0: "Die"; 1: "Demo"; -1: the dialog could not be shown).
intptr_t ShowSettingsDialog();

// Builds the running demo; false when a step failed (nothing is undone).
bool InitDemo(int32_t width, int32_t height, int32_t bits, bool fullscreen, bool vsync);

// After the window is shown and GL is ready: the layout starts from the
// drawable as it is now. Full screen whose drawable is not `width` ×
// `height` pixels (a display that did not switch) draws the picture at that
// size off screen, with `samples` a pixel, and scales it into the
// drawable's letterbox; so does full screen at that size where `samples`
// are asked of the picture and not of the window. Any other window whose
// drawable is not that size (a scaled screen, a framed or resized window)
// has the strip laid out for the drawable from the first frame.
void StartLayout(int32_t width, int32_t height, bool fullscreen, int samples);
// Before a frame is drawn: follows the drawable's size, and directs the
// drawing off screen where it is scaled; after it, scales it into the window.
void LayOutFrame();
void ShowFrame();

// Reads the music position after a frame, in seconds: the time of the next one.
double MusicClock();

// One iteration of the frame loop with the given demo time: the frame drawn
// for that time (the picture's Draw) where the layout puts it, the
// pending messages handed to
// the window procedure, the frame presented, the clock read. Returns the time
// of the next iteration: the music position read after the swap, plus the
// lead that makes the next frame show the music of the moment it is on
// screen (frame_lead.h), never less than `demoTime`. With `DrawAhead` false
// the bare reading (the benchmarks' comparison).
double RunFrame(double demoTime);
extern bool DrawAhead;
// The monotonic clock the lead is measured with, in seconds; tests replace it.
extern double (*FrameClock)();

// The whole run; returns the process exit status. The backends stay owned by
// the caller.
int RunDemo(platform::Video& video, platform::Audio& audio);

// Clears every piece of shell state back to its process-start value (tests
// run several demos in one process).
void ResetShellState();
