// sheet.h — a contact sheet of the demo: frames in a grid, each with its
// time written under it.
//
// What it is for: one picture that shows the whole piece at a glance (the
// README's contact sheet). `ComposeSheet` lays out frames of one size in
// rows of `columns`, on a dark ground with a margin around each, and writes
// each label centred under its frame in the given font. `SheetMain` is the
// command-line tool `sorvane-sheet`, which renders the frames with the same
// off-screen renderer as sorvane-capture (see its usage text).
//
// How it fails: `ComposeSheet` throws std::invalid_argument for no frames,
// fewer than one column or frames of different sizes, and
// std::runtime_error naming the font file when it cannot be loaded.
#pragma once

#include <string>
#include <vector>

#include "tools/assetgen/image.h"
#include "tools/capture/capture.h"

struct SheetCell {
  CaptureFrame frame;
  std::string label;  // UTF-8
};

sorvane::assetgen::RgbImage ComposeSheet(const std::vector<SheetCell>& cells, int columns,
                                         const std::string& fontPath);

// "m:ss" for a time in seconds, rounded to the nearest second.
std::string MinutesSeconds(double seconds);

int SheetMain(int argc, char** argv);
