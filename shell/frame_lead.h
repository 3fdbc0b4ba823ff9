// frame_lead.h — how far ahead of the music clock a live frame is drawn.
//
// What it is for: a frame drawn for the music position read after the last
// swap reaches the screen a frame's work later, and then stays there until
// the next one comes: drawn at the raw reading, the picture lags what is
// heard by a frame and a half (40 ms at 35 frames a second). A video player
// shows each frame at its display time; so does the demo. The lead is the
// time from reading the clock to presenting the frame drawn for it, plus half
// the time between presents (the frame is drawn for the middle of its time on
// screen), each the median of the last frames, so one stalled frame is not
// taken for a prediction.
//
// Music that stands (not started yet, paused, ended, a still picture) is
// drawn as read: where a reading equals the one before, the lead is 0.
//
// How to use it: `ClockRead(at, music)` when the music position is read,
// `Presented(at)` when a frame has been presented, both with the same
// monotonic clock; `Seconds()` is the lead to add to the reading. Pure
// arithmetic on the times it is given; it never reads a clock.
//
// Limits: it knows when a frame was handed to the screen, not when the
// display showed it; a compositor's or a display's own delay is not in it.
// The lead is at most `kMaxSeconds` and 0 until two frames were presented.
#pragma once

#include <array>
#include <cstddef>

class FrameLead {
 public:
  static constexpr double kMaxSeconds = 0.1;
  static constexpr size_t kFrames = 15;

  void ClockRead(double at, double music);
  void Presented(double at);
  double Seconds() const;

 private:
  struct Ring {
    std::array<double, kFrames> values{};
    size_t count = 0, next = 0;
    void Add(double v);
    double Median() const;
  };
  Ring latency_, interval_;
  double readAt_ = -1, presentedAt_ = -1;
  double music_ = -1, musicBefore_ = -2;
};
