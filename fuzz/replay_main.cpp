// SPDX-License-Identifier: MIT
// Replays inputs through a fuzz target without libFuzzer: each argument is a file or a folder
// of files. The test suite runs the regression folders this way, sanitizers included.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int Replay(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return 1;
}

int ReplayPath(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    return -1;
  }
  if (!S_ISDIR(st.st_mode)) return Replay(path);
  int count = 0;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return -1;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const int n = ReplayPath(path + "/" + entry->d_name);
    if (n < 0) count = -1;
    if (count >= 0) count += n;
  }
  closedir(dir);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  int total = 0;
  for (int i = 1; i < argc; ++i) {
    const int n = ReplayPath(argv[i]);
    if (n < 0) return 1;
    total += n;
  }
  std::printf("replayed %d inputs\n", total);
  return 0;
}
