#include "cpu/noise_hash_table.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "cpu/noise_hash.h"
#include "tests/cpu/test_settings.h"

namespace {

FlameSettings centredVolume() {
  FlameSettings s = testSettings(32, 16, 0, false);
  s.time = 0.0f;
  s.camera = 4.0f;
  s.frequency = 1.0f;
  s.stepSize = 0.5f;
  return s;
}

TEST(HashWindows, FirstWindowAroundTheCentre) {
  struct Case {
    const char* name;
    FlameSettings settings;
    int32_t first;
    int32_t count;
  };
  FlameSettings layer = testSettings(32, 16, 1, false);
  layer.aspect = 2.0f;
  layer.frequency = 1.0f;
  layer.time = 2.0f;
  layer.animX = 1.0f;
  layer.animY = 0.5f;
  layer.animZ = 0.0f;
  layer.riseSpeed = 1.5f;
  const Case cases[] = {
      // Centre (0, 0, -4): o = -452, t = sqrt(16019) * 6 + 512 + 0.00452 = 1271.4012...
      {"volume, o = -452", centredVolume(), -1724, 2716},
      // Centre (2, 2, 0): o = 116; R = (4 * 8 + 3) + 24 = 59, t = 7979.4289...
      {"layer, rise above noise direction", layer, -7864, 16132},
  };
  for (const Case& c : cases) {
    FlameSettings s = c.settings;
    assignHashWindows(s);
    EXPECT_EQ(s.hashWindows[0].x, c.first) << c.name;
    EXPECT_EQ(s.hashWindows[0].y, 0) << c.name;
    EXPECT_EQ(s.hashWindows[0].z, c.count) << c.name;
  }
}

TEST(HashWindows, PackedInOctaveOrder) {
  FlameSettings s = centredVolume();
  for (int4& window : s.hashWindows) window.w = 7;
  assignHashWindows(s);
  for (int k = 1; k < kHashOctaves; ++k) {
    EXPECT_EQ(s.hashWindows[k].y, s.hashWindows[k - 1].y + s.hashWindows[k - 1].z) << k;
    EXPECT_EQ(s.hashWindows[k].w, 7) << "lane w is not ours";
  }
  EXPECT_EQ(hashTableSize(s.hashWindows), size_t(s.hashWindows[3].y + s.hashWindows[3].z));
}

TEST(HashWindows, RangeFailures) {
  struct Case {
    const char* name;
    float time, animX, frequency;
    const char* message;
  };
  const Case cases[] = {
      {"centre beyond two billion", 3.0e6f, 1000.0f, 1.0f, "Noise coordinates exceed supported range"},
      {"one window wider than 16 million", 0.0f, 0.0f, 12000.0f,
       "Noise coordinates exceed supported range"},
      {"each window fits, together too many", 0.0f, 0.0f, 900.0f,
       "Noise hash table exceeds supported range"},
  };
  for (const Case& c : cases) {
    FlameSettings s = centredVolume();
    s.time = c.time;
    s.animX = c.animX;
    s.frequency = c.frequency;
    try {
      assignHashWindows(s);
      ADD_FAILURE() << c.name << ": no failure";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.name;
    }
    // The bounds themselves are plain arithmetic and never fail.
    EXPECT_NO_THROW(hashWindowBounds(s)) << c.name;
  }
  // A negative reach (settings no host can validate into) narrows the outer windows below a cell.
  FlameSettings volume = centredVolume();
  volume.frequency = -3.0f;
  FlameSettings layer = testSettings(32, 16, 1, false);
  layer.aspect = -5.45f;
  layer.frequency = 1.0f;
  for (FlameSettings s : {volume, layer}) {
    EXPECT_THROW(assignHashWindows(s), std::runtime_error) << s.emitterMode;
  }
}

TEST(HashTableValues, OverlappingWindowsEachHoldTheirOwnValues) {
  // Camera 0 and time 0 centre every octave on index 0, so all four windows share indices.
  FlameSettings s = centredVolume();
  s.camera = 0.0f;
  assignHashWindows(s);
  const std::vector<float> values = hashTableValues(s.hashWindows);
  ASSERT_EQ(values.size(), hashTableSize(s.hashWindows));
  for (const int4& window : s.hashWindows) {
    ASSERT_LE(window.x, -1) << "window must hold indices -1 and 1";
    const size_t at = size_t(window.y - window.x);
    EXPECT_EQ(values[at + 1], 0.546875f);
    EXPECT_EQ(values[at - 1], 0.453125f);
    EXPECT_EQ(values[at + 171], noiseHash(171.0f));
    EXPECT_EQ(values[size_t(window.y + window.z - 1)], noiseHash(float(window.x + window.z - 1)));
  }
}

}  // namespace
