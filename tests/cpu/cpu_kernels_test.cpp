// Every fast CPU path against the reference renderer, whole frames, byte for byte.
#include "cpu/render_frame_cpu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cpu/flame_march.h"
#include "tests/cpu/test_settings.h"
#include "tests/support/test_mattes.h"

namespace {

constexpr CpuKernel kFastKernels[] = {CpuKernel::scalar, CpuKernel::avx2, CpuKernel::avx512};

// A strong emitting band at the bottom and a fading, ageing trail above it.
EmitterMatte rampMatte(int width, int height) {
  return bandMatte(width, height, EmitterBand{2, 0.2f, 0.15f, 4, 0.8f, 0, 0});
}

// The test look with its colour channels moved `by` places along red, green, blue, tints
// included: the flames' brightest channel becomes green (1) or blue (2).
void rotateLook(FlameSettings& s, int by) {
  for (int i = 0; i < by; ++i) {
    for (float4* colour : {&s.color0, &s.color1, &s.color3}) {
      *colour = make_float4(colour->z, colour->x, colour->y, colour->w);
    }
    const float tintB = s.tintB;
    s.tintB = s.tintG;
    s.tintG = s.tintR;
    s.tintR = tintB;
  }
  fillIntegralBase(s);
}

// Emitting patches two to five cells wide between empty ones, so that the lanes of a vector
// mix pixels with and without flames.
EmitterMatte patchyMatte(int width, int height) {
  return makeMatte(width, height, [](int32_t x, int32_t y) {
    const bool emits = (x * 7 / 5 + y / 3) % 3 != 0;
    return emits ? MatteCell{0.3f + 0.1f * float(x % 5), float(y % 4)} : MatteCell{0.0f, 0.0f};
  });
}

// Full strength over the lower two thirds, nothing above.
EmitterMatte strongMatte(int width, int height) {
  return makeMatte(width, height, [&](int32_t, int32_t y) {
    return y >= height / 3 ? MatteCell{1.0f, 0.0f} : MatteCell{0.0f, 0.0f};
  });
}

// Density 2 and fully opaque inner colours: a step in the core adds more than half of the
// remaining opacity, so that the opacity rounds to exactly 1 after a few dozen such steps.
void opaqueLook(FlameSettings& s, float radius, float zoom) {
  s.density = 2.0f;
  s.color0.w = 1.0f;
  s.color1.w = 1.0f;
  s.radius = radius;
  s.zoom = zoom;
  fillIntegralBase(s);
}

std::vector<float4> render(CpuKernel kernel, const FlameSettings& settings,
                           const EmitterMatte& matte) {
  std::vector<float4> image;
  EXPECT_TRUE(renderFrameCpuWith(kernel, settings, nullptr, nullptr, matte, image));
  return image;
}

void expectSameBytes(const std::vector<float4>& expected, const std::vector<float4>& actual,
                     const std::string& what) {
  ASSERT_EQ(expected.size(), actual.size()) << what;
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(std::memcmp(&expected[i], &actual[i], sizeof(float4)), 0)
        << what << ": first difference at pixel " << i;
  }
}

TEST(CpuKernels, FramesMatchTheReferenceBitForBit) {
  struct Case {
    const char* name;
    uint32_t width, height, emitterMode;
    bool smooth;
    void (*adjust)(FlameSettings&);
    EmitterMatte (*matte)(int width, int height) = rampMatte;
  };
  const Case cases[] = {
      {"volume, one column", 1, 5, 0, true, nullptr},
      {"volume, 15 wide", 15, 4, 0, false, nullptr},
      {"volume, 17 wide, animated", 17, 4, 0, true, [](FlameSettings& s) { s.time = 7.75f; s.animX = 0.6f; }},
      {"volume, 33 wide, 128 steps", 33, 3, 0, true, [](FlameSettings& s) { s.steps = 128; }},
      {"volume, layer offset and smaller than the output", 33, 6, 0, true,
       [](FlameSettings& s) { s.originX = -5.0f; s.originY = -2.0f; s.frameWidth = 20.0f; s.frameHeight = 3.0f; }},
      {"volume, downsampled: layer aspect kept on a smaller frame", 17, 5, 0, false,
       [](FlameSettings& s) { s.frameWidth = 9.0f; s.frameHeight = 3.0f; s.aspect = 3.4f; s.zoom = 1.7f; }},
      {"volume, dense: the exponential on most samples", 16, 4, 0, true,
       [](FlameSettings& s) { s.density = 3.0f; s.amplitude = 3.0f; s.radius = 4.0f; }},
      {"layer alpha, one column", 1, 12, 1, true, nullptr},
      {"layer alpha, 15 wide", 15, 12, 1, false, nullptr},
      // A layer's alpha is its brightest channel, whichever that is.
      {"layer alpha, a green look", 15, 12, 1, false, [](FlameSettings& s) { rotateLook(s, 1); }},
      {"layer luma, a blue look", 17, 12, 2, true, [](FlameSettings& s) { rotateLook(s, 2); }},
      {"layer luma, 33 wide, zoomed and moved", 33, 12, 2, true,
       [](FlameSettings& s) { s.zoom = 0.7f; s.centerX = 0.3f; s.centerY = -0.4f; }},
      {"layer, offset origins and a smaller layer", 17, 12, 1, true,
       [](FlameSettings& s) { s.originX = -3.0f; s.originY = 2.0f; s.frameWidth = 12.0f; s.frameHeight = 9.0f; }},
      // Lattice indices from 3e7 to some 5e8, where floats are 2 to 64 apart and n + 57 rounds.
      {"volume, noise far out", 17, 3, 0, true, [](FlameSettings& s) { s.time = 1e4f; s.animY = 53.0f; }},
      // The layer's noise point far out along its shared y and z, where a step along z often
      // changes no float and the first octave's cell jumps when it does.
      {"layer, noise far out", 17, 12, 1, true, [](FlameSettings& s) { s.time = 1e4f; s.animZ = 53.0f; s.animY = -7.0f; }},
      // About 4 million cells: above the table's memory bound, so every corner is hashed.
      {"layer, frequency beyond the table", 17, 12, 1, true, [](FlameSettings& s) { s.frequency = 30.0f; }},
      // Windows beyond +-2e9: no table at all.
      {"volume, noise far beyond the windows' range", 17, 3, 0, true,
       [](FlameSettings& s) { s.time = 1e7f; s.animZ = 1000.0f; }},
      // A negative reach shrinks the last windows below one cell: no table, no overflow.
      {"layer, aspect below the clamp", 17, 12, 1, true,
       [](FlameSettings& s) { s.aspect = -5.45f; s.frequency = 1.0f; }},
      // Plain sampling skips the octaves that cannot move a sample out of the palette's clamps.
      {"volume, plain sampling, no noise", 17, 4, 0, false, [](FlameSettings& s) { s.amplitude = 0.0f; }},
      {"volume, plain sampling, strong noise", 17, 4, 0, false, [](FlameSettings& s) { s.amplitude = 40.0f; }},
      {"volume, plain sampling, noise amplitude below 0", 17, 4, 0, false,
       [](FlameSettings& s) { s.amplitude = -9.0f; s.radius = 2.0f; }},
      // Weak noise and an opaque outer colour: many samples lie just either side of the palette's
      // end, where a bound that is off by a little changes the colour.
      {"volume, plain sampling, samples around the palette's end", 17, 4, 0, false,
       [](FlameSettings& s) { s.amplitude = 0.05f; s.radius = 6.0f; s.density = 0.3f; s.color3.w = 1.0f; fillIntegralBase(s); }},
      // Rays graze the sphere: within a vector some lanes pass in and out of the palette's clamps
      // while their neighbours stay outside.
      {"volume, plain sampling, rays across the sphere's edge", 37, 9, 0, false,
       [](FlameSettings& s) { s.radius = 2.5f; s.amplitude = 1.0f; s.zoom = 1.6f; s.steps = 96; }},
      {"layer, plain sampling, patchy matte", 33, 12, 1, false, nullptr, patchyMatte},
      {"layer, patchy matte", 33, 12, 1, true, nullptr, patchyMatte},
      // Dense enough at Draft for every pixel of a vector to turn exactly opaque long before the
      // end of the march: looking into the sphere's core, or over a strongly emitting matte.
      {"volume, density 2, into the core", 17, 4, 0, true, [](FlameSettings& s) { opaqueLook(s, 10.0f, 3.0f); }},
      {"volume, plain sampling, density 2, into the core", 17, 4, 0, false,
       [](FlameSettings& s) { opaqueLook(s, 10.0f, 3.0f); }},
      {"volume, density 2, core and edge", 33, 5, 0, true, [](FlameSettings& s) { opaqueLook(s, 10.0f, 1.0f); }},
      {"layer, density 2, strong matte", 17, 12, 1, true, [](FlameSettings& s) { opaqueLook(s, s.radius, 1.0f); },
       strongMatte},
      {"layer, plain sampling, density 2, strong matte", 33, 12, 1, false,
       [](FlameSettings& s) { opaqueLook(s, s.radius, 1.0f); }, strongMatte},
  };
  for (const Case& c : cases) {
    FlameSettings s = testSettings(c.width, c.height, c.emitterMode, c.smooth);
    if (c.adjust != nullptr) {
      c.adjust(s);
    }
    const EmitterMatte matte =
        c.emitterMode != 0 ? c.matte(int(s.frameWidth), int(s.frameHeight)) : EmitterMatte{};
    const std::vector<float4> reference = render(CpuKernel::reference, s, matte);
    for (CpuKernel kernel : kFastKernels) {
      if (!cpuSupports(kernel)) {
        std::printf("[ SKIPPED  ] %s: this CPU has no %s\n", c.name, cpuKernelName(kernel));
        continue;
      }
      expectSameBytes(reference, render(kernel, s, matte), std::string(c.name) + ", " + cpuKernelName(kernel));
    }
  }
}

// A table whose windows miss part of the frame: those lanes hash their corners themselves while
// the others read the table, within one vector.
TEST(CpuKernels, CellsOutsideTheTableFallBackLaneByLane) {
  for (uint32_t mode : {0u, 1u}) {
    FlameSettings s = testSettings(33, 12, mode, true);
    assignHashWindows(s);
    int4 shifted[kHashOctaves];
    std::memcpy(shifted, s.hashWindows, sizeof shifted);
    for (int4& window : shifted) {
      window.x += window.z / 2;
    }
    const std::shared_ptr<const HashCornerTable> table = buildHashCornerTable(shifted);
    ASSERT_NE(table, nullptr);
    const EmitterMatte matte = mode != 0 ? rampMatte(33, 12) : EmitterMatte{};
    const std::vector<float4> reference = render(CpuKernel::reference, s, matte);
    for (CpuKernel kernel : kFastKernels) {
      if (!cpuSupports(kernel)) {
        continue;
      }
      std::vector<float4> image(reference.size());
      for (int row = 0; row < 12; ++row) {
        shadeRowWithTable(kernel, s, table.get(), viewOf(matte), row, image.data() + row * 33);
      }
      expectSameBytes(reference, image, std::string("mode ") + std::to_string(mode) + ", " + cpuKernelName(kernel));
    }
  }
}

TEST(CpuKernels, EnvironmentChoosesThePathAndNamesAWrongOne) {
  struct Case {
    const char* value;  // nullptr: unset
    CpuKernel expected;
    const char* said;  // on stderr; nullptr: nothing
  };
  const CpuKernel fastest = fastestCpuKernel();
  const bool avx512 = cpuSupports(CpuKernel::avx512);
  const Case cases[] = {
      {"reference", CpuKernel::reference, nullptr},
      {"scalar", CpuKernel::scalar, nullptr},
      {nullptr, fastest, nullptr},
      {"AVX2", fastest, "VORTELLINE_CPU_KERNEL=AVX2 is not reference, scalar, avx2 or avx512"},
      {"no such path", fastest, "VORTELLINE_CPU_KERNEL=no such path is not reference"},
      {"avx512", fastest, avx512 ? nullptr : "this processor cannot run avx512"},
  };
  for (const Case& c : cases) {
    if (c.value != nullptr) {
      setenv("VORTELLINE_CPU_KERNEL", c.value, 1);
    } else {
      unsetenv("VORTELLINE_CPU_KERNEL");
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(cpuKernelFromEnvironment(), c.expected) << (c.value ? c.value : "unset");
    // Said once, not on every frame.
    EXPECT_EQ(cpuKernelFromEnvironment(), c.expected);
    const std::string said = testing::internal::GetCapturedStderr();
    if (c.said == nullptr) {
      EXPECT_EQ(said, "") << (c.value ? c.value : "unset");
    } else {
      EXPECT_NE(said.find(c.said), std::string::npos) << said;
      EXPECT_NE(said.find(std::string("using ") + cpuKernelName(fastest)), std::string::npos) << said;
      EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    }
  }
  unsetenv("VORTELLINE_CPU_KERNEL");
  EXPECT_TRUE(cpuSupports(fastest));
}

}  // namespace
