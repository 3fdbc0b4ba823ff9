// The uniform registry: exact lookup, stable value cells, and what one upload
// sends to the GL.
#include <string>

#include "tests/gpu/gl_fixture.h"

using UniformRegistryTest = GlTest;

TEST(UniformRegistryLookup, ExactWholeNamesFirstMatchWins) {
  UniformRegistry empty;
  EXPECT_EQ(FindUniform(empty, "t"), nullptr);
  EXPECT_EQ(FindUniform(empty, ""), nullptr);

  UniformRegistry registry;
  const UniformSlot t = NewFloatSlot("t", 0);
  const UniformSlot fade = NewFloatSlot("fade", 1);
  const UniformSlot secondT = NewFloatSlot("t", 2);
  for (const UniformSlot& slot : {t, fade, secondT}) AppendSlot(registry, slot);
  ASSERT_NE(t.value, secondT.value);

  EXPECT_EQ(FindUniform(registry, "t"), t.value);
  EXPECT_EQ(FindUniform(registry, "fade"), fade.value);
  for (const char* miss : {"T", "Fade", "", "fad", "fade ", "t[0]", "ta"})
    EXPECT_EQ(FindUniform(registry, miss), nullptr) << '"' << miss << '"';

  // The slot keeps its own copy of the name.
  std::string name = "scroll";
  AppendSlot(registry, NewFloatSlot(name.c_str(), 3));
  name[0] = 'x';
  EXPECT_NE(FindUniform(registry, "scroll"), nullptr);
  EXPECT_EQ(*FindUniform(registry, "scroll"), 0.0f);

  for (const UniformSlot& slot : registry.slots) {
    delete slot.value;
    delete[] slot.name;
  }
}

TEST_F(UniformRegistryTest, CellsSurviveGrowthAndUploadSendsThem) {
  Write("reg.vert", kVertexSource);
  Write("reg.frag",
        "#version 120\n"
        "uniform float t;\n"
        "uniform float u = 0.75;\n"
        "void main() { gl_FragColor = vec4(t, u, 0.0, 1.0); }\n");
  ShaderProgram* p = Load("reg");
  ASSERT_EQ(p->registry.size(), 2u);
  const GLhandleARB program = p->programObject;
  const GLint tLocation = glGetUniformLocationARB(program, "t");
  const GLint uLocation = glGetUniformLocationARB(program, "u");
  auto read = [&](GLint location) {
    float value = -1.0f;
    glGetUniformfvARB(program, location, &value);
    return value;
  };

  float* t = FindUniform(p->registry, "t");
  float* u = FindUniform(p->registry, "u");
  ASSERT_NE(t, nullptr);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(*t, 0.0f);
  EXPECT_EQ(*u, 0.75f);

  // Grow the registry well past its capacity so that its records move; the
  // extra slots all point at u with its link-time value. A slot of another
  // type aimed at t must be skipped by the upload.
  for (int i = 0; i < 1000; ++i) AppendSlot(p->registry, NewFloatSlot("u", uLocation));
  for (size_t i = 2; i < p->registry.size(); ++i) *p->registry.slots[i].value = 0.75f;
  AppendSlot(p->registry, UniformSlot{Keep(new float(42.0f)), "t", tLocation, GL_INT});
  EXPECT_EQ(FindUniform(p->registry, "t"), t);

  *t = 3.5f;
  glUseProgramObjectARB(program);
  glUniform1fARB(uLocation, 9.0f);  // overwritten by the cell's value
  UploadUniforms(p->registry);
  EXPECT_EQ(read(tLocation), 3.5f);
  EXPECT_EQ(read(uLocation), 0.75f);

  // A value written once is sent again at every upload until rewritten.
  glUniform1fARB(tLocation, -1.0f);
  UploadUniforms(p->registry);
  EXPECT_EQ(read(tLocation), 3.5f);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  glUseProgramObjectARB(0);
}
