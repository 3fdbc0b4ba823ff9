// effects.h — the two layers of the picture and the values time drives.
//
// What it is for: `fAbs` draws the relief strip (the stone photograph lit
// through its own normal map, with the rust and the marble, through the
// program "abs"); `fMask` multiplies a veil of the cloud, the caustics and
// the bark over it (program "mask") and, from the credits' start on, adds the
// credits image over the right half of the picture (the files' names are
// data/files.h's). Both see the strip
// through the same camera, which slides left as the music plays. What time
// drives in them is effects/timeline.h's.
//
// How to use it: construct, `init` once with a current GL context (after
// ilInit), then `render(time)` once per frame, abs before mask, under the
// state contract of filter.h.
//
// How it fails: `init` throws ResourceError (gpu/texture.h) when an image
// cannot be loaded; a shader that fails to build still draws (the log says
// why), and a program without "t" or "fade" simply does not receive them.
#pragma once

#include "effects/filter.h"

struct ShaderProgram;
struct TextureHandle;

class fAbs : public filter {
 public:
  void init() override;
  void render(double time) override;

  ShaderProgram* program;
  TextureHandle* image1;  // the stone
  TextureHandle* image2;  // the rust
  TextureHandle* image3;  // the marble
  TextureHandle* relief;  // the normal map of the stone
  float* tValue;          // registry-owned; null: no uniform "t"
};

class fMask : public filter {
 public:
  void init() override;
  void render(double time) override;

  ShaderProgram* program;
  TextureHandle* image1;   // the cloud
  TextureHandle* image2;   // the caustics
  TextureHandle* image3;   // the bark
  TextureHandle* credits;  // the credits
  float* tValue;           // registry-owned; null: no uniform "t"
  float* fadeValue;        // registry-owned; null: no uniform "fade"
};
