// Movie files through FFmpeg's libraries: one video stream, frames in order from time 0, each one
// frame long in a time base that is exactly 1/fps, colour tagged BT.709, and alpha (where the
// codec keeps it) written from the effect's own alpha, with colour straight (not premultiplied).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/effect_sdk.h"

enum class MovieContainer { mov, mkv, webm, mp4 };

// The container a file's extension names (.mov, .mkv, .webm, .mp4; any case), or none.
std::optional<MovieContainer> movieContainerForPath(const std::string& path);

struct MovieCodecChoice {
  std::string codec;           // an FFmpeg encoder name; empty: the container's default
  std::optional<int> quality;  // the encoder's one quality knob; none: its default here
};

// The encoder the choice names for the container, checked: an unknown encoder, one the container
// does not take, or a quality the encoder has no knob for is a UsageError that lists what fits.
std::string chooseMovieCodec(MovieContainer container, const MovieCodecChoice& choice);

// The installed encoders that the container takes and whose pixels we can write, its default first.
std::vector<std::string> movieCodecsFor(MovieContainer container);

// The values MovieCodecChoice::quality takes for an encoder, best first; none for an encoder
// without a quality knob.
struct MovieQualityRange {
  int best = 0;
  int worst = 0;
};
std::optional<MovieQualityRange> movieQualityRange(const std::string& codec);

// What the frames look like and how fast they play.
struct MovieFrames {
  int width = 0;
  int height = 0;
  int bitDepth = 8;  // of the host worlds handed in: 8, 16 or 32
  PF_RationalScale framesPerSecond{24, 1};
};

// One movie being written: under a temporary name beside the file, renamed to it by finish(), so
// the file appears complete or not at all. Destroyed unfinished (a failed or cancelled render, a
// full disk), it removes the temporary file.
class MovieFile {
 public:
  // Opens the encoder and the temporary file. Throws UsageError (a codec that does not fit, a
  // size the codec cannot take) or RunError naming the file.
  MovieFile(const std::string& path, MovieContainer container, const MovieCodecChoice& choice,
            const MovieFrames& frames);
  ~MovieFile();
  MovieFile(const MovieFile&) = delete;
  MovieFile& operator=(const MovieFile&) = delete;

  // Encodes the next frame, a world of the size and depth given at opening. Throws RunError.
  void addFrame(const PF_EffectWorld& world);
  // Sends what the encoder holds, writes the trailer, and renames. Throws RunError.
  void finish();
  // Whether the movie keeps alpha, as a frame written and read back through the same encoder and
  // container shows; without it the frames are written over black.
  bool keepsAlpha() const;

  struct Encoder;

 private:
  std::unique_ptr<Encoder> encoder_;
  bool keepsAlpha_ = false;
};
