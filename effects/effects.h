// effects.h — the two layers of the picture and the values time drives.
//
// What it is for: `fAbs` draws the relief strip (the photograph "311_18.jpg"
// lit through its own normal map, with "162_05.jpg" and "308_18.jpg", through
// the program "abs"); `fMask` multiplies a veil of "001_14.jpg", "003_14.jpg"
// and "003_01.jpg" over it (program "mask") and, from the credits' start on,
// adds "credits.jpg" over the right half of the picture. Both see the strip
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
  TextureHandle* image1;  // "311_18.jpg"
  TextureHandle* image2;  // "162_05.jpg"
  TextureHandle* image3;  // "308_18.jpg"
  TextureHandle* relief;  // the normal map of "311_18.jpg"
  float* tValue;          // registry-owned; null: no uniform "t"
};

class fMask : public filter {
 public:
  void init() override;
  void render(double time) override;

  ShaderProgram* program;
  TextureHandle* image1;   // "001_14.jpg"
  TextureHandle* image2;   // "003_14.jpg"
  TextureHandle* image3;   // "003_01.jpg"
  TextureHandle* credits;  // "credits.jpg"
  float* tValue;           // registry-owned; null: no uniform "t"
  float* fadeValue;        // registry-owned; null: no uniform "fade"
};
