// What Windows reads of sorvane.exe before and while it runs: the manifest
// and version information compiled into it, the two exports that pick the
// fast GPU, and, in this program (which carries the same resources), the DPI
// awareness and the themed common controls the manifest asks for.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

HMODULE MapDemo(DWORD flags) {
  HMODULE module = LoadLibraryExW(L"" SORVANE_EXE, nullptr, flags);
  EXPECT_NE(module, nullptr) << "cannot map " << SORVANE_EXE;
  return module;
}

std::string Resource(HMODULE module, LPCWSTR name, LPCWSTR type) {
  HRSRC found = FindResourceW(module, name, type);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const char* bytes = static_cast<const char*>(LockResource(loaded));
  return bytes ? std::string(bytes, SizeofResource(module, found)) : std::string();
}

TEST(ProgramIdentity, TheManifestIsCompiledIn) {
  HMODULE demo = MapDemo(LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(demo, nullptr);
  const std::string manifest = Resource(demo, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  FreeLibrary(demo);
  std::ifstream source(SORVANE_MANIFEST, std::ios::binary);
  const std::string expected{std::istreambuf_iterator<char>(source), {}};
  ASSERT_FALSE(expected.empty()) << "cannot read " << SORVANE_MANIFEST;
  // Byte for byte the source the build checks for well-formedness.
  EXPECT_EQ(manifest, expected);
}

TEST(ProgramIdentity, VersionInformationNamesTheProduct) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(L"" SORVANE_EXE, &handle);
  ASSERT_GT(size, 0u) << "no version information";
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(L"" SORVANE_EXE, 0, size, block.data()));
  auto text = [&](const wchar_t* key) {
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
      return std::wstring();
    return std::wstring(value);
  };
  EXPECT_EQ(text(L"ProductName"), L"sorvane");
  EXPECT_EQ(text(L"ProductVersion"), L"" SORVANE_VERSION);
  EXPECT_EQ(text(L"FileDescription"), L"sorvane, a real-time audiovisual demo");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST(ProgramIdentity, ExportsAskTwoGpuLaptopsForTheFastGpu) {
  HMODULE demo = MapDemo(DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(demo, nullptr);
  const auto* nvidia = reinterpret_cast<const DWORD*>(GetProcAddress(demo, "NvOptimusEnablement"));
  const auto* amd = reinterpret_cast<const int*>(GetProcAddress(demo, "AmdPowerXpressRequestHighPerformance"));
  ASSERT_NE(nvidia, nullptr);
  ASSERT_NE(amd, nullptr);
  EXPECT_EQ(*nvidia, 1u);
  EXPECT_EQ(*amd, 1);
  FreeLibrary(demo);
}

// This program links the same resources as sorvane.exe: what the system made
// of its manifest at start-up is what the demo gets.
TEST(ProgramIdentity, TheProcessIsDpiAwareAndGetsTheThemedControls) {
  EXPECT_TRUE(IsProcessDPIAware()) << "the manifest's DPI awareness is not in force";
  // The activation context made from the manifest at start-up sends the
  // process's loads of comctl32.dll to the side-by-side version 6, which
  // draws the themed controls. (Wine 8 keeps the redirection but serves its
  // one comctl32, which reports 5.81 either way, so the redirection is what
  // can be read.)
  ACTCTX_SECTION_KEYED_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll", &data))
      << "no redirection of comctl32.dll: the dialog would get the unthemed controls";
}

}  // namespace
