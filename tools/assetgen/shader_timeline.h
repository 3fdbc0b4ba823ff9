// The score's timeline, written into the demo's vertex shaders, so that the
// shaders keep the times of the score the music is rendered from.
//
// The picture follows the music through the same score the music is
// rendered from: TimelineGlsl writes every event of a Score as one call in a
// GLSL function `void playScore()`, in time order per kind: section(start,
// index), chord(start, root pitch class), dynamics(time, pad, cutoff) and
// bell(onset, MIDI pitch, velocity, pan). The functions it calls are the
// shaders' own (data/timeline.glsl). Times are written to 0.1 ms, levels to
// four decimals, so a shader sees the score's values to float precision.
//
// Before it, the constants the effects keep from the score too
// (score/score.h): the picture's clock (kTimeScale, kSlide), the rise from
// black (kFadeInEnd), the fall to black and the credits (kFadeOutStart,
// kCreditsStart: the music's own fade-out) and the piece's end (kEnd). Each
// is written so that it reads back as exactly the value in the score.
//
// FillTimeline puts a block of GLSL between the marker lines
// "// <timeline>" and "// </timeline>" of a shader source, replacing what
// was there and keeping the markers, so the result can be filled again. It
// throws std::runtime_error when the source lacks either marker, has one
// twice, or has them in the wrong order.
#pragma once

#include <string>
#include <string_view>

#include "score/score.h"

namespace sorvane::assetgen {

std::string TimelineGlsl(const score::Score& score);

std::string FillTimeline(std::string_view source, std::string_view block);

}  // namespace sorvane::assetgen
