#include "effects/timeline.h"

#include "score/score.h"

using sorvane::score::ThePiece;

namespace {

// The credits come in as the music falls away.
double CreditsStart() { return ThePiece().fadeOutStart; }

}  // namespace

float StripTranslationX(double time) { return -static_cast<float>(time) * sorvane::score::kSlide; }

float TimeUniform(double time) { return static_cast<float>(time) * sorvane::score::kTimeScale; }

float FadeUniform(double time) {
  const double fadeInEnd = ThePiece().fadeInEnd, fadeOutStart = ThePiece().fadeOutStart;
  if (time < fadeInEnd) return static_cast<float>(time / fadeInEnd);
  if (time > fadeOutStart) return static_cast<float>(1.0 - (time - fadeOutStart) * 0.1);
  return 1.0f;
}

bool CreditsDrawn(double time) { return !(time < CreditsStart()); }

int CreditsAlpha(double time) {
  const double a = (time - CreditsStart()) * 0.066;
  if (a < 0.0) return 0;
  if (a > 1.0) return 255;
  return static_cast<int>(255.0 * a);
}
