#include "effects/effects.h"

float StripTranslationX(double time) { return -static_cast<float>(time) * 0.04f; }

float TimeUniform(double time) { return static_cast<float>(time) * 0.3f; }

float FadeUniform(double time) {
  if (time < 5.0) return static_cast<float>(time / 5.0);
  if (time > 269.0) return static_cast<float>(1.0 - (time - 269.0) * 0.1);
  return 1.0f;
}

bool CreditsDrawn(double time) { return !(time < 269.0); }

int CreditsAlpha(double time) {
  const double a = (time - 269.0) * 0.066;
  if (a < 0.0) return 0;
  if (a > 1.0) return 255;
  return static_cast<int>(255.0 * a);
}
