// End to end: when a bell's flash reaches the screen, against when the bell
// is played.
//
//   av_e2e DEMO RUNDIR SECONDS
//
// Run beside a private PulseAudio on an X screen (bench/platform/av-e2e does
// both, for a small screen and a large one, with the demo and with its
// bare-clock twin). The demo is run as a user runs it: its dialog answered
// with Return (full screen at the screen's size), its music played into a
// pretend sound card (tests/support/av_offset.h: a frame is played when the
// card reads it, the sink's latency is its third of a second of buffer).
// Every frame the X server puts on the screen is read as it lands (damage
// events), as a grid of mean brightness over the strip. Afterwards each bell
// of the score is found in what the card played (the track is found in the
// recording sample for sample), and its flash on the screen as the frame
// with the largest rise of brightness in any cell within -250..+350 ms of it.
// Prints the offsets (flash seen - bell played, ms: positive, the picture
// late), their median, mean and spread, and frames a second.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/select.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/ogg_stream.h"
#include "score/score.h"
#include "measure/av_offset.h"

namespace {

constexpr int kColumns = 32, kRows = 16;
constexpr int kRate = avoffset::kRate;
// How early before its bell a flash is looked for: a clock that runs ahead
// of the sound by a device's buffer shows it that much before.
double kEarliest = std::getenv("AV_E2E_EARLIEST") ? std::atof(std::getenv("AV_E2E_EARLIEST")) : 0.25;

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

struct Frame {
  double at;
  std::vector<float> cells;  // mean brightness 0..255, kColumns × kRows over the strip
};

// Reads each frame the X server puts on the root window as it lands.
class ScreenWatcher {
 public:
  bool Start() {
    display_ = XOpenDisplay(nullptr);
    if (!display_) return false;
    int event = 0, error = 0;
    if (!XDamageQueryExtension(display_, &event, &error) || !XShmQueryExtension(display_)) return false;
    damageEvent_ = event;
    const Window root = DefaultRootWindow(display_);
    XWindowAttributes attributes;
    XGetWindowAttributes(display_, root, &attributes);
    width_ = attributes.width;
    const int height = attributes.height;
    // The 2:1 strip across the middle of a full-screen window.
    stripHeight_ = std::min(height, width_ / 2);
    stripTop_ = (height - stripHeight_) / 2;
    image_ = XShmCreateImage(display_, DefaultVisual(display_, 0), DefaultDepth(display_, 0), ZPixmap, nullptr,
                             &shm_, static_cast<unsigned>(width_), static_cast<unsigned>(stripHeight_));
    if (!image_) return false;
    shm_.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image_->bytes_per_line) * image_->height, IPC_CREAT | 0600);
    shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
    shm_.readOnly = False;
    XShmAttach(display_, &shm_);
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    damage_ = XDamageCreate(display_, root, XDamageReportNonEmpty);
    XSync(display_, False);
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  std::vector<Frame> Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    if (display_) {
      if (image_) {
        XShmDetach(display_, &shm_);
        XDestroyImage(image_);
        shmdt(shm_.shmaddr);
      }
      XCloseDisplay(display_);
    }
    return std::move(frames_);
  }

 private:
  void Run() {
    const int fd = ConnectionNumber(display_);
    while (running_) {
      if (!XPending(display_)) {
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        timeval wait{0, 50000};
        select(fd + 1, &fds, nullptr, nullptr, &wait);
        continue;
      }
      XEvent e;
      XNextEvent(display_, &e);
      if (e.type != damageEvent_ + XDamageNotify) continue;
      const double at = Now();
      XDamageSubtract(display_, damage_, None, None);
      if (!XShmGetImage(display_, DefaultRootWindow(display_), image_, 0, stripTop_, AllPlanes)) continue;
      frames_.push_back({at, Cells()});
    }
  }

  std::vector<float> Cells() const {
    std::vector<float> cells(kColumns * kRows, 0.0f);
    const int step = 2;  // every other pixel of every other row is plenty for a mean
    std::vector<int> counts(cells.size(), 0);
    for (int y = 0; y < stripHeight_; y += step) {
      const auto* row = reinterpret_cast<const uint32_t*>(image_->data + static_cast<size_t>(y) * image_->bytes_per_line);
      const int cy = y * kRows / stripHeight_;
      for (int x = 0; x < width_; x += step) {
        const uint32_t p = row[x];
        const size_t c = static_cast<size_t>(cy * kColumns + x * kColumns / width_);
        cells[c] += static_cast<float>(((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF)) / 3.0f;
        ++counts[c];
      }
    }
    for (size_t c = 0; c < cells.size(); ++c) cells[c] /= static_cast<float>(std::max(1, counts[c]));
    return cells;
  }

  Display* display_ = nullptr;
  Damage damage_ = 0;
  int damageEvent_ = 0;
  XImage* image_ = nullptr;
  XShmSegmentInfo shm_{};
  int width_ = 0, stripTop_ = 0, stripHeight_ = 0;
  std::atomic<bool> running_{false};
  std::thread thread_;
  std::vector<Frame> frames_;
};

// Where the track's first frame lies in what the card played: the first
// sound after the opening fade found sample for sample. -1: not found.
long TrackStartIn(const std::vector<int16_t>& played, const std::string& trackPath) {
  platform::OggStream track;
  if (!track.Open(trackPath.c_str())) return -1;
  std::vector<int16_t> left;
  std::vector<int16_t> buffer(4096 * static_cast<size_t>(track.Channels()));
  while (left.size() < static_cast<size_t>(10 * kRate)) {
    const size_t n = track.Read(buffer.data(), 4096);
    if (n == 0) break;
    for (size_t i = 0; i < n; ++i) left.push_back(buffer[i * static_cast<size_t>(track.Channels())]);
  }
  constexpr size_t kProbe = 512;
  size_t probe = static_cast<size_t>(6 * kRate);
  while (probe + kProbe < left.size() && std::abs(left[probe]) < 2000) ++probe;
  if (probe + kProbe >= left.size()) return -1;
  for (size_t at = 0; at + kProbe <= played.size(); ++at) {
    size_t i = 0;
    while (i < kProbe && played[at + i] == left[probe + i]) ++i;
    if (i == kProbe) return static_cast<long>(at) - static_cast<long>(probe);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: av_e2e DEMO RUNDIR SECONDS\n");
    return 2;
  }
  // The demo starts in its run folder: both paths are made absolute first.
  const std::string demo = std::filesystem::absolute(argv[1]).string();
  const std::string runDir = std::filesystem::absolute(argv[2]).string();
  const double seconds = std::atof(argv[3]);
  avoffset::Card card;
  if (!card.Start()) {
    std::fprintf(stderr, "av_e2e: no PulseAudio to load the pretend card into (run beside scripts/sound-server)\n");
    return 1;
  }
  ScreenWatcher watcher;
  if (!watcher.Start()) {
    std::fprintf(stderr, "av_e2e: no X display with the DAMAGE and MIT-SHM extensions\n");
    return 1;
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(runDir.c_str()) != 0) _exit(120);
    execl(demo.c_str(), demo.c_str(), static_cast<char*>(nullptr));
    _exit(121);
  }
  // The dialog, answered as a user does: Return starts at the screen's size.
  if (std::system("timeout 30 xdotool search --sync --onlyvisible --name '^sorvane$' windowfocus --sync key Return") != 0)
    std::fprintf(stderr, "av_e2e: no dialog answered\n");
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  const std::vector<Frame> frames = watcher.Stop();
  std::vector<int16_t> played;
  double startedAt = NAN, fillMs = NAN;
  card.Stop(played, startedAt, fillMs);

  const long trackStart = TrackStartIn(played, runDir + "/04-Slow_Amber_Circles.ogg");
  if (trackStart < 0 || frames.size() < 10) {
    std::fprintf(stderr, "av_e2e: the track was not found in what the card played, or no frames were seen\n");
    return 1;
  }
  // Frames a second while the demo ran: over the last three quarters.
  const Frame& early = frames[frames.size() / 4];
  const double fps = static_cast<double>(frames.size() - frames.size() / 4) / (frames.back().at - early.at);

  std::vector<double> offsets;
  std::printf("bell   played at    flash seen   offset\n");
  for (const auto& bell : sorvane::score::ThePiece().bells) {
    const double playedAt = startedAt + (static_cast<double>(trackStart) + bell.time * kRate) / kRate;
    if (playedAt + 0.4 > frames.back().at) break;
    double bestRise = 0, seenAt = NAN;
    for (size_t k = 1; k < frames.size(); ++k) {
      if (frames[k].at < playedAt - kEarliest || frames[k].at > playedAt + 0.35) continue;
      for (size_t c = 0; c < frames[k].cells.size(); ++c) {
        const double rise = frames[k].cells[c] - frames[k - 1].cells[c];
        if (rise > bestRise) bestRise = rise, seenAt = frames[k].at;
      }
    }
    if (std::isnan(seenAt) || bestRise < 6.0) {
      std::printf("%6.2f s  no flash found\n", bell.time);
      continue;
    }
    offsets.push_back((seenAt - playedAt) * 1000.0);
    std::printf("%6.2f s  %10.3f  %10.3f  %+7.1f ms\n", bell.time, playedAt - startedAt, seenAt - startedAt,
                offsets.back());
  }
  if (offsets.empty()) {
    std::fprintf(stderr, "av_e2e: no bell's flash was found\n");
    return 1;
  }
  std::vector<double> sorted = offsets;
  std::sort(sorted.begin(), sorted.end());
  double mean = 0, sd = 0;
  for (double o : offsets) mean += o;
  mean /= static_cast<double>(offsets.size());
  for (double o : offsets) sd += (o - mean) * (o - mean);
  sd = std::sqrt(sd / static_cast<double>(offsets.size()));
  std::printf("%s: %zu bells; flash - bell: median %+.1f ms, mean %+.1f ms, sd %.1f ms; %.1f frames a second; "
              "card latency %.0f ms; demo exit %d\n",
              demo.c_str(), offsets.size(), sorted[sorted.size() / 2], mean, sd, fps, fillMs,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}
