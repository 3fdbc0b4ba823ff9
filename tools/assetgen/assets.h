// The demo's generated content and the runner that writes it.
//
// AssetList names every file the demo reads from its run folder that is
// made here (six photographs, the credits card, the music track) with the
// function that produces its bytes. ShaderAssetList names the shaders of the
// two programs, made from their sources in GenerateOptions::shaderDir: the
// vertex shaders with the score's timeline filled in (shader_timeline.h, the
// shared part from timeline.glsl in the same folder), the fragment shaders
// as written (the desktop build copies those itself), all of them in the
// browser's dialect with `webgl` (platform/web/webgl_dialect.h); they are made only when shaderDir is
// given, so the slow assets and the quick shaders can be built apart. GenerateAssets makes the requested ones
// in parallel (one worker thread per core, longest first), writes each into
// the output folder under a temporary name and renames it into place, and
// prints one line per finished asset with the seconds it took.
//
// Failure: the output folder is checked for writing before any work starts.
// Asking for a shader without a shaderDir, or for a name nobody makes, stops
// before that too.
// The first failure (folder not writable, font missing, encoder error, a
// file that cannot be written) stops the run: no further assets are started,
// one line "sorvane-assetgen: <file>: <cause>" goes to the error stream and
// the result is false. Files already written stay; a failed one leaves no
// partial file behind.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace sorvane::assetgen {

struct GenerateOptions {
  std::string outputDir;
  std::string fontDir = "/usr/share/fonts/truetype/dejavu";
  std::string shaderDir;          // sources of the shaders; empty: none made
  bool webgl = false;             // the shaders in WebGL's dialect, for the browser build
  std::vector<std::string> only;  // asset names to make; empty: all
  unsigned threads = 0;           // 0: one per core
};

struct Asset {
  std::string name;
  double cost;  // rough relative duration, to start the longest first
  // Makes the file's bytes; may add a short note (figures) for the log line.
  std::function<std::vector<uint8_t>(const GenerateOptions&, std::string& note)> make;
};

const std::vector<Asset>& AssetList();
const std::vector<Asset>& ShaderAssetList();

// Writes bytes to path through a temporary file in the same folder; throws
// std::runtime_error with the system's reason on failure.
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

bool GenerateAssets(const GenerateOptions& options, std::ostream& log, std::ostream& errors);

}  // namespace sorvane::assetgen
