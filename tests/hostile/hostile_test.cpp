// Hostile input: every file the demo reads from its run folder, damaged one
// way at a time, under the real start-up and a few frames in a forked child.
// A damaged image or track must give either the orderly stop (the error box,
// status 1) or a run that ends with status 0; a damaged shader never stops
// start-up and leaves its trace in "shaders.log". Nothing may crash, hang
// or exit without saying why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/hostile/hostile.h"
#include "measure/workbench.h"

namespace fs = std::filesystem;
using hostile::ChildReport;
using hostile::Damage;
using hostile::DamageKind;

namespace {

constexpr const char* kStartupFailure = "Error|An error occured during init or extension missing.";
constexpr int kPresents = 3;
// The close queued at the last scripted present is handled in the next
// frame's pump, and that frame is still presented.
constexpr int kFramesOfARun = kPresents + 1;
// A refused 40000 × 40000 picture may cost its file and a little more, not
// the gigabytes its pixels would take.
constexpr long kHugeImageGrowthLimitKb = 1024L * 1024L;

enum class FileType { Image, Music, Shader };

struct InputFile {
  const char* name;
  FileType type;
  const char* testName;
};

const InputFile kInputs[] = {
    {"311_18.jpg", FileType::Image, "Relief_311_18"},
    {"162_05.jpg", FileType::Image, "Image_162_05"},
    {"308_18.jpg", FileType::Image, "Image_308_18"},
    {"001_14.jpg", FileType::Image, "Veil_001_14"},
    {"003_14.jpg", FileType::Image, "Veil_003_14"},
    {"003_01.jpg", FileType::Image, "Veil_003_01"},
    {"credits.jpg", FileType::Image, "Credits"},
    {"04-Slow_Amber_Circles.ogg", FileType::Music, "Music"},
    {"abs.vert", FileType::Shader, "AbsVertex"},
    {"abs.frag", FileType::Shader, "AbsFragment"},
    {"mask.vert", FileType::Shader, "MaskVertex"},
    {"mask.frag", FileType::Shader, "MaskFragment"},
};

void PrintTo(const InputFile& input, std::ostream* os) { *os << input.name; }

enum class Expect { Run, Stop, Either };

const char* Describe(Expect e) {
  switch (e) {
    case Expect::Run: return "status 0";
    case Expect::Stop: return "status 1 + box";
    case Expect::Either: return "status 0 or 1 + box";
  }
  return "?";
}

// What a case is expected to do, where that is certain from the damage.
Expect ExpectedFor(FileType type, const Damage& d) {
  if (type == FileType::Shader) return Expect::Run;
  switch (d.kind) {
    case DamageKind::Intact:
    case DamageKind::OnePixel:
      return Expect::Run;
    case DamageKind::Missing:
    case DamageKind::Empty:
    case DamageKind::Directory:
    case DamageKind::RandomBytes:
    case DamageKind::Unreadable:
    case DamageKind::HugeDeclaredSize:
      return Expect::Stop;
    case DamageKind::ForeignHeader:
      // No JPEG survives losing its SOI; an Ogg reader may resynchronise on
      // a later page.
      return type == FileType::Image ? Expect::Stop : Expect::Either;
    case DamageKind::Truncated:
    case DamageKind::Flipped:
      return Expect::Either;
  }
  return Expect::Either;
}

std::vector<Damage> DamagesFor(FileType type) {
  std::vector<Damage> list = {
      {DamageKind::Intact},        {DamageKind::Missing},       {DamageKind::Empty},
      {DamageKind::Truncated, 1},  {DamageKind::Truncated, 10}, {DamageKind::Truncated, 50},
      {DamageKind::Truncated, 90}, {DamageKind::Flipped},       {DamageKind::ForeignHeader},
      {DamageKind::RandomBytes},   {DamageKind::Directory},
  };
  if (type == FileType::Image) {
    list.push_back({DamageKind::HugeDeclaredSize});
    list.push_back({DamageKind::OnePixel});
  }
  return list;
}

uint32_t SeedFor(const InputFile& input, const Damage& d) {
  uint32_t seed = 0x5EED0000u + static_cast<uint32_t>(d.kind) * 0x100u;
  for (const char* c = input.name; *c; ++c) seed = seed * 31u + static_cast<unsigned char>(*c);
  return seed;
}

std::string Label(const InputFile& input, const Damage& d) {
  std::string label = d.Describe();
  if (d.kind == DamageKind::Flipped || d.kind == DamageKind::RandomBytes) {
    char seed[24];
    std::snprintf(seed, sizeof seed, " (seed 0x%08X)", SeedFor(input, d));
    label += seed;
  }
  return label;
}

// One case, as seen from outside the child.
struct CaseResult {
  std::string damage;
  ChildReport report;
  std::string shaderLog;
  std::string outcome;  // in words, for the table
  bool ran = false;     // status 0 after the scripted frames, no box
  bool stopped = false; // status 1 with the one error box, no frame
};

std::string DescribeOutcome(const ChildReport& r, bool& ran, bool& stopped) {
  ran = stopped = false;
  switch (r.kind) {
    case ChildReport::Kind::NotStarted: return "child not started";
    case ChildReport::Kind::TimedOut: return "hang (killed)";
    case ChildReport::Kind::Signalled: return std::string("crash (") + strsignal(r.signal) + ")";
    case ChildReport::Kind::Exited: break;
  }
  if (!r.reported) return "exit " + std::to_string(r.exitCode) + " without getting back from RunDemo";
  if (r.musicEndless) return "music decoding does not end";
  if (r.exitCode == 0 && r.runStatus == 0 && r.errorBoxes.empty() && r.presents == kFramesOfARun) {
    ran = true;
    return "status 0";
  }
  if (r.exitCode == 1 && r.runStatus == 1 && r.presents == 0 && r.errorBoxes.size() == 1 &&
      r.errorBoxes[0] == kStartupFailure) {
    stopped = true;
    return "status 1 + box";
  }
  return "status " + std::to_string(r.runStatus) + " with " + std::to_string(r.errorBoxes.size()) + " boxes, " +
         std::to_string(r.presents) + " frames";
}

CaseResult RunCase(const InputFile& input, const Damage& damage) {
  CaseResult result;
  result.damage = Label(input, damage);
  TempDir dir;
  std::string why;
  if (dir.path().empty() ||
      !hostile::PrepareCase(SORVANE_RUN_DIR, dir.path(), input.name, damage, SeedFor(input, damage), why)) {
    result.outcome = "not prepared: " + why;
    return result;
  }
  hostile::ChildOptions options;
  options.presents = kPresents;
  options.drainMusic = input.type == FileType::Music;
  result.report = hostile::RunStartupInChild(dir.path(), options);
  result.shaderLog = ReadFile(dir / "shaders.log");
  result.outcome = DescribeOutcome(result.report, result.ran, result.stopped);
  if (const char* keep = std::getenv("SORVANE_HOSTILE_KEEP"); keep && !result.ran && !result.stopped) {
    std::error_code ignored;
    const fs::path to = fs::path(keep) / (std::string(input.name) + " - " + result.damage);
    fs::create_directories(to, ignored);
    fs::copy(dir.path(), to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ignored);
  }
  return result;
}

void PrintRow(const std::string& input, const std::string& damage, const std::string& outcome,
              const std::string& expected, bool pass) {
  std::printf("| %-26s | %-34s | %-44s | %-20s | %-4s |\n", input.c_str(), damage.c_str(), outcome.c_str(),
              expected.c_str(), pass ? "yes" : "NO");
}

class HostileInput : public ::testing::TestWithParam<InputFile> {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(fs::is_directory(SORVANE_RUN_DIR)) << "build sorvane-assets and sorvane-shaders first";
  }

  // Runs the cases and checks each against its prescription; the table and
  // a summary line go to stdout. The intact control runs first: it proves a
  // run in this harness can end with status 0, and gives the shader log and
  // the memory figures the damaged cases are compared with.
  void RunCases(const std::vector<Damage>& damages) {
    const InputFile& input = GetParam();
    std::printf("| %-26s | %-34s | %-44s | %-20s | %-4s |\n", "input", "damage", "outcome", "expected", "pass");
    CaseResult intact = RunCase(input, {DamageKind::Intact});
    PrintRow(input.name, intact.damage, intact.outcome, Describe(Expect::Run), intact.ran);
    ASSERT_TRUE(intact.ran) << "the undamaged run folder does not run: " << intact.outcome;
    int tried = 1, passed = 1;
    for (const Damage& damage : damages) {
      if (damage.kind == DamageKind::Intact) continue;
      SCOPED_TRACE(std::string(input.name) + ", " + damage.Describe());
      const CaseResult r = RunCase(input, damage);
      const Expect expect = ExpectedFor(input.type, damage);
      bool pass = (expect == Expect::Run && r.ran) || (expect == Expect::Stop && r.stopped) ||
                  (expect == Expect::Either && (r.ran || r.stopped));
      std::string outcome = r.outcome;
      EXPECT_TRUE(pass) << "outcome: " << r.outcome << ", expected: " << Describe(expect)
                        << (damage.kind == DamageKind::HugeDeclaredSize
                                ? " (a size whose RGBA bytes exceed 2^31 - 1 must be refused before the decoder "
                                  "allocates or writes any pixel)"
                                : "");

      if (input.type == FileType::Shader && r.ran) {
        // The broken program's trace: its log entries are not those of the
        // intact run (a compiler message, or entries missing).
        const bool traced = !r.shaderLog.empty() && r.shaderLog != intact.shaderLog;
        EXPECT_TRUE(traced) << "shaders.log shows nothing of the damage:\n" << r.shaderLog;
        if (!traced) outcome += ", log silent";
        pass = pass && traced;
      }
      if (input.type == FileType::Music && r.ran && damage.kind == DamageKind::Truncated) {
        // A cut track ends at the cut: never longer than the whole, never looped.
        const bool shorter = r.report.musicSeconds >= 0 && r.report.musicSeconds < intact.report.musicSeconds;
        EXPECT_TRUE(shorter) << "decoded " << r.report.musicSeconds << " s of a cut track, the whole is "
                             << intact.report.musicSeconds << " s";
        char seconds[48];
        std::snprintf(seconds, sizeof seconds, ", %.1f s decoded", r.report.musicSeconds);
        outcome += seconds;
        pass = pass && shorter;
      }
      if (damage.kind == DamageKind::HugeDeclaredSize && r.report.kind == ChildReport::Kind::Exited) {
        const long vmGrowth = r.report.vmPeakKb - intact.report.vmPeakKb;
        const long rssGrowth = r.report.maxRssKb - intact.report.maxRssKb;
        EXPECT_LT(vmGrowth, kHugeImageGrowthLimitKb) << "peak virtual size grew by " << vmGrowth << " KiB";
        EXPECT_LT(rssGrowth, kHugeImageGrowthLimitKb) << "peak resident size grew by " << rssGrowth << " KiB";
        char growth[64];
        std::snprintf(growth, sizeof growth, ", peak +%ld MiB", std::max(vmGrowth, rssGrowth) / 1024);
        outcome += growth;
        pass = pass && vmGrowth < kHugeImageGrowthLimitKb && rssGrowth < kHugeImageGrowthLimitKb;
      }
      PrintRow(input.name, r.damage, outcome, Describe(expect), pass);
      ++tried;
      passed += pass ? 1 : 0;
    }
    std::printf("%s: %d cases tried / %d passed\n", input.name, tried, passed);
    std::fflush(stdout);
  }
};

TEST_P(HostileInput, EachDamageEndsInAnOrderlyStopOrACleanRun) { RunCases(DamagesFor(GetParam().type)); }

// As root too: the child gives up the capabilities that would let it read
// the file anyway.
TEST_P(HostileInput, AnUnreadableFileEndsInAnOrderlyStopOrACleanRun) {
  RunCases({{DamageKind::Unreadable}});
}

INSTANTIATE_TEST_SUITE_P(RunFolder, HostileInput, ::testing::ValuesIn(kInputs),
                         [](const ::testing::TestParamInfo<InputFile>& info) { return info.param.testName; });

}  // namespace
