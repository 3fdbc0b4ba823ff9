#include "effects/strip.h"

#include <GL/glew.h>
#include <GL/glu.h>

#include "effects/timeline.h"
#include "gpu/shader.h"
#include "gpu/texture.h"

void PushStripCamera(double time) {
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  // The near plane is 0.01 in single precision, passed on as a double.
  gluPerspective(45.0, 2.0, static_cast<double>(0.01f), 10.0);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glTranslatef(StripTranslationX(time), 0.0f, -1.5f);
}

void DrawStrip() {
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex2f(-2.0f, -1.0f);
  glTexCoord2f(0.0f, 1.0f);
  glVertex2f(-2.0f, 1.0f);
  glTexCoord2f(26.0f, 1.0f);
  glVertex2f(102.0f, 1.0f);
  glTexCoord2f(26.0f, 0.0f);
  glVertex2f(102.0f, -1.0f);
  glEnd();
}

void DrawStripWith(const ShaderProgram& program, const TextureHandle* const* textures, int count) {
  for (int unit = 0; unit < count; ++unit) {
    glActiveTextureARB(GL_TEXTURE0_ARB + unit);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, textures[unit]->glName);
  }
  glUseProgramObjectARB(program.programObject);
  if (program.registryEnabled) UploadUniforms(program.registry);
  DrawStrip();
  glUseProgramObjectARB(0);
  for (int unit = count - 1; unit >= 0; --unit) {
    glActiveTextureARB(GL_TEXTURE0_ARB + unit);
    glDisable(GL_TEXTURE_2D);
  }
}

void PopCamera() {
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
}
