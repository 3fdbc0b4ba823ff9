// Texture loading on a real GL with DevIL: sizes, pixels, parameters, the
// relief texture, and a corpus of files that cannot be loaded.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/gpu/gl_fixture.h"
#include "gpu/normal_map.h"
#include "gpu/texture.h"

namespace {

// Writes `pixels` (channels 3 or 4, first row first) with DevIL; the format
// follows the extension.
void SaveImage(const std::string& path, int width, int height, int channels, std::vector<uint8_t> pixels) {
  ILuint image;
  ilGenImages(1, &image);
  ilBindImage(image);
  // DevIL stores rows bottom-up unless told otherwise; flip so that the file's
  // first row is pixels' first row.
  std::vector<uint8_t> flipped(pixels.size());
  const size_t row = static_cast<size_t>(width) * channels;
  for (int i = 0; i < height; ++i)
    std::copy_n(&pixels[row * i], row, &flipped[row * (height - 1 - i)]);
  std::remove(path.c_str());
  const bool made = ilTexImage(width, height, 1, static_cast<ILubyte>(channels), channels == 4 ? IL_RGBA : IL_RGB,
                               IL_UNSIGNED_BYTE, flipped.data()) &&
                    ilSaveImage(path.c_str());
  ilDeleteImages(1, &image);
  ASSERT_TRUE(made) << path;
}

std::vector<uint8_t> Pattern(int width, int height, int channels, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> px(static_cast<size_t>(width) * height * channels);
  for (uint8_t& b : px) b = static_cast<uint8_t>(rng());
  return px;
}

// Level 0 of the texture bound to GL_TEXTURE_2D, as RGBA8.
std::vector<uint8_t> BoundTexels(int* width, int* height) {
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, height);
  std::vector<uint8_t> texels(static_cast<size_t>(*width) * *height * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  return texels;
}

// DevIL image names are small integers; ilInit keeps one of its own. A load
// must leave the count as it found it.
int LiveDevilImages() {
  int live = 0;
  for (ILuint name = 1; name <= 256; ++name) live += ilIsImage(name) ? 1 : 0;
  return live;
}

GLint BoundTexture() {
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  return bound;
}

}  // namespace

class Textures : public GlTest {
 protected:
  void SetUp() override {
    GlTest::SetUp();
    baseline_ = LiveDevilImages();
  }
  int NewDevilImages() { return LiveDevilImages() - baseline_; }
  int baseline_ = 0;
};

TEST_F(Textures, LoadsAtItsOwnSizeRowsInOrderAsRgba8) {
  const std::vector<uint8_t> rgba = Pattern(37, 19, 4, 1);
  SaveImage("odd.png", 37, 19, 4, rgba);
  TextureHandle* texture = Keep(LoadTexture("odd.png"));
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(BoundTexture(), static_cast<GLint>(texture->glName));
  int width = 0, height = 0;
  EXPECT_EQ(BoundTexels(&width, &height), rgba);
  EXPECT_EQ(width, 37);
  EXPECT_EQ(height, 19);
  GLint format = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
  EXPECT_EQ(format, GL_RGBA8);

  GLint minFilter = 0, magFilter = 0, wrapS = 0, wrapT = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
  EXPECT_EQ(minFilter, GL_LINEAR);
  EXPECT_EQ(magFilter, GL_LINEAR);
  EXPECT_EQ(wrapS, GL_REPEAT);
  EXPECT_EQ(wrapT, GL_REPEAT);
  EXPECT_EQ(NewDevilImages(), 0);
}

TEST_F(Textures, JpegsGetOpaqueAlphaAndEachLoadItsOwnTexture) {
  SaveImage("photo.jpg", 48, 30, 3, Pattern(48, 30, 3, 2));
  TextureHandle* first = Keep(LoadTexture("photo.jpg"));
  TextureHandle* second = Keep(LoadTexture("photo.jpg"));
  EXPECT_NE(first->glName, second->glName);
  EXPECT_TRUE(glIsTexture(first->glName));
  EXPECT_EQ(BoundTexture(), static_cast<GLint>(second->glName));

  int width = 0, height = 0;
  const std::vector<uint8_t> texels = BoundTexels(&width, &height);
  EXPECT_EQ(width, 48);
  EXPECT_EQ(height, 30);
  for (size_t i = 3; i < texels.size(); i += 4) ASSERT_EQ(texels[i], 255) << "texel " << i / 4;
  glBindTexture(GL_TEXTURE_2D, first->glName);
  EXPECT_EQ(BoundTexels(&width, &height), texels);
  EXPECT_EQ(NewDevilImages(), 0);
}

TEST_F(Textures, ReliefTextureIsTheNormalMapOfThePhotograph) {
  // A photograph with structure: the texture must be the two passes applied
  // to exactly what DevIL decodes.
  SaveImage("311_18.jpg", 40, 24, 3, Pattern(40, 24, 3, 3));
  ILuint image;
  ilGenImages(1, &image);
  ilBindImage(image);
  ASSERT_TRUE(ilLoadImage("311_18.jpg"));
  std::vector<uint8_t> expected(40 * 24 * 4);
  ilCopyPixels(0, 0, 0, 40, 24, 1, IL_RGBA, IL_UNSIGNED_BYTE, expected.data());
  ilDeleteImages(1, &image);
  GreyToAlpha(expected.data(), 40, 24);
  BuildNormalMap(40, 24, expected.data());

  TextureHandle* relief = Keep(LoadReliefTexture());
  int width = 0, height = 0;
  EXPECT_EQ(BoundTexels(&width, &height), expected);
  EXPECT_EQ(width, 40);
  EXPECT_EQ(height, 24);
  GLint minFilter = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  EXPECT_EQ(minFilter, GL_LINEAR);
  EXPECT_NE(relief->glName, Keep(LoadTexture("311_18.jpg"))->glName);

  // A uniformly grey photograph is flat everywhere.
  SaveImage("311_18.jpg", 16, 16, 3, std::vector<uint8_t>(16 * 16 * 3, 90));
  Keep(LoadReliefTexture());
  const std::vector<uint8_t> flat = BoundTexels(&width, &height);
  for (size_t i = 0; i < flat.size(); i += 4) {
    ASSERT_EQ(flat[i + 0], 128);
    ASSERT_EQ(flat[i + 1], 255);
    ASSERT_EQ(flat[i + 2], 128);
    ASSERT_EQ(flat[i + 3], flat[3]);
  }
  EXPECT_EQ(NewDevilImages(), 0);
}

TEST_F(Textures, FilesThatCannotBeLoadedThrowResourceError) {
  SaveImage("good.jpg", 32, 32, 3, Pattern(32, 32, 3, 4));
  const std::string jpeg = Read("good.jpg");
  ASSERT_GT(jpeg.size(), 100u);
  std::string noise(4096, '\0');
  std::mt19937 rng(9);
  for (char& c : noise) c = static_cast<char>(rng());
  Write("empty.jpg", "");
  Write("truncated.jpg", jpeg.substr(0, jpeg.size() / 2));
  Write("header-only.jpg", jpeg.substr(0, 20));
  Write("noise.jpg", noise);
  Write("noise.png", noise);
  Write("noise.bin", noise);
  ASSERT_TRUE(std::filesystem::create_directory(dir_ / "folder.jpg"));

  for (const char* name :
       {"missing.jpg", "empty.jpg", "truncated.jpg", "header-only.jpg", "noise.jpg", "noise.png", "noise.bin", "folder.jpg"}) {
    try {
      Keep(LoadTexture(name));
      ADD_FAILURE() << name << " loaded";
    } catch (const ResourceError& error) {
      EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
    }
    EXPECT_EQ(NewDevilImages(), 0) << name;
    EXPECT_EQ(ilGetError(), static_cast<ILenum>(IL_NO_ERROR)) << name << ": DevIL errors left behind";
  }
  try {
    Keep(LoadReliefTexture());
    ADD_FAILURE() << "relief texture loaded without 311_18.jpg";
  } catch (const ResourceError& error) {
    EXPECT_NE(std::string(error.what()).find("311_18.jpg"), std::string::npos) << error.what();
  }

  // After the failures, loading works as before.
  EXPECT_NO_THROW(Keep(LoadTexture("good.jpg")));
}

// Sets the size a JPEG's frame header or a PNG's IHDR declares.
std::string DeclareSize(std::string file, unsigned long width, unsigned long height) {
  auto put = [&](size_t at, unsigned long value, int bytes) {
    for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<char>(value >> (8 * (bytes - 1 - i)));
  };
  if (file.compare(1, 3, "PNG") == 0) {
    put(16, width, 4);
    put(20, height, 4);
  } else {
    const size_t sof = file.find("\xFF\xC0");
    put(sof + 5, height, 2);
    put(sof + 7, width, 2);
  }
  return file;
}

TEST_F(Textures, HeadersDeclaringOversizedImagesAreRefusedBeforeDecoding) {
  SaveImage("photo.jpg", 48, 30, 3, Pattern(48, 30, 3, 5));
  SaveImage("photo.png", 37, 19, 4, Pattern(37, 19, 4, 6));
  DeclaredImageSize size;
  ASSERT_TRUE(ReadDeclaredImageSize("photo.jpg", &size));
  EXPECT_EQ(size.width, 48);
  EXPECT_EQ(size.height, 30);
  EXPECT_EQ(size.decodedBytesPerPixel, 3);
  ASSERT_TRUE(ReadDeclaredImageSize("photo.png", &size));
  EXPECT_EQ(size.width, 37);
  EXPECT_EQ(size.height, 19);
  EXPECT_EQ(size.decodedBytesPerPixel, 4);
  Write("noise.jpg", std::string(64, '\x5A'));
  EXPECT_FALSE(ReadDeclaredImageSize("noise.jpg", &size));
  EXPECT_FALSE(ReadDeclaredImageSize("missing.jpg", &size));

  // 40000 x 40000 wraps round in a 32-bit RGB byte count; 30000 x 30000
  // fits 32 bits but not a 31-bit count. Both must be refused by the header
  // alone: decoding them would allocate gigabytes or overrun a wrapped buffer.
  const std::string jpeg = Read("photo.jpg"), png = Read("photo.png");
  Write("wrapping.jpg", DeclareSize(jpeg, 40000, 40000));
  Write("huge.jpg", DeclareSize(jpeg, 30000, 30000));
  Write("wrapping.png", DeclareSize(png, 40000, 40000));
  for (const char* name : {"wrapping.jpg", "huge.jpg", "wrapping.png"}) {
    try {
      Keep(LoadTexture(name));
      ADD_FAILURE() << name << " loaded";
    } catch (const ResourceError& error) {
      EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find("declares"), std::string::npos) << error.what();
    }
    EXPECT_EQ(NewDevilImages(), 0) << name;
  }
  // A header within the limit goes on to the decoder, which finds the data
  // too short for it.
  Write("tall.jpg", DeclareSize(jpeg, 48, 3000));
  try {
    Keep(LoadTexture("tall.jpg"));
  } catch (const ResourceError& error) {
    EXPECT_EQ(std::string(error.what()).find("declares"), std::string::npos) << error.what();
  }
}

TEST(RgbaByteCount, RejectsSizesOutsideA31BitCount) {
  EXPECT_EQ(RgbaByteCount(1, 1), 4u);
  EXPECT_EQ(RgbaByteCount(1024, 768), 1024u * 768 * 4);
  EXPECT_EQ(RgbaByteCount(536870911, 1), 2147483644u);  // largest that fits
  EXPECT_EQ(RgbaByteCount(1, 536870912), 0u);           // 2^31 bytes
  EXPECT_EQ(RgbaByteCount(23170, 23170), 23170u * 23170 * 4);
  EXPECT_EQ(RgbaByteCount(23171, 23171), 0u);
  EXPECT_EQ(RgbaByteCount(40000, 40000), 0u);
  EXPECT_EQ(RgbaByteCount(65536, 65536), 0u);  // 2^34: wraps to 0 in 32 bits
  EXPECT_EQ(RgbaByteCount(0, 100), 0u);
  EXPECT_EQ(RgbaByteCount(100, 0), 0u);
  EXPECT_EQ(RgbaByteCount(-1, 100), 0u);
  EXPECT_EQ(RgbaByteCount(100, -5), 0u);
  EXPECT_EQ(RgbaByteCount(-65536, -65536), 0u);
}
