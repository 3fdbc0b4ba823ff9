// workbench.h — what the tests and the benchmarks set up with.
//
// OpenTestGlContext: a hidden window with a current OpenGL 2.1 compatibility
// context and GLEW initialised, through the desktop video backend; false
// when no display can be reached (tests then fail with that reason). The
// context lives until the process ends; each call makes it current again.
//
// WriteTestOgg: a short Ogg Vorbis file (a quiet sine tone) made with
// libvorbisenc, so tests need no asset from the build. WriteOgg encodes any
// signal the same way (the clock benchmark's click track, av_offset.h).
//
// TempDir: a fresh folder under the system temp folder, removed with its
// contents when the object goes; `Enter` makes it the working directory until
// then (the demo reads everything by bare name from there).
#pragma once

#include <functional>
#include <string>

bool OpenTestGlContext(int width = 64, int height = 64);

bool WriteTestOgg(const std::string& path, double seconds, int rate = 44100, int channels = 2);
// Any signal: `total` frames whose every channel carries sample(frame), in
// -1..1.
bool WriteOgg(const std::string& path, long total, int rate, int channels, const std::function<float(long)>& sample);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  void Enter();

 private:
  std::string path_;
  std::string previous_;
};

// Writes `bytes` to `path`; false on failure.
bool WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
