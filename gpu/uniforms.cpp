#include "gpu/uniforms.h"

#include <cstring>

UniformSlot NewFloatSlot(const char* name, GLint location) {
  const std::size_t length = std::strlen(name);
  char* copy = new char[length + 1];
  std::memcpy(copy, name, length + 1);
  return UniformSlot{new float(0.0f), copy, location, GL_FLOAT};
}

void AppendSlot(UniformRegistry& registry, const UniformSlot& slot) { registry.slots.push_back(slot); }

float* FindUniform(const UniformRegistry& registry, const char* name) {
  if (name == nullptr) return nullptr;
  for (const UniformSlot& slot : registry.slots)
    if (std::strcmp(slot.name, name) == 0) return slot.value;
  return nullptr;
}

void UploadUniforms(const UniformRegistry& registry) {
  for (const UniformSlot& slot : registry.slots)
    if (slot.type == GL_FLOAT) glUniform1fvARB(slot.location, 1, slot.value);
}
