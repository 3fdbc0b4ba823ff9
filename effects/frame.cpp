#include "effects/frame.h"

#include <GL/glew.h>

#include "effects/filter.h"

Viewport LetterboxViewport(int32_t width, int32_t height) {
  const int32_t halfWidth = width >> 1;
  return {0, (height - halfWidth) >> 1, width, halfWidth};
}

void SetFixedGlState() {
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepth(10000.0);  // clamped to 1.0 by the GL
  glDepthFunc(GL_LESS);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}

void DrawFrame(double time, filter& relief, filter* veil) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  relief.render(time);
  if (veil) veil->render(time);
}
