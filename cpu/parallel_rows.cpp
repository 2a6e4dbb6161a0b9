#include "cpu/parallel_rows.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr int kInlineBelow = 16;
constexpr unsigned kMaxThreads = 6;  // the calling thread included
constexpr int kChunkRows = 4;
constexpr int kBandRows = 24;

// The first failure of one parallelFor call, kept until every thread has been joined.
struct FirstFailure {
  std::mutex mutex;
  std::exception_ptr first;
};

void recordFailure(FirstFailure& failure, std::exception_ptr thrown) {
  std::lock_guard<std::mutex> lock(failure.mutex);
  if (!failure.first) failure.first = std::move(thrown);
}

// The C++ library's own text for this code varies by platform ("Resource temporarily
// unavailable" on Linux); users see this one everywhere.
class ThreadStartFailure : public std::system_error {
 public:
  ThreadStartFailure() : std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)) {}
  const char* what() const noexcept override { return "resource unavailable try again"; }
};

// A job that throws ends the claiming of chunks on every thread: the call is failing, so the
// remaining indices would be wasted work.
void runChunks(int n, const std::function<void(int)>& job, std::atomic<int>& nextChunk,
               FirstFailure& failure) noexcept {
  try {
    for (;;) {
      int first = nextChunk.fetch_add(kChunkRows);
      if (first >= n) {
        return;
      }
      int end = std::min(first + kChunkRows, n);
      for (int i = first; i < end; ++i) {
        job(i);
      }
    }
  } catch (...) {
    recordFailure(failure, std::current_exception());
    nextChunk.store(n);
  }
}

}  // namespace

void parallelFor(int n, const std::function<void(int)>& job) {
  parallelFor(n, job, std::thread::hardware_concurrency());
}

void parallelFor(int n, const std::function<void(int)>& job, unsigned hardwareThreads) {
  if (n < kInlineBelow) {
    for (int i = 0; i < n; ++i) {
      job(i);
    }
    return;
  }
  unsigned threadCount = std::clamp(hardwareThreads, 1u, kMaxThreads);
  std::atomic<int> nextChunk{0};
  FirstFailure failure;
  std::vector<std::thread> workers;
  workers.reserve(threadCount - 1);
  for (unsigned t = 1; t < threadCount; ++t) {
    try {
      workers.emplace_back(runChunks, n, std::cref(job), std::ref(nextChunk), std::ref(failure));
    } catch (const std::system_error&) {
      recordFailure(failure, std::make_exception_ptr(ThreadStartFailure()));
      break;
    } catch (...) {
      recordFailure(failure, std::current_exception());
      break;
    }
  }
  // Even when a start failed, the caller takes part so that every index is done before the
  // failure is reported: the threads already running share the counter with it.
  runChunks(n, job, nextChunk, failure);
  for (std::thread& worker : workers) {
    worker.join();
  }
  if (failure.first) std::rethrow_exception(failure.first);
}

bool renderRowBands(uint32_t height, AbortCheckFunction abortCheck, void* abortContext,
                    const std::function<void(int)>& renderRow, unsigned hardwareThreads) {
  // 64-bit so that the last band start of a very tall frame cannot overflow.
  for (int64_t bandStart = 0; bandStart < int64_t{height}; bandStart += kBandRows) {
    if (stopRequested(abortCheck, abortContext)) {
      return false;
    }
    const int band = int(std::min<int64_t>(int64_t{height} - bandStart, kBandRows));
    const int first = int(bandStart);
    parallelFor(band, [&](int j) { renderRow(first + j); }, hardwareThreads);
  }
  return !stopRequested(abortCheck, abortContext);
}
