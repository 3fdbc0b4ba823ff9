#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "tools/assetgen/assets.h"
#include "tests/assetgen/support.h"

namespace sorvane::assetgen::test {
namespace {

int LineCount(const std::string& s) { return int(std::count(s.begin(), s.end(), '\n')); }

TEST(Generator, TwoRunsGiveIdenticalBytes) {
  const TempDir folder;
  const std::string dir = folder.path();
  std::string out, err;
  ASSERT_EQ(RunGenerator("'" + dir + "'", out, err), 0) << err;
  EXPECT_TRUE(err.empty()) << err;
  int files = 0;
  for (const Asset& asset : AssetList()) {
    SCOPED_TRACE(asset.name);
    const auto again = ReadFile(dir + "/" + asset.name);
    const auto built = ReadFile(RunPath(asset.name));
    ASSERT_FALSE(again.empty());
    EXPECT_TRUE(again == built) << "bytes differ between runs";
    EXPECT_NE(out.find(asset.name), std::string::npos) << "no log line";
    ++files;
  }
  EXPECT_EQ(files, 8);
  // Nothing else (no leftover temporary files) in the folder.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) (void)e, ++entries;
  EXPECT_EQ(entries, files);
}

TEST(Generator, MissingFontStopsWithOneLineNamingFileAndCause) {
  const TempDir folder;
  const std::string dir = folder.path();
  std::string out, err;
  EXPECT_EQ(RunGenerator("--font-dir /nonexistent-fonts --only credits.jpg '" + dir + "'", out, err), 1);
  EXPECT_EQ(LineCount(err), 1) << err;
  EXPECT_NE(err.find("credits.jpg"), std::string::npos) << err;
  EXPECT_NE(err.find("/nonexistent-fonts/DejaVuSerif.ttf"), std::string::npos) << err;
  EXPECT_NE(err.find("No such file"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(dir + "/credits.jpg"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/credits.jpg.part"));
}

TEST(Generator, UnwritableOutputFolderStopsBeforeAnyWork) {
  const TempDir folder;
  const std::string dir = folder.path();
  const std::string blocker = dir + "/a-file";
  std::ofstream(blocker) << "x";
  std::string out, err;
  // A folder inside a regular file can be neither created nor written, even
  // by root.
  EXPECT_EQ(RunGenerator("'" + blocker + "/run'", out, err), 1);
  EXPECT_EQ(LineCount(err), 1) << err;
  EXPECT_NE(err.find(blocker + "/run"), std::string::npos) << err;
  EXPECT_NE(err.find("output folder"), std::string::npos) << err;
  EXPECT_EQ(out.find(".jpg"), std::string::npos) << "work started anyway: " << out;
}

TEST(Generator, BadCommandLinesAreRefused) {
  std::string out, err;
  EXPECT_EQ(RunGenerator("", out, err), 2);
  EXPECT_NE(err.find("usage"), std::string::npos);
  EXPECT_EQ(RunGenerator("--threads zero /tmp", out, err), 2);
  EXPECT_EQ(RunGenerator("--bogus /tmp", out, err), 2);
  const TempDir folder;
  const std::string dir = folder.path();
  EXPECT_EQ(RunGenerator("--only nothing.png '" + dir + "'", out, err), 1);
  EXPECT_NE(err.find("nothing.png"), std::string::npos) << err;
}

TEST(Generator, AtomicWriteLeavesNoPartialFile) {
  const TempDir folder;
  const std::string dir = folder.path();
  WriteFileAtomically(dir + "/a.bin", {1, 2, 3});
  EXPECT_EQ(ReadFile(dir + "/a.bin"), std::string("\x01\x02\x03"));
  WriteFileAtomically(dir + "/a.bin", {4});
  EXPECT_EQ(ReadFile(dir + "/a.bin"), std::string("\x04"));
  EXPECT_THROW(WriteFileAtomically(dir + "/missing/a.bin", {1}), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(dir + "/missing"));
  // A folder where the file should go: the write fails and cleans up.
  std::filesystem::create_directory(dir + "/taken");
  EXPECT_THROW(WriteFileAtomically(dir + "/taken", {1}), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(dir + "/taken.part"));
}

}  // namespace
}  // namespace sorvane::assetgen::test
