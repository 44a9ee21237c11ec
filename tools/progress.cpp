// SPDX-License-Identifier: MIT
#include "progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace exifinfo_tool {
namespace {

void WriteAll(const char* text, size_t size) {
  while (size != 0) {
    const ssize_t n = write(STDERR_FILENO, text, size);
    if (n <= 0) return;  // a status line is not worth failing a run over
    text += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace

Progress::Progress(bool on, bool indexing) : on_(on), indexing_(indexing) {
  if (on_) thread_ = std::thread([this] { Run(); });
}

Progress::~Progress() {
  if (!on_) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    Erase();
  }
  stop_.notify_all();
  thread_.join();
}

void Progress::Run() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  if (stop_.wait_for(lock, std::chrono::milliseconds(kFirstDrawMs), [this] { return stopping_; })) return;
  do {
    Draw(std::chrono::duration<double>(Clock::now() - start).count());
  } while (!stop_.wait_for(lock, std::chrono::milliseconds(1000 / kRedrawsPerSecond), [this] { return stopping_; }));
}

void Progress::Draw(double seconds) {
  const size_t done = done_.load(std::memory_order_relaxed) + unchanged_.load(std::memory_order_relaxed);
  char line[160];
  int n = std::snprintf(line, sizeof line, "\rexifinfo: %zu files, %.0f files/s, %d:%02d", done,
                        seconds > 0 ? static_cast<double>(done) / seconds : 0.0, static_cast<int>(seconds) / 60,
                        static_cast<int>(seconds) % 60);
  if (indexing_ && n > 0 && static_cast<size_t>(n) < sizeof line)
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ", %zu unchanged", unchanged_.load(std::memory_order_relaxed));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof line) return;
  WriteAll(line, static_cast<size_t>(n));
  WriteAll("\033[K", 3);  // the rest of a longer line before it
  drawn_ = true;
}

void Progress::Erase() {
  if (!drawn_) return;
  WriteAll("\r\033[K", 4);
  drawn_ = false;
}

void Progress::Write(const std::string& text) {
  if (text.empty()) return;
  if (!on_) {
    std::fputs(text.c_str(), stderr);
    return;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  Erase();
  WriteAll(text.data(), text.size());
}

}  // namespace exifinfo_tool
