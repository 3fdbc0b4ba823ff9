// The score's timeline in the vertex shaders: what the build placed in the
// run folder holds exactly the score's events, and the block filling behind
// it refuses sources it cannot fill.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "score/score.h"
#include "tools/assetgen/shader_timeline.h"
#include "tests/assetgen/support.h"

namespace sorvane::assetgen {
namespace {

using score::BellNote;
using score::ChordEvent;
using score::ComposeScore;
using score::Dynamics;
using score::PlaceEnding;
using score::Score;

std::string Text(const std::string& path) {
  return ReadFile(path);
}

struct Call {
  std::string name;
  std::vector<double> args;
};

// Every call of playScore(), in source order.
std::vector<Call> ScoreCalls(const std::string& glsl) {
  const size_t body = glsl.find("void playScore() {");
  EXPECT_NE(body, std::string::npos);
  if (body == std::string::npos) return {};
  const std::string text = glsl.substr(body, glsl.find("\n}", body) - body);
  std::vector<Call> calls;
  const std::regex call(R"(\n  (section|chord|dynamics|bell)\(([^)]*)\);)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), call); it != std::sregex_iterator(); ++it) {
    Call c{(*it)[1], {}};
    const std::string args = (*it)[2];
    for (size_t pos = 0; pos < args.size();) {
      size_t used = 0;
      c.args.push_back(std::stod(args.substr(pos), &used));
      pos += used;
      while (pos < args.size() && (args[pos] == ',' || args[pos] == ' ')) ++pos;
    }
    calls.push_back(c);
  }
  return calls;
}

std::vector<std::vector<double>> Expected(const Score& s, const std::string& kind) {
  std::vector<std::vector<double>> out;
  if (kind == "section")
    for (size_t i = 0; i < s.sections.size(); ++i) out.push_back({s.sections[i].start, double(i)});
  if (kind == "chord")
    for (const ChordEvent& c : s.chords) out.push_back({c.start, double(c.pitchClasses.front())});
  if (kind == "dynamics")
    for (const Dynamics& d : s.dynamics) out.push_back({d.time, d.pad, d.cutoff});
  if (kind == "bell")
    for (const BellNote& b : s.bells) out.push_back({b.time, double(b.midi), b.velocity, b.pan});
  return out;
}

// How far a written value may lie from the score's: half a unit of the last
// digit the generator writes. Times are written to 0.1 ms, levels and pans
// to four decimals, the filter cutoff to 0.1 Hz, pitches, roots and section
// numbers whole.
double Tolerance(const std::string& kind, size_t value) {
  constexpr double kFourDecimals = 0.5e-4, kSlack = 1e-9;
  if (value == 0) return kFourDecimals + kSlack;
  if (kind == "dynamics") return (value == 1 ? kFourDecimals : 0.05) + kSlack;
  if (kind == "bell" && value >= 2) return kFourDecimals + kSlack;
  return 0.0;
}

TEST(ShaderTimeline, RunFolderShadersCarryTheScoreEventForEvent) {
  const Score score = ComposeScore();
  ASSERT_GT(score.bells.size(), 20u);
  const std::string shared = Text(std::string(SORVANE_DATA_DIR) + "/timeline.glsl");
  ASSERT_FALSE(shared.empty());
  for (const char* name : {"abs.vert", "mask.vert"}) {
    SCOPED_TRACE(name);
    const std::string built = Text(test::RunPath(name));
    const std::string source = Text(std::string(SORVANE_DATA_DIR) + "/" + name);
    ASSERT_FALSE(built.empty());
    // The hand-written shader around the block is unchanged, and the block
    // holds the shared timeline code.
    EXPECT_EQ(FillTimeline(built, ""), FillTimeline(source, ""));
    EXPECT_NE(built.find(shared), std::string::npos) << "timeline.glsl missing or stale";

    const std::vector<Call> calls = ScoreCalls(built);
    for (const std::string kind : {"section", "chord", "dynamics", "bell"}) {
      SCOPED_TRACE(kind);
      std::vector<std::vector<double>> found;
      for (const Call& c : calls)
        if (c.name == kind) found.push_back(c.args);
      const auto expected = Expected(score, kind);
      ASSERT_EQ(found.size(), expected.size());
      for (size_t i = 0; i < found.size(); ++i) {
        ASSERT_EQ(found[i].size(), expected[i].size()) << "event " << i;
        for (size_t k = 0; k < found[i].size(); ++k)
          EXPECT_NEAR(found[i][k], expected[i][k], Tolerance(kind, k)) << "event " << i << " value " << k;
      }
    }
    // The calls come in time order within each kind: the shaders' state
    // folding relies on it.
    for (size_t i = 1; i < calls.size(); ++i) {
      if (calls[i].name == calls[i - 1].name) {
        EXPECT_LE(calls[i - 1].args[0], calls[i].args[0]) << i;
      }
    }
  }
}

// The value of `name` in generated text ("... kName = 269.0f;"), NAN if absent.
double ConstantIn(const std::string& text, const std::string& name) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(" " + name + " = ([-0-9.e]+)f?;"))) return NAN;
  return std::stod(m[1]);
}

// The picture's fade to black and its credits follow the score: a copy of
// the score with its last chord held 16 s longer moves them, and the end,
// 16 s later in the shaders' block; the fade-in stays. The block the build
// wrote keeps the times the effects keep (score/score.h).
TEST(ShaderTimeline, FadeAndCreditsFollowTheScoresLength) {
  const Score score = ComposeScore();
  Score longer = score;
  longer.chords.back().length += 16.0;
  longer.length += 16.0;
  PlaceEnding(longer);
  for (const char* name : {"kFadeOutStart", "kCreditsStart", "kEnd", "kFadeInEnd"}) {
    SCOPED_TRACE(name);
    const double shift = std::string(name) == "kFadeInEnd" ? 0.0 : 16.0;
    ASSERT_FALSE(std::isnan(ConstantIn(TimelineGlsl(score), name)));
    EXPECT_EQ(ConstantIn(TimelineGlsl(longer), name), ConstantIn(TimelineGlsl(score), name) + shift);
  }
  const std::string built = Text(std::string(SORVANE_RUN_DIR) + "/abs.vert");
  EXPECT_EQ(ConstantIn(built, "kFadeInEnd"), score::ThePiece().fadeInEnd);
  EXPECT_EQ(ConstantIn(built, "kFadeOutStart"), score::ThePiece().fadeOutStart);
  EXPECT_EQ(ConstantIn(built, "kFadeOutStart"), 269.0);
  EXPECT_EQ(ConstantIn(built, "kEnd"), score::ThePiece().length);
  EXPECT_FLOAT_EQ(ConstantIn(built, "kTimeScale"), score::kTimeScale);
  EXPECT_FLOAT_EQ(ConstantIn(built, "kSlide"), score::kSlide);
}

TEST(ShaderTimeline, FillsOnlyBetweenItsMarkersAndRefusesBrokenOnes) {
  const std::string source = "a\n// <timeline>\nold\n// </timeline>\nb\n";
  const std::string once = FillTimeline(source, "new();");
  EXPECT_EQ(once, "a\n// <timeline>\nnew();\n// </timeline>\nb\n");
  EXPECT_EQ(FillTimeline(once, "new();"), once) << "a filled source can be filled again";
  // Trailing blanks and carriage returns do not hide a marker.
  EXPECT_EQ(FillTimeline("// <timeline> \r\n// </timeline>\r\n", "x\n"), "// <timeline> \r\nx\n// </timeline>\r\n");

  struct Broken {
    const char* source;
    const char* complaint;
  };
  const Broken broken[] = {
      {"a\n// </timeline>\n", "<timeline>"},
      {"// <timeline>\nb\n", "</timeline>"},
      {"// </timeline>\n// <timeline>\n", "before"},
      {"// <timeline>\n// <timeline>\n// </timeline>\n", "twice"},
      {"  // <timeline>\n// </timeline>\n", "<timeline>"},  // indented: not a marker line
  };
  for (const Broken& b : broken) {
    SCOPED_TRACE(b.source);
    try {
      FillTimeline(b.source, "x");
      ADD_FAILURE() << "filled a broken source";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(b.complaint), std::string::npos) << e.what();
    }
  }
}

TEST(ShaderTimeline, GeneratorStopsOnShaderSourcesItCannotFill) {
  const TempDir sourceFolder, outFolder;
  const std::string sources = sourceFolder.path(), out = outFolder.path();
  std::ofstream(sources + "/abs.vert") << "void main() {}\n";
  std::ofstream(sources + "/timeline.glsl") << "// shared\n";
  std::string log, err;
  EXPECT_EQ(test::RunGenerator("--shader-dir '" + sources + "' --only abs.vert '" + out + "'", log, err), 1);
  EXPECT_NE(err.find(sources + "/abs.vert: no marker line"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(out + "/abs.vert"));

  // mask.vert has no source at all.
  EXPECT_EQ(test::RunGenerator("--shader-dir '" + sources + "' --only mask.vert '" + out + "'", log, err), 1);
  EXPECT_NE(err.find("mask.vert"), std::string::npos) << err;
  EXPECT_NE(err.find("No such file"), std::string::npos) << err;

  // Without a source folder the shaders are not made at all.
  EXPECT_EQ(test::RunGenerator("--only abs.vert '" + out + "'", log, err), 1);
  EXPECT_NE(err.find("needs --shader-dir"), std::string::npos) << err;
}

}  // namespace
}  // namespace sorvane::assetgen
