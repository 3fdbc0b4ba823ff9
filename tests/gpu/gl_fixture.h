// The fixture of the GL-backed gpu tests: one GL context and ilInit for the
// process, a fresh working directory per test, and "shaders.log" closed on
// both sides so that every test starts the log afresh in its own folder.
// Programs and textures are never released by design; tests hand them to
// `Keep`, which holds them reachable until the process ends, as the demo does.
#pragma once

#include <GL/glew.h>
#include <IL/il.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gpu/shader.h"
#include "measure/workbench.h"

class GlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static const bool open = [] {
      if (!OpenTestGlContext()) return false;
      ilInit();
      return true;
    }();
    contextOpen_ = open;
  }

  void SetUp() override {
    ASSERT_TRUE(contextOpen_) << "no GL context: run the tests under xvfb-run with a reachable display";
    dir_.Enter();
    CloseShaderLog();
    while (glGetError() != GL_NO_ERROR) {
    }
  }

  void TearDown() override {
    CloseShaderLog();
    if (!contextOpen_) return;  // no GL entry points to call
    glUseProgramObjectARB(0);
  }

  template <typename T>
  static T* Keep(T* object) {
    kept_->push_back(object);
    return object;
  }
  ShaderProgram* Load(const char* baseName) { return Keep(LoadShaderProgram(baseName)); }

  void Write(const std::string& name, const std::string& bytes) { ASSERT_TRUE(WriteFile(dir_ / name, bytes)); }
  std::string Read(const std::string& name) { return ReadFile(dir_ / name); }
  // "shaders.log" as text: a text-mode file ends its lines with CR LF on
  // Windows, and the entries are the same either way.
  std::string ReadLog() {
    std::string log = Read("shaders.log");
#ifdef _WIN32
    for (std::size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at)) log.erase(at, 1);
#endif
    return log;
  }

  TempDir dir_;

 private:
  static inline bool contextOpen_ = false;
  static inline std::vector<const void*>* const kept_ = new std::vector<const void*>;  // never destroyed
};

// GLSL sources the tests build programs from.
inline const char* kVertexSource =
    "#version 120\n"
    "void main() {\n"
    "  gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "  gl_Position = ftransform();\n"
    "}\n";
