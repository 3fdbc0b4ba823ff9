// Ogg Vorbis encoding of a finished mix.
//
// EncodeOggVorbis compresses a stereo mix with libvorbisenc in VBR mode at
// the given quality (-0.1 to 1; 0.5 is about 160 kbit/s for 44.1 kHz
// stereo) and returns the complete Ogg file. The stream serial number is the
// one given, not a random one, so the same mix always gives the same bytes.
// Comments are written as "KEY=value" tags. Throws std::runtime_error naming
// the step and libvorbis's error code when the encoder refuses the
// settings or a block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/assetgen/synth.h"

namespace sorvane::assetgen {

std::vector<uint8_t> EncodeOggVorbis(const StereoBuffer& mix, float quality, int serial,
                                     const std::vector<std::string>& comments);

}  // namespace sorvane::assetgen
