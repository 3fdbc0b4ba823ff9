#include "effects/timeline.h"
#include "effects/score_timeline.h"

float StripTranslationX(double time) { return -static_cast<float>(time) * timeline::kSlide; }

float TimeUniform(double time) { return static_cast<float>(time) * timeline::kTimeScale; }

float FadeUniform(double time) {
  if (time < timeline::kFadeInEnd) return static_cast<float>(time / timeline::kFadeInEnd);
  if (time > timeline::kFadeOutStart) return static_cast<float>(1.0 - (time - timeline::kFadeOutStart) * 0.1);
  return 1.0f;
}

bool CreditsDrawn(double time) { return !(time < timeline::kCreditsStart); }

int CreditsAlpha(double time) {
  const double a = (time - timeline::kCreditsStart) * 0.066;
  if (a < 0.0) return 0;
  if (a > 1.0) return 255;
  return static_cast<int>(255.0 * a);
}
