// SPDX-License-Identifier: MIT
// The paths of a workload list: one path per line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

inline std::vector<std::string> ReadList(const char* listPath) {
  std::vector<std::string> paths;
  FILE* list = std::fopen(listPath, "r");
  if (list == nullptr) return paths;
  char line[4096];
  while (std::fgets(line, sizeof line, list) != nullptr) {
    std::string path(line);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
    if (!path.empty()) paths.push_back(path);
  }
  std::fclose(list);
  return paths;
}
