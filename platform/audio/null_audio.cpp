#include "platform/audio/null_audio.h"

namespace platform {

bool NullAudio::Fails(const char* op) {
  calls.emplace_back(op);
  return failing.count(op) != 0;
}

bool NullAudio::Init(int device, int frequency) {
  if (Fails("Init") || device != -1 || frequency <= 0) return false;
  open_ = true;
  return true;
}

uint32_t NullAudio::StreamCreateFile(const char* path) {
  if (Fails("StreamCreateFile") || !open_) return 0;
  auto stream = std::make_unique<OggStream>();
  if (!stream->Open(path)) return 0;
  rate = stream->Rate();
  channels = stream->Channels();
  stream_ = std::move(stream);
  return 1;
}

bool NullAudio::Start() { return !Fails("Start") && open_; }

bool NullAudio::ChannelPlay(uint32_t stream, bool) { return !Fails("ChannelPlay") && stream == 1 && stream_; }

uint64_t NullAudio::ChannelGetPosition(uint32_t) {
  calls.emplace_back("ChannelGetPosition");
  const size_t i = static_cast<size_t>(positionReads++);
  if (positions.empty()) return 0;
  return positions[i < positions.size() ? i : positions.size() - 1];
}

double NullAudio::ChannelBytes2Seconds(uint32_t, uint64_t bytes) {
  return static_cast<double>(bytes) / (static_cast<double>(rate) * channels * 2.0);
}

bool NullAudio::Stop() { return !Fails("Stop"); }

bool NullAudio::Free() {
  if (Fails("Free")) return false;
  open_ = false;
  return true;
}

}  // namespace platform
