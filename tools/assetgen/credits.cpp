#include "tools/assetgen/credits.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

namespace sorvane::assetgen {

std::u32string DecodeUtf8(std::string_view text) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::u32string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += char32_t(lead);
      ++i;
      continue;
    }
    size_t length;
    char32_t cp, smallest;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, cp = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, cp = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, cp = lead & 0x07, smallest = 0x10000;
    } else {
      out += kReplacement;  // stray continuation byte or invalid lead
      ++i;
      continue;
    }
    bool ok = i + length <= text.size();
    for (size_t k = 1; ok && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      ok = (next & 0xC0) == 0x80;
      cp = (cp << 6) | (next & 0x3F);
    }
    ok = ok && cp >= smallest && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (!ok) {
      out += kReplacement;
      ++i;
      continue;
    }
    out += cp;
    i += length;
  }
  return out;
}

namespace {

struct Colour {
  float r, g, b;
};

// Owns the FreeType library and the faces opened through it.
class FontSet {
 public:
  FontSet() {
    if (FT_Error e = FT_Init_FreeType(&library_))
      throw std::runtime_error("FreeType initialisation failed (error " + std::to_string(e) + ")");
  }
  ~FontSet() {
    for (FT_Face f : faces_) FT_Done_Face(f);
    FT_Done_FreeType(library_);
  }
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;

  FT_Face Open(const std::string& path) {
    if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
      std::fclose(probe);
    } else {
      throw std::runtime_error("cannot open font " + path + ": " + std::strerror(errno));
    }
    FT_Face face = nullptr;
    if (FT_Error e = FT_New_Face(library_, path.c_str(), 0, &face))
      throw std::runtime_error("FreeType cannot load font " + path + " (error " +
                               std::to_string(e) + ")");
    faces_.push_back(face);
    return face;
  }

 private:
  FT_Library library_ = nullptr;
  std::vector<FT_Face> faces_;
};

// Adds coverage (0..1) times a colour into one pixel, saturating.
void AddInk(RgbImage& image, int x, int y, float coverage, Colour c) {
  if (x < 0 || y < 0 || x >= image.width || y >= image.height || coverage <= 0.0f) return;
  uint8_t* px = image.At(x, y);
  const float add[3] = {c.r, c.g, c.b};
  for (int k = 0; k < 3; ++k)
    px[k] = uint8_t(std::min(255.0f, float(px[k]) + std::round(255.0f * coverage * add[k])));
}

struct TextLine {
  const char* utf8;
  FT_Face face;
  float pixelSize;  // at size 1024
  float tracking;   // extra pixels between letters, at size 1024
  float baseline;   // from the top, at size 1024
  Colour colour;
};

void SetSize(FT_Face face, int pixels, const std::string& what) {
  if (FT_Error e = FT_Set_Pixel_Sizes(face, 0, FT_UInt(std::max(pixels, 1))))
    throw std::runtime_error("FreeType cannot size font " + what + " (error " +
                             std::to_string(e) + ")");
}

// Width of a line in pixels: advances, kerning and tracking.
long MeasureLine(FT_Face face, const std::u32string& text, long tracking) {
  long width = 0;
  FT_UInt previous = 0;
  for (char32_t cp : text) {
    const FT_UInt glyph = FT_Get_Char_Index(face, cp);
    if (previous && glyph && FT_HAS_KERNING(face)) {
      FT_Vector k;
      if (!FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &k)) width += k.x >> 6;
    }
    if (!FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT)) width += face->glyph->advance.x >> 6;
    width += tracking;
    previous = glyph;
  }
  return width - (text.empty() ? 0 : tracking);
}

// Centred between columns left and right.
void DrawLine(RgbImage& image, FT_Face face, const std::u32string& text, long tracking,
              int baseline, Colour colour, int left, int right) {
  long pen = left + (right - left - MeasureLine(face, text, tracking)) / 2;
  FT_UInt previous = 0;
  for (char32_t cp : text) {
    const FT_UInt glyph = FT_Get_Char_Index(face, cp);
    if (previous && glyph && FT_HAS_KERNING(face)) {
      FT_Vector k;
      if (!FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &k)) pen += k.x >> 6;
    }
    if (FT_Load_Glyph(face, glyph, FT_LOAD_RENDER)) continue;  // unrenderable glyph: skip it
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    for (unsigned row = 0; row < bm.rows; ++row)
      for (unsigned col = 0; col < bm.width; ++col)
        AddInk(image, int(pen + slot->bitmap_left + long(col)), baseline - slot->bitmap_top + int(row),
               float(bm.buffer[long(row) * bm.pitch + long(col)]) / 255.0f, colour);
    pen += (slot->advance.x >> 6) + tracking;
    previous = glyph;
  }
}

// An anti-aliased ring centred in the image.
void DrawRing(RgbImage& image, float radius, float thickness, Colour colour) {
  const float cx = 0.5f * float(image.width), cy = 0.5f * float(image.height);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const float d = std::hypot(float(x) + 0.5f - cx, float(y) + 0.5f - cy);
      AddInk(image, x, y, std::clamp(0.5f * thickness + 0.5f - std::fabs(d - radius), 0.0f, 1.0f),
             colour);
    }
}

void DrawDot(RgbImage& image, float cx, float cy, float radius, Colour colour) {
  const int x0 = int(cx - radius - 2), x1 = int(cx + radius + 2);
  const int y0 = int(cy - radius - 2), y1 = int(cy + radius + 2);
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      const float d = std::hypot(float(x) + 0.5f - cx, float(y) + 0.5f - cy);
      AddInk(image, x, y, std::clamp(radius + 0.5f - d, 0.0f, 1.0f), colour);
    }
}

}  // namespace

RgbImage RenderCredits(const std::string& fontDir, int size) {
  FontSet fonts;
  const std::string serifPath = fontDir + "/DejaVuSerif.ttf";
  const std::string sansPath = fontDir + "/DejaVuSans.ttf";
  FT_Face serif = fonts.Open(serifPath);
  FT_Face sans = fonts.Open(sansPath);

  const Colour title{1.00f, 0.83f, 0.58f}, lead{0.96f, 0.84f, 0.66f};
  const Colour body{0.86f, 0.72f, 0.54f}, quiet{0.78f, 0.62f, 0.44f}, ornament{0.62f, 0.40f, 0.18f};
  const TextLine lines[] = {
      {"sorvane", serif, 132.0f, 10.0f, 432.0f, title},
      {"a real-time audiovisual demo", sans, 34.0f, 1.0f, 548.0f, lead},
      {"code, images and music \xe2\x80\x94", sans, 27.0f, 0.5f, 628.0f, body},
      {"all generated by its own code", sans, 27.0f, 0.5f, 668.0f, body},
      {"music: \xe2\x80\x9cSlow Amber Circles\xe2\x80\x9d", serif, 27.0f, 0.5f, 752.0f, quiet},
  };

  RgbImage image(size, size);
  const float scale = float(size) / 1024.0f;
  DrawRing(image, 400.0f * scale, 1.6f * scale, ornament);
  for (int i = -1; i <= 1; ++i)
    DrawDot(image, 0.5f * float(size) + float(i) * 22.0f * scale, 482.0f * scale, 3.2f * scale,
            ornament);
  for (const TextLine& line : lines) {
    const std::string& path = line.face == serif ? serifPath : sansPath;
    SetSize(line.face, int(std::lround(line.pixelSize * scale)), path);
    DrawLine(image, line.face, DecodeUtf8(line.utf8), std::lround(line.tracking * scale),
             int(std::lround(line.baseline * scale)), line.colour, 0, image.width);
  }
  return image;
}

void DrawTextLine(RgbImage& image, const std::string& fontPath, int pixels, std::string_view utf8,
                  int left, int right, int baseline, float r, float g, float b) {
  FontSet fonts;
  FT_Face face = fonts.Open(fontPath);
  SetSize(face, pixels, fontPath);
  DrawLine(image, face, DecodeUtf8(utf8), 0, baseline, {r, g, b}, left, right);
}

}  // namespace sorvane::assetgen
