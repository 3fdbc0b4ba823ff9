// webgl_dialect.h — the demo's shaders in the shading language of WebGL 1
// (GLSL ES 1.00), and the names the browser's GL layer gives the fixed
// inputs the desktop GL provides built in.
//
// What it is for: the demo's shaders are written once, for the desktop
// (GLSL 1.20). The asset generator writes the browser's copies with
// `ToWebGlDialect`, and the browser's GL layer (legacy_gl.cpp) feeds the
// attributes and the matrix below, so the same shader source serves both.
// The rewrite: the version line becomes ES 1.00 with a float precision
// (high wherever the fragment stage has it); the vertex stage declares the
// attributes and the matrix, and `gl_Vertex`, `gl_MultiTexCoord0`,
// `gl_ModelViewProjectionMatrix` and `ftransform()` become them. Comments
// are left as they are.
//
// How it fails: std::runtime_error, naming the line, for a source without a
// "#version 120" line or one that reads a built-in WebGL lacks (any other
// `gl_` name of the fixed-function state): the browser build is refused at
// build time rather than showing a blank canvas. The rewritten source is not
// compiled here; the generator's tests compile it with a GLSL ES validator.
#pragma once

#include <string>
#include <string_view>

namespace webgl {

// Attribute locations the GL layer binds before linking every program.
inline constexpr char kVertexAttribute[] = "sv_Vertex";
inline constexpr int kVertexLocation = 0;
inline constexpr char kTexCoordAttribute[] = "sv_MultiTexCoord0";
inline constexpr int kTexCoordLocation = 1;
// Projection × modelview, set by the GL layer before each draw.
inline constexpr char kMatrixUniform[] = "sv_ModelViewProjectionMatrix";

enum class ShaderStage { Vertex, Fragment };

std::string ToWebGlDialect(std::string_view desktopSource, ShaderStage stage);

}  // namespace webgl
