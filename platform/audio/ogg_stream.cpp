#include "platform/audio/ogg_stream.h"

#include <vorbis/vorbisfile.h>

#include <cstdio>
#include <new>

namespace platform {

struct OggStream::File {
  OggVorbis_File vf;
};

OggStream::OggStream() = default;

OggStream::~OggStream() {
  if (file_) {
    ov_clear(&file_->vf);
    delete file_;
  }
}

bool OggStream::Open(const char* path) {
  if (file_ || !path) return false;
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  auto* file = new (std::nothrow) File;
  if (!file) {
    std::fclose(f);
    return false;
  }
  // On success ov_open owns the FILE and closes it in ov_clear.
  if (ov_open(f, &file->vf, nullptr, 0) != 0) {
    std::fclose(f);
    delete file;
    return false;
  }
  const vorbis_info* info = ov_info(&file->vf, -1);
  if (!info || info->channels < 1 || info->channels > 2 || info->rate <= 0) {
    ov_clear(&file->vf);
    delete file;
    return false;
  }
  file_ = file;
  channels_ = info->channels;
  rate_ = static_cast<int>(info->rate);
  return true;
}

bool OggStream::Seek(int64_t frame) {
  if (!file_ || frame < 0) return false;
  const int64_t total = TotalFrames();
  if (total >= 0 && frame > total) return false;
  if (ov_pcm_seek(&file_->vf, frame) != 0) return false;
  ended_ = false;
  return true;
}

int64_t OggStream::TotalFrames() const {
  if (!file_) return -1;
  const ogg_int64_t total = ov_pcm_total(&file_->vf, -1);
  return total < 0 ? -1 : static_cast<int64_t>(total);
}

size_t OggStream::Read(int16_t* out, size_t maxFrames) {
  if (!file_ || ended_) return 0;
  const size_t frameBytes = static_cast<size_t>(channels_) * 2;
  size_t bytesWanted = maxFrames * frameBytes;
  size_t got = 0;
  int errorsInARow = 0;
  while (got < bytesWanted) {
    int section = 0;
    const size_t chunk = bytesWanted - got;
    const long n = ov_read(&file_->vf, reinterpret_cast<char*>(out) + got,
                           static_cast<int>(chunk > 65536 ? 65536 : chunk), 0, 2, 1, &section);
    if (n > 0) {
      got += static_cast<size_t>(n);
      errorsInARow = 0;
      continue;
    }
    // A hole in the data is skipped; anything else, or a run of holes, is the
    // end of what can be played.
    if (n == OV_HOLE && ++errorsInARow < 64) continue;
    ended_ = true;
    break;
  }
  // A stream cut inside a frame leaves a partial frame: drop it.
  return got / frameBytes;
}

}  // namespace platform
