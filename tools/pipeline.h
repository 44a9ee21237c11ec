// SPDX-License-Identifier: MIT
// The ordered pipeline of a run: `jobs` threads read while the walk goes on, and one printer
// takes the results in the files' order.
//
// Contract:
// - order: results reach `print` in exactly the order `next` gave the files;
// - memory: a reader waits while the printer is jobs x kBatchesPerJob batches behind, so at
//   most that many batches of kBatchFiles results exist at once, whatever the run's length or
//   the speed of standard output;
// - stop: `print` returns false to end the run; readers finish the batch in hand and stop;
// - no exceptions: threads start with pthread_create (std::thread throws), a thread that cannot
//   start is one reader fewer, and with none the calling thread reads the files itself.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace exifinfo_tool {

constexpr size_t kBatchFiles = 32;    // files a reader takes at once: a hand-off costs more than a warm read
constexpr size_t kBatchesPerJob = 2;  // finished batches a job may hold before the printer

// `next(Item&)` gives the next item (false at the end; called under the pipeline's lock),
// `read(const Item&)` makes a Result on any reader thread, `print(Result)` runs on the calling
// thread.
template <typename Item, typename Result, typename Next, typename Read, typename Print>
void RunOrdered(Next next, Read read, long jobs, Print print) {
  if (jobs <= 1) {
    for (Item item; next(item);)
      if (!print(read(item))) return;
    return;
  }
  const size_t window = static_cast<size_t>(jobs) * kBatchesPerJob;
  struct Batch {
    std::vector<Result> results;
    bool ready = false;
  };
  std::vector<Batch> batches(window);
  std::mutex mutex;
  std::condition_variable space, done;
  uint64_t issued = 0, printed = 0;
  bool walked = false, stop = false;
  auto worker = [&] {
    std::vector<Item> items;
    std::vector<Result> results;
    for (;;) {
      uint64_t seq;
      {
        std::unique_lock<std::mutex> lock(mutex);
        space.wait(lock, [&] { return stop || walked || issued - printed < window; });
        if (stop || walked) return;
        items.clear();
        for (Item item; items.size() < kBatchFiles && next(item);) items.push_back(std::move(item));
        if (items.size() < kBatchFiles) walked = true;  // the walk is over: this batch is the last
        if (items.empty()) {
          space.notify_all();
          done.notify_one();
          return;
        }
        seq = issued++;
      }
      results.clear();
      for (const Item& item : items) results.push_back(read(item));
      std::lock_guard<std::mutex> lock(mutex);
      Batch& batch = batches[seq % window];
      batch.results.swap(results);
      batch.ready = true;
      if (seq == printed) done.notify_one();
      if (walked) space.notify_all();
    }
  };
  using Worker = decltype(worker);
  auto start = [](void* w) -> void* {
    (*static_cast<Worker*>(w))();
    return nullptr;
  };
  std::vector<pthread_t> threads;
  threads.reserve(static_cast<size_t>(jobs));
  for (long t = 0; t < jobs; ++t) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, start, &worker) != 0) break;
    threads.push_back(thread);
  }
  if (threads.empty()) {
    for (Item item; next(item);)
      if (!print(read(item))) break;
    return;
  }
  std::vector<Result> results;
  for (bool go = true; go;) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      done.wait(lock, [&] { return batches[printed % window].ready || (walked && printed == issued); });
      Batch& batch = batches[printed % window];
      if (!batch.ready) break;  // walked, and every batch printed
      results.swap(batch.results);
      batch.ready = false;
      ++printed;
      space.notify_one();
    }
    for (Result& result : results) {
      if (!print(std::move(result))) {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
        space.notify_all();
        go = false;
        break;
      }
    }
    results.clear();
  }
  for (const pthread_t thread : threads) pthread_join(thread, nullptr);
}

}  // namespace exifinfo_tool
