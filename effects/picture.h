// picture.h — the one owner of the picture: its layers, their start-up, and
// a frame for a time.
//
// What it is for: the demo's frame loop and every off-screen renderer
// (frame_renderer.h: the capture tool, the contact sheet, the sync report,
// the frame benchmark) draw through a `Picture`, so what is recorded or
// checked is what the demo shows, and nothing outside this file knows which
// layers there are. A new layer is a value of `EffectKind` and a line of
// `CreateDemoEffect`, beside its class (effects.h) and its shaders.
//
// How to use it: with a current GL context whose entry points GLEW has
// loaded: `SetFixedGlState` once and a viewport (a window's letterbox,
// `LetterboxViewport`), the image library initialised (ilInit), then `Start`,
// which makes each layer in drawing order and initialises it; then `Draw`
// once per frame. Time is an argument: nothing here reads a clock.
//
// How it fails: `Start` lets a layer's ResourceError (gpu/texture.h) through
// when its images cannot be loaded, with the layers made so far in place;
// `Draw` cannot fail.
#pragma once

#include <cstdint>

class filter;

// The layers in drawing order: the relief (`fAbs`), then the veil and the
// credits over it (`fMask`).
enum class EffectKind { Abs, Mask };
inline constexpr int kLayerCount = 2;
using EffectFactory = filter* (*)(EffectKind kind);
// The demo's own layer of each kind; tests make recording ones instead.
filter* CreateDemoEffect(EffectKind kind);

struct Picture {
  // Makes each layer with `factory` and initialises it, one after the
  // other, in drawing order.
  void Start(EffectFactory factory = CreateDemoEffect);
  // Clears the frame and draws the first `layers` layers (all of them
  // unless fewer are asked for) for `time` seconds of music.
  void Draw(double time, int layers = kLayerCount) const;

  filter* layers[kLayerCount] = {};  // made by Start, kept until the process ends
};

// The letterbox viewport: a 2:1 strip across the width, centred vertically;
// in an area wider than 2:1, across the height, centred horizontally
// (arithmetic shifts).
struct Viewport {
  int x, y, width, height;
};
Viewport LetterboxViewport(int32_t width, int32_t height);

// The fixed GL state every frame relies on: black clear colour, depth clear
// value and function, nicest perspective correction.
void SetFixedGlState();
