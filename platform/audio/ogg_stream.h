// ogg_stream.h — an Ogg Vorbis file decoded on demand into 16-bit PCM.
//
// What it is for: the music stream of every audio backend. `Open` reads only
// the headers; `Read` decodes the next frames as playback needs them, so a
// five-minute track never sits decoded in memory.
//
// How it fails: `Open` returns false for a missing, unreadable, empty or
// undecodable file, or one with no audio (0 channels, 0 Hz, more than two
// channels). A stream damaged after its headers plays up to the damage and
// then ends: `Read` returns 0 at the end and never loops or blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class OggStream {
 public:
  OggStream();
  ~OggStream();
  OggStream(const OggStream&) = delete;
  OggStream& operator=(const OggStream&) = delete;

  bool Open(const char* path);
  int Channels() const { return channels_; }
  int Rate() const { return rate_; }

  // Decodes up to `maxFrames` interleaved frames into `out` (Channels() shorts
  // per frame); returns the frames written, 0 once the stream has ended.
  size_t Read(int16_t* out, size_t maxFrames);
  // Moves to `frame` (from the start); false where the file cannot seek or
  // is shorter, and the position is then unchanged.
  bool Seek(int64_t frame);
  // The track's length in frames, as its headers and last page say; -1 when
  // the file cannot tell.
  int64_t TotalFrames() const;

 private:
  struct File;
  File* file_ = nullptr;
  int channels_ = 0;
  int rate_ = 0;
  bool ended_ = false;
};

}  // namespace platform
