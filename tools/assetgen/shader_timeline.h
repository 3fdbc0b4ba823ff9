// The score's timeline, written into the demo's vertex shaders and into a
// header the demo's C++ side compiles with: the one source of every time
// the picture keeps.
//
// The picture follows the music through the same score the music is
// rendered from: TimelineGlsl writes every event of a Score as one call in a
// GLSL function `void playScore()`, in time order per kind: section(start,
// index), chord(start, root pitch class), dynamics(time, pad, cutoff) and
// bell(onset, MIDI pitch, velocity, pan). The functions it calls are the
// shaders' own (data/timeline.glsl). Times are written to 0.1 ms, levels to
// four decimals, so a shader sees the score's values to float precision.
//
// Before it, and in TimelineHeader's C++ (namespace `timeline`), the same
// constants: the picture's clock (kTimeScale, kSlide below), the rise from
// black (kFadeInEnd), the fall to black and the credits (kFadeOutStart,
// kCreditsStart: the music's own fade-out), the piece's end (kEnd) and,
// in the header, the sections' starts. Each is written so that it reads
// back as exactly the value here.
//
// FillTimeline puts a block of GLSL between the marker lines
// "// <timeline>" and "// </timeline>" of a shader source, replacing what
// was there and keeping the markers, so the result can be filled again. It
// throws std::runtime_error when the source lacks either marker, has one
// twice, or has them in the wrong order.
#pragma once

#include <string>
#include <string_view>

#include "tools/assetgen/score.h"

namespace sorvane::assetgen {

// The picture's clock, for the shaders and the C++ side alike: the shaders'
// uniform "t" is seconds × kTimeScale, and the camera slides kSlide world
// units a second.
constexpr float kTimeScale = 0.3f;
constexpr float kSlide = 0.04f;

std::string TimelineGlsl(const Score& score);
std::string TimelineHeader(const Score& score);

std::string FillTimeline(std::string_view source, std::string_view block);

}  // namespace sorvane::assetgen
