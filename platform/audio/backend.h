// backend.h — what the audio backends share; private to platform/audio.
//
// Each backend plays one stream, whose handle is `kStream`. Positions are in
// bytes of the decoded 16-bit PCM (frames × channels × 2), and their clocks
// (music_clock.h) take times in seconds of `MonotonicSeconds`, which is the
// clock the sound servers stamp their reports with (CLOCK_MONOTONIC on Linux).
#pragma once

#include <chrono>
#include <cstdint>

namespace platform::audio {

inline constexpr uint32_t kStream = 1;

inline double MonotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Bytes of the decoded stream to seconds; -1 for a stream that is not open.
inline double BytesToSeconds(uint32_t stream, bool open, uint64_t bytes, int rate, int channels) {
  if (stream != kStream || !open || rate <= 0 || channels <= 0) return -1.0;
  return static_cast<double>(bytes) / (static_cast<double>(rate) * channels * 2.0);
}

}  // namespace platform::audio
