// The browser's matrix stacks against the desktop GL's: the demo's own
// camera sequences give the same matrices as Mesa's stacks and GLU, so a
// vertex lands on the same pixel in both builds.
#include <GL/glew.h>
#include <GL/glu.h>

#include "platform/web/matrix_stacks.h"
#include "tests/gpu/gl_fixture.h"

namespace {

using Mode = MatrixStacks::Mode;

void ExpectSame(const MatrixStacks& ours, GLenum which, Mode mode) {
  GLfloat theirs[16];
  glGetFloatv(which, theirs);
  for (int i = 0; i < 16; ++i)
    EXPECT_NEAR(ours.Top(mode)[i], theirs[i], 1e-6 * std::max(1.0f, std::abs(theirs[i]))) << "element " << i;
}

class MatrixStacksTest : public GlTest {};

TEST_F(MatrixStacksTest, TheDemosCamerasMatchTheDesktopGl) {
  MatrixStacks ours;
  // The strip's camera at some time, then the credits' camera pushed over it.
  glMatrixMode(GL_PROJECTION);
  ours.SetMode(Mode::Projection);
  glLoadIdentity();
  ours.LoadIdentity();
  gluPerspective(45.0, 2.0, static_cast<double>(0.01f), 10.0);
  ASSERT_TRUE(ours.Perspective(45.0, 2.0, static_cast<double>(0.01f), 10.0));
  glMatrixMode(GL_MODELVIEW);
  ours.SetMode(Mode::ModelView);
  glLoadIdentity();
  ours.LoadIdentity();
  glTranslatef(-37.25f, 0.0f, -1.5f);
  ours.Translate(-37.25f, 0.0f, -1.5f);
  ExpectSame(ours, GL_PROJECTION_MATRIX, Mode::Projection);
  ExpectSame(ours, GL_MODELVIEW_MATRIX, Mode::ModelView);

  glMatrixMode(GL_PROJECTION);
  ours.SetMode(Mode::Projection);
  glPushMatrix();
  ASSERT_TRUE(ours.Push());
  glLoadIdentity();
  ours.LoadIdentity();
  glOrtho(-2.0, 2.0, -1.0, 1.0, -1.0, 1.0);
  ASSERT_TRUE(ours.Ortho(-2.0, 2.0, -1.0, 1.0, -1.0, 1.0));
  glMatrixMode(GL_MODELVIEW);
  ours.SetMode(Mode::ModelView);
  glPushMatrix();
  ASSERT_TRUE(ours.Push());
  glTranslatef(0.0f, 0.0f, -0.5f);
  ours.Translate(0.0f, 0.0f, -0.5f);
  ExpectSame(ours, GL_PROJECTION_MATRIX, Mode::Projection);
  ExpectSame(ours, GL_MODELVIEW_MATRIX, Mode::ModelView);

  // Popped back, the strip's camera is there again, on both.
  glPopMatrix();
  ASSERT_TRUE(ours.Pop());
  glMatrixMode(GL_PROJECTION);
  ours.SetMode(Mode::Projection);
  glPopMatrix();
  ASSERT_TRUE(ours.Pop());
  ExpectSame(ours, GL_PROJECTION_MATRIX, Mode::Projection);
  ExpectSame(ours, GL_MODELVIEW_MATRIX, Mode::ModelView);

  // The product the shaders get is what ftransform() applies.
  const MatrixStacks::Matrix mvp = ours.ModelViewProjection();
  const float corner[4] = {102.0f, 1.0f, 0.0f, 1.0f};
  float clip[4] = {};
  for (int row = 0; row < 4; ++row)
    for (int k = 0; k < 4; ++k) clip[row] += mvp[k * 4 + row] * corner[k];
  GLdouble model[16], projection[16];
  GLint viewport[4] = {0, 0, 2, 2};
  glGetDoublev(GL_MODELVIEW_MATRIX, model);
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  GLdouble x, y, z;
  ASSERT_TRUE(gluProject(102.0, 1.0, 0.0, model, projection, viewport, &x, &y, &z));
  EXPECT_NEAR(clip[0] / clip[3] + 1.0, x, 1e-4);
  EXPECT_NEAR(clip[1] / clip[3] + 1.0, y, 1e-4);
}

TEST(MatrixStacks, RefusesWhatTheGlRefuses) {
  MatrixStacks stacks;
  EXPECT_FALSE(stacks.Pop());  // the last matrix stays
  for (std::size_t i = 1; i < MatrixStacks::kDepth; ++i) ASSERT_TRUE(stacks.Push());
  stacks.Translate(1, 2, 3);
  EXPECT_FALSE(stacks.Push());
  EXPECT_EQ(stacks.Top(Mode::ModelView)[12], 1.0f);
  EXPECT_FALSE(stacks.Ortho(1, 1, -1, 1, -1, 1));
  EXPECT_FALSE(stacks.Perspective(45, 2, 1, 1));
  EXPECT_EQ(stacks.Top(Mode::ModelView)[0], 1.0f);
}

}  // namespace
