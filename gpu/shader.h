// shader.h — GLSL programs built from a pair of source files.
//
// LoadShaderProgram("abs") reads "abs.vert" and "abs.frag" from the working
// directory, compiles and links them through the ARB shader-object entry
// points, appends the compiler and linker logs to the process-wide
// "shaders.log", gives every active sampler a texture unit of its own (in the
// GL's active-uniform order, counting only samplers, from 0 for each program)
// and registers every active float uniform in `registry` with its link-time
// value. Afterwards no program is current.
//
// How to use it: needs a current GL context with GLEW initialised. Keep the
// returned pointer for the whole run (programs are never destroyed); make
// `programObject` current to draw, and upload `registry` while
// `registryEnabled` is set (see uniforms.h).
//
// How it fails: it never reports failure. A missing file, a compile or link
// error, or a GL without OpenGL 2.0 shows only in "shaders.log" (one entry per
// compiled shader and per linked program:
//   "# vertex shader log:\n<text>\n", "# fragment shader log:\n<text>\n",
//   "# shader linking log:\n<text>\n")
// and in the handles left behind; the registry then stays empty, so every
// FindUniform on it yields null. Running out of memory throws std::bad_alloc.
#pragma once

#include <GL/glew.h>

#include <string>

#include "gpu/uniforms.h"

struct ShaderProgram {
  UniformRegistry registry;           // float uniforms found after a successful link
  GLhandleARB vertexShader = 0;       // 0 once attached and deleted, or never created
  GLhandleARB fragmentShader = 0;     // likewise
  GLhandleARB programObject = 0;      // 0 until created
  bool registryEnabled = true;        // never cleared
};

// Builds a program from `<baseName>.vert` and `<baseName>.frag`; never null.
ShaderProgram* LoadShaderProgram(const char* baseName);

// The steps of LoadShaderProgram, in the order it calls them (it looks at
// neither result).
//
// Reads both files whole; false if either cannot be opened or its size cannot
// be determined (then nothing is read and no shader object is created),
// otherwise the result of CreateShaderObjects. A NUL in a file ends its text.
bool ReadShaderSources(ShaderProgram& program, const char* vertexFile, const char* fragmentFile);
// Creates both shader objects with their sources; false without OpenGL 2.0,
// when the GL returns no object (the fragment shader is then not created), or
// on a GL error.
bool CreateShaderObjects(ShaderProgram& program, const char* vertexText, const char* fragmentText);
// Creates the program object, compiles, logs, attaches and deletes each
// present shader, links, logs, and on success binds sampler units and fills
// the registry; false at the first failure.
bool CompileAndLinkProgram(ShaderProgram& program);

// Whether OpenGL 2.0 is offered; GLEW_VERSION_2_0 by default. Tests replace it
// to simulate an older GL.
extern bool (*ShaderSupportAvailable)();

// Where "shaders.log" is written: by default that bare name in the working
// directory; the shell points it elsewhere when that folder is not writable.
// Takes effect at the next opening of the log.
void SetShaderLogPath(const std::string& path);

// Closes "shaders.log" if it is open, so that the next construction opens it
// afresh ("w") in the then current working directory, as a new run would.
// For tests; the demo keeps the log open for the whole run.
void CloseShaderLog();
