#include "tools/sheet/sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "tools/assetgen/credits.h"

using sorvane::assetgen::RgbImage;

namespace {

constexpr int kMargin = 8;        // around every frame, in pixels
constexpr int kLabelHeight = 24;  // the band under each frame
constexpr int kLabelPixels = 15;  // text height
constexpr uint8_t kGround[3] = {17, 15, 14};

constexpr const char* kUsage =
    "usage: sorvane-sheet [--dir RUNDIR] [--size WxH] [--columns N] [--font FILE.ttf] --out FILE.png TIME...\n"
    "Renders the demo's frame at each TIME (seconds) off screen, as sorvane-capture does, and lays\n"
    "them out in rows of N (default 4) with each time (m:ss) under its frame.\n"
    "  --size WxH    size of each frame, default 240x120\n"
    "  --font FILE   default /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf\n";

}  // namespace

std::string MinutesSeconds(double seconds) {
  const long s = std::lround(std::max(seconds, 0.0));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

RgbImage ComposeSheet(const std::vector<SheetCell>& cells, int columns, const std::string& fontPath) {
  if (cells.empty()) throw std::invalid_argument("no frames to lay out");
  if (columns < 1) throw std::invalid_argument("a sheet needs at least one column");
  const int w = cells.front().frame.width, h = cells.front().frame.height;
  for (const SheetCell& c : cells)
    if (c.frame.width != w || c.frame.height != h || c.frame.rgb.size() != size_t(w) * size_t(h) * 3)
      throw std::invalid_argument("frames of different sizes");
  const int used = std::min(columns, int(cells.size()));
  const int rows = (int(cells.size()) + columns - 1) / columns;
  const int cellWidth = w + kMargin, cellHeight = h + kMargin + kLabelHeight;
  RgbImage sheet(used * cellWidth + kMargin, rows * cellHeight + kMargin);
  for (size_t i = 0; i < sheet.pixels.size(); ++i) sheet.pixels[i] = kGround[i % 3];
  for (size_t i = 0; i < cells.size(); ++i) {
    const int x0 = kMargin + int(i) % columns * cellWidth, y0 = kMargin + int(i) / columns * cellHeight;
    for (int y = 0; y < h; ++y)
      std::memcpy(sheet.At(x0, y0 + y), cells[i].frame.rgb.data() + size_t(y) * size_t(w) * 3, size_t(w) * 3);
    sorvane::assetgen::DrawTextLine(sheet, fontPath, kLabelPixels, cells[i].label, x0, x0 + w,
                                    y0 + h + kLabelHeight - 7, 0.80f, 0.72f, 0.62f);
  }
  return sheet;
}

int SheetMain(int argc, char** argv) {
  std::string dir, out, font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  int width = 240, height = 120, columns = 4;
  std::vector<double> times;
  auto usageError = [](const std::string& what) {
    std::fprintf(stderr, "sorvane-sheet: %s\n%s", what.c_str(), kUsage);
    return 2;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    const bool option = arg.size() > 2 && arg.compare(0, 2, "--") == 0;
    if (option && i + 1 >= argc) return usageError(arg + " needs a value");
    if (arg == "--dir") {
      dir = argv[++i];
    } else if (arg == "--out") {
      out = argv[++i];
    } else if (arg == "--font") {
      font = argv[++i];
    } else if (arg == "--size") {
      int consumed = 0;
      const char* value = argv[++i];
      if (std::sscanf(value, "%dx%d%n", &width, &height, &consumed) != 2 || value[consumed] != '\0' || width < 1 ||
          height < 1 || width > 4096 || height > 4096)
        return usageError(std::string("bad size '") + value + "'");
    } else if (arg == "--columns") {
      char* end = nullptr;
      const long n = std::strtol(argv[++i], &end, 10);
      if (*end || n < 1 || n > 64) return usageError("--columns needs a number from 1 to 64");
      columns = int(n);
    } else if (option) {
      return usageError("unknown option " + arg);
    } else {
      char* end = nullptr;
      const double t = std::strtod(argv[i], &end);
      if (end == argv[i] || *end || !std::isfinite(t) || t < 0) return usageError("bad time '" + arg + "'");
      times.push_back(t);
    }
  }
  if (out.empty()) return usageError("no --out FILE.png given");
  if (times.empty()) return usageError("no times given");

  out = std::filesystem::absolute(out).string();
  if (!dir.empty()) {
    std::error_code ec;
    std::filesystem::current_path(dir, ec);
    if (ec) {
      std::fprintf(stderr, "sorvane-sheet: cannot enter run folder %s: %s\n", dir.c_str(), ec.message().c_str());
      return 1;
    }
  }
  FrameRenderer renderer;
  if (!renderer.Open(width, height, false)) {
    std::fprintf(stderr, "sorvane-sheet: %s\n", renderer.error().c_str());
    return 1;
  }
  std::vector<SheetCell> cells;
  for (double t : times) {
    cells.push_back({{}, MinutesSeconds(t)});
    renderer.Render(t, cells.back().frame);
  }
  try {
    const RgbImage sheet = ComposeSheet(cells, columns, font);
    if (!WritePng(out, {sheet.width, sheet.height, sheet.pixels})) {
      std::fprintf(stderr, "sorvane-sheet: cannot write %s\n", out.c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sorvane-sheet: %s\n", e.what());
    return 1;
  }
  return 0;
}
