// null_audio.h — an audio backend that records every call and can be scripted.
//
// What it is for: tests of the shell run the demo without a sound card and
// script the music clock; its video twin is platform/video/null_video.h.
//
// How to use it: set `failing` and `positions` before the run, then read
// `calls` and `positionReads`.
//
// How it fails: exactly as scripted. An operation named in `failing` returns
// its failure value (false, 0) and does nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/audio/ogg_stream.h"
#include "platform/platform.h"

namespace platform {

class NullAudio final : public Audio {
 public:
  // Scripted answers.
  std::set<std::string> failing;
  // Positions in bytes returned by successive ChannelGetPosition calls; the
  // last one repeats. Empty: always 0.
  std::vector<uint64_t> positions;
  int rate = 44100;
  int channels = 2;

  // Recorded.
  std::vector<std::string> calls;
  int positionReads = 0;

  bool Init(int device, int frequency) override;
  // Opens and checks the file like the real backend (a missing or
  // undecodable file gives 0); nothing is played.
  uint32_t StreamCreateFile(const char* path) override;
  bool Start() override;
  bool ChannelPlay(uint32_t stream, bool restart) override;
  uint64_t ChannelGetPosition(uint32_t stream) override;
  double ChannelBytes2Seconds(uint32_t stream, uint64_t bytes) override;
  bool Stop() override;
  bool Free() override;

 private:
  bool Fails(const char* op);
  bool open_ = false;
  std::unique_ptr<OggStream> stream_;
};

}  // namespace platform
