#include "effects/picture.h"

#include <GL/glew.h>

#include "effects/effects.h"

filter* CreateDemoEffect(EffectKind kind) {
  switch (kind) {
    case EffectKind::Abs:
      return new fAbs;
    case EffectKind::Mask:
      return new fMask;
  }
  return nullptr;
}

void Picture::Start(EffectFactory factory) {
  for (int i = 0; i < kLayerCount; ++i) {
    layers[i] = factory(static_cast<EffectKind>(i));
    layers[i]->init();
  }
}

void Picture::Draw(double time, int count) const {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  for (int i = 0; i < count && i < kLayerCount; ++i)
    if (layers[i]) layers[i]->render(time);
}

Viewport LetterboxViewport(int32_t width, int32_t height) {
  const int32_t halfWidth = width >> 1;
  if (halfWidth <= height) return {0, (height - halfWidth) >> 1, width, halfWidth};
  // Wider than 2:1 (an ultrawide screen): across the whole height, centred
  // between black bars at the sides, so nothing of the picture is cut.
  const int32_t stripWidth = height * 2;
  return {(width - stripWidth) >> 1, 0, stripWidth, height};
}

void SetFixedGlState() {
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepth(10000.0);  // clamped to 1.0 by the GL
  glDepthFunc(GL_LESS);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}
