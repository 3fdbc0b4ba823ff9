#include "gpu/shader.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

// The process-wide log, opened by the first construction that finds it closed
// and kept open for the run. While it cannot be created, entries are dropped.
std::FILE* shaderLog = nullptr;

bool DefaultShaderSupport() { return GLEW_VERSION_2_0 != 0; }

void WriteEntry(const char* format, const char* text) {
  if (shaderLog) std::fprintf(shaderLog, format, text);
}

// The byte size of an open file, or -1 when it cannot be determined: seeking
// fails, the file is not a regular file (a directory opens on some systems but
// has no byte size), or the text would not fit one GL source string.
long FileSize(std::FILE* file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(file);
  if (size < 0 || size >= INT_MAX || std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

// The whole file as NUL-terminated text, ending at the characters actually
// read.
std::unique_ptr<char[]> ReadText(std::FILE* file, long size) {
  std::unique_ptr<char[]> text(new char[static_cast<std::size_t>(size) + 1]);
  const std::size_t got = std::fread(text.get(), 1, static_cast<std::size_t>(size), file);
  text[got] = '\0';
  return text;
}

// The info log of a shader or program object; empty when the GL reports a
// length of 0.
std::string InfoLog(GLhandleARB object) {
  GLint length = 0;
  glGetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
  if (length <= 0) return std::string();
  std::unique_ptr<GLcharARB[]> buffer(new GLcharARB[static_cast<std::size_t>(length) + 1]());
  glGetInfoLogARB(object, length, nullptr, buffer.get());
  return std::string(buffer.get());
}

// Compiles one shader and writes its log entry; on success attaches it to the
// program, hands it to the GL for deletion and clears the handle.
bool CompileAndAttach(GLhandleARB program, GLhandleARB& shader, const char* entryFormat) {
  glCompileShaderARB(shader);
  GLint compiled = GL_FALSE;
  glGetObjectParameterivARB(shader, GL_OBJECT_COMPILE_STATUS_ARB, &compiled);
  WriteEntry(entryFormat, InfoLog(shader).c_str());
  if (!compiled) return false;
  glAttachObjectARB(program, shader);
  glDeleteObjectARB(shader);
  shader = 0;
  return true;
}

// Gives every active sampler the next texture unit and registers every active
// float uniform, in the GL's active-uniform order. The program is current.
void BindSamplersAndRegisterFloats(ShaderProgram& program) {
  GLint count = 0;
  glGetObjectParameterivARB(program.programObject, GL_OBJECT_ACTIVE_UNIFORMS_ARB, &count);
  GLint nextUnit = 0;
  for (GLint index = 0; index < count; ++index) {
    GLcharARB name[2048] = {};
    GLint arraySize = 0;
    GLenum type = 0;
    glGetActiveUniformARB(program.programObject, static_cast<GLuint>(index), 2047, nullptr, &arraySize, &type,
                          name);
    const GLint location = glGetUniformLocationARB(program.programObject, name);
    if (type >= GL_SAMPLER_1D_ARB && type <= GL_SAMPLER_2D_RECT_SHADOW_ARB) {
      glUniform1iARB(location, nextUnit);
      ++nextUnit;
    } else if (type == GL_FLOAT && location >= 0) {
      const UniformSlot slot = NewFloatSlot(name, location);
      glGetUniformfvARB(program.programObject, location, slot.value);
      AppendSlot(program.registry, slot);
    }
  }
}

}  // namespace

bool (*ShaderSupportAvailable)() = DefaultShaderSupport;

namespace {
std::string& ShaderLogPath() {
  static std::string path = "shaders.log";
  return path;
}
}  // namespace

void SetShaderLogPath(const std::string& path) { ShaderLogPath() = path; }

void CloseShaderLog() {
  if (shaderLog) std::fclose(shaderLog);
  shaderLog = nullptr;
}

ShaderProgram* LoadShaderProgram(const char* baseName) {
  ShaderProgram* program = new ShaderProgram();
  if (!shaderLog) shaderLog = std::fopen(ShaderLogPath().c_str(), "w");
  const std::string vertexFile = std::string(baseName) + ".vert";
  const std::string fragmentFile = std::string(baseName) + ".frag";
  ReadShaderSources(*program, vertexFile.c_str(), fragmentFile.c_str());
  CompileAndLinkProgram(*program);
  if (shaderLog) std::fflush(shaderLog);
  return program;
}

bool ReadShaderSources(ShaderProgram& program, const char* vertexFile, const char* fragmentFile) {
  std::FILE* vertex = std::fopen(vertexFile, "r");
  std::FILE* fragment = std::fopen(fragmentFile, "r");
  const long vertexSize = vertex ? FileSize(vertex) : -1;
  const long fragmentSize = fragment ? FileSize(fragment) : -1;
  std::unique_ptr<char[]> vertexText, fragmentText;
  if (vertexSize >= 0 && fragmentSize >= 0) {
    try {
      vertexText = ReadText(vertex, vertexSize);
      fragmentText = ReadText(fragment, fragmentSize);
    } catch (...) {
      std::fclose(vertex);
      std::fclose(fragment);
      throw;
    }
  }
  if (vertex) std::fclose(vertex);
  if (fragment) std::fclose(fragment);
  if (!vertexText || !fragmentText) return false;
  return CreateShaderObjects(program, vertexText.get(), fragmentText.get());
}

bool CreateShaderObjects(ShaderProgram& program, const char* vertexText, const char* fragmentText) {
  if (!ShaderSupportAvailable()) return false;
  program.vertexShader = 0;
  program.fragmentShader = 0;
  program.programObject = 0;
  const struct {
    GLhandleARB& handle;
    GLenum type;
    const char* text;
  } shaders[] = {{program.vertexShader, GL_VERTEX_SHADER_ARB, vertexText},
                 {program.fragmentShader, GL_FRAGMENT_SHADER_ARB, fragmentText}};
  for (const auto& shader : shaders) {
    shader.handle = glCreateShaderObjectARB(shader.type);
    if (shader.handle == 0) return false;
    const GLint length = static_cast<GLint>(std::strlen(shader.text));
    const GLcharARB* source = shader.text;
    glShaderSourceARB(shader.handle, 1, &source, &length);
  }
  return glGetError() == GL_NO_ERROR;
}

bool CompileAndLinkProgram(ShaderProgram& program) {
  if (!ShaderSupportAvailable()) return false;
  program.programObject = glCreateProgramObjectARB();
  if (program.vertexShader != 0 &&
      !CompileAndAttach(program.programObject, program.vertexShader, "# vertex shader log:\n%s\n"))
    return false;
  if (program.fragmentShader != 0 &&
      !CompileAndAttach(program.programObject, program.fragmentShader, "# fragment shader log:\n%s\n"))
    return false;
  glLinkProgramARB(program.programObject);
  GLint linked = GL_FALSE;
  glGetObjectParameterivARB(program.programObject, GL_OBJECT_LINK_STATUS_ARB, &linked);
  WriteEntry("# shader linking log:\n%s\n", InfoLog(program.programObject).c_str());
  if (!linked) return false;
  glValidateProgramARB(program.programObject);
  glUseProgramObjectARB(program.programObject);
  BindSamplersAndRegisterFloats(program);
  glUseProgramObjectARB(0);
  return glGetError() == GL_NO_ERROR;
}
