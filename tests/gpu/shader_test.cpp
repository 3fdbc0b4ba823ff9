// The shader program loader on a real GL: the log, the handles left by each
// kind of failure, sampler units and the registered floats.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/gpu/gl_fixture.h"

namespace {

const char* kFragmentSource =
    "#version 120\n"
    "uniform sampler2D image;\n"
    "uniform float t;\n"
    "void main() { gl_FragColor = texture2D(image, gl_TexCoord[0].xy) * t; }\n";

// The log as (header, text) pairs; fails the test if it does not consist of
// well-formed entries only.
std::vector<std::pair<std::string, std::string>> Entries(const std::string& log) {
  const std::string headers[] = {"# vertex shader log:\n", "# fragment shader log:\n", "# shader linking log:\n"};
  const std::string kinds[] = {"vertex", "fragment", "linking"};
  std::vector<std::pair<std::string, std::string>> entries;
  size_t at = 0;
  while (at < log.size()) {
    std::string header, kind;
    for (int h = 0; h < 3; ++h)
      if (log.compare(at, headers[h].size(), headers[h]) == 0) header = headers[h], kind = kinds[h];
    if (header.empty()) {
      ADD_FAILURE() << "no entry header at byte " << at << " of:\n" << log;
      return entries;
    }
    at += header.size();
    size_t next = log.size();
    for (const std::string& h : headers) next = std::min(next, log.find("\n" + h, at));
    if (next == std::string::npos || next == log.size()) next = log.size() - 1;
    if (log[next] != '\n') {
      ADD_FAILURE() << "entry not ended by a line feed:\n" << log;
      return entries;
    }
    entries.emplace_back(kind, log.substr(at, next - at));
    at = next + 1;
  }
  return entries;
}

std::vector<std::string> Kinds(const std::string& log) {
  std::vector<std::string> kinds;
  for (const auto& e : Entries(log)) kinds.push_back(e.first);
  return kinds;
}

GLint CurrentProgram() {
  GLint current = -1;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  return current;
}

using Kindlist = std::vector<std::string>;

}  // namespace

using ShaderLoader = GlTest;

TEST_F(ShaderLoader, ProgramsShareOneLogAndANewRunStartsItAfresh) {
  Write("shaders.log", "left over from an earlier run\n");
  for (const char* base : {"abs", "mask"}) {
    Write(std::string(base) + ".vert", kVertexSource);
    Write(std::string(base) + ".frag", kFragmentSource);
  }
  ShaderProgram* abs = Load("abs");
  ShaderProgram* mask = Load("mask");
  for (ShaderProgram* p : {abs, mask}) {
    EXPECT_NE(p->programObject, 0u);
    EXPECT_EQ(p->vertexShader, 0u);
    EXPECT_EQ(p->fragmentShader, 0u);
    EXPECT_TRUE(p->registryEnabled);
    GLint linked = GL_FALSE;
    glGetObjectParameterivARB(p->programObject, GL_OBJECT_LINK_STATUS_ARB, &linked);
    EXPECT_TRUE(linked);
    ASSERT_NE(FindUniform(p->registry, "t"), nullptr);
  }
  EXPECT_NE(abs->programObject, mask->programObject);
  EXPECT_EQ(CurrentProgram(), 0);

  // The log is flushed at the end of every construction, so it can be read
  // while still open. Mesa reports empty logs for clean sources.
  const std::string log = ReadLog();
  EXPECT_EQ(Kinds(log), (Kindlist{"vertex", "fragment", "linking", "vertex", "fragment", "linking"})) << log;
  const std::string clean = "# vertex shader log:\n\n# fragment shader log:\n\n# shader linking log:\n\n";
  EXPECT_EQ(log, clean + clean);

  // A new run truncates the file and writes only its own entries.
  CloseShaderLog();
  Load("mask");
  EXPECT_EQ(ReadLog(), clean);
}

TEST_F(ShaderLoader, CompileErrorsStopAtTheFailingShader) {
  Write("bad.vert", "#version 120\nvoid main() { gl_Position = ftransform() }\n");
  Write("bad.frag", kFragmentSource);
  ShaderProgram* bad = Load("bad");
  const auto entries = Entries(ReadLog());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].first, "vertex");
  EXPECT_NE(entries[0].second.find("error"), std::string::npos) << entries[0].second;
  EXPECT_NE(bad->programObject, 0u);
  EXPECT_NE(bad->vertexShader, 0u);
  EXPECT_NE(bad->fragmentShader, 0u);
  GLint compiled = GL_TRUE;
  glGetObjectParameterivARB(bad->fragmentShader, GL_OBJECT_COMPILE_STATUS_ARB, &compiled);
  EXPECT_FALSE(compiled) << "the fragment shader is never compiled after a failed vertex shader";
  EXPECT_EQ(bad->registry.size(), 0u);
  EXPECT_EQ(FindUniform(bad->registry, "t"), nullptr);
  EXPECT_EQ(CurrentProgram(), 0);

  // A broken fragment shader: the vertex shader is attached and gone, the
  // fragment one kept, no linking entry.
  CloseShaderLog();
  Write("frag.vert", kVertexSource);
  Write("frag.frag", "#version 120\nvoid main() { gl_FragColor = undefined_thing; }\n");
  ShaderProgram* frag = Load("frag");
  EXPECT_EQ(Kinds(ReadLog()), (Kindlist{"vertex", "fragment"}));
  EXPECT_EQ(frag->vertexShader, 0u);
  EXPECT_NE(frag->fragmentShader, 0u);
  EXPECT_EQ(frag->registry.size(), 0u);
}

TEST_F(ShaderLoader, UnreadableSourcesLinkAnEmptyProgram) {
  // A missing ".frag", a missing ".vert", both missing, and a ".frag" that is
  // a directory (it opens, but has no size to read).
  Write("nofrag.vert", kVertexSource);
  Write("novert.frag", kFragmentSource);
  Write("dir.vert", kVertexSource);
  ASSERT_TRUE(std::filesystem::create_directory(dir_ / "dir.frag"));
  for (const char* base : {"nofrag", "novert", "nothing", "dir"}) {
    CloseShaderLog();
    ShaderProgram* p = Load(base);
    EXPECT_EQ(Kinds(ReadLog()), (Kindlist{"linking"})) << base;
    EXPECT_EQ(p->vertexShader, 0u) << base;
    EXPECT_EQ(p->fragmentShader, 0u) << base;
    EXPECT_NE(p->programObject, 0u) << base;
    GLint attached = -1;
    glGetObjectParameterivARB(p->programObject, GL_OBJECT_ATTACHED_OBJECTS_ARB, &attached);
    EXPECT_EQ(attached, 0) << base;
  }
}

TEST_F(ShaderLoader, SamplersGetUnitsInActiveOrderAndFloatsAreRegistered) {
  Write("units.vert", kVertexSource);
  Write("units.frag",
        "#version 120\n"
        "uniform sampler2D s0;\n"
        "uniform sampler2D notUsed;\n"
        "uniform float f0 = 0.25;\n"
        "uniform sampler2D s1;\n"
        "uniform float f1;\n"
        "uniform sampler2D s2;\n"
        "uniform float unusedFloat;\n"
        "uniform float arr[3];\n"
        "uniform vec2 v2; uniform vec3 v3; uniform vec4 v4;\n"
        "uniform int k = 7; uniform bool b; uniform mat3 m;\n"
        "void main() {\n"
        "  vec2 c = gl_TexCoord[0].xy;\n"
        "  gl_FragColor = texture2D(s0, c) * f0 + texture2D(s1, c) * f1 + texture2D(s2, c)\n"
        "      + vec4(arr[0] + arr[2] + v2.x + v3.y + v4.z + float(k) + (b ? 1.0 : 0.0) + m[0][0]);\n"
        "}\n");
  ShaderProgram* p = Load("units");
  ASSERT_NE(p->programObject, 0u);

  // The premise: this GL enumerates the samplers and floats in the order
  // sampler, float, sampler, float, sampler (then the array).
  GLint count = 0;
  glGetObjectParameterivARB(p->programObject, GL_OBJECT_ACTIVE_UNIFORMS_ARB, &count);
  std::vector<std::string> order;
  for (GLint i = 0; i < count; ++i) {
    char name[256];
    GLint size;
    GLenum type;
    glGetActiveUniformARB(p->programObject, static_cast<GLuint>(i), sizeof name, nullptr, &size, &type, name);
    if (type == GL_SAMPLER_2D_ARB || type == GL_FLOAT) order.push_back(name);
  }
  ASSERT_EQ(order, (std::vector<std::string>{"s0", "f0", "s1", "f1", "s2", "arr[0]"}));

  const char* samplers[] = {"s0", "s1", "s2"};
  for (GLint unit = 0; unit < 3; ++unit) {
    GLint value = -1;
    glGetUniformivARB(p->programObject, glGetUniformLocationARB(p->programObject, samplers[unit]), &value);
    EXPECT_EQ(value, unit) << samplers[unit];
  }
  GLint k = 0;
  glGetUniformivARB(p->programObject, glGetUniformLocationARB(p->programObject, "k"), &k);
  EXPECT_EQ(k, 7) << "an int uniform is not a sampler";

  // Floats in order with their link-time values; the array once, under the
  // name the GL reports; nothing else.
  ASSERT_EQ(p->registry.size(), 3u);
  const char* names[] = {"f0", "f1", "arr[0]"};
  for (size_t i = 0; i < 3; ++i) {
    const UniformSlot& slot = p->registry.slots[i];
    EXPECT_STREQ(slot.name, names[i]);
    EXPECT_EQ(slot.type, static_cast<GLenum>(GL_FLOAT));
    EXPECT_EQ(slot.location, glGetUniformLocationARB(p->programObject, names[i]));
  }
  EXPECT_EQ(*p->registry.slots[0].value, 0.25f);
  EXPECT_EQ(*p->registry.slots[1].value, 0.0f);
  EXPECT_EQ(FindUniform(p->registry, "unusedFloat"), nullptr);
  EXPECT_EQ(CurrentProgram(), 0);
}

TEST_F(ShaderLoader, SourceTextEndsAtNulAndCrlfCompiles) {
  std::string withNul = kVertexSource;
  withNul += std::string(1, '\0') + "this is not GLSL {{{";
  // Not "nul": on Windows that name, whatever its extension, is the null device.
  Write("zero.vert", withNul);
  Write("zero.frag", kFragmentSource);
  ShaderProgram* nul = Load("zero");
  EXPECT_EQ(Kinds(ReadLog()), (Kindlist{"vertex", "fragment", "linking"}));
  EXPECT_EQ(nul->vertexShader, 0u) << "the text after the NUL reached the compiler";
  EXPECT_NE(FindUniform(nul->registry, "t"), nullptr);

  CloseShaderLog();
  auto crlf = [](std::string s) {
    std::string out;
    for (char c : s) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
  };
  Write("crlf.vert", crlf(kVertexSource));
  Write("crlf.frag", crlf(kFragmentSource));
  ShaderProgram* p = Load("crlf");
  EXPECT_EQ(Kinds(ReadLog()), (Kindlist{"vertex", "fragment", "linking"}));
  EXPECT_EQ(p->vertexShader, 0u);
  EXPECT_EQ(p->fragmentShader, 0u);
  EXPECT_NE(FindUniform(p->registry, "t"), nullptr);
}

TEST_F(ShaderLoader, WithoutOpenGl20NothingIsCreatedOrLogged) {
  Write("old.vert", kVertexSource);
  Write("old.frag", kFragmentSource);
  bool (*const saved)() = ShaderSupportAvailable;
  ShaderSupportAvailable = [] { return false; };
  ShaderProgram* p = Load("old");
  ShaderSupportAvailable = saved;
  EXPECT_EQ(p->vertexShader, 0u);
  EXPECT_EQ(p->fragmentShader, 0u);
  EXPECT_EQ(p->programObject, 0u);
  EXPECT_EQ(p->registry.size(), 0u);
  EXPECT_TRUE(p->registryEnabled);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "shaders.log"));
  EXPECT_EQ(ReadLog(), "");
}
