// timeline.h — what the music's time drives in the picture: the exact
// arithmetic both layers use, pure and callable without GL.
//
// Their times and rates come from the score (the fade-in's end, the fade-out
// and the credits' start, the camera's slide, the shaders' clock); only the
// rates of the fade-out and the credits' ramp are the picture's own.
#pragma once

// The strip's horizontal translation at `time`: single-precision time,
// negated, times the single-precision slide.
float StripTranslationX(double time);
// The uniform "t": single-precision time times the single-precision time
// scale.
float TimeUniform(double time);
// The uniform "fade": rises from 0 until the fade-in's end, 1 until the
// fade-out's start, then falls by 0.1 per second without a floor.
float FadeUniform(double time);
// Whether the credits pass runs, and its alpha (0 to 255).
bool CreditsDrawn(double time);
int CreditsAlpha(double time);
