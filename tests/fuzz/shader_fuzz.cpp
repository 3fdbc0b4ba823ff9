// libFuzzer entry: a pair of shader sources through the loader's steps.
//
// Input: two bytes (big-endian) giving the vertex source's length, the vertex
// source, then the fragment source (whatever is left). Both are written as
// files and read back by ReadShaderSources, then compiled and linked; the
// compiler and linker logs go to the process-wide shaders.log. Checked: no
// program is left current, a program that did not link registers nothing,
// and every registered slot is a float with a name and a location.
#include <GL/glew.h>

#include <algorithm>
#include <cstring>

#include "gpu/shader.h"
#include "tests/fuzz/fuzz_context.h"

namespace {

// Gives back what one trial made: the GL objects and the registry's cells.
void Release(ShaderProgram& program) {
  for (const UniformSlot& slot : program.registry.slots) {
    delete slot.value;
    delete[] slot.name;
  }
  program.registry.slots.clear();
  for (GLhandleARB object : {program.vertexShader, program.fragmentShader, program.programObject})
    if (object != 0) glDeleteObjectARB(object);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterFuzzContext();
  // One whole load opens shaders.log, so every trial's log entries are written.
  WriteInput("fuzz.vert", nullptr, 0);
  WriteInput("fuzz.frag", nullptr, 0);
  static ShaderProgram* opener = LoadShaderProgram("fuzz");
  (void)opener;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t vertexLength = 0;
  if (size >= 2) {
    vertexLength = std::min<size_t>(static_cast<size_t>(data[0]) << 8 | data[1], size - 2);
    data += 2;
    size -= 2;
  }
  WriteInput("fuzz.vert", data, vertexLength);
  WriteInput("fuzz.frag", data + vertexLength, size - vertexLength);

  ShaderProgram program;
  ReadShaderSources(program, "fuzz.vert", "fuzz.frag");
  CompileAndLinkProgram(program);

  if (glGetHandleARB(GL_PROGRAM_OBJECT_ARB) != 0) ContractBroken("a program is left current");
  GLint linked = GL_FALSE;
  if (program.programObject != 0)
    glGetObjectParameterivARB(program.programObject, GL_OBJECT_LINK_STATUS_ARB, &linked);
  if (!linked && !program.registry.slots.empty()) ContractBroken("a program that did not link registered uniforms");
  for (const UniformSlot& slot : program.registry.slots)
    if (!slot.value || !slot.name || slot.location < 0 || slot.type != GL_FLOAT)
      ContractBroken("a registered slot is not a located float with a name");

  Release(program);
  while (glGetError() != GL_NO_ERROR) {
  }
  return 0;
}
