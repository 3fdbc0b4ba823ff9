// The closing credits card, rendered with FreeType.
//
// RenderCredits draws the credits text, centred, in warm light tones on a
// pure black size x size square: the demo adds the card onto the picture,
// so black adds nothing and only the ink shows. Text is laid out from UTF-8
// lines with the DejaVu fonts found in fontDir (DejaVuSerif.ttf for the
// title, DejaVuSans.ttf for the rest). The ink keeps clear of every edge.
// Throws std::runtime_error naming the font file and the cause when a font
// is missing or FreeType refuses it; the same inputs give the same pixels.
//
// DecodeUtf8 turns UTF-8 into code points. Malformed input (stray
// continuation bytes, truncated or overlong sequences, surrogates, values
// above U+10FFFF) yields U+FFFD for each offending byte and decoding goes on.
#pragma once

#include <string>
#include <string_view>

#include "tools/assetgen/image.h"

namespace sorvane::assetgen {

std::u32string DecodeUtf8(std::string_view text);

RgbImage RenderCredits(const std::string& fontDir, int size);

// One line of UTF-8 text in the font file fontPath, `pixels` high, centred
// between the columns left and right with its baseline on row `baseline`;
// its ink is added onto the image in colour (r, g, b), each 0..1, and
// clipped at the image's edges. Throws like RenderCredits.
void DrawTextLine(RgbImage& image, const std::string& fontPath, int pixels, std::string_view utf8,
                  int left, int right, int baseline, float r, float g, float b);

}  // namespace sorvane::assetgen
