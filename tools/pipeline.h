// SPDX-License-Identifier: MIT
// The ordered pipeline of a run: `jobs` threads read while the walk goes on, and one printer
// takes the results in the files' order. Of the readers, only `runners` run at once; one that
// is about to wait on the storage steps aside (Storage::Wait) and lets another run meanwhile. So
// a warm run uses as many readers as there are processors, and a cold one keeps up to `jobs`
// reads waiting on the disk at once.
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

// The readers that may run at once: a counting semaphore whose slots go first to readers back
// from the storage (`resuming`), so that a batch begun is finished before a new one starts.
class RunSlots {
 public:
  explicit RunSlots(long slots) : free_(slots) {}
  void Take(bool resuming) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (resuming) ++resuming_;
    (resuming ? resumed_ : started_).wait(lock, [&] { return free_ > 0 && (resuming || resuming_ == 0); });
    --free_;
    if (resuming) --resuming_;
  }
  void Give() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++free_;
    if (resuming_ > 0) resumed_.notify_one();
    else started_.notify_one();
  }
  // True when a reader back from the storage waits for a slot.
  bool Wanted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return resuming_ > 0;
  }

 private:
  std::mutex mutex_;
  std::condition_variable resumed_, started_;
  long free_;
  long resuming_ = 0;
};

// Handed to each read: Wait() before a step that will wait on the storage gives the reader's
// slot to another; Resume() takes one again. Without slots (one reader) both do nothing.
class Storage {
 public:
  explicit Storage(RunSlots* slots = nullptr) : slots_(slots) {}
  void Wait() {
    if (slots_ != nullptr && !waiting_) slots_->Give(), waiting_ = true;
  }
  void Resume() {
    if (slots_ != nullptr && waiting_) slots_->Take(true), waiting_ = false;
  }
  // Whether this reader's last file waited on the storage: a cold disk makes the next one
  // likely to wait too, from its very open (the directory entry and the inode come first).
  bool ExpectsWait() const { return expectWait_; }
  void Expect(bool wait) { expectWait_ = wait; }

 private:
  RunSlots* slots_;
  bool waiting_ = false;
  bool expectWait_ = false;
};

// `next(Item&)` gives the next item (false at the end; called under the pipeline's lock),
// `read(const Item&, Storage&)` makes a Result on any reader thread (calling Wait and Resume in
// pairs around a step that waits on the storage), `print(Result)` runs on the calling thread.
// `runners`: readers running at once, at most `jobs`.
template <typename Item, typename Result, typename Next, typename Read, typename Print>
void RunOrdered(Next next, Read read, long jobs, long runners, Print print) {
  Storage alone;
  if (jobs <= 1) {
    for (Item item; next(item);)
      if (!print(read(item, alone))) return;
    return;
  }
  RunSlots slots(runners < 1 ? 1 : runners > jobs ? jobs : runners);
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
    Storage storage(&slots);
    // A reader holds a slot from batch to batch: the readers beyond the runners sleep until one
    // waits on the storage and gives its slot away, and then take the next batch. No reader
    // waits for the printer while it holds a slot (the printer may be waiting for a batch whose
    // reader needs one).
    slots.Take(false);
    for (;;) {
      uint64_t seq;
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (!(stop || walked || issued - printed < window)) {
          slots.Give();
          space.wait(lock, [&] { return stop || walked || issued - printed < window; });
          lock.unlock();
          slots.Take(false);
          continue;
        }
        if (stop || walked) {
          slots.Give();
          return;
        }
        items.clear();
        for (Item item; items.size() < kBatchFiles && next(item);) items.push_back(std::move(item));
        if (items.size() < kBatchFiles) walked = true;  // the walk is over: this batch is the last
        if (items.empty()) {
          space.notify_all();
          done.notify_one();
          slots.Give();
          return;
        }
        seq = issued++;
      }
      results.clear();
      for (const Item& item : items) results.push_back(read(item, storage));
      if (slots.Wanted()) {  // a reader back from the storage finishes its batch first
        slots.Give();
        slots.Take(false);
      }
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
      if (!print(read(item, alone))) break;
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
