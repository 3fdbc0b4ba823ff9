// sorvane-assetgen: writes the demo's generated images and music.
//
//   sorvane-assetgen [--font-dir DIR] [--shader-dir DIR [--webgl]] [--threads N] [--only NAME]... OUTPUT_DIR
//   sorvane-assetgen --icon FILE.svg
//
// --shader-dir adds the vertex shaders, made from the sources in DIR with the
// score's timeline filled in, and the fragment shaders; --webgl writes them
// in the browser's dialect. --icon writes the program's icon alone.
// Exit status 0 when every requested asset was written, 1 when generation
// failed (one line on stderr names the file and the cause), 2 for a bad
// command line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "tools/assetgen/assets.h"
#include "tools/assetgen/icon.h"

namespace {

int Usage(const char* problem) {
  std::cerr << "sorvane-assetgen: " << problem
            << "\nusage: sorvane-assetgen [--font-dir DIR] [--shader-dir DIR [--webgl]] [--threads N] [--only NAME]... "
               "OUTPUT_DIR\n       sorvane-assetgen --icon FILE.svg\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string single = argc == 3 ? argv[1] : "";
  if (single == "--icon") {
    std::ofstream out(argv[2], std::ios::binary);
    out << sorvane::assetgen::MakeIconSvg();
    if (out.flush()) return 0;
    std::cerr << "sorvane-assetgen: cannot write " << argv[2] << "\n";
    return 1;
  }
  sorvane::assetgen::GenerateOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--font-dir" && hasValue) {
      options.fontDir = argv[++i];
    } else if (arg == "--shader-dir" && hasValue) {
      options.shaderDir = argv[++i];
    } else if (arg == "--webgl") {
      options.webgl = true;
    } else if (arg == "--only" && hasValue) {
      options.only.push_back(argv[++i]);
    } else if (arg == "--threads" && hasValue) {
      char* end = nullptr;
      const long n = std::strtol(argv[++i], &end, 10);
      if (*end || n < 1 || n > 256) return Usage("--threads needs a number from 1 to 256");
      options.threads = unsigned(n);
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown or incomplete option " + arg).c_str());
    } else if (options.outputDir.empty()) {
      options.outputDir = arg;
    } else {
      return Usage("more than one output folder given");
    }
  }
  if (options.outputDir.empty()) return Usage("no output folder given");

  const auto start = std::chrono::steady_clock::now();
  if (!sorvane::assetgen::GenerateAssets(options, std::cout, std::cerr)) return 1;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("  all assets                  %6.2f s\n", seconds);
  return 0;
}
