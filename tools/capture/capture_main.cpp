#ifdef _WIN32
#include <io.h>
#include <windows.h>
#include <psapi.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "shell/data_folder.h"
#include "data/files.h"
#include "tools/capture/capture.h"

namespace {

constexpr const char* kUsage =
    "usage: sorvane-capture [--size WxH] [--letterbox] [--dir RUNDIR]\n"
    "         (--time T --out FILE.png\n"
    "         | --from A --to B --fps N (--out DIR | --video FILE.mp4 | --soak))\n"
    "Renders the demo's frames off screen at time = A + frame / fps (never a clock).\n"
    "  --size WxH    picture size, default 1280x640 (the strip)\n"
    "  --letterbox   WxH is a whole window with the strip letterboxed in it\n"
    "  --dir RUNDIR  the folder holding the demo's data (default: the current one, else the\n"
    "                installed data)\n"
    "  --out         one PNG for --time; a folder of numbered PNGs for a sequence\n"
    "  --video       pipe the sequence to ffmpeg, with the music muxed in\n"
    "  --soak        render the sequence without writing it, checking GL errors\n"
    "                every frame and resident memory every 1000 frames\n";

struct Options {
  int width = 1280, height = 640;
  bool letterbox = false;
  std::string dir, out, video;
  bool haveTime = false, haveFrom = false, haveTo = false, haveFps = false, soak = false;
  double time = 0, from = 0, to = 0, fps = 0;
};

int UsageError(const std::string& what) {
  std::fprintf(stderr, "sorvane-capture: %s (--help for usage)\n", what.c_str());
  return 2;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "sorvane-capture: %s\n", what.c_str());
  return 1;
}

bool ParseNumber(const char* text, double* out) {
  char* end = nullptr;
  *out = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(*out);
}

bool ParseSize(const char* text, int* w, int* h) {
  int consumed = 0;
  if (std::sscanf(text, "%dx%d%n", w, h, &consumed) != 2 || text[consumed] != '\0') return false;
  return *w > 0 && *h > 0 && *w <= 16384 && *h <= 16384;
}

#ifdef _WIN32
long ResidentKiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long>(counters.WorkingSetSize / 1024);
}

bool IsTerminal(int fd) { return _isatty(fd) != 0; }
#else
long ResidentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool IsTerminal(int fd) { return isatty(fd) != 0; }
#endif

// A progress bar with frame count and ETA on stderr, redrawn a few times a
// second at most; only on a terminal, so logs do not fill with redraws.
class Progress {
 public:
  explicit Progress(long total) : total_(total), start_(Clock::now()), last_(start_), shown_(IsTerminal(2)) {}
  void Update(long done) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double eta = done > 0 ? elapsed / done * (total_ - done) : 0.0;
    const int filled = static_cast<int>(30 * done / std::max(total_, 1L));
    std::fprintf(stderr, "\r[%.*s%.*s] %ld/%ld frames  ETA %dm%02ds ", filled, "##############################",
                 30 - filled, "..............................", done, total_, static_cast<int>(eta) / 60,
                 static_cast<int>(eta) % 60);
    if (done == total_) std::fprintf(stderr, "\n");
    std::fflush(stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  long total_;
  Clock::time_point start_, last_;
  bool shown_;
};

// Growth of resident memory between the 1000th and the last frame that
// still counts as flat: allocator and driver noise, far below one frame's
// worth of leaked textures or buffers over thousands of frames.
constexpr long kSoakGrowthLimitKiB = 8 * 1024;

}  // namespace

int CaptureMain(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--letterbox") {
      o.letterbox = true;
      continue;
    }
    if (arg == "--soak") {
      o.soak = true;
      continue;
    }
    if (i + 1 >= argc) return UsageError(arg + " needs a value");
    const char* value = argv[++i];
    if (arg == "--size") {
      if (!ParseSize(value, &o.width, &o.height)) return UsageError(std::string("bad size '") + value + "'");
    } else if (arg == "--time" || arg == "--from" || arg == "--to" || arg == "--fps") {
      double n = 0;
      if (!ParseNumber(value, &n)) return UsageError("bad number '" + std::string(value) + "' for " + arg);
      if (arg == "--time") o.time = n, o.haveTime = true;
      if (arg == "--from") o.from = n, o.haveFrom = true;
      if (arg == "--to") o.to = n, o.haveTo = true;
      if (arg == "--fps") o.fps = n, o.haveFps = true;
    } else if (arg == "--out") {
      o.out = value;
    } else if (arg == "--video") {
      o.video = value;
    } else if (arg == "--dir") {
      o.dir = value;
    } else {
      return UsageError("unknown option " + arg);
    }
  }
  const bool sequence = o.haveFrom || o.haveTo || o.haveFps;
  if (o.haveTime == sequence) return UsageError("give either --time or --from/--to/--fps");
  if (sequence && !(o.haveFrom && o.haveTo && o.haveFps)) return UsageError("a sequence needs --from, --to and --fps");
  if (sequence && o.fps <= 0) return UsageError("--fps must be above 0");
  if (sequence && o.to < o.from) return UsageError("--to must not be before --from");
  if (o.haveTime && (o.out.empty() || !o.video.empty() || o.soak)) return UsageError("--time writes one PNG: give --out FILE.png");
  if (sequence && (!o.out.empty()) + (!o.video.empty()) + o.soak != 1)
    return UsageError("a sequence goes to exactly one of --out DIR, --video FILE or --soak");

  // Output paths are taken as given, before moving into the run folder.
  const auto absolute = [](const std::string& p) { return p.empty() ? p : std::filesystem::absolute(p).string(); };
  o.out = absolute(o.out);
  o.video = absolute(o.video);
  if (!o.dir.empty()) {
    std::error_code ec;
    std::filesystem::current_path(o.dir, ec);
    if (ec) return Fail("cannot enter run folder " + o.dir + ": " + ec.message());
  }
  // Without --dir an installed tool reads the installed data, as the demo
  // does; a folder given is the one read.
  platform::ProgramFolders folders = platform::GetProgramFolders();
  if (!o.dir.empty()) folders.data.clear();
  EnterDataFolder(folders);
  FILE* ffmpeg = nullptr;
  if (!o.video.empty() && std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
    return Fail("--video needs ffmpeg, which is not installed (apt-get install ffmpeg)");

  FrameRenderer renderer;
  if (!renderer.Open(o.width, o.height, o.letterbox)) return Fail(renderer.error());
  CaptureFrame frame;
  if (o.haveTime) {
    renderer.Render(o.time, frame);
    if (!WritePng(o.out, frame)) return Fail("cannot write " + o.out);
    return 0;
  }

  const long frames = static_cast<long>(std::floor((o.to - o.from) * o.fps + 1e-9)) + 1;
  if (!o.out.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    if (ec) return Fail("cannot make folder " + o.out + ": " + ec.message());
  }
  if (!o.video.empty()) {
    // Raw frames in on stdin; the music from the same starting time, if the
    // run folder has it.
    std::string command = "ffmpeg -loglevel error -y -f rawvideo -pix_fmt rgb24 -s " + std::to_string(o.width) + "x" +
                          std::to_string(o.height) + " -r " + std::to_string(o.fps) + " -i -";
    if (std::filesystem::exists(datafiles::kMusic))
      command += " -ss " + std::to_string(o.from) +
                 " -i " + std::string(datafiles::kMusic) + " -map 0:v -map 1:a -c:a aac -b:a 192k -shortest";
    command += " -c:v libx264 -pix_fmt yuv420p -crf 18 '" + o.video + "'";
    ffmpeg = popen(command.c_str(), "w");
    if (!ffmpeg) return Fail("cannot start ffmpeg");
  }

  Progress progress(frames);
  long glErrors = 0, rssFirst = 0, rssSettled = 0, rssEnd = 0, rssPeak = 0;
  for (long i = 0; i < frames; ++i) {
    renderer.Render(o.from + static_cast<double>(i) / o.fps, frame);
    if (renderer.lastGlError() != 0) ++glErrors;
    if (!o.out.empty()) {
      char name[64];
      std::snprintf(name, sizeof name, "/frame_%06ld.png", i);
      if (!WritePng(o.out + name, frame)) return Fail("cannot write " + o.out + name);
    }
    if (ffmpeg && std::fwrite(frame.rgb.data(), 1, frame.rgb.size(), ffmpeg) != frame.rgb.size()) {
      pclose(ffmpeg);
      return Fail("ffmpeg stopped taking frames");
    }
    if (o.soak && (i % 1000 == 0 || i == frames - 1)) {
      const long rss = ResidentKiB();
      if (i == 0) rssFirst = rss;
      if (i == 1000 || (i == frames - 1 && rssSettled == 0)) rssSettled = rss;
      rssEnd = rss;
      rssPeak = std::max(rssPeak, rss);
    }
    progress.Update(i + 1);
  }
  if (ffmpeg && pclose(ffmpeg) != 0) return Fail("ffmpeg failed writing " + o.video);
  if (o.soak) {
    std::printf("soak: %ld frames, %ld with GL errors; resident memory %ld KiB at the first frame, %ld KiB after "
                "1000 frames, %ld KiB at the end (peak %ld KiB)\n",
                frames, glErrors, rssFirst, rssSettled, rssEnd, rssPeak);
    if (glErrors > 0) return Fail(std::to_string(glErrors) + " frames raised GL errors");
    if (rssEnd - rssSettled > kSoakGrowthLimitKiB)
      return Fail("resident memory grew by " + std::to_string(rssEnd - rssSettled) + " KiB after the first 1000 frames");
  }
  return 0;
}
