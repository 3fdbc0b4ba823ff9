// files.h — the files the demo reads by bare name from its working
// directory, each named once.
//
// What it is for: the data-folder check, start-up, the layers, the asset
// generator, the capture tool and the benchmarks take the names from here,
// and so does the build: data/CMakeLists.txt reads the lines below that end
// in "// generated" (the asset generator makes the file) or "// program" (a
// shader program: its name + ".vert", which the generator writes with the
// score's timeline filled in, and + ".frag", copied from data/) and puts
// each file into the run folder.
#pragma once

#include <string>
#include <vector>

namespace datafiles {

inline constexpr char kMusic[] = "04-Slow_Amber_Circles.ogg";  // generated
// The relief's photographs: stone, lit through its own normal map; rust;
// marble.
inline constexpr char kStone[] = "311_18.jpg";  // generated
inline constexpr char kRust[] = "162_05.jpg";  // generated
inline constexpr char kMarble[] = "308_18.jpg";  // generated
// The veil's: cloud, caustics, bark; and the credits.
inline constexpr char kCloud[] = "001_14.jpg";  // generated
inline constexpr char kCaustics[] = "003_14.jpg";  // generated
inline constexpr char kBark[] = "003_01.jpg";  // generated
inline constexpr char kCredits[] = "credits.jpg";  // generated
// The shader programs of the relief and the veil.
inline constexpr char kAbs[] = "abs";  // program
inline constexpr char kMask[] = "mask";  // program

inline std::string VertexShader(const char* program) { return std::string(program) + ".vert"; }
inline std::string FragmentShader(const char* program) { return std::string(program) + ".frag"; }

// Every file above as it lies in the run folder.
inline std::vector<std::string> All() {
  std::vector<std::string> files{kMusic};
  for (const char* program : {kAbs, kMask}) {
    files.push_back(VertexShader(program));
    files.push_back(FragmentShader(program));
  }
  for (const char* image : {kStone, kRust, kMarble, kCloud, kCaustics, kBark, kCredits}) files.push_back(image);
  return files;
}

}  // namespace datafiles
