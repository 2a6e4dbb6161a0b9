#include "authoring/render_options.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <numeric>

#include "session/host_pixels.h"
#include "session/program_errors.h"

namespace {

// Digits only, no sign, no more than fit: frame numbers and sizes.
bool parseCount(const std::string& text, long& value) {
  if (text.empty() || text.size() > 9) {
    return false;
  }
  value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      return false;
    }
    value = value * 10 + (c - '0');
  }
  return true;
}

// "23.976" as 23976 / 1000, in 64 bits so that long inputs fail instead of wrapping.
bool parseDecimal(const std::string& text, uint64_t& numerator, uint64_t& denominator) {
  numerator = 0;
  denominator = 1;
  bool digits = false;
  bool point = false;
  for (char c : text) {
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!std::isdigit(static_cast<unsigned char>(c)) || numerator > UINT32_MAX || denominator > UINT32_MAX) {
      return false;
    }
    numerator = numerator * 10 + static_cast<uint64_t>(c - '0');
    denominator *= point ? 10 : 1;
    digits = true;
  }
  return digits;
}

// "12", "0-47" or "0-100:5".
bool parseFrameItem(const std::string& item, FrameRange& range, long& step) {
  const size_t dash = item.find('-');
  if (dash == std::string::npos) {
    bool valid = parseCount(item, range.first);
    range.last = range.first;
    return valid;
  }
  std::string last = item.substr(dash + 1);
  const size_t colon = last.find(':');
  if (colon != std::string::npos) {
    if (!parseCount(last.substr(colon + 1), step) || step == 0) {
      return false;
    }
    last.resize(colon);
  }
  return parseCount(item.substr(0, dash), range.first) && parseCount(last, range.last) && range.first <= range.last;
}

}  // namespace

FrameSize parseFrameSize(const std::string& text) {
  size_t x = text.find_first_of("xX");
  long width = 0;
  long height = 0;
  if (x == std::string::npos || !parseCount(text.substr(0, x), width) || !parseCount(text.substr(x + 1), height) ||
      width < 1 || height < 1) {
    throw UsageError("--size needs WIDTHxHEIGHT in pixels, such as 1920x1080, got " + quoted(text));
  }
  if (width > largestLayerSide || height > largestLayerSide) {
    throw UsageError("--size " + quoted(text) + " is larger than the effect renders: up to " +
                     std::to_string(largestLayerSide) + " pixels per side");
  }
  return FrameSize{static_cast<int>(width), static_cast<int>(height)};
}

std::vector<long> parseFrameList(const std::string& text) {
  const std::string usage = "frames are FIRST-LAST with FIRST <= LAST, FIRST-LAST:STEP, single frames, or a list "
                            "of them, such as 0-47, 0-100:5 or 0-10,20,30-40, got " + quoted(text);
  std::vector<long> frames;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    FrameRange range;
    long step = 1;
    if (!parseFrameItem(item, range, step)) {
      throw UsageError(usage);
    }
    if ((range.last - range.first) / step + 1 > maxFramesPerRun - static_cast<long>(frames.size())) {
      throw UsageError("frames " + text + " are more than one run renders (" + std::to_string(maxFramesPerRun) +
                       "); split them into several runs");
    }
    for (long frame = range.first; frame <= range.last; frame += step) {
      frames.push_back(frame);
    }
    if (comma == std::string::npos) {
      break;
    }
    start = comma + 1;
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  return frames;
}

FrameTask parseFrameTask(const std::string& text) {
  size_t slash = text.find('/');
  FrameTask task;
  if (slash == std::string::npos || !parseCount(text.substr(0, slash), task.index) ||
      !parseCount(text.substr(slash + 1), task.count)) {
    throw UsageError("--task needs INDEX/COUNT with INDEX counting from 0, such as 0/4 or "
                     "$SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT, got " + quoted(text));
  }
  if (task.count == 0) {
    throw UsageError("--task " + text + " splits the frames into no tasks: COUNT must be at least 1");
  }
  if (task.index >= task.count) {
    throw UsageError("--task " + text + ": INDEX counts from 0, so it must be less than COUNT (" +
                     std::to_string(task.count) + ")");
  }
  return task;
}

std::string parseChoice(const std::string& option, const std::string& text, const std::vector<std::string>& choices) {
  for (const std::string& choice : choices) {
    if (lowercase(text) == choice) {
      return choice;
    }
  }
  std::string listed;
  for (size_t i = 0; i < choices.size(); ++i) {
    listed += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i];
  }
  throw UsageError(option + " takes " + listed + ", got " + quoted(text) + didYouMean(text, choices, ""));
}

LoopSettings parseLoop(const std::string& length, const std::string& fade, const FrameClock& clock) {
  LoopSettings loop;
  if (!parseCount(length, loop.length) || loop.length < 2 || loop.length > maxFramesPerRun) {
    throw UsageError("--loop needs the loop's length in frames, 2 or more, such as 120, got " + quoted(length));
  }
  if (fade.empty()) {
    loop.fadeFrames = defaultLoopFade(loop.length, clock);
  } else if (!parseCount(fade, loop.fadeFrames) || loop.fadeFrames < 1 || loop.fadeFrames >= loop.length) {
    throw UsageError("--loop-fade needs a number of frames from 1 to " + std::to_string(loop.length - 1) +
                     " (less than --loop), got " + quoted(fade));
  }
  return loop;
}

FrameRange taskFrames(FrameRange sequence, FrameTask task) {
  long frames = sequence.last - sequence.first + 1;
  long shortShare = frames / task.count;
  long longShares = frames % task.count;
  FrameRange share;
  share.first = sequence.first + task.index * shortShare + std::min(task.index, longShares);
  share.last = share.first + shortShare + (task.index < longShares ? 1 : 0) - 1;
  return share;
}

PF_RationalScale parseRate(const std::string& text, const std::string& what, const std::string& examples) {
  uint64_t numerator = 0;
  uint64_t denominator = 1;
  size_t slash = text.find('/');
  bool valid = false;
  if (slash == std::string::npos) {
    valid = parseDecimal(text, numerator, denominator);
  } else {
    uint64_t top = 0, topScale = 1, bottom = 0, bottomScale = 1;
    valid = parseDecimal(text.substr(0, slash), top, topScale) &&
            parseDecimal(text.substr(slash + 1), bottom, bottomScale) && topScale == 1 && bottomScale == 1;
    numerator = top;
    denominator = bottom;
  }
  if (valid && numerator > 0 && denominator > 0) {
    uint64_t common = std::gcd(numerator, denominator);
    numerator /= common;
    denominator /= common;
    if (numerator <= INT32_MAX && denominator <= INT32_MAX) {
      return PF_RationalScale{static_cast<A_long>(numerator), static_cast<A_u_long>(denominator)};
    }
  }
  throw UsageError(what + " needs a positive number or fraction, such as " + examples + ", got " + quoted(text));
}
