#include "cpu/parallel_rows.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cpu/flame_march.h"
#include "tests/cpu/test_settings.h"
#include "tests/support/test_mattes.h"

namespace {

// Records which thread ran each index. With holdFrom set, the first job for an index of at least
// holdFrom waits until an index of at least holdFrom has run on another thread, which proves the
// loop over those indices is shared.
struct IndexRecorder {
  explicit IndexRecorder(int n) : threadOf(n), runs(n, 0) {}

  void record(int i) {
    std::unique_lock<std::mutex> lock(mutex);
    threadOf[i] = std::this_thread::get_id();
    runs[i] += 1;
    order.push_back(i);
    if (holdFrom >= 0 && i >= holdFrom && !held) {
      held = true;
      const std::thread::id self = std::this_thread::get_id();
      // The timeout only keeps a broken loop from hanging the suite; the result is what counts.
      sawOtherThread = changed.wait_for(lock, std::chrono::seconds(20), [&] {
        for (int j : order) {
          if (j >= holdFrom && threadOf[j] != self) {
            return true;
          }
        }
        return false;
      });
    }
    changed.notify_all();
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::thread::id> threadOf;
  std::vector<int> runs;
  std::vector<int> order;
  int holdFrom = -1;
  bool held = false;
  bool sawOtherThread = false;
};

TEST(ParallelFor, RunsEveryIndexOnce) {
  const int sizes[] = {-3, 0, 1, 15, 16, 17, 24, 101};
  const unsigned threadCounts[] = {0, 1, 2, 6, 64};
  for (int n : sizes) {
    for (unsigned threads : threadCounts) {
      IndexRecorder recorder(n > 0 ? n : 0);
      parallelFor(n, [&](int i) { recorder.record(i); }, threads);
      for (int runs : recorder.runs) {
        ASSERT_EQ(runs, 1) << "n " << n << ", threads " << threads;
      }
    }
  }
}

TEST(ParallelFor, SmallCountsAndSingleThreadsStayOnTheCallerInOrder) {
  struct Case {
    int n;
    unsigned threads;
  };
  // Below 16 indices nothing is threaded; with 0 or 1 hardware threads the chunked loop runs on
  // the caller alone, chunk after chunk.
  const Case cases[] = {{15, 6}, {1, 6}, {16, 0}, {40, 1}};
  for (const Case& c : cases) {
    IndexRecorder recorder(c.n);
    parallelFor(c.n, [&](int i) { recorder.record(i); }, c.threads);
    for (int i = 0; i < c.n; ++i) {
      EXPECT_EQ(recorder.order[i], i) << c.n;
      EXPECT_EQ(recorder.threadOf[i], std::this_thread::get_id()) << c.n;
    }
  }
}

TEST(ParallelFor, SixteenIndicesAreShared) {
  IndexRecorder recorder(16);
  recorder.holdFrom = 0;
  parallelFor(16, [&](int i) { recorder.record(i); }, 2);
  EXPECT_TRUE(recorder.sawOtherThread);
}

// With the address space capped a few megabytes above what the process uses, no worker thread
// can map its stack. Runs in a forked child so the cap does not reach the other tests.
void runWithoutRoomForThreads() {
  long pages = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) {
    std::_Exit(2);
  }
  std::fclose(statm);
  const rlim_t limit = rlim_t(pages) * 4096 + (4u << 20);
  const rlimit cap{limit, limit};
  if (setrlimit(RLIMIT_AS, &cap) != 0) {
    std::_Exit(3);
  }
  int runs[16] = {};
  try {
    parallelFor(16, [&](int i) { runs[i] += 1; }, 6);
  } catch (const std::system_error& error) {
    for (int count : runs) {
      if (count != 1) {
        std::_Exit(4);
      }
    }
    if (error.code() != std::errc::resource_unavailable_try_again) {
      std::_Exit(5);
    }
    // The same words on every platform, whatever the C++ library calls the condition.
    std::_Exit(std::string(error.what()) == "resource unavailable try again" ? 0 : 7);
  }
  std::_Exit(6);
}

TEST(ParallelForDeathTest, ThreadStartFailureFinishesEveryIndexThenReportsIt) {
  EXPECT_EXIT(runWithoutRoomForThreads(), testing::ExitedWithCode(0), "");
}

// Allocations on the thread that sets it succeed this many more times, then fail; -1 never fails.
thread_local int allocationsBeforeFailure = -1;

}  // namespace

// Fails allocations on demand, to fail a thread's start where it allocates. Delete is replaced
// with it so the pair always matches; out of line so the compiler does not mispair them.
[[gnu::noinline]] void* operator new(std::size_t size) {
  if (allocationsBeforeFailure == 0) {
    throw std::bad_alloc();
  }
  if (allocationsBeforeFailure > 0) {
    --allocationsBeforeFailure;
  }
  if (void* memory = std::malloc(size != 0 ? size : 1)) {
    return memory;
  }
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

struct JobFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

TEST(ParallelFor, AJobsFailureReachesTheCaller) {
  struct Case {
    int n;
    int failingIndex;
    unsigned threads;
  };
  // Inline, on the caller alone, and with workers, where the failing chunk may run on any thread.
  const Case cases[] = {{10, 3, 6}, {40, 0, 1}, {40, 39, 2}, {101, 50, 6}, {16, 15, 6}};
  for (const Case& c : cases) {
    try {
      parallelFor(c.n, [&](int i) {
        if (i == c.failingIndex) throw JobFailure("row " + std::to_string(i));
      }, c.threads);
      ADD_FAILURE() << "no failure for n " << c.n;
    } catch (const JobFailure& failure) {
      EXPECT_EQ(std::string(failure.what()), "row " + std::to_string(c.failingIndex));
    }
  }
}

// The first worker starts, the second cannot allocate its start-up record.
void failTheSecondThreadStart() {
  std::atomic<int> runs{0};
  allocationsBeforeFailure = 2;  // the worker list, then the first worker
  try {
    parallelFor(40, [&](int) { runs += 1; }, 6);
  } catch (const std::bad_alloc&) {
    allocationsBeforeFailure = -1;
    std::_Exit(runs == 40 ? 0 : 4);
  }
  std::_Exit(6);
}

TEST(ParallelForDeathTest, AllocationFailureAtThreadStartReachesTheCaller) {
  EXPECT_EXIT(failTheSecondThreadStart(), testing::ExitedWithCode(0), "");
}

TEST(RenderRowBands, BandsOfTwentyFourWithAbortChecksBetween) {
  struct Case {
    uint32_t height;
    int abortChecks;
    bool lastBandInline;
  };
  const Case cases[] = {{40, 3, false}, {39, 3, true}, {24, 2, false}, {0, 1, true}};
  for (const Case& c : cases) {
    IndexRecorder recorder(int(c.height));
    if (!c.lastBandInline) {
      recorder.holdFrom = 24;
    }
    int checks = 0;
    auto countCheck = [](void* context) {
      ++*static_cast<int*>(context);
      return false;
    };
    EXPECT_TRUE(renderRowBands(c.height, countCheck, &checks,
                               [&](int row) { recorder.record(row); }, 2));
    EXPECT_EQ(checks, c.abortChecks) << c.height;
    for (int runs : recorder.runs) {
      EXPECT_EQ(runs, 1) << c.height;
    }
    if (c.height > 24) {
      const int lastBand = 24;
      if (c.lastBandInline) {
        // Inline rows run in order on the caller, after the whole first band.
        for (int row = lastBand; row < int(c.height); ++row) {
          EXPECT_EQ(recorder.order[row], row);
          EXPECT_EQ(recorder.threadOf[row], std::this_thread::get_id());
        }
      } else {
        EXPECT_TRUE(recorder.sawOtherThread) << c.height;
      }
    }
  }
}

TEST(RenderRowBands, StopsAtTheNextBandBoundary) {
  int checks = 0;
  auto stopOnSecondCheck = [](void* context) { return ++*static_cast<int*>(context) == 2; };
  std::vector<int> runs(60, 0);
  EXPECT_FALSE(renderRowBands(60, stopOnSecondCheck, &checks, [&](int row) { runs[row] += 1; }, 2));
  for (int row = 0; row < 60; ++row) {
    EXPECT_EQ(runs[row], row < 24 ? 1 : 0) << row;
  }
}

uint64_t fnv1a(const std::vector<float4>& image) {
  uint64_t hash = 14695981039346656037ull;
  for (const float4& p : image) {
    const float channels[4] = {p.x, p.y, p.z, p.w};
    for (float channel : channels) {
      uint32_t bits;
      std::memcpy(&bits, &channel, sizeof bits);
      for (int byte = 0; byte < 4; ++byte) {
        hash ^= (bits >> (8 * byte)) & 0xffu;
        hash *= 1099511628211ull;
      }
    }
  }
  return hash;
}

// Bottom rows emit strongly, with a fading trail above; enough structure to exercise both the
// matte blending and the flicker.
EmitterMatte testMatte(int width, int height) {
  return bandMatte(width, height, EmitterBand{3, 0.3f, 0.1f, 5, 0.9f, 1, 2});
}

TEST(RenderFrameCpu, PinnedFrames) {
  struct Case {
    uint32_t emitterMode;
    bool smooth;
    uint64_t checksum;
  };
  const Case cases[] = {
      {0, false, 0xfcc3f5bbf356a915ull},
      {0, true, 0x54a11a0292c2cc0dull},
      {1, false, 0xc408d9c36b961d2aull},
      {1, true, 0x1ae7289e684eb09eull},
  };
  for (const Case& c : cases) {
    const FlameSettings s = testSettings(24, 16, c.emitterMode, c.smooth);
    const EmitterMatte matte = c.emitterMode != 0 ? testMatte(24, 16) : EmitterMatte{};
    std::vector<float4> image;
    ASSERT_TRUE(renderFrameCpu(s, nullptr, nullptr, matte, image));
    ASSERT_EQ(image.size(), 24u * 16u);
    EXPECT_EQ(fnv1a(image), c.checksum)
        << "mode " << c.emitterMode << ", smooth " << c.smooth << std::hex << ": 0x" << fnv1a(image);
  }
}

TEST(RenderFrameCpu, PixelsOutsideTheLayerAreClearAndVolumePixelsOpaque) {
  for (uint32_t mode = 0; mode < 3; ++mode) {
    FlameSettings s = testSettings(6, 5, mode, mode == 1);
    s.frameWidth = 4.0f;  // the layer is narrower than the output ...
    s.originX = -1.0f;    // ... and starts one column in
    s.originY = 1.0f;     // the last output row lies below the layer
    const EmitterMatte matte = mode != 0 ? testMatte(4, 5) : EmitterMatte{};
    std::vector<float4> image;
    ASSERT_TRUE(renderFrameCpu(s, nullptr, nullptr, matte, image));
    for (int row = 0; row < 5; ++row) {
      for (int column = 0; column < 6; ++column) {
        const float4 p = image[row * 6 + column];
        const bool inside = column >= 1 && column <= 4 && row <= 3;
        if (!inside) {
          EXPECT_EQ(p.x, 0.0f);
          EXPECT_EQ(p.y, 0.0f);
          EXPECT_EQ(p.z, 0.0f);
          EXPECT_EQ(p.w, 0.0f) << "mode " << mode << " at " << column << ", " << row;
        } else if (mode == 0) {
          EXPECT_EQ(p.w, 1.0f) << column << ", " << row;
        }
      }
    }
  }
}

TEST(RenderFrameCpu, AbortAtOnceShadesNothing) {
  const FlameSettings s = testSettings(8, 30, 0, true);
  std::vector<float4> image;
  auto stop = [](void*) { return true; };
  EXPECT_FALSE(renderFrameCpu(s, stop, nullptr, EmitterMatte{}, image));
  ASSERT_EQ(image.size(), 8u * 30u);
  for (const float4& p : image) {
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.w, 0.0f);
  }
}

TEST(RenderFrameCpu, ThreadedBandsMatchTheirRowsShadedOneByOne) {
  const FlameSettings s = testSettings(5, 40, 0, false);
  std::vector<float4> image;
  ASSERT_TRUE(renderFrameCpu(s, nullptr, nullptr, EmitterMatte{}, image));
  for (int row = 0; row < 40; ++row) {
    for (int column = 0; column < 5; ++column) {
      const float4 expected = shadeVolumePixel(column, row, s);
      EXPECT_EQ(std::memcmp(&image[row * 5 + column], &expected, sizeof expected), 0)
          << column << ", " << row;
    }
  }
}

}  // namespace
