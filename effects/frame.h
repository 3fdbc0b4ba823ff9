// frame.h — one frame of the picture for a time.
//
// What it is for: the demo's frame loop and every off-screen renderer (the
// capture tool, the contact sheet, the sync report, the frame benchmark)
// draw a frame through `DrawFrame`, so what is recorded or checked is what
// the demo shows. Time is an argument: nothing here reads a clock.
//
// How to use it: with a current GL context, once: `SetFixedGlState`, and a
// viewport (the strip's letterbox for a window, `LetterboxViewport`); then
// `DrawFrame` per frame with the two layers built (`init`ed). The caller
// presents or reads the frame back.
//
// How it fails: it cannot; the layers' own contract is filter.h's.
#pragma once

#include <cstdint>

class filter;

// The letterbox viewport: a 2:1 strip centred vertically (arithmetic shifts).
struct Viewport {
  int x, y, width, height;
};
Viewport LetterboxViewport(int32_t width, int32_t height);

// The fixed GL state every frame relies on: black clear colour, depth clear
// value and function, nicest perspective correction.
void SetFixedGlState();

// Clears the frame and draws the relief, then the veil over it, for `time`
// seconds of music. Without a veil, the relief alone.
void DrawFrame(double time, filter& relief, filter* veil);
