// matrix_stacks.h — the desktop GL's projection and modelview matrix stacks
// as plain arithmetic, for the browser's GL layer (legacy_gl.h), where
// WebGL keeps no matrices and the shaders get their product as a uniform.
//
// How to use it: the calls mirror glMatrixMode, glPushMatrix, glPopMatrix,
// glLoadIdentity, glTranslatef, glOrtho and gluPerspective: each operation
// multiplies the current stack's top on the right, in single precision
// after building its matrix in double, as desktop drivers and GLU do.
// `ModelViewProjection` is projection × modelview, column-major as GL
// stores matrices.
//
// How it fails: as the GL does, by refusing and saying so: a push onto a
// full stack (32 deep, the GL's own minimum for the modelview stack) or a
// pop of a stack's last matrix leaves the stacks as they are and returns
// false; an ortho or perspective volume of zero depth, width or height is
// refused the same way.
#pragma once

#include <array>
#include <vector>

class MatrixStacks {
 public:
  using Matrix = std::array<float, 16>;
  enum class Mode { ModelView, Projection };
  static constexpr std::size_t kDepth = 32;

  MatrixStacks();
  void SetMode(Mode mode) { mode_ = mode; }
  bool Push();
  bool Pop();
  void LoadIdentity();
  void Translate(float x, float y, float z);
  bool Ortho(double left, double right, double bottom, double top, double zNear, double zFar);
  bool Perspective(double fovyDegrees, double aspect, double zNear, double zFar);

  const Matrix& Top(Mode mode) const;
  Matrix ModelViewProjection() const;

 private:
  void MultiplyTop(const std::array<double, 16>& by);
  std::vector<Matrix>& Current() { return mode_ == Mode::ModelView ? modelView_ : projection_; }

  Mode mode_ = Mode::ModelView;
  std::vector<Matrix> modelView_, projection_;
};
