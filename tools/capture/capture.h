// capture.h — the capture tool: `sorvane-capture`'s command line over the
// off-screen renderer (effects/frame_renderer.h), and the PNG writer it and
// the contact sheet share.
//
// How to use it: `CaptureMain` is the command-line tool (see its usage
// text); `WritePng` writes a frame as an 8-bit RGB PNG.
//
// How it fails: `WritePng` returns false when the file cannot be written.
#pragma once

#include <string>

#include "effects/frame_renderer.h"

bool WritePng(const std::string& path, const CaptureFrame& frame);

int CaptureMain(int argc, char** argv);
