// music_clock.h — where in the track the listener is, between audio callbacks.
//
// What it is for: the sound device pulls audio in buffers (2048 frames, 46 ms
// at 44.1 kHz), so a count of frames handed over moves in steps and runs ahead
// of what is heard by the device's buffered latency. `PlaybackClock` reports
// the frame being heard now: the frames handed to the device up to the last
// callback, minus the latency, plus the part of the current buffer period that
// has elapsed, counted from the device frame that carried the stream's start.
// Callbacks arrive with scheduling jitter, so the position is read off a
// straight line fitted through the last few seconds of callbacks (frames
// handed over against callback time): it follows the device's true pace,
// which is never exactly the nominal rate, and ignores the jitter. A stall
// (a callback far off the line) or a burst (callbacks filling the device's
// queue faster than it plays) starts the fit afresh. This is the estimate for
// devices with no sound server to ask; a server's own timing is better.
//
// Contract: positions are in frames of the stream; `HeardFrames` never goes
// backwards and never runs past the frames actually delivered, so after the
// end of the track it stays at the end. It is a pure function of the calls
// made on it (time is passed in, never read), and it is not thread-safe: the
// audio backend guards it with its device lock.
//
// `CycleClock` is the clock for a sound graph that says, every cycle, which
// frame of the stream it starts to play and when (PipeWire's own stream
// time): no estimate, the position is the cycle's frame moved on by the time
// since the cycle began. It runs no further than the cycle's frames (and a
// millisecond) unless the graph is known to have begun a later cycle (the
// stream's own report of it can come late on a busy machine), so a graph
// that stops (a stall, a suspended sink) leaves the clock standing at the
// frame played last, at most a millisecond on. Same contract as
// PlaybackClock.
//
// `ReportClock` is the clock for a sound server that answers, when asked,
// which frame it is playing (PulseAudio's stream timing). Its answers come
// late and uneven on a busy machine (one in a few hundred is 5 to 12 ms
// off), and for the first tenth of a second after a sink resumes they
// scatter by as much: the position is read off a line through the recent
// answers that no stray answer moves (the median of the slopes between
// them, the median of their offsets). Three answers in a row far off the
// line mean the stream really moved (a new sink, say): the line starts
// again from them. A stream that stopped (corked, suspended, starved)
// stands where its newest answer says, and one that started again starts a
// new line. When answers stop coming the line runs on no more than 0.3 s
// past the newest. Same contract as PlaybackClock.
#pragma once

#include <cstdint>

namespace platform {

class PlaybackClock {
 public:
  PlaybackClock(double framesPerSecond, int64_t latencyFrames);

  // The naive count instead: stream frames handed to the device so far.
  int64_t HandedOverFrames() const { return streamFrames_; }

  // After every device callback at `nowSeconds`: the callback filled
  // `callbackFrames` frames, of which the first `streamFrames` came from the
  // stream (fewer at its end, none before it starts or after it ended) and the
  // rest were silence.
  void OnCallback(int64_t callbackFrames, int64_t streamFrames, double nowSeconds);

  // The frame being heard at `nowSeconds`; 0 before the first callback.
  int64_t HeardFrames(double nowSeconds);

 private:
  double rate_;
  int64_t latency_;
  int64_t deviceFrames_ = 0;   // every frame handed to the device
  int64_t streamStart_ = -1;   // the device frame that carried the stream's first
  int64_t streamFrames_ = 0;   // stream frames handed over
  // The recent callbacks: device frames handed over after each, and when.
  static constexpr int kHistory = 128;
  int64_t historyFrames_[kHistory] = {};
  double historyTimes_[kHistory] = {};
  int historyCount_ = 0;
  int historyNext_ = 0;
  // The fitted line: time = fitTime_ + (frames - fitFrames_) * fitSlope_.
  double fitTime_ = 0.0, fitFrames_ = 0.0, fitSlope_ = 0.0;
  // How late after its line the callbacks of the fit come (nine in ten of
  // them), in seconds.
  double lateness_ = 0.0;
  double lastCallbackTime_ = 0.0, lastCallbackFrames_ = 0.0;
  void Refit();
  int64_t lastReported_ = 0;
};

class CycleClock {
 public:
  explicit CycleClock(double framesPerSecond) : rate_(framesPerSecond) {}

  // Each cycle of the graph: at `startSeconds` the stream's frame
  // `firstFrame` starts to play, and the cycle plays `frames` frames. A frame
  // before the stream's start (the graph's own delay) is allowed.
  void OnCycle(double startSeconds, double firstFrame, int64_t frames);

  // The frame being played at `nowSeconds`, at most `delivered` (the stream
  // frames the graph was given); 0 before the first cycle. `graphCycle`: when
  // the graph's newest cycle began, where known (0 where not).
  int64_t PlayedFrames(double nowSeconds, int64_t delivered, double graphCycle = 0.0);

 private:
  double rate_;
  bool started_ = false;
  double start_ = 0.0, first_ = 0.0;
  int64_t frames_ = 0;
  int64_t lastReported_ = 0;
};

class ReportClock {
 public:
  explicit ReportClock(double framesPerSecond) : rate_(framesPerSecond) {}

  // An answer that arrived at `atSeconds`: `frames` of the stream had been
  // played then; `moving`: the stream was playing when it was made.
  void OnReport(double atSeconds, double frames, bool moving);

  // The frame being played at `nowSeconds`, at most `delivered` (the stream
  // frames the server was given); 0 before the first answer.
  int64_t PlayedFrames(double nowSeconds, int64_t delivered);

 private:
  static constexpr int kReports = 20;  // two seconds' worth at ten a second
  // The line's frame at `atSeconds` (unclamped).
  double Line(double atSeconds) const;
  void Refit();
  int Slot(int age) const { return (next_ + kReports - 1 - age) % kReports; }
  double rate_;
  double at_[kReports] = {}, frames_[kReports] = {};
  int next_ = 0, count_ = 0;
  int offLine_ = 0;  // answers in a row far off the line
  bool moving_ = false;
  // The line: frames = lineFrames_ + (t - lineAt_) × slope_ × rate_.
  double lineAt_ = 0.0, lineFrames_ = 0.0, slope_ = 1.0;
  int64_t lastReported_ = 0;
};

}  // namespace platform
