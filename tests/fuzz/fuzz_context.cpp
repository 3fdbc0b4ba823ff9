#include "tests/fuzz/fuzz_context.h"

#include <IL/il.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "measure/workbench.h"

namespace {
[[noreturn]] void Unusable(const char* why) {
  std::fprintf(stderr, "fuzz set-up: %s\n", why);
  std::exit(2);
}
}  // namespace

void EnterFuzzContext() {
  static TempDir folder;
  if (folder.path().empty()) Unusable("no temporary folder");
  folder.Enter();
  if (!OpenTestGlContext(64, 64)) Unusable("no display or no GL context (run under xvfb-run)");
  ilInit();
}

void WriteInput(const char* fileName, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(fileName, "wb");
  if (!file) Unusable("cannot create an input file");
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) Unusable("cannot write an input file");
}

void ContractBroken(const char* what) {
  std::fprintf(stderr, "contract broken: %s\n", what);
  std::abort();
}
