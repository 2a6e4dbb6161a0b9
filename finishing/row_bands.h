// Work on the rows (or columns) of a picture shared among threads in contiguous bands. Each row's
// result depends on nothing another band computes, so the bits are the same at any thread count.
#pragma once

#include <algorithm>
#include <thread>
#include <vector>

// Calls work(first, end) for bands covering [0, count), on up to `threads` threads (0: one per
// core), and returns when all are done.
template <typename Work>
void forRowBands(int count, unsigned threads, const Work& work) {
  if (threads == 0) {
    threads = std::max(1u, std::thread::hardware_concurrency());
  }
  const int bands = std::clamp(static_cast<int>(threads), 1, std::max(count, 1));
  if (bands == 1) {
    work(0, count);
    return;
  }
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<size_t>(bands) - 1);
  for (int band = 1; band < bands; ++band) {
    helpers.emplace_back([&work, band, bands, count] {
      work(static_cast<int>(static_cast<long>(count) * band / bands),
           static_cast<int>(static_cast<long>(count) * (band + 1) / bands));
    });
  }
  work(0, static_cast<int>(count / bands));
  for (std::thread& helper : helpers) {
    helper.join();
  }
}
