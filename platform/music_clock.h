// music_clock.h — where in the track the listener is, between audio callbacks.
//
// What it is for: the sound device pulls audio in buffers (2048 frames, 46 ms
// at 44.1 kHz), so a count of frames handed over moves in steps and runs ahead
// of what is heard by the device's buffered latency. `PlaybackClock` reports
// the frame being heard now: the frames delivered at the last callback, minus
// the latency, plus the time elapsed since that callback at the stream's rate.
//
// Contract: positions are in frames of the stream; `HeardFrames` never goes
// backwards and never runs past the frames actually delivered, so after the
// end of the track it stays at the end. It is a pure function of the calls
// made on it (time is passed in, never read), and it is not thread-safe: the
// audio backend guards it with its device lock.
#pragma once

#include <cstdint>

namespace platform {

class PlaybackClock {
 public:
  PlaybackClock(double framesPerSecond, int64_t latencyFrames);

  // After a callback at `nowSeconds` has handed over frames up to
  // `framesDeliveredTotal` (counted from the start of the track).
  void OnCallback(int64_t framesDeliveredTotal, double nowSeconds);

  // The frame being heard at `nowSeconds`; 0 before the first callback.
  int64_t HeardFrames(double nowSeconds);

 private:
  double rate_;
  int64_t latency_;
  int64_t delivered_ = 0;
  double callbackTime_ = 0.0;
  bool started_ = false;
  int64_t lastReported_ = 0;
};

}  // namespace platform
