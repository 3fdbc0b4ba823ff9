#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "tools/assetgen/credits.h"
#include "tests/assetgen/support.h"

namespace sorvane::assetgen {
namespace {

TEST(Utf8, DecodesEveryLengthOfSequence) {
  // "a", "é" (2 bytes), "—" (3 bytes), "𝄞" (4 bytes), "”" (3 bytes).
  EXPECT_EQ(DecodeUtf8("a\xc3\xa9\xe2\x80\x94\xf0\x9d\x84\x9e\xe2\x80\x9d"),
            (std::u32string{U'a', U'\u00e9', U'\u2014', U'\U0001D11E', U'\u201D'}));
  EXPECT_EQ(DecodeUtf8(""), std::u32string());
  EXPECT_EQ(DecodeUtf8("sorvane"), std::u32string(U"sorvane"));
}

TEST(Utf8, ReplacesMalformedBytesAndCarriesOn) {
  const std::u32string bad = U"\uFFFD";
  EXPECT_EQ(DecodeUtf8("\x80z"), bad + U"z");                           // stray continuation
  EXPECT_EQ(DecodeUtf8("\xe2\x80"), bad + bad);                          // truncated at the end
  EXPECT_EQ(DecodeUtf8("\xe2\x80z"), bad + bad + U"z");                  // truncated mid-text
  EXPECT_EQ(DecodeUtf8("\xc0\xaf"), bad + bad);                          // overlong "/"
  EXPECT_EQ(DecodeUtf8("\xed\xa0\x80"), bad + bad + bad);                // surrogate
  EXPECT_EQ(DecodeUtf8("\xf4\x90\x80\x80"), bad + bad + bad + bad);      // above U+10FFFF
  EXPECT_EQ(DecodeUtf8("\xff\xfe"), bad + bad);                          // never valid
}

TEST(Credits, MissingFontNamesTheFileAndTheCause) {
  try {
    RenderCredits("/nonexistent-font-folder", 256);
    FAIL() << "no error for a missing font";
  } catch (const std::runtime_error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("/nonexistent-font-folder/DejaVuSerif.ttf"), std::string::npos) << message;
    EXPECT_NE(message.find("No such file"), std::string::npos) << message;
  }
}

TEST(Credits, WrittenCardIsCentredWarmInkOnBlack) {
  const test::Decoded card = test::LoadImage(test::RunPath("credits.jpg"));
  ASSERT_EQ(card.width, 1024);
  ASSERT_EQ(card.height, 1024);
  auto brightest = [&](int x, int y) {
    const uint8_t* p = card.At(x, y);
    return std::max({p[0], p[1], p[2]});
  };
  // The left edge sits on the picture's centre line: no ink there.
  for (int y = 0; y < card.height; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_LT(brightest(x, y), 8) << "ink at " << x << "," << y;

  int left = card.width, right = -1, top = card.height, bottom = -1;
  double r = 0, g = 0, b = 0;
  long inkPixels = 0, blackPixels = 0;
  for (int y = 0; y < card.height; ++y)
    for (int x = 0; x < card.width; ++x) {
      const int v = brightest(x, y);
      if (v == 0) ++blackPixels;
      if (v < 64) continue;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
      const uint8_t* p = card.At(x, y);
      r += p[0], g += p[1], b += p[2];
      ++inkPixels;
    }
  ASSERT_GT(inkPixels, 2000) << "no text on the card";
  EXPECT_GT(left, 16);
  EXPECT_GT(top, 16);
  EXPECT_LT(right, card.width - 17);
  EXPECT_LT(bottom, card.height - 17);
  EXPECT_NEAR((left + right) / 2.0, card.width / 2.0, card.width * 0.03);
  EXPECT_NEAR((top + bottom) / 2.0, card.height / 2.0, card.height * 0.06);
  // Warm light tones: red over green over blue, and bright.
  EXPECT_GT(r, g);
  EXPECT_GT(g, b);
  EXPECT_GT(r / double(inkPixels), 150.0);
  // It is added onto the picture: the background must add nothing.
  EXPECT_GT(double(blackPixels) / (double(card.width) * card.height), 0.8);
}

}  // namespace
}  // namespace sorvane::assetgen
