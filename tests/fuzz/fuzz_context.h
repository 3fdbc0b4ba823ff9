// fuzz_context.h — the set-up both libFuzzer entries share.
//
// What it is for: the shader and image loaders read files by bare name from
// the working directory and talk to a current GL context. `EnterFuzzContext`
// (call it from LLVMFuzzerInitialize) moves into a fresh temporary folder,
// opens a hidden 64 × 64 window with a current GL context and GLEW through
// the test support, and initialises DevIL. `WriteInput` writes one input as a
// file there.
//
// How it fails: without a display, or when the folder cannot be made or a
// file cannot be written, it prints why and ends the process with status 2:
// a fuzzer that cannot reach its target must not report a clean run.
#pragma once

#include <cstddef>
#include <cstdint>

void EnterFuzzContext();
void WriteInput(const char* fileName, const uint8_t* data, size_t size);
// Stops the run as a finding when a loader broke its contract.
[[noreturn]] void ContractBroken(const char* what);
