#include "effects/strip.h"

#include <GL/glew.h>
#include <GL/glu.h>

#include "effects/effects.h"

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

void PopCamera() {
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
}
