#include <GL/glew.h>

#include "effects/effects.h"
#include "effects/strip.h"
#include "gpu/shader.h"
#include "gpu/texture.h"

void fAbs::init() {
  program = LoadShaderProgram("abs");
  image1 = LoadTexture("311_18.jpg");
  image2 = LoadTexture("162_05.jpg");
  image3 = LoadTexture("308_18.jpg");
  relief = LoadReliefTexture();
  tValue = FindUniform(program->registry, "t");
}

void fAbs::render(double time) {
  PushStripCamera(time);
  if (tValue) *tValue = TimeUniform(time);

  // Units as the shader's samplers were bound at link time.
  const TextureHandle* units[] = {relief, image1, image2, image3};
  for (int unit = 0; unit < 4; ++unit) {
    glActiveTextureARB(GL_TEXTURE0_ARB + unit);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, units[unit]->glName);
  }
  glUseProgramObjectARB(program->programObject);
  if (program->registryEnabled) UploadUniforms(program->registry);
  DrawStrip();
  glUseProgramObjectARB(0);
  for (int unit = 3; unit >= 0; --unit) {
    glActiveTextureARB(GL_TEXTURE0_ARB + unit);
    glDisable(GL_TEXTURE_2D);
  }
  PopCamera();
}
