#include "platform/web/matrix_stacks.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr MatrixStacks::Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// a × b, column-major, in single precision.
MatrixStacks::Matrix Multiply(const MatrixStacks::Matrix& a, const MatrixStacks::Matrix& b) {
  MatrixStacks::Matrix out{};
  for (int column = 0; column < 4; ++column)
    for (int row = 0; row < 4; ++row) {
      float sum = 0;
      for (int k = 0; k < 4; ++k) sum += a[k * 4 + row] * b[column * 4 + k];
      out[column * 4 + row] = sum;
    }
  return out;
}

}  // namespace

MatrixStacks::MatrixStacks() : modelView_{kIdentity}, projection_{kIdentity} {}

bool MatrixStacks::Push() {
  std::vector<Matrix>& stack = Current();
  if (stack.size() >= kDepth) return false;
  stack.push_back(stack.back());
  return true;
}

bool MatrixStacks::Pop() {
  std::vector<Matrix>& stack = Current();
  if (stack.size() <= 1) return false;
  stack.pop_back();
  return true;
}

void MatrixStacks::LoadIdentity() { Current().back() = kIdentity; }

void MatrixStacks::MultiplyTop(const std::array<double, 16>& by) {
  Matrix single;
  for (int i = 0; i < 16; ++i) single[i] = static_cast<float>(by[i]);
  Current().back() = Multiply(Current().back(), single);
}

void MatrixStacks::Translate(float x, float y, float z) {
  MultiplyTop({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1});
}

bool MatrixStacks::Ortho(double left, double right, double bottom, double top, double zNear, double zFar) {
  if (left == right || bottom == top || zNear == zFar) return false;
  MultiplyTop({2 / (right - left), 0, 0, 0,  //
               0, 2 / (top - bottom), 0, 0,  //
               0, 0, -2 / (zFar - zNear), 0,  //
               -(right + left) / (right - left), -(top + bottom) / (top - bottom), -(zFar + zNear) / (zFar - zNear), 1});
  return true;
}

bool MatrixStacks::Perspective(double fovyDegrees, double aspect, double zNear, double zFar) {
  const double half = fovyDegrees / 2 * kPi / 180;
  const double depth = zFar - zNear, sine = std::sin(half);
  if (depth == 0 || sine == 0 || aspect == 0) return false;
  const double cotangent = std::cos(half) / sine;
  MultiplyTop({cotangent / aspect, 0, 0, 0,  //
               0, cotangent, 0, 0,  //
               0, 0, -(zFar + zNear) / depth, -1,  //
               0, 0, -2 * zNear * zFar / depth, 0});
  return true;
}

const MatrixStacks::Matrix& MatrixStacks::Top(Mode mode) const {
  return mode == Mode::ModelView ? modelView_.back() : projection_.back();
}

MatrixStacks::Matrix MatrixStacks::ModelViewProjection() const {
  return Multiply(projection_.back(), modelView_.back());
}
