// libFuzzer entry: an image file through the texture loader, up to the upload.
//
// Input: the file's bytes. Inputs of even length are loaded with LoadTexture
// as "fuzz.jpg"; odd lengths go through the relief path (LoadReliefTexture,
// which reads "311_18.jpg" and runs the normal-map passes before the upload).
// A ResourceError is an expected outcome; its message must name the file.
// Checked after a load: the returned texture is the one left bound.
#include <GL/glew.h>

#include <cstring>

#include "gpu/texture.h"
#include "tests/fuzz/fuzz_context.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterFuzzContext();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool relief = size % 2 == 1;
  const char* name = relief ? "311_18.jpg" : "fuzz.jpg";
  WriteInput(name, data, size);
  try {
    TextureHandle* texture = relief ? LoadReliefTexture() : LoadTexture(name);
    if (!texture) ContractBroken("a load returned no handle and threw nothing");
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    if (static_cast<GLuint>(bound) != texture->glName) ContractBroken("the new texture is not left bound");
    glDeleteTextures(1, &texture->glName);
    delete texture;
  } catch (const ResourceError& error) {
    if (!std::strstr(error.what(), name)) ContractBroken("a ResourceError does not name its file");
  }
  while (glGetError() != GL_NO_ERROR) {
  }
  return 0;
}
