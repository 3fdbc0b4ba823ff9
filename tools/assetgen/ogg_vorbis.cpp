#include "tools/assetgen/ogg_vorbis.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <vorbis/vorbisenc.h>

namespace sorvane::assetgen {
namespace {

void Check(int result, const char* step) {
  if (result < 0)
    throw std::runtime_error(std::string("Vorbis encoder failed at ") + step + " (error " +
                             std::to_string(result) + ")");
}

// Holds every libvorbis/libogg structure of one encoding and frees them in
// reverse order, whichever step fails.
struct Encoder {
  vorbis_info info;
  vorbis_comment comment;
  vorbis_dsp_state dsp;
  vorbis_block block;
  ogg_stream_state stream;
  bool dspReady = false, blockReady = false, streamReady = false;
  std::vector<uint8_t> out;

  Encoder() {
    vorbis_info_init(&info);
    vorbis_comment_init(&comment);
  }
  ~Encoder() {
    if (streamReady) ogg_stream_clear(&stream);
    if (blockReady) vorbis_block_clear(&block);
    if (dspReady) vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
  }
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  void Append(const ogg_page& page) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
  }

  // Moves every finished block through the bitrate manager into pages.
  void Drain() {
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      Check(vorbis_analysis(&block, nullptr), "block analysis");
      Check(vorbis_bitrate_addblock(&block), "bitrate management");
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
        Check(ogg_stream_packetin(&stream, &packet), "packet stream");
        ogg_page page;
        while (ogg_stream_pageout(&stream, &page) > 0) Append(page);
      }
    }
  }
};

}  // namespace

std::vector<uint8_t> EncodeOggVorbis(const StereoBuffer& mix, float quality, int serial,
                                     const std::vector<std::string>& comments) {
  Encoder enc;
  Check(vorbis_encode_init_vbr(&enc.info, 2, mix.sampleRate, quality), "setup");
  for (const std::string& c : comments) vorbis_comment_add(&enc.comment, c.c_str());
  Check(vorbis_analysis_init(&enc.dsp, &enc.info), "analysis setup");
  enc.dspReady = true;
  Check(vorbis_block_init(&enc.dsp, &enc.block), "block setup");
  enc.blockReady = true;
  Check(ogg_stream_init(&enc.stream, serial), "stream setup");
  enc.streamReady = true;

  ogg_packet header, commentHeader, codebooks;
  Check(vorbis_analysis_headerout(&enc.dsp, &enc.comment, &header, &commentHeader, &codebooks),
        "headers");
  ogg_stream_packetin(&enc.stream, &header);
  ogg_stream_packetin(&enc.stream, &commentHeader);
  ogg_stream_packetin(&enc.stream, &codebooks);
  ogg_page page;
  while (ogg_stream_flush(&enc.stream, &page) > 0) enc.Append(page);  // audio starts on a fresh page

  constexpr size_t kChunk = 4096;
  for (size_t start = 0; start < mix.Frames(); start += kChunk) {
    const size_t count = std::min(kChunk, mix.Frames() - start);
    float** buffer = vorbis_analysis_buffer(&enc.dsp, int(count));
    std::memcpy(buffer[0], mix.left.data() + start, count * sizeof(float));
    std::memcpy(buffer[1], mix.right.data() + start, count * sizeof(float));
    Check(vorbis_analysis_wrote(&enc.dsp, int(count)), "sample input");
    enc.Drain();
  }
  Check(vorbis_analysis_wrote(&enc.dsp, 0), "end of stream");
  enc.Drain();
  while (ogg_stream_flush(&enc.stream, &page) > 0) enc.Append(page);
  return std::move(enc.out);
}

}  // namespace sorvane::assetgen
