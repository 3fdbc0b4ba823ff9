#include "effects/effects.h"
#include "shell/shell.h"

filter* CreateDemoEffect(EffectKind kind) {
  if (kind == EffectKind::Abs) return new fAbs;
  return new fMask;
}
