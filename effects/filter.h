// filter.h — the interface every layer of the picture implements.
//
// What it is for: an effect draws one full-screen layer. Start-up constructs
// it (which sets nothing but its type) and calls `init` once, which builds its
// shader program and textures; the frame loop then calls `render` once per
// frame with the demo time, the relief layer first, then the overlay.
//
// The GL state contract, on entry and on exit of every `render`: matrix mode
// GL_MODELVIEW; both matrix stacks at the depth they had on entry; no program
// in use; GL_TEXTURE_2D disabled on units 0 to 3; GL_TEXTURE0 active on exit;
// blending disabled; the depth test never enabled; the texture environment at
// the GL default. The bound textures, the blend function and the current
// colour are left as the last effect set them and relied on by nobody.
//
// How it fails: neither operation reports anything. A resource that cannot be
// made is handled where it is made (a missing image ends start-up by throwing
// ResourceError out of `init`; a broken shader leaves a program that draws
// whatever it became). Effects are never destroyed: no virtual destructor.
#pragma once

class filter {
 public:
  virtual void init() = 0;
  virtual void render(double time) = 0;

 protected:
  filter() = default;
  ~filter() = default;
};
