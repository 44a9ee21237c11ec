// SPDX-License-Identifier: MIT
// One status line on standard error while a long run works: files done, files a second and
// the time gone (and, indexing, how many were unchanged), redrawn at most four times a second
// from the run's first second on, and cleared before anything else is written there and at
// the end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

namespace exifinfo_tool {

class Progress {
 public:
  static constexpr int kRedrawsPerSecond = 4;
  static constexpr int kFirstDrawMs = 1000;

  // Off: nothing is drawn, and Write only writes.
  Progress(bool on, bool indexing);
  ~Progress();  // clears the line
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Done() { done_.fetch_add(1, std::memory_order_relaxed); }
  void Unchanged() { unchanged_.fetch_add(1, std::memory_order_relaxed); }
  // Writes `text` to standard error with the status line out of its way.
  void Write(const std::string& text);

 private:
  void Run();
  void Draw(double seconds);   // with mutex_ held
  void Erase();                // with mutex_ held

  const bool on_, indexing_;
  std::atomic<size_t> done_{0}, unchanged_{0};
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  bool drawn_ = false;
  std::thread thread_;
};

}  // namespace exifinfo_tool
