// av_offset.h — how far an audio backend's clock is from the sample played.
//
// What it is for: the clock benchmark and the sound-server tests play a click
// track (2 ms bursts at irregular gaps) through a backend while recording
// what the default sink plays (its monitor, or a pretend sound card: see
// Reference below), read the backend's position every half millisecond, and
// compare the two at every click. The played time of a monitored sample is
// the server's own account: on PulseAudio, a libpulse
// record stream's latency (a monitor hears a sample when the sink renders
// it, a sink latency before it is played; the render lead is measured from
// arrival times alone); where the pulse server is PipeWire's, the cycles of
// a native PipeWire capture stream (the monitor delivers a cycle's sound at
// the start of the next), since the pulse service's monitor timing is off
// by that cycle and wanders. Suspends go through the pulse protocol; PipeWire
// 0.3.65's pulse service does not stop a sink that has streams, and leaves
// its monitor silent afterwards, so suspends are for PulseAudio alone.
//
// How to use it: WriteClickTrack, then Play (optionally suspending the
// default sink for 500 ms), then Analyse with the track's ClicksIn. Offsets
// are in milliseconds, positive where the clock is ahead of the sound.
//
// How it fails: ServerName is empty and Play gives nothing where no sound
// server answers (PULSE_SERVER or the default one) or the backend cannot
// open; clicks whose reference cannot be trusted (the recorder's own timing
// still settling) are left out of the figures.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace avoffset {

constexpr int kRate = 44100;

bool WriteClickTrack(const std::string& path, double seconds);
// The frames where the track's clicks start, as the decoder gives them.
std::vector<long> ClicksIn(const std::string& path);
// The sound server's name and version; empty when none answers.
std::string ServerName();

struct Line {
  double a = 0, b = 0;  // y = a + b × x
  double operator()(double x) const { return a + b * x; }
};

Line Fit(const std::vector<std::pair<double, double>>& xy);

struct Stats {
  int count = 0;
  double mean = 0, sd = 0, lo = 0, hi = 0;
};

struct Result {
  Stats before, after;
  double largestStepMs = 0;
  int backwardSteps = 0;
  double aheadWhileSuspendedMs = NAN;  // clock − last played frame, at the end of the suspend
  double worstEarlyAfterMs = NAN;      // largest |offset| of clicks in the first 0.5 s after resuming
  double recoveredAfterS = NAN;        // from resuming to the first click of a run within 2 ms to the end
  double renderLeadMs = NAN;           // the sink's render lead before the monitor
  bool sinkStopped = false;            // the monitor fell silent at the suspend
  int clicksAfterStalls = 0;           // left out: as far behind as the pretend card's reader was late just before
};

struct Arrival {
  long frames;      // recorded frames after this read
  double arrived;   // when they were read
  double played;    // when the newest of them is played, by the server's account
};

struct Session {
  std::vector<std::pair<double, long>> clock;  // (time, clock's frame)
  std::vector<int16_t> recorded;
  std::vector<Arrival> arrivals;
  double suspendedAt = 0, resumedAt = 0;
  long quantum = 0;  // the graph's frames a cycle, where PipeWire's graph recorded
  double cardFillMs = NAN;  // the pretend card's median buffer fill: its sink latency
  double movedAt = 0;       // when the stream was moved (0: never)
  std::vector<std::pair<double, double>> referenceStalls;  // (when, ms) the pretend card's reader woke late
};

// Where the played time of a sample comes from.
//  Monitor: the default sink's monitor, with the server's account of when a
//    monitored sample is played. Its recorder asks for 2 ms fragments, which
//    drives a null sink to a latency of 1–2 ms: a clock that leaves out the
//    sink's latency cannot be told apart there. Suspends are measured here.
//  Card: a pretend sound card (a pipe sink read at an exact pace) made the
//    default sink for the run: a frame is played when it is read, and the
//    sink's latency is the card's buffer, hundreds of milliseconds. No
//    suspend.
// With `moveAt` the stream is moved while it plays, and only clicks from
// 0.5 s after the move count: with the card, the stream starts on the
// default sink and is moved to the card (as a user picks another output);
// with the monitor on PipeWire, a second null sink with a longer latency
// becomes the default and the session manager moves the stream (and the
// recorder) there, as when a headset is plugged in.
enum class Reference { Monitor, Card };

// Plays the track through `audio` for `seconds`, suspending the default sink
// for 500 ms at `suspendAt` (never if 0).
bool CanSuspend(const std::string& serverName);
std::optional<Session> Play(platform::Audio& audio, const std::string& track, double seconds, double suspendAt,
                            Reference reference = Reference::Monitor, double moveAt = 0);
Result Analyse(const Session& session, const std::vector<long>& trackClicks);

// The pretend card alone, the default sink while it lives, for a run of the
// whole demo (bench/platform/av_e2e): Stop gives what it played (left
// channel) and when. Frame i of `recorded` was played at `startedAt + i / kRate`
// on the steady clock.
class Card {
 public:
  Card();
  ~Card();
  bool Start();
  void Stop(std::vector<int16_t>& recorded, double& startedAt, double& fillMs);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace avoffset
