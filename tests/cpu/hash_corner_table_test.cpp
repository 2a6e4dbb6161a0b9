#include "cpu/hash_corner_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "cpu/noise_hash.h"
#include "tests/cpu/test_settings.h"

namespace {

// Windows placed by hand: near 0, across the float spacing of 2 beyond 2^24 and of 128 near 2^31.
TEST(HashCornerTable, TuplesHoldTheEdgeHashesAndRisesAsTheNoiseFormsThem) {
  const int4 windows[kHashOctaves] = {
      {-700, 0, 1200, 0}, {16777000, 1200, 1300, 0}, {1999990000, 2500, 1400, 0}, {-2000000000, 3900, 1196, 0}};
  const std::shared_ptr<const HashCornerTable> table = buildHashCornerTable(windows);
  ASSERT_NE(table, nullptr);
  for (int k = 0; k < kHashOctaves; ++k) {
    const HashCornerOctave& octave = table->octaves[k];
    const int32_t lastCell = windows[k].x + windows[k].z - 1 - kCornerOffsets[kCellCorners - 1];
    EXPECT_GE(double(octave.lowestCell), double(windows[k].x)) << k;
    EXPECT_LE(double(octave.highestCell), double(lastCell)) << k;
    EXPECT_GT(double(std::nextafter(octave.highestCell, INFINITY)), double(lastCell)) << k;
    // Every float cell index the octave accepts: the integers among the floats, as floor gives.
    for (float n = octave.lowestCell; n <= octave.highestCell;
         n = std::fabs(n) < 16777216.0f ? n + 1.0f : std::nextafter(n, INFINITY)) {
      const float* tuple = octave.corners + size_t(int32_t(n) - octave.firstCell) * kCellCorners;
      for (int edge = 0; edge < kCellCorners; edge += 2) {
        const float start = noiseHash(n + float(kCornerOffsets[edge]));
        const float end = noiseHash(n + float(kCornerOffsets[edge + 1]));
        ASSERT_EQ(tuple[edge], start) << k << ": " << n << " + " << edge;
        ASSERT_EQ(tuple[edge + 1], end - start) << k << ": " << n << " + " << edge;
      }
    }
    EXPECT_EQ(reinterpret_cast<uintptr_t>(octave.corners) % 32, 0u) << k;
  }
}

TEST(HashCornerTable, KeptWhileTheWindowsStayAndBoundedInSize) {
  FlameSettings s = testSettings(16, 8, 0, true);
  const std::shared_ptr<const HashCornerTable> first = hashCornerTableFor(s);
  ASSERT_NE(first, nullptr);
  s.density = 2.0f;  // no effect on the windows
  EXPECT_EQ(hashCornerTableFor(s), first);
  s.time = 30.0f;  // the noise drifts away
  const std::shared_ptr<const HashCornerTable> moved = hashCornerTableFor(s);
  ASSERT_NE(moved, nullptr);
  EXPECT_NE(moved, first);
  EXPECT_NE(moved->windows[0].x, first->windows[0].x);
  // Windows within their limits whose tuples would take about 130 MB.
  FlameSettings layer = testSettings(16, 8, 1, true);
  layer.frequency = 30.0f;
  EXPECT_EQ(hashCornerTableFor(layer), nullptr);
}

// Only windows as assignHashWindows packs them: the tables index them without further checks.
TEST(HashCornerTable, RefusesWindowsTheTablesCannotHold) {
  struct Case {
    const char* name;
    int4 windows[kHashOctaves];
  };
  const Case cases[] = {
      {"last window narrower than a cell", {{0, 0, 1196, 0}, {0, 1196, 1196, 0}, {0, 2392, 1196, 0}, {0, 3588, 100, 0}}},
      {"one index short of a cell", {{0, 0, 171, 0}, {0, 171, 1196, 0}, {0, 1367, 1196, 0}, {0, 2563, 1196, 0}}},
      {"negative count", {{0, 0, 1196, 0}, {0, 1196, -5, 0}, {0, 1191, 1196, 0}, {0, 2387, 1196, 0}}},
      {"offsets not packed", {{0, 0, 1196, 0}, {0, 1000, 1196, 0}, {0, 2392, 1196, 0}, {0, 3588, 1196, 0}}},
      {"first offset not 0", {{0, 8, 1196, 0}, {0, 1204, 1196, 0}, {0, 2400, 1196, 0}, {0, 3596, 1196, 0}}},
      {"indices past int32", {{2147483000, 0, 1196, 0}, {0, 1196, 1196, 0}, {0, 2392, 1196, 0}, {0, 3588, 1196, 0}}},
      {"wider than 16 million", {{0, 0, 16000002, 0}, {0, 16000002, 1196, 0}, {0, 16001198, 1196, 0}, {0, 16002394, 1196, 0}}},
  };
  for (const Case& c : cases) {
    EXPECT_THROW(buildHashCornerTable(c.windows), std::invalid_argument) << c.name;
    EXPECT_THROW(hashTableValues(c.windows), std::invalid_argument) << c.name;
  }
  const int4 smallest[kHashOctaves] = {{0, 0, 172, 0}, {0, 172, 172, 0}, {0, 344, 172, 0}, {0, 516, 172, 0}};
  const std::shared_ptr<const HashCornerTable> table = buildHashCornerTable(smallest);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->octaves[3].lowestCell, table->octaves[3].highestCell);
}

}  // namespace
