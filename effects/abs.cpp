#include "effects/effects.h"
#include "effects/timeline.h"
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
  DrawStripWith(*program, units, 4);
  PopCamera();
}
