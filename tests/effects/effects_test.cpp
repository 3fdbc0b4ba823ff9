// The two layers: the values time drives, the GL state they leave, their
// shaders' sampler units, and the pictures they make, rendered off screen
// from the real run folder.
#include <GL/glew.h>
#include <IL/il.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "effects/effects.h"
#include "effects/timeline.h"
#include "gpu/shader.h"
#include "score/score.h"
#include "measure/workbench.h"
#include "effects/frame_renderer.h"

namespace fs = std::filesystem;

namespace {

TEST(Timeline, DrivesFadeTimeTranslationAndCreditsAsTheTableSays) {
  struct Row {
    double time;
    float fade, t, x;
    bool credits;
    int alpha;
  };
  const Row rows[] = {
      {0, 0, 0, 0, false, 0},           {2.5, 0.5f, 0.75f, -0.1f, false, 0},
      {5, 1, 1.5f, -0.2f, false, 0},    {268.999, 1, 80.6997f, -10.75996f, false, 0},
      {269, 1, 80.7f, -10.76f, true, 0}, {270, 0.9f, 81, -10.8f, true, 16},
      {274, 0.5f, 82.2f, -10.96f, true, 84}, {279, 0, 83.7f, -11.16f, true, 168},
      {280, -0.1f, 84, -11.2f, true, 185},  {284, -0.5f, 85.2f, -11.36f, true, 252},
      {284.2, -0.52f, 85.26f, -11.368f, true, 255}, {300, -2.1f, 90, -12, true, 255},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.time);
    EXPECT_NEAR(FadeUniform(r.time), r.fade, 1e-5);
    EXPECT_NEAR(TimeUniform(r.time), r.t, 1e-4);
    EXPECT_NEAR(StripTranslationX(r.time), r.x, 1e-5);
    EXPECT_EQ(CreditsDrawn(r.time), r.credits);
    if (r.credits) {
      EXPECT_EQ(CreditsAlpha(r.time), r.alpha);
    }
  }
  // The arithmetic is single precision where it must be: 0.3 × 100 in floats
  // is one step above 30, and 0.3 × 269 one step above 80.7.
  EXPECT_EQ(TimeUniform(100), 30.000002f);
  EXPECT_EQ(TimeUniform(269), 80.700005f);
  EXPECT_EQ(StripTranslationX(100), -4.0f);
  EXPECT_EQ(FadeUniform(279), 0.0f) << "exactly zero, then negative";
  EXPECT_LT(FadeUniform(280), 0.0f);
}

// A working folder holding copies of the run folder's shaders and images.
class EffectsTest : public ::testing::Test {
 protected:
  // A FrameRenderer of an earlier test leaves its own context current.
  void SetUp() override {
    ASSERT_TRUE(OpenTestGlContext(320, 160)) << "no display";
    for (const auto& entry : fs::directory_iterator(SORVANE_RUN_DIR)) {
      const std::string ext = entry.path().extension().string();
      if (ext == ".jpg" || ext == ".vert" || ext == ".frag")
        fs::copy_file(entry.path(), dir / entry.path().filename().string());
    }
    dir.Enter();
    CloseShaderLog();
    ilInit();
    glViewport(0, 0, 320, 160);
  }
  void TearDown() override { CloseShaderLog(); }
  TempDir dir;
};

struct GlState {
  GLint mode, modelviewDepth, projectionDepth, activeUnit, program;
  bool blend, depthTest, texture[4];
  bool operator==(const GlState&) const = default;
};

GlState ReadState() {
  GlState s{};
  glGetIntegerv(GL_MATRIX_MODE, &s.mode);
  glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &s.modelviewDepth);
  glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &s.projectionDepth);
  glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &s.activeUnit);
  s.program = static_cast<GLint>(glGetHandleARB(GL_PROGRAM_OBJECT_ARB));
  s.blend = glIsEnabled(GL_BLEND);
  s.depthTest = glIsEnabled(GL_DEPTH_TEST);
  GLint unit = 0;
  glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &unit);
  for (int u = 0; u < 4; ++u) {
    glActiveTextureARB(GL_TEXTURE0_ARB + u);
    s.texture[u] = glIsEnabled(GL_TEXTURE_2D);
  }
  glActiveTextureARB(static_cast<GLenum>(unit));
  return s;
}

TEST_F(EffectsTest, RenderLeavesTheStateItFoundAfterAnyNumberOfFrames) {
  fAbs abs;
  fMask mask;
  abs.init();
  mask.init();
  ASSERT_NE(abs.tValue, nullptr);
  ASSERT_NE(mask.fadeValue, nullptr);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();  // any depth will do
  const GlState entry = ReadState();
  ASSERT_EQ(entry.activeUnit, GL_TEXTURE0_ARB);
  for (double time : {0.0, 100.0, 268.999, 269.0, 284.2, 300.0}) {
    SCOPED_TRACE(time);
    abs.render(time);
    EXPECT_EQ(ReadState(), entry);
    mask.render(time);
    EXPECT_EQ(ReadState(), entry);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
  for (int frame = 0; frame < 1000; ++frame) {
    abs.render(frame * 0.3);
    mask.render(frame * 0.3);
  }
  EXPECT_EQ(ReadState(), entry);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  // What the uniforms were last sent is what the time said.
  EXPECT_FLOAT_EQ(*mask.fadeValue, FadeUniform(999 * 0.3));
  EXPECT_FLOAT_EQ(*abs.tValue, TimeUniform(999 * 0.3));
  glPopMatrix();
}

TEST_F(EffectsTest, ShaderSamplersGetTheUnitsTheEffectsBind) {
  fAbs abs;
  fMask mask;
  abs.init();
  mask.init();
  auto unitOf = [](ShaderProgram* p, const char* name) {
    GLint unit = -1;
    const GLint location = glGetUniformLocationARB(p->programObject, name);
    if (location >= 0) glGetUniformivARB(p->programObject, location, &unit);
    return unit;
  };
  // Normal map, "311_18.jpg", "162_05.jpg", "308_18.jpg" on units 0..3.
  EXPECT_EQ(unitOf(abs.program, "u0_normals"), 0);
  EXPECT_EQ(unitOf(abs.program, "u1_stone"), 1);
  EXPECT_EQ(unitOf(abs.program, "u2_amber"), 2);
  EXPECT_EQ(unitOf(abs.program, "u3_ember"), 3);
  // "001_14.jpg", "003_14.jpg", "003_01.jpg" on units 0..2.
  EXPECT_EQ(unitOf(mask.program, "u0_veil"), 0);
  EXPECT_EQ(unitOf(mask.program, "u1_grain"), 1);
  EXPECT_EQ(unitOf(mask.program, "u2_haze"), 2);
  // Both programs linked, with nothing to say about their sources (the
  // generated timeline compiles as it is).
  for (ShaderProgram* p : {abs.program, mask.program}) {
    GLint linked = 0;
    glGetObjectParameterivARB(p->programObject, GL_OBJECT_LINK_STATUS_ARB, &linked);
    EXPECT_EQ(linked, 1);
  }
  // Each has exactly one log entry per shader and one per link, in order,
  // "abs" first, and no compiler complains.
  const std::string log = ReadFile("shaders.log");
  std::string lower = log;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_EQ(lower.find("error"), std::string::npos) << log;
  EXPECT_EQ(lower.find("warning"), std::string::npos) << log;
  EXPECT_EQ(log.find("# vertex shader log:"), 0u) << log;
  EXPECT_NE(log.find("# shader linking log:", log.find("# fragment shader log:")), std::string::npos);
}

// Replaces an image of the working folder by a flat one: of the given grey,
// or (grey < 0) of the image's own mean colour, so that only its pattern is
// gone.
bool WriteFlatJpeg(const char* name, int grey) {
  ILuint image;
  ilGenImages(1, &image);
  ilBindImage(image);
  uint8_t colour[3] = {uint8_t(grey), uint8_t(grey), uint8_t(grey)};
  if (grey < 0) {
    if (!ilLoadImage(name)) return false;
    const int w = ilGetInteger(IL_IMAGE_WIDTH), h = ilGetInteger(IL_IMAGE_HEIGHT);
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    ilCopyPixels(0, 0, 0, w, h, 1, IL_RGB, IL_UNSIGNED_BYTE, rgb.data());
    for (int c = 0; c < 3; ++c) {
      double sum = 0;
      for (size_t i = c; i < rgb.size(); i += 3) sum += rgb[i];
      colour[c] = static_cast<uint8_t>(sum / (static_cast<double>(w) * h) + 0.5);
    }
  }
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 64 * 64; ++i) pixels.insert(pixels.end(), colour, colour + 3);
  ilTexImage(64, 64, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, pixels.data());
  ilEnable(IL_FILE_OVERWRITE);
  const bool saved = ilSaveImage(name);
  ilDeleteImages(1, &image);
  return saved;
}

double Mean(const CaptureFrame& f, int x0, int x1) {
  double sum = 0;
  for (int y = 0; y < f.height; ++y)
    for (int x = x0; x < x1; ++x)
      for (int c = 0; c < 3; ++c) sum += f.rgb[(static_cast<size_t>(y) * f.width + x) * 3 + c];
  return sum / (static_cast<double>(f.height) * (x1 - x0) * 3);
}

int Max(const CaptureFrame& f, int x0, int x1) {
  int m = 0;
  for (int y = 0; y < f.height; ++y)
    for (int x = x0; x < x1; ++x)
      for (int c = 0; c < 3; ++c) m = std::max<int>(m, f.rgb[(static_cast<size_t>(y) * f.width + x) * 3 + c]);
  return m;
}

TEST_F(EffectsTest, PicturesRiseFromBlackAndEndInTheCredits) {
  FrameRenderer renderer;
  ASSERT_TRUE(renderer.Open(320, 160, false)) << renderer.error();
  CaptureFrame frame, relief;
  renderer.Render(0.0, frame);
  EXPECT_LE(Max(frame, 0, 320), 1) << "the first frame is black";

  renderer.Render(100.0, frame);
  const double mean = Mean(frame, 0, 320);
  double var = 0;
  for (uint8_t v : frame.rgb) var += (v - mean) * (v - mean);
  EXPECT_GT(mean, 25.0) << "the strip is lit";
  EXPECT_GT(std::sqrt(var / frame.rgb.size()), 12.0) << "and varied";

  // The veil only ever darkens what the relief drew.
  renderer.Render(100.0, relief, Layers::ReliefOnly);
  int brighter = 0;
  for (size_t i = 0; i < frame.rgb.size(); ++i) brighter += frame.rgb[i] > relief.rgb[i] + 1;
  EXPECT_EQ(brighter, 0);

  // After the fade to black only the credits remain, on the right half.
  for (double time : {284.2, 300.0}) {
    SCOPED_TRACE(time);
    renderer.Render(time, frame);
    EXPECT_LE(Max(frame, 0, 160), 1);
    EXPECT_GT(Max(frame, 160, 320), 150) << "the credits at full strength";
  }
  CaptureFrame again;
  renderer.Render(300.0, again);
  EXPECT_EQ(again.rgb, frame.rgb) << "a frame is a function of its time";
}

TEST_F(EffectsTest, CreditsCoverExactlyTheRightHalfAndEffectsDrawWithoutTheirUniforms) {
  // Shaders with the samplers only: no "t", no "fade"; the veil is black.
  ASSERT_TRUE(WriteFile("abs.frag",
                        "uniform sampler2D a; uniform sampler2D b; uniform sampler2D c; uniform sampler2D d;\n"
                        "void main() { gl_FragColor = texture2D(a, vec2(0.5)) * 0.0 + texture2D(b, vec2(0.5)) +"
                        " texture2D(c, vec2(0.5)) * 0.0 + texture2D(d, vec2(0.5)) * 0.0; }\n"));
  ASSERT_TRUE(WriteFile("mask.frag",
                        "uniform sampler2D a; uniform sampler2D b; uniform sampler2D c;\n"
                        "void main() { gl_FragColor = (texture2D(a, vec2(0.5)) + texture2D(b, vec2(0.5)) +"
                        " texture2D(c, vec2(0.5))) * 0.0; }\n"));
  // A white credits image makes its extent exact.
  ASSERT_TRUE(WriteFlatJpeg("credits.jpg", 255));

  FrameRenderer renderer;
  ASSERT_TRUE(renderer.Open(320, 160, false)) << renderer.error();
  CaptureFrame frame;
  renderer.Render(50.0, frame, Layers::ReliefOnly);
  EXPECT_GT(Mean(frame, 0, 320), 20.0) << "the relief draws without \"t\"";
  renderer.Render(50.0, frame);
  EXPECT_LE(Max(frame, 0, 320), 1) << "a black veil over it, without \"fade\"";
  renderer.Render(268.999, frame);
  EXPECT_LE(Max(frame, 0, 320), 1) << "no credits before 269 s";
  renderer.Render(300.0, frame);
  EXPECT_LE(Max(frame, 0, 160), 1) << "nothing left of the centre line";
  for (int x = 160; x < 320; ++x)
    for (int y = 0; y < 160; ++y)
      ASSERT_GE(frame.rgb[(static_cast<size_t>(y) * 320 + x) * 3], 250) << x << "," << y;
}

// Mean absolute difference of two frames, 0..1.
double Difference(const CaptureFrame& a, const CaptureFrame& b) {
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(a.rgb[i] - b.rgb[i]);
  return sum / (255.0 * static_cast<double>(a.rgb.size()));
}

// Where across the picture two frames differ: the mean x of the absolute
// difference, 0 (left edge) to 1 (right edge).
double ChangeCentre(const CaptureFrame& a, const CaptureFrame& b) {
  double weight = 0, moment = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    const double d = std::abs(a.rgb[i] - b.rgb[i]);
    weight += d;
    moment += d * (static_cast<double>(i / 3 % static_cast<size_t>(a.width)) + 0.5);
  }
  return weight > 0 ? moment / weight / a.width : 0.5;
}

TEST_F(EffectsTest, EveryBellLightsUpAtItsOnsetOnItsSideAndNotBefore) {
  // Frames at 10 fps, as a viewer of a slow video would see them.
  FrameRenderer renderer;
  ASSERT_TRUE(renderer.Open(160, 80, false)) << renderer.error();
  const sorvane::score::Score& score = sorvane::score::ThePiece();
  ASSERT_FALSE(score.bells.empty());
  CaptureFrame earlier, before, at;
  std::vector<double> changes, quiet;
  double previousBell = -100.0;
  for (const auto& bell : score.bells) {
    SCOPED_TRACE(bell.time);
    // A frame just after the onset (the hardest case: the bell has only
    // just begun) and the two before it.
    renderer.Render(bell.time - 0.198, earlier);
    renderer.Render(bell.time - 0.098, before);
    renderer.Render(bell.time + 0.002, at);
    changes.push_back(Difference(before, at));
    // The first bell of a phrase: the picture was only drifting before it,
    // so nothing of the bell shows in the frame before its onset.
    if (bell.time - previousBell > 3.0) {
      quiet.push_back(Difference(earlier, before));
      EXPECT_GT(changes.back(), 2.0 * quiet.back());
    }
    previousBell = bell.time;
    // Where the bell sounds: left of the middle for a bell panned left,
    // right of it for one panned right.
    const double centre = ChangeCentre(before, at);
    if (bell.pan < -0.3f) {
      EXPECT_LT(centre, 0.45);
    }
    if (bell.pan > 0.3f) {
      EXPECT_GT(centre, 0.55);
    }
  }
  // Every onset, within a phrase too, changes the picture by at least twice
  // as much as the drift between frames does at the phrases' starts.
  ASSERT_GE(quiet.size(), 5u);
  std::sort(quiet.begin(), quiet.end());
  const double drift = quiet[quiet.size() / 2];
  for (size_t i = 0; i < changes.size(); ++i) EXPECT_GT(changes[i], 2.0 * drift) << "bell at " << score.bells[i].time;
}

TEST_F(EffectsTest, DriversWithoutFlatVaryingsDrawTheSamePicture) {
  // The steady values are flat only where the driver offers it; without,
  // they are interpolated between equal values, which must change nothing.
  const double times[] = {30.0, 104.95, 150.0, 203.0, 250.0};
  std::vector<CaptureFrame> flat(std::size(times)), smooth(std::size(times));
  {
    FrameRenderer renderer;
    ASSERT_TRUE(renderer.Open(160, 80, false)) << renderer.error();
    for (size_t i = 0; i < std::size(times); ++i) renderer.Render(times[i], flat[i]);
  }
  for (const char* name : {"abs.vert", "abs.frag", "mask.vert", "mask.frag"}) {
    std::string source = ReadFile(name);
    const size_t at = source.find("#ifdef GL_EXT_gpu_shader4");
    ASSERT_NE(at, std::string::npos) << name;
    source.replace(at, 25, "#ifdef NO_SUCH_EXTENSION__");
    ASSERT_TRUE(WriteFile(name, source));
  }
  FrameRenderer renderer;
  ASSERT_TRUE(renderer.Open(160, 80, false)) << renderer.error();
  for (size_t i = 0; i < std::size(times); ++i) {
    renderer.Render(times[i], smooth[i]);
    EXPECT_LE(Difference(flat[i], smooth[i]), 0.002) << times[i];
  }
  EXPECT_EQ(ReadFile("shaders.log").find("rror"), std::string::npos) << ReadFile("shaders.log");
}

TEST_F(EffectsTest, TheFormShowsInTheLightAndEveryPhotographPlaysAPart) {
  const sorvane::score::Score& score = sorvane::score::ThePiece();
  const size_t sections = score.sections.size();
  ASSERT_EQ(sections, 5u);
  auto end = [&](size_t s) { return s + 1 < sections ? score.sections[s + 1].start : 269.0; };
  // Frames every 3 s through each section, after the fade-in and before the
  // fade-out.
  auto times = [&](size_t s) {
    std::vector<double> t;
    for (double at = std::max(score.sections[s].start + 1.5, 6.0); at < end(s); at += 3.0) t.push_back(at);
    return t;
  };
  auto render = [&](std::vector<std::vector<CaptureFrame>>& out) {
    FrameRenderer renderer;
    ASSERT_TRUE(renderer.Open(160, 80, false)) << renderer.error();
    out.assign(sections, {});
    for (size_t s = 0; s < sections; ++s)
      for (double t : times(s)) {
        out[s].emplace_back();
        renderer.Render(t, out[s].back());
      }
  };
  std::vector<std::vector<CaptureFrame>> piece;
  render(piece);
  ASSERT_FALSE(HasFailure());

  // The great swell is the brightest section and the thinning the darkest.
  std::vector<double> brightness(sections, 0.0);
  for (size_t s = 0; s < sections; ++s) {
    for (const CaptureFrame& f : piece[s]) brightness[s] += Mean(f, 0, 160) / static_cast<double>(piece[s].size());
  }
  const size_t thinning = 2, greatSwell = 3;
  for (size_t s = 0; s < sections; ++s) {
    SCOPED_TRACE(s);
    if (s != greatSwell) {
      EXPECT_GT(brightness[greatSwell], brightness[s] * 1.2);
    }
    if (s != thinning) {
      EXPECT_LT(brightness[thinning], brightness[s]);
    }
  }

  // Each photograph's pattern shows somewhere: with it replaced by its own
  // mean colour, some section changes by 4 % of its brightness or more on
  // average (when the veil's photographs merely tinted the relief, they
  // changed it by 1 to 3 %).
  for (const char* photo : {"311_18.jpg", "162_05.jpg", "308_18.jpg", "001_14.jpg", "003_14.jpg", "003_01.jpg"}) {
    SCOPED_TRACE(photo);
    fs::copy_file(photo, std::string(photo) + ".kept");
    ASSERT_TRUE(WriteFlatJpeg(photo, -1));
    std::vector<std::vector<CaptureFrame>> without;
    render(without);
    double largest = 0;
    for (size_t s = 0; s < sections; ++s) {
      double sum = 0;
      for (size_t i = 0; i < piece[s].size(); ++i) sum += Difference(piece[s][i], without[s][i]);
      largest = std::max(largest, sum / static_cast<double>(piece[s].size()) / (brightness[s] / 255.0));
    }
    EXPECT_GT(largest, 0.04);
    fs::rename(std::string(photo) + ".kept", photo);
  }
}

}  // namespace
