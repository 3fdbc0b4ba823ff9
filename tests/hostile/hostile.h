// hostile.h — damaged copies of the run folder and one demo start-up per copy.
//
// What it is for: the hostile-input suite takes each file the demo reads,
// damages it in one way (missing, empty, truncated, bytes flipped, a foreign
// header, random bytes, a directory in its place, unreadable, a JPEG that
// declares a huge size, a 1 × 1 picture), and runs the real start-up and a
// few frames against that folder in a forked child, so that a crash, an
// abort or a hang is seen as such instead of taking the suite down.
//
// How to use it: `Damage` makes the bytes (pure, seeded; the same call
// always gives the same bytes); `PrepareCase` copies the run folder into a
// fresh folder and puts the damaged file in place; `RunStartupInChild` runs
// the demo there and reports what the child did.
//
// How it fails: `Damage` and `PrepareCase` return false with a reason when a
// damage cannot be applied (a JPEG without a frame header, a folder that
// cannot be written). `RunStartupInChild` never throws; a child that cannot
// be started is reported as `Kind::NotStarted`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostile {

using Bytes = std::vector<uint8_t>;

enum class DamageKind {
  Intact,             // the file as built (the control case)
  Missing,
  Empty,
  Truncated,          // the first `percent` % of the bytes
  Flipped,            // 64 bytes inverted at seeded offsets
  ForeignHeader,      // the leading bytes replaced by another format's magic
  RandomBytes,        // seeded noise of the same length
  Directory,          // an empty folder with the file's name
  Unreadable,         // mode 000
  HugeDeclaredSize,   // a JPEG whose frame header says 40000 × 40000
  OnePixel,           // a valid 1 × 1 JPEG
};

struct Damage {
  DamageKind kind = DamageKind::Intact;
  int percent = 0;  // Truncated only
  std::string Describe() const;
};

// The magic another format starts with, chosen by the file's own type:
// PNG for a JPEG, a JPEG SOI with its APP0 marker for an Ogg file, an ELF
// header for a vertex shader and PNG for a fragment shader.
Bytes ForeignMagic(const std::string& fileName);

// The damaged contents for the byte-level kinds (Intact, Empty, Truncated,
// Flipped, ForeignHeader, RandomBytes, HugeDeclaredSize, OnePixel). `seed`
// drives Flipped and RandomBytes. False with `why` filled when the damage
// does not apply to these bytes.
bool DamageBytes(const Bytes& original, const std::string& fileName, const Damage& damage, uint32_t seed,
                 Bytes& out, std::string& why);

// Rewrites the width and height of the first frame header (SOF0 to SOF2) of
// a JPEG; false when there is none before the scan.
bool SetJpegDeclaredSize(Bytes& jpeg, uint16_t width, uint16_t height);

// Copies every regular file of `runDir` into `caseDir`, then puts `fileName`
// in the state `damage` asks for.
bool PrepareCase(const std::string& runDir, const std::string& caseDir, const std::string& fileName,
                 const Damage& damage, uint32_t seed, std::string& why);

struct ChildOptions {
  int presents = 3;                    // the run is closed after this many
  int timeoutSeconds = 60;             // then the child is killed
  bool drainMusic = false;             // after the run, decode the whole track
};

struct ChildReport {
  enum class Kind { Exited, Signalled, TimedOut, NotStarted } kind = Kind::NotStarted;
  int exitCode = -1;                   // Exited
  int signal = 0;                      // Signalled
  bool reported = false;               // the child got back from RunDemo and said so
  int runStatus = -1;                  // RunDemo's result
  std::vector<std::string> errorBoxes; // "caption|text"
  int presents = 0;
  long vmPeakKb = 0;                   // the child's peak virtual size
  long maxRssKb = 0;                   // the child's peak resident size
  double musicSeconds = -1;            // decoded by the drain; -1: not drained or not openable
  bool musicEndless = false;           // the drain hit its cap without an end
  double wallSeconds = 0;
};

// Runs RunDemo with the null video (a hidden window of the desktop backend
// behind it), SDL's audio backend and a 128 × 64 window in `caseDir`.
ChildReport RunStartupInChild(const std::string& caseDir, const ChildOptions& options);

}  // namespace hostile
