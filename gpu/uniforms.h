// uniforms.h — the float uniforms of one shader program, driven by name.
//
// A registry holds one slot per active float uniform of its program, in the
// order the GL enumerated them; the shader loader fills it right after a
// successful link. Each slot owns a heap value cell that never moves, so the
// pointer FindUniform returns stays valid however the registry grows.
//
// How to use it: at init, `float* t = FindUniform(program->registry, "t");`
// and keep the pointer (null: the program has no such active float uniform,
// so skip writing it). Every frame write `*t`, make the program current, then
// `UploadUniforms(program->registry)`: one glUniform1fvARB per float slot, no
// allocation, no string work, no location lookup.
//
// How it fails: it does not. Slots, cells and names are never released;
// registries live as long as the process, like their programs.
#pragma once

#include <GL/glew.h>

#include <cstddef>
#include <vector>

// One uniform's value cell, name, location and type. A plain record: copies
// share the cell and the name.
struct UniformSlot {
  float* value;      // heap cell holding the value the next upload sends
  const char* name;  // heap copy of the name the GL reported; the lookup key
  GLint location;    // 0 or more in every slot the loader creates
  GLenum type;       // GL_FLOAT in every slot the loader creates
};

// Slots in insertion order; only ever appended to.
struct UniformRegistry {
  std::vector<UniformSlot> slots;

  std::size_t size() const { return slots.size(); }
};

// A GL_FLOAT slot with a new zeroed value cell and a copy of `name`.
UniformSlot NewFloatSlot(const char* name, GLint location);

void AppendSlot(UniformRegistry& registry, const UniformSlot& slot);

// The value cell of the first slot whose name equals `name` exactly
// (case-sensitive, whole string), or null. Start-up only: a linear scan with
// string comparisons.
float* FindUniform(const UniformRegistry& registry, const char* name);

// Sends every GL_FLOAT slot's cell to its location in the current program;
// slots of other types are skipped. The caller makes the program current.
void UploadUniforms(const UniformRegistry& registry);
