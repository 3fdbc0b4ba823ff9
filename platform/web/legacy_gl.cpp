// The desktop GL calls of the demo on WebGL 1 (legacy_gl.h says what and
// why). One context, one thread: the layer's state is the context's.
#define SORVANE_LEGACY_GL_LAYER
#include "platform/web/legacy_gl.h"

#include <cstring>
#include <vector>

#include "platform/web/matrix_stacks.h"
#include "platform/web/webgl_dialect.h"

struct LegacyGlExtensions legacyGlExtensions = {GL_FALSE, GL_FALSE, GL_FALSE};

namespace {

// One vertex of an immediate-mode primitive.
struct Vertex {
  GLfloat x, y;
  GLfloat s, t;
  GLubyte colour[4];
};

constexpr GLuint kColourLocation = 2;

// The fixed-function quads the demo draws without a program of its own (the
// credits): texture × colour where unit 0 has texturing enabled, else the
// colour alone.
constexpr char kFixedVertex[] =
    "attribute vec4 sv_Vertex;\n"
    "attribute vec4 sv_MultiTexCoord0;\n"
    "attribute vec4 sv_Color;\n"
    "uniform mat4 sv_ModelViewProjectionMatrix;\n"
    "varying vec2 uv;\n"
    "varying vec4 colour;\n"
    "void main() {\n"
    "  uv = sv_MultiTexCoord0.xy;\n"
    "  colour = sv_Color;\n"
    "  gl_Position = sv_ModelViewProjectionMatrix * sv_Vertex;\n"
    "}\n";
constexpr char kFixedFragment[] =
    "precision mediump float;\n"
    "uniform sampler2D unit0;\n"
    "uniform float textured;\n"
    "varying vec2 uv;\n"
    "varying vec4 colour;\n"
    "void main() {\n"
    "  gl_FragColor = textured > 0.5 ? texture2D(unit0, uv) * colour : colour;\n"
    "}\n";

struct Layer {
  MatrixStacks matrices;
  std::vector<Vertex> primitive;
  bool inPrimitive = false;
  Vertex current{0, 0, 0, 0, {255, 255, 255, 255}};
  GLuint program = 0;  // the demo's current program; 0: fixed function
  GLenum activeUnit = GL_TEXTURE0;
  bool unit0Textured = false;
  GLenum error = GL_NO_ERROR;  // the layer's own, reported before WebGL's
  GLuint buffer = 0;
  GLuint fixedProgram = 0;
  GLint fixedMatrix = -1, fixedTextured = -1;
};

Layer& L() {
  static Layer layer;
  return layer;
}

void Fail(GLenum error) {
  if (L().error == GL_NO_ERROR) L().error = error;
}

GLuint Compile(GLenum type, const char* source) {
  const GLuint shader = glCreateShader(type);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  return shader;
}

void BindInputs(GLuint program) {
  glBindAttribLocation(program, webgl::kVertexLocation, webgl::kVertexAttribute);
  glBindAttribLocation(program, webgl::kTexCoordLocation, webgl::kTexCoordAttribute);
}

// Made on the first fixed-function draw, with the context current.
void MakeFixedProgram() {
  Layer& l = L();
  l.fixedProgram = glCreateProgram();
  const GLuint vertex = Compile(GL_VERTEX_SHADER, kFixedVertex);
  const GLuint fragment = Compile(GL_FRAGMENT_SHADER, kFixedFragment);
  glAttachShader(l.fixedProgram, vertex);
  glAttachShader(l.fixedProgram, fragment);
  BindInputs(l.fixedProgram);
  glBindAttribLocation(l.fixedProgram, kColourLocation, "sv_Color");
  glLinkProgram(l.fixedProgram);
  glDeleteShader(vertex);
  glDeleteShader(fragment);
  glUseProgram(l.fixedProgram);
  glUniform1i(glGetUniformLocation(l.fixedProgram, "unit0"), 0);
  l.fixedMatrix = glGetUniformLocation(l.fixedProgram, webgl::kMatrixUniform);
  l.fixedTextured = glGetUniformLocation(l.fixedProgram, "textured");
}

// Quads become two triangles each; what does not make a whole quad is
// dropped, as the GL drops it.
std::vector<Vertex> Triangles(const std::vector<Vertex>& quads) {
  std::vector<Vertex> out;
  out.reserve(quads.size() / 4 * 6);
  for (std::size_t q = 0; q + 4 <= quads.size(); q += 4)
    for (std::size_t corner : {0, 1, 2, 0, 2, 3}) out.push_back(quads[q + corner]);
  return out;
}

void Draw(const std::vector<Vertex>& triangles) {
  Layer& l = L();
  if (triangles.empty()) return;
  if (!l.buffer) glGenBuffers(1, &l.buffer);
  glBindBuffer(GL_ARRAY_BUFFER, l.buffer);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(triangles.size() * sizeof(Vertex)), triangles.data(),
               GL_STREAM_DRAW);
  const MatrixStacks::Matrix mvp = l.matrices.ModelViewProjection();
  const bool fixed = l.program == 0;
  if (fixed) {
    if (!l.fixedProgram) MakeFixedProgram();
    glUseProgram(l.fixedProgram);
    glUniform1f(l.fixedTextured, l.unit0Textured ? 1.0f : 0.0f);
    glUniformMatrix4fv(l.fixedMatrix, 1, GL_FALSE, mvp.data());
    glEnableVertexAttribArray(kColourLocation);
    glVertexAttribPointer(kColourLocation, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(Vertex),
                          reinterpret_cast<const void*>(offsetof(Vertex, colour)));
  } else {
    const GLint matrix = glGetUniformLocation(l.program, webgl::kMatrixUniform);
    if (matrix >= 0) glUniformMatrix4fv(matrix, 1, GL_FALSE, mvp.data());
    glDisableVertexAttribArray(kColourLocation);
  }
  glEnableVertexAttribArray(webgl::kVertexLocation);
  glVertexAttribPointer(webgl::kVertexLocation, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                        reinterpret_cast<const void*>(offsetof(Vertex, x)));
  glEnableVertexAttribArray(webgl::kTexCoordLocation);
  glVertexAttribPointer(webgl::kTexCoordLocation, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                        reinterpret_cast<const void*>(offsetof(Vertex, s)));
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(triangles.size()));
  if (fixed) glUseProgram(0);
}

bool PowerOfTwo(GLsizei n) { return n > 0 && (n & (n - 1)) == 0; }

}  // namespace

extern "C" {

GLenum legacyGlewInit(void) {
  // Shaders and framebuffer objects are WebGL 1's own; blits and
  // multisampled renderbuffers came with WebGL 2.
  legacyGlExtensions = {GL_TRUE, GL_TRUE, GL_FALSE};
  return 0;
}

void legacyBegin(GLenum mode) {
  Layer& l = L();
  if (l.inPrimitive || mode != GL_QUADS) {
    Fail(l.inPrimitive ? GL_INVALID_OPERATION : GL_INVALID_ENUM);
    return;
  }
  l.inPrimitive = true;
  l.primitive.clear();
}

void legacyEnd(void) {
  Layer& l = L();
  if (!l.inPrimitive) {
    Fail(GL_INVALID_OPERATION);
    return;
  }
  l.inPrimitive = false;
  Draw(Triangles(l.primitive));
}

void legacyVertex2f(GLfloat x, GLfloat y) {
  Layer& l = L();
  l.current.x = x;
  l.current.y = y;
  if (l.inPrimitive) l.primitive.push_back(l.current);
}

void legacyTexCoord2f(GLfloat s, GLfloat t) {
  L().current.s = s;
  L().current.t = t;
}

void legacyColor4ub(GLubyte red, GLubyte green, GLubyte blue, GLubyte alpha) {
  const GLubyte colour[4] = {red, green, blue, alpha};
  std::memcpy(L().current.colour, colour, sizeof colour);
}

void legacyMatrixMode(GLenum mode) {
  if (mode != GL_MODELVIEW && mode != GL_PROJECTION) return Fail(GL_INVALID_ENUM);
  L().matrices.SetMode(mode == GL_MODELVIEW ? MatrixStacks::Mode::ModelView : MatrixStacks::Mode::Projection);
}

void legacyPushMatrix(void) {
  if (!L().matrices.Push()) Fail(0x0503);  // GL_STACK_OVERFLOW
}

void legacyPopMatrix(void) {
  if (!L().matrices.Pop()) Fail(0x0504);  // GL_STACK_UNDERFLOW
}

void legacyLoadIdentity(void) { L().matrices.LoadIdentity(); }

void legacyTranslatef(GLfloat x, GLfloat y, GLfloat z) { L().matrices.Translate(x, y, z); }

void legacyOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear, GLdouble zFar) {
  if (!L().matrices.Ortho(left, right, bottom, top, zNear, zFar)) Fail(GL_INVALID_VALUE);
}

void legacyPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
  // GLU leaves the matrix alone for a volume it cannot make.
  L().matrices.Perspective(fovy, aspect, zNear, zFar);
}

void legacyEnable(GLenum capability) {
  if (capability != GL_TEXTURE_2D) return glEnable(capability);
  if (L().activeUnit == GL_TEXTURE0) L().unit0Textured = true;
}

void legacyDisable(GLenum capability) {
  if (capability != GL_TEXTURE_2D) return glDisable(capability);
  if (L().activeUnit == GL_TEXTURE0) L().unit0Textured = false;
}

void legacyActiveTexture(GLenum unit) {
  L().activeUnit = unit;
  glActiveTexture(unit);
}

void legacyHint(GLenum target, GLenum mode) {
  // Perspective-correct interpolation is what WebGL always does.
  if (target != GL_PERSPECTIVE_CORRECTION_HINT) glHint(target, mode);
}

void legacyClearDepth(GLdouble depth) { glClearDepthf(static_cast<GLfloat>(depth)); }

void legacyTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                      GLenum format, GLenum type, const void* pixels) {
  // WebGL 1 takes the format itself as the internal format.
  if (internalFormat == GL_RGBA8) internalFormat = GL_RGBA;
  glTexImage2D(target, level, internalFormat, width, height, border, format, type, pixels);
  // A texture whose sides are not powers of two can only be sampled clamped
  // in WebGL 1; repeated, it would sample black.
  if (target == GL_TEXTURE_2D && level == 0 && (!PowerOfTwo(width) || !PowerOfTwo(height))) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
}

void legacyGetIntegerv(GLenum name, GLint* value) {
  if (name == GL_MAX_SAMPLES_EXT) {
    *value = 0;
    return;
  }
  glGetIntegerv(name, value);
}

GLenum legacyGetError(void) {
  const GLenum own = L().error;
  if (own != GL_NO_ERROR) {
    L().error = GL_NO_ERROR;
    return own;
  }
  return glGetError();
}

GLhandleARB legacyCreateProgramObject(void) { return glCreateProgram(); }

void legacyLinkProgram(GLhandleARB program) {
  BindInputs(program);
  glLinkProgram(program);
}

void legacyUseProgramObject(GLhandleARB program) {
  L().program = program;
  glUseProgram(program);
}

// WebGL names shaders and programs from one counter, so a handle is one or
// the other.
void legacyDeleteObject(GLhandleARB object) {
  if (glIsProgram(object)) glDeleteProgram(object);
  else glDeleteShader(object);
}

void legacyGetObjectParameteriv(GLhandleARB object, GLenum name, GLint* value) {
  if (glIsProgram(object)) glGetProgramiv(object, name, value);
  else glGetShaderiv(object, name, value);
}

void legacyGetInfoLog(GLhandleARB object, GLsizei size, GLsizei* length, GLcharARB* log) {
  if (glIsProgram(object)) glGetProgramInfoLog(object, size, length, log);
  else glGetShaderInfoLog(object, size, length, log);
}

void legacyBlitFramebuffer(GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLbitfield, GLenum) {
  Fail(GL_INVALID_OPERATION);
}

void legacyRenderbufferStorageMultisample(GLenum, GLsizei, GLenum, GLsizei, GLsizei) { Fail(GL_INVALID_OPERATION); }

}  // extern "C"
