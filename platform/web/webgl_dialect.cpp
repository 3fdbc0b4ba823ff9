#include "platform/web/webgl_dialect.h"

#include <cctype>
#include <stdexcept>

namespace webgl {

namespace {

// The built-ins GLSL ES 1.00 has; every other `gl_` name is the desktop's
// fixed-function state, which the GL layer feeds only through the three
// names below.
bool EsBuiltIn(std::string_view name) {
  for (std::string_view known : {"gl_Position", "gl_PointSize", "gl_FragCoord", "gl_FrontFacing", "gl_FragColor",
                                 "gl_FragData", "gl_PointCoord", "gl_MaxVertexAttribs", "gl_MaxVaryingVectors",
                                 "gl_MaxTextureImageUnits", "gl_MaxDrawBuffers", "gl_DepthRange"})
    if (name == known) return true;
  return false;
}

std::string Replacement(std::string_view name) {
  if (name == "gl_Vertex") return kVertexAttribute;
  if (name == "gl_MultiTexCoord0") return kTexCoordAttribute;
  if (name == "gl_ModelViewProjectionMatrix") return kMatrixUniform;
  return {};
}

bool IdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string Header(ShaderStage stage) {
  if (stage == ShaderStage::Fragment)
    return "#version 100\n#ifdef GL_FRAGMENT_PRECISION_HIGH\nprecision highp float;\n#else\n"
           "precision mediump float;\n#endif\n";
  return std::string("#version 100\nprecision highp float;\nattribute vec4 ") + kVertexAttribute +
         ";\nattribute vec4 " + kTexCoordAttribute + ";\nuniform mat4 " + kMatrixUniform + ";\n";
}

}  // namespace

std::string ToWebGlDialect(std::string_view source, ShaderStage stage) {
  std::string out;
  out.reserve(source.size() + 256);
  bool versioned = false;
  int line = 1;
  for (size_t i = 0; i < source.size();) {
    const bool lineStart = i == 0 || source[i - 1] == '\n';
    if (lineStart && source.substr(i).starts_with("#version")) {
      const size_t end = source.find('\n', i);
      std::string_view directive = source.substr(i, end == std::string_view::npos ? end : end - i);
      while (!directive.empty() && std::isspace(static_cast<unsigned char>(directive.back())))
        directive.remove_suffix(1);
      if (directive != "#version 120" || versioned)
        throw std::runtime_error("line " + std::to_string(line) + ": expected one \"#version 120\", found \"" +
                                 std::string(directive) + "\"");
      versioned = true;
      // The header's lines replace this one; a #line keeps the compiler's
      // line numbers those of the source.
      out += Header(stage) + "#line " + std::to_string(line) + "\n";
      i += directive.size();
      continue;
    }
    if (source.substr(i).starts_with("//") || source.substr(i).starts_with("/*")) {
      const bool block = source[i + 1] == '*';
      size_t end = source.find(block ? "*/" : "\n", i + 2);
      end = end == std::string_view::npos ? source.size() : end + (block ? 2 : 0);
      for (size_t k = i; k < end; ++k) line += source[k] == '\n';
      out.append(source.substr(i, end - i));
      i = end;
      continue;
    }
    if (IdentifierChar(source[i]) && (i == 0 || !IdentifierChar(source[i - 1]))) {
      size_t end = i;
      while (end < source.size() && IdentifierChar(source[end])) ++end;
      const std::string_view name = source.substr(i, end - i);
      if (name == "ftransform" && stage == ShaderStage::Vertex) {
        size_t open = end;
        while (open < source.size() && std::isspace(static_cast<unsigned char>(source[open]))) ++open;
        const size_t close = source.find(')', open);
        if (open < source.size() && source[open] == '(' && close != std::string_view::npos &&
            source.substr(open + 1, close - open - 1).find_first_not_of(" \t") == std::string_view::npos) {
          out += std::string("(") + kMatrixUniform + " * " + kVertexAttribute + ")";
          i = close + 1;
          continue;
        }
      }
      if (name.starts_with("gl_") && !EsBuiltIn(name)) {
        const std::string replacement = stage == ShaderStage::Vertex ? Replacement(name) : std::string();
        if (replacement.empty())
          throw std::runtime_error("line " + std::to_string(line) + ": " + std::string(name) +
                                   " has no counterpart in WebGL's shading language");
        out += replacement;
      } else {
        out.append(name);
      }
      i = end;
      continue;
    }
    line += source[i] == '\n';
    out += source[i++];
  }
  if (!versioned) throw std::runtime_error("no \"#version 120\" line");
  return out;
}

}  // namespace webgl
