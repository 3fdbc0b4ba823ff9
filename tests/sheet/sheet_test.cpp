// The contact sheet: where each frame and its label land, what it refuses,
// and the tool end to end on the real run folder.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "measure/workbench.h"
#include "tools/sheet/sheet.h"

namespace {

constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

CaptureFrame Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  CaptureFrame f{w, h, {}};
  for (int i = 0; i < w * h; ++i) f.rgb.insert(f.rgb.end(), {r, g, b});
  return f;
}

// Pixels in the rectangle that differ from the sheet's ground.
int Ink(const sorvane::assetgen::RgbImage& sheet, int x0, int y0, int x1, int y1) {
  const uint8_t* ground = sheet.At(0, 0);
  int ink = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) ink += sheet.At(x, y)[0] != ground[0] || sheet.At(x, y)[2] != ground[2];
  return ink;
}

TEST(Sheet, FramesSitInRowsWithTheirLabelsUnderThem) {
  const std::vector<SheetCell> cells = {{Solid(40, 20, 255, 0, 0), "0:04"},
                                        {Solid(40, 20, 0, 255, 0), "1:16"},
                                        {Solid(40, 20, 0, 0, 255), "4:43"}};
  const auto sheet = ComposeSheet(cells, 2, kFont);
  // Two columns, two rows: an 8-pixel margin around each frame and a
  // 24-pixel label band under it.
  ASSERT_EQ(sheet.width, 2 * 48 + 8);
  ASSERT_EQ(sheet.height, 2 * (20 + 8 + 24) + 8);
  const int origins[][2] = {{8, 8}, {56, 8}, {8, 60}};
  for (size_t i = 0; i < cells.size(); ++i) {
    SCOPED_TRACE(i);
    const auto [x0, y0] = origins[i];
    for (int y = y0; y < y0 + 20; ++y)
      for (int x = x0; x < x0 + 40; ++x)
        ASSERT_EQ(std::vector<uint8_t>(sheet.At(x, y), sheet.At(x, y) + 3),
                  std::vector<uint8_t>(cells[i].frame.rgb.begin(), cells[i].frame.rgb.begin() + 3));
    EXPECT_GT(Ink(sheet, x0, y0 + 20, x0 + 40, y0 + 20 + 24), 20) << "no label under the frame";
    EXPECT_EQ(Ink(sheet, x0 - 8, y0 + 20, x0, y0 + 44), 0) << "label spills into the margin";
  }
  EXPECT_EQ(Ink(sheet, 56, 60, 96, 112), 0) << "the empty cell stays empty";

  EXPECT_EQ(MinutesSeconds(0.0), "0:00");
  EXPECT_EQ(MinutesSeconds(59.6), "1:00");
  EXPECT_EQ(MinutesSeconds(283.0), "4:43");
}

TEST(Sheet, RefusesWhatItCannotLayOut) {
  EXPECT_THROW(ComposeSheet({}, 4, kFont), std::invalid_argument);
  EXPECT_THROW(ComposeSheet({{Solid(4, 2, 0, 0, 0), "a"}}, 0, kFont), std::invalid_argument);
  EXPECT_THROW(ComposeSheet({{Solid(4, 2, 0, 0, 0), "a"}, {Solid(4, 3, 0, 0, 0), "b"}}, 2, kFont),
               std::invalid_argument);
  CaptureFrame shortFrame = Solid(4, 2, 0, 0, 0);
  shortFrame.rgb.pop_back();
  EXPECT_THROW(ComposeSheet({{shortFrame, "a"}}, 1, kFont), std::invalid_argument);
  try {
    ComposeSheet({{Solid(4, 2, 0, 0, 0), "a"}}, 1, "/nonexistent/font.ttf");
    ADD_FAILURE() << "no font, yet a sheet";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/font.ttf"), std::string::npos) << e.what();
  }
}

sorvane::assetgen::RgbImage ReadPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  sorvane::assetgen::RgbImage out;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
  image.format = PNG_FORMAT_RGB;
  out = sorvane::assetgen::RgbImage(int(image.width), int(image.height));
  if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) out = {};
  return out;
}

int Sheet(std::vector<std::string> args) {
  args.insert(args.begin(), "sorvane-sheet");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  return SheetMain(static_cast<int>(argv.size()), argv.data());
}

TEST(Sheet, ToolRendersTheRunFolderOrStopsWithUsage) {
  TempDir dir;
  const std::string out = dir / "sheet.png";
  EXPECT_EQ(Sheet({"--out", out}), 2) << "no times";
  EXPECT_EQ(Sheet({"--out", out, "--size", "0x4", "1"}), 2);
  EXPECT_EQ(Sheet({"--out", out, "--columns", "x", "1"}), 2);
  EXPECT_EQ(Sheet({"--out", out, "ten"}), 2);
  EXPECT_EQ(Sheet({"1"}), 2) << "no --out";
  EXPECT_EQ(Sheet({"--dir", dir / "missing", "--out", out, "1"}), 1);

  const double times[] = {0, 100, 283};
  ASSERT_EQ(Sheet({"--dir", SORVANE_RUN_DIR, "--size", "32x16", "--columns", "3", "--out", out, "0", "100", "283"}), 0);
  const sorvane::assetgen::RgbImage written = ReadPng(out);
  // One row of three 32-pixel frames with margins and label bands.
  ASSERT_EQ(written.width, 3 * 40 + 8);
  ASSERT_EQ(written.height, 16 + 8 + 24 + 8);

  // The sheet holds the frames the capture renderer draws at those times,
  // each with its label: composed again here from freshly rendered frames,
  // it is the same picture to the byte.
  std::filesystem::current_path(SORVANE_RUN_DIR);
  FrameRenderer renderer;
  ASSERT_TRUE(renderer.Open(32, 16, false)) << renderer.error();
  std::vector<SheetCell> cells;
  for (double t : times) {
    cells.push_back({{}, MinutesSeconds(t)});
    renderer.Render(t, cells.back().frame);
  }
  EXPECT_TRUE(written.pixels == ComposeSheet(cells, 3, kFont).pixels) << "the sheet is not the frames it names";
  // Those frames are the picture, not the ground: the one at 1:40 is lit
  // across its cell, and every label has its ink.
  EXPECT_GT(Ink(written, 48, 8, 80, 24), 32 * 16 / 2) << "the frame at 1:40 is missing";
  for (int column = 0; column < 3; ++column)
    EXPECT_GT(Ink(written, 8 + 40 * column, 24, 40 + 40 * column, 48), 20) << "no label under frame " << column;
}

}  // namespace
