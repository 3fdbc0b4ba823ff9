// The resuming choice (platform/audio/resuming_audio.cpp) on backends that
// open, fail, lose their output and come back when the test says, on a clock
// the test moves and with searches run when the test says: what the picture
// is told through an outage, where the music resumes, and a stand-in backend
// giving way to the preferred one. No device, no thread, no timing: the same
// on Linux and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "platform/audio/backend.h"
#include "measure/workbench.h"

namespace {

using platform::audio::kStream;
using platform::audio::ResumableAudio;

constexpr int kRate = 44100;
double now = 100.0;
double Now() { return now; }

// One output the fake backends play on, as the test sets it.
struct Output {
  bool up = true;          // opens and takes streams
  std::function<void()> whileOpening;  // what goes on while an Init opens it
  int generation = 0;      // moved on when the output goes: its streams are lost
  int64_t heard = 0;       // frames the newest stream has played
  int64_t startedAt = -1;  // the track's frame the newest stream started at
  int streams = 0;         // streams taken
  int playing = 0;         // streams of this output playing now
  int freed = 0;
  void Lose() {
    ++generation;
    up = false;
    playing = 0;
  }
};
Output outputs[2];

class FakeBackend final : public ResumableAudio {
 public:
  explicit FakeBackend(Output& output) : out_(output) {}
  bool Init(int, int) override {
    if (out_.whileOpening) out_.whileOpening();
    return out_.up;
  }
  uint32_t StreamCreateFile(const char*) override {
    if (!out_.up) return 0;
    ++out_.streams;
    out_.startedAt = startFrame_;
    out_.heard = 0;
    generation_ = out_.generation;
    taken_ = true;
    return kStream;
  }
  bool Start() override { return true; }
  bool ChannelPlay(uint32_t, bool) override {
    if (!playing_ && !Lost()) out_.playing++, playing_ = true;
    return !Lost();
  }
  int64_t PlayedFrames() override { return Lost() ? 0 : out_.heard; }
  Track Playing() override { return taken_ ? Track{kRate, 2} : Track{}; }
  bool Stop() override {
    if (playing_ && !Lost()) out_.playing--;
    playing_ = false;
    return true;
  }
  bool Free() override {
    Stop();
    ++out_.freed;
    return true;
  }
  bool Lost() override { return taken_ && generation_ != out_.generation; }

 private:
  Output& out_;
  int generation_ = 0;
  bool taken_ = false, playing_ = false;
};

template <int N>
std::unique_ptr<ResumableAudio> Make() {
  return std::make_unique<FakeBackend>(outputs[N]);
}

// Searches run when the test says so.
class HeldSearches final : public platform::audio::Searches {
 public:
  void Begin(std::function<void()> search) override { pending_ = std::move(search); }
  void Finish() override { Run(); }
  bool Pending() const { return static_cast<bool>(pending_); }
  void Run() {
    if (auto search = std::move(pending_)) {
      pending_ = nullptr;
      search();
    }
  }

 private:
  std::function<void()> pending_;
};

class ResumingAudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    outputs[0] = outputs[1] = Output{};
    now = 100.0;
    ASSERT_TRUE(WriteTestOgg(dir_ / "track.ogg", 30.0));
  }

  // Plays the track on the choice of both outputs, the first preferred.
  void Play(bool preferEarlier = false) {
    audio_ = platform::audio::NewResumingAudio(
        {&Make<0>, &Make<1>}, {.preferEarlier = preferEarlier, .now = &Now, .searches = searches_});
    ASSERT_TRUE(audio_->Init(-1, kRate));
    ASSERT_EQ(audio_->StreamCreateFile((dir_ / "track.ogg").c_str()), kStream);
    audio_->Start();
    ASSERT_TRUE(audio_->ChannelPlay(kStream, false));
  }

  // The frame loop for `seconds` at 60 frames a second, the output playing
  // on at the music's pace; each position must be at least the one before.
  int64_t Frames(double seconds, Output* playing = nullptr) {
    for (int i = 0; i < static_cast<int>(seconds * 60); ++i) {
      now += 1.0 / 60;
      if (playing) playing->heard += kRate / 60;
      const int64_t position = audio_->PlayedFrames();
      EXPECT_GE(position, last_) << "the position stepped back at " << now;
      last_ = position;
    }
    return last_;
  }

  TempDir dir_;
  std::shared_ptr<HeldSearches> searches_ = std::make_shared<HeldSearches>();
  std::unique_ptr<platform::audio::TrackAudio> audio_;
  int64_t last_ = 0;
};

TEST_F(ResumingAudioTest, ThroughAnOutageThePictureRunsOnAndTheMusicResumesWhereThePictureIs) {
  Play();
  EXPECT_EQ(outputs[0].startedAt, 0);
  const int64_t played = Frames(2.0, &outputs[0]);
  EXPECT_EQ(played, outputs[0].heard) << "the position is the output's own while it plays";

  const int64_t heard = outputs[0].heard;
  outputs[0].Lose();
  outputs[1].up = false;
  EXPECT_NEAR(Frames(1.5), heard + 1.5 * kRate, kRate / 60.0) << "the picture runs on at the music's pace";
  ASSERT_TRUE(searches_->Pending()) << "no output is looked for";
  searches_->Run();
  EXPECT_EQ(outputs[0].streams + outputs[1].streams, 1) << "a stream was taken while no output answered";

  // The first output comes back and takes three seconds to open, the frame
  // loop running meanwhile: the track starts where the picture is when the
  // stream is made, not where it was when the search began.
  outputs[0].up = true;
  outputs[0].whileOpening = [this] { Frames(3.0); };
  Frames(0.5);
  ASSERT_TRUE(searches_->Pending());
  const int64_t atSearch = last_;
  searches_->Run();
  ASSERT_EQ(outputs[0].streams, 2);
  EXPECT_EQ(outputs[0].startedAt, last_) << "the track did not resume at the picture's frame";
  EXPECT_GT(outputs[0].startedAt - atSearch, 2.9 * kRate) << "the track resumed where the search began";
  EXPECT_EQ(outputs[0].playing, 0) << "the new stream plays before the frame loop takes it";

  // Taken over by the next frame, it plays; the picture waits for what the
  // new output has not yet played, then follows it.
  Frames(1.0 / 60);
  EXPECT_EQ(outputs[0].playing, 1);
  const int64_t adopted = last_;
  Frames(0.1);
  EXPECT_EQ(last_, adopted) << "the picture ran ahead of the resumed sound";
  Frames(1.0, &outputs[0]);
  EXPECT_EQ(last_, outputs[0].startedAt + outputs[0].heard);
  EXPECT_EQ(outputs[1].streams, 0);
}

TEST_F(ResumingAudioTest, AStandInGivesWayToThePreferredOutputOnlyWhereTheListPrefersIt) {
  for (const bool preferEarlier : {false, true}) {
    SCOPED_TRACE(preferEarlier ? "preferred first" : "no preference");
    audio_.reset();
    SetUp();
    last_ = 0;
    outputs[0].up = false;  // WASAPI refuses: SDL's device stands in
    Play(preferEarlier);
    EXPECT_EQ(outputs[1].playing, 1);
    Frames(1.0, &outputs[1]);
    EXPECT_EQ(searches_->Pending(), preferEarlier) << "the preferred output is looked for exactly where preferred";
    searches_->Run();
    EXPECT_EQ(outputs[0].streams, 0);

    outputs[0].up = true;
    Frames(1.0, &outputs[1]);
    EXPECT_EQ(searches_->Pending(), preferEarlier);
    const int64_t atSearch = last_;
    searches_->Run();
    Frames(1.0 / 60);
    if (!preferEarlier) {
      EXPECT_EQ(outputs[0].streams, 0);
      EXPECT_EQ(outputs[1].playing, 1);
      continue;
    }
    EXPECT_EQ(outputs[0].startedAt, atSearch) << "the preferred output starts where the picture is";
    EXPECT_EQ(outputs[1].playing, 0) << "the stand-in plays on beside the preferred output";
    EXPECT_EQ(outputs[1].freed, 1);
    EXPECT_EQ(outputs[0].playing, 1);
    Frames(1.0, &outputs[0]);
    EXPECT_EQ(last_, outputs[0].startedAt + outputs[0].heard);
    Frames(2.0, &outputs[0]);
    EXPECT_FALSE(searches_->Pending()) << "looks on for a better output while on the best";

    // Lost again, and nothing opens but the stand-in: the music moves to it.
    outputs[0].Lose();
    Frames(0.6);
    searches_->Run();
    Frames(1.0 / 60);
    EXPECT_EQ(outputs[1].playing, 1);
    EXPECT_NEAR(outputs[1].startedAt, outputs[0].startedAt + outputs[0].heard + 0.6 * kRate, 2);
  }
}

TEST_F(ResumingAudioTest, TimeAsleepIsNoMusicAndTheTrackResumesWhereItWasHeard) {
  Play();
  Frames(1.0, &outputs[0]);
  outputs[0].Lose();
  outputs[1].up = false;
  const int64_t before = Frames(0.2);
  now += 2 * 3600;  // the lid closed for two hours
  Frames(1.0 / 60);
  EXPECT_LT(last_ - before, kRate / 10) << "the hours asleep were counted as music";
  searches_->Run();
  outputs[1].up = true;
  Frames(0.6);
  searches_->Run();
  EXPECT_NEAR(outputs[1].startedAt, before + 0.6 * kRate, kRate / 30.0);
}

TEST_F(ResumingAudioTest, PausedOrAtTheEndThePictureStandsAndNothingIsSearched) {
  Play();
  Frames(1.0, &outputs[0]);
  outputs[0].Lose();
  outputs[1].up = false;
  audio_->Stop();
  const int64_t stopped = Frames(2.0);
  EXPECT_EQ(Frames(2.0), stopped) << "a stopped stream ran on";

  // Played on to past the track's end (30 s) with no output: the picture
  // stands at the end, and no output is looked for to play nothing.
  audio_->ChannelPlay(kStream, false);
  Frames(40.0);
  EXPECT_EQ(last_, 30 * kRate);
  searches_->Run();
  outputs[1].up = true;
  Frames(1.0);
  EXPECT_FALSE(searches_->Pending());
  EXPECT_EQ(outputs[1].streams, 0);
  EXPECT_TRUE(audio_->Free());
  EXPECT_EQ(outputs[0].playing + outputs[1].playing, 0);
}

}  // namespace
