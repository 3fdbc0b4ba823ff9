// settings_record.h — the settings record as one value in an assertion.
//
// What it is for: a test states the whole record it expects in one line
// (width, height, bits, windowed, vsync, multisample, spare), and a failure
// prints every field beside the expected one.
#pragma once

#include <array>
#include <cstdint>

#include "shell/shell.h"

using SettingsFields = std::array<int32_t, 7>;

inline SettingsFields FieldsOf(const DemoSettings& s) {
  return {s.width, s.height, s.bits, s.windowed, s.vsync, s.multisample, s.spare};
}
