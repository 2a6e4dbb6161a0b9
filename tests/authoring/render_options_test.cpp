// Option values that need more than a number, and output names of frame sequences.
#include <gtest/gtest.h>

#include <algorithm>

#include "authoring/render_options.h"
#include "media/frame_output.h"
#include "session/program_errors.h"

namespace {

TEST(RenderOptions, RatesBecomeExactReducedFractions) {
  struct Case {
    const char* text;
    A_long numerator;
    A_u_long denominator;
  };
  const Case cases[] = {{"24", 24, 1},        {"23.976", 2997, 125}, {"30000/1001", 30000, 1001},
                        {"29.97", 2997, 100}, {"0.9", 9, 10},        {"10/11", 10, 11},
                        {"48/2", 24, 1},      {"1.", 1, 1}};
  for (const Case& test : cases) {
    PF_RationalScale rate = parseRate(test.text, "--fps", "24");
    EXPECT_EQ(rate.num, test.numerator) << test.text;
    EXPECT_EQ(rate.den, test.denominator) << test.text;
  }
  for (const char* bad : {"0", "-24", "", "abc", "24fps", "1/0", "1.5/2", "99999999999", "1e3", "nan", "."}) {
    EXPECT_THROW(parseRate(bad, "--fps", "24"), UsageError) << bad;
  }
}

TEST(RenderOptions, SizesAndFrameRanges) {
  FrameSize size = parseFrameSize("640x360");
  EXPECT_EQ(size.width, 640);
  EXPECT_EQ(size.height, 360);
  EXPECT_EQ(parseFrameSize("32X18").width, 32);
  EXPECT_EQ(parseFrameSize("16384x16384").height, 16384);
  for (const char* bad :
       {"640", "x360", "640x", "0x10", "10x0", "-5x5", "640x360x2", "16385x10", "10x16385", "1e3x5"}) {
    EXPECT_THROW(parseFrameSize(bad), UsageError) << bad;
  }

  struct FramesCase {
    const char* text;
    std::vector<long> frames;
  };
  const FramesCase lists[] = {
      {"7", {7}},
      {"3-6", {3, 4, 5, 6}},
      {"0-10:4", {0, 4, 8}},
      {"0-10:20", {0}},
      {"5-5:2", {5}},
      {"0-2,20,30-31", {0, 1, 2, 20, 30, 31}},
      {"30-31,0-4:2,2", {0, 2, 4, 30, 31}},  // any order, repeats once
  };
  for (const FramesCase& test : lists) {
    EXPECT_EQ(parseFrameList(test.text), test.frames) << test.text;
  }
  for (const char* bad : {"5-2", "-3", "1-", "a-b", "1-2-3", "", "1,", ",1", "0-4:0", "0-4:", "4:2", "0-4:2:1",
                          "1 ,2", "0-999999999"}) {
    EXPECT_THROW(parseFrameList(bad), UsageError) << bad;
  }
}

TEST(RenderOptions, TasksAreIndexOverCountFromZero) {
  FrameTask task = parseFrameTask("3/4");
  EXPECT_EQ(task.index, 3);
  EXPECT_EQ(task.count, 4);
  EXPECT_EQ(parseFrameTask("0/1").count, 1);
  for (const char* bad : {"4/4", "5/4", "0/0", "-1/4", "1/-4", "/", "/4", "1/", "1", "1/2/3", "1.0/2", "+1/2", " 1/2",
                          "1/2 ", "a/b", "1234567890/1234567891", ""}) {
    EXPECT_THROW(parseFrameTask(bad), UsageError) << bad;
  }
}

TEST(RenderOptions, TaskSharesCoverTheSequenceOnceInOrderAndNearlyEqually) {
  struct Case {
    FrameRange sequence;
    long count;
  };
  const Case cases[] = {{{0, 47}, 4}, {{0, 47}, 5}, {{3, 10}, 3},   {{7, 7}, 1},
                        {{7, 7}, 3},  {{0, 4}, 8},  {{0, 0}, 2},    {{100, 199}, 7}};
  for (const Case& test : cases) {
    long next = test.sequence.first;
    long shortest = test.sequence.last - test.sequence.first + 1;
    long longest = 0;
    for (long index = 0; index < test.count; ++index) {
      FrameRange share = taskFrames(test.sequence, FrameTask{index, test.count});
      long length = share.last - share.first + 1;
      ASSERT_GE(length, 0);
      EXPECT_EQ(share.first, next) << "task " << index << "/" << test.count << " leaves a gap or overlaps";
      next = share.last + 1;
      shortest = std::min(shortest, length);
      longest = std::max(longest, length);
    }
    EXPECT_EQ(next, test.sequence.last + 1) << test.count << " tasks miss the end";
    EXPECT_LE(longest - shortest, 1) << test.count << " tasks";
  }
  // The longer shares come first: 50 frames in 4 tasks are 13, 13, 12, 12.
  FrameRange third = taskFrames(FrameRange{0, 49}, FrameTask{2, 4});
  EXPECT_EQ(third.first, 26);
  EXPECT_EQ(third.last, 37);
  // The largest numbers the options take do not overflow.
  FrameRange largest = taskFrames(FrameRange{0, 999999998}, FrameTask{999999998, 999999999});
  EXPECT_EQ(largest.first, 999999998);
  EXPECT_EQ(largest.last, 999999998);
}

TEST(RenderOptions, HashRunsAndPrintfConversionsBecomePaddedFrameNumbers) {
  struct Case {
    const char* pattern;
    long frame;
    const char* name;
  };
  const Case cases[] = {
      {"out/flames_####.png", 7, "out/flames_0007.png"}, {"f#.exr", 7, "f7.exr"},
      {"f##.png", 123, "f123.png"},                      {"a##/b###.png", 4, "a04/b004.png"},
      {"still.png", 3, "still.png"},
      {"f_%04d.png", 7, "f_0007.png"},                   {"f_%d.png", 42, "f_42.png"},
      {"f_%3d.png", 7, "f_007.png"},                     {"f_%02d.png", 123, "f_123.png"},
      {"100%%_%d.png", 5, "100%_5.png"},                 {"50%.png", 5, "50%.png"},
      {"%%d.png", 5, "%d.png"},                          {"f_%x.png", 5, "f_%x.png"},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(expandFramePattern(test.pattern, test.frame), test.name) << test.pattern;
  }
  EXPECT_TRUE(patternNamesFrames("x_#.png"));
  EXPECT_TRUE(patternNamesFrames("x_%04d.png"));
  EXPECT_FALSE(patternNamesFrames("x.png"));
  EXPECT_FALSE(patternNamesFrames("100%%d.png"));
  EXPECT_FALSE(patternNamesFrames("50%.png"));
}

}  // namespace
