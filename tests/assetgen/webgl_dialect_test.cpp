// The shaders in the browser's dialect: the generator writes every shader
// of the demo so that a GLSL ES 1.00 compiler takes it, and refuses a source
// that leans on desktop state WebGL lacks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/web/webgl_dialect.h"
#include "tests/assetgen/support.h"

namespace sorvane::assetgen {
namespace {

// glslangValidator's verdict on one file, its stage from the extension.
int ValidateEs(const std::string& path, std::string& log) {
  const std::string logPath = path + ".log";
  const int status = std::system(("glslangValidator '" + path + "' > '" + logPath + "' 2>&1").c_str());
  log = ReadFile(logPath);
  return status;
}

TEST(WebGlDialect, EveryShaderOfTheDemoCompilesAsGlslEs100) {
  const TempDir outFolder;
  const std::string out = outFolder.path();
  std::string log, err;
  ASSERT_EQ(test::RunGenerator("--shader-dir '" SORVANE_DATA_DIR "' --webgl '" + out + "'", log, err), 0) << err;
  for (const char* name : {"abs.vert", "abs.frag", "mask.vert", "mask.frag"}) {
    SCOPED_TRACE(name);
    const std::string path = out + "/" + name;
    const std::string text = ReadFile(path);
    EXPECT_NE(text.find("#version 100"), std::string::npos);
    EXPECT_EQ(text.find("ftransform"), std::string::npos);
    std::string verdict;
    EXPECT_EQ(ValidateEs(path, verdict), 0) << verdict;
  }
  // The timeline went in before the rewrite: the browser's vertex shaders
  // carry the same score as the desktop's.
  EXPECT_NE(ReadFile(out + "/abs.vert").find("void playScore() {"), std::string::npos);
}

TEST(WebGlDialect, RefusesDesktopStateAndKeepsCommentsAndLines) {
  const std::string vertex =
      "// gl_TexCoord is mentioned here only\n#version 120\nvoid main() {\n"
      "  gl_Position = ftransform ( );\n  vec2 uv = gl_MultiTexCoord0.xy;\n}\n";
  const std::string es = webgl::ToWebGlDialect(vertex, webgl::ShaderStage::Vertex);
  EXPECT_NE(es.find("// gl_TexCoord is mentioned here only"), std::string::npos);
  EXPECT_NE(es.find("gl_Position = (sv_ModelViewProjectionMatrix * sv_Vertex);"), std::string::npos) << es;
  EXPECT_NE(es.find("vec2 uv = sv_MultiTexCoord0.xy;"), std::string::npos) << es;
  EXPECT_NE(es.find("#line 2\n"), std::string::npos) << es;

  struct Bad {
    std::string source;
    webgl::ShaderStage stage;
    std::string complaint;
  } const bad[] = {
      {"#version 120\nvoid main() {\n  gl_FragColor = gl_Color;\n}\n", webgl::ShaderStage::Fragment,
       "line 3: gl_Color"},
      {"#version 120\nvoid main() { gl_Position = gl_ModelViewMatrix * gl_Vertex; }\n", webgl::ShaderStage::Vertex,
       "line 2: gl_ModelViewMatrix"},
      // The fragment stage has no attributes to stand in for.
      {"#version 120\nvoid main() { gl_FragColor = gl_MultiTexCoord0; }\n", webgl::ShaderStage::Fragment,
       "gl_MultiTexCoord0"},
      {"void main() {}\n", webgl::ShaderStage::Vertex, "no \"#version 120\""},
      {"#version 130\nvoid main() {}\n", webgl::ShaderStage::Vertex, "#version 130"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.source);
    try {
      webgl::ToWebGlDialect(b.source, b.stage);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(b.complaint), std::string::npos) << e.what();
    }
  }

  // The generator names the source and writes nothing.
  const TempDir sourceFolder, outFolder;
  const std::string sources = sourceFolder.path(), out = outFolder.path();
  std::ofstream(sources + "/mask.frag") << bad[0].source;
  std::string log, err;
  EXPECT_EQ(test::RunGenerator("--shader-dir '" + sources + "' --webgl --only mask.frag '" + out + "'", log, err), 1);
  EXPECT_NE(err.find(sources + "/mask.frag: line 3: gl_Color"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(out + "/mask.frag"));
}

}  // namespace
}  // namespace sorvane::assetgen
