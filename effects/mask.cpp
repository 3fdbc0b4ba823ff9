#include <GL/glew.h>

#include "effects/effects.h"

#include "data/files.h"
#include "effects/timeline.h"
#include "effects/strip.h"
#include "gpu/shader.h"
#include "gpu/texture.h"

void fMask::init() {
  program = LoadShaderProgram(datafiles::kMask);
  image1 = LoadTexture(datafiles::kCloud);
  image2 = LoadTexture(datafiles::kCaustics);
  image3 = LoadTexture(datafiles::kBark);
  credits = LoadTexture(datafiles::kCredits);
  tValue = FindUniform(program->registry, "t");
  fadeValue = FindUniform(program->registry, "fade");
}

void fMask::render(double time) {
  // The veil: the same strip through the same camera, multiplied over the
  // relief already in the frame.
  PushStripCamera(time);
  if (fadeValue) *fadeValue = FadeUniform(time);
  if (tValue) *tValue = TimeUniform(time);
  glEnable(GL_BLEND);
  glBlendFunc(GL_DST_COLOR, GL_ZERO);
  const TextureHandle* units[] = {image1, image2, image3};
  DrawStripWith(*program, units, 3);
  glDisable(GL_BLEND);
  PopCamera();
  if (!CreditsDrawn(time)) return;

  // The credits: added over the right half of the picture, fixed function.
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(-2.0, 2.0, -1.0, 1.0, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -0.5f);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glColor4ub(255, 255, 255, static_cast<GLubyte>(CreditsAlpha(time)));
  glActiveTextureARB(GL_TEXTURE0_ARB);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, credits->glName);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 1.0f);
  glVertex2f(0.0f, -1.0f);
  glTexCoord2f(0.0f, 0.0f);
  glVertex2f(0.0f, 1.0f);
  glTexCoord2f(1.0f, 0.0f);
  glVertex2f(2.0f, 1.0f);
  glTexCoord2f(1.0f, 1.0f);
  glVertex2f(2.0f, -1.0f);
  glEnd();
  glActiveTextureARB(GL_TEXTURE0_ARB);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_BLEND);
  PopCamera();
}
