// rgba_dump OUTDIR FILE... — decodes each image file the way the texture
// loader does (ilLoadImage, then ilCopyPixels to 8-bit RGBA) and writes
// OUTDIR/<file name>.rgba: "<width> <height>\n" and the pixels, first row
// first, or "refused\n" when the file cannot be loaded. Built against DevIL
// on Linux and against the ilcompat decoder on Windows, so that the two
// folders it writes can be compared byte for byte.
#include <IL/il.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: rgba_dump OUTDIR FILE...\n");
    return 2;
  }
  ilInit();
  const std::string outDir = argv[1];
  int failures = 0;
  for (int i = 2; i < argc; ++i) {
    std::string name = argv[i];
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    const std::string outPath = outDir + "/" + name + ".rgba";
    FILE* out = std::fopen(outPath.c_str(), "wb");
    if (!out) {
      std::fprintf(stderr, "rgba_dump: cannot write %s\n", outPath.c_str());
      return 1;
    }
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    if (ilLoadImage(argv[i])) {
      const ILint width = ilGetInteger(IL_IMAGE_WIDTH), height = ilGetInteger(IL_IMAGE_HEIGHT);
      std::vector<ILubyte> rgba(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
      ilCopyPixels(0, 0, 0, static_cast<ILuint>(width), static_cast<ILuint>(height), 1, IL_RGBA, IL_UNSIGNED_BYTE,
                   rgba.data());
      std::fprintf(out, "%d %d\n", width, height);
      std::fwrite(rgba.data(), 1, rgba.size(), out);
    } else {
      std::fprintf(out, "refused\n");
    }
    while (ilGetError() != IL_NO_ERROR) {
    }
    ilDeleteImages(1, &image);
    if (std::fclose(out) != 0) ++failures;
  }
  return failures ? 1 : 0;
}
