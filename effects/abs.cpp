#include "effects/effects.h"

#include "data/files.h"
#include "effects/timeline.h"
#include "effects/strip.h"
#include "gpu/shader.h"
#include "gpu/texture.h"

void fAbs::init() {
  program = LoadShaderProgram(datafiles::kAbs);
  image1 = LoadTexture(datafiles::kStone);
  image2 = LoadTexture(datafiles::kRust);
  image3 = LoadTexture(datafiles::kMarble);
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
