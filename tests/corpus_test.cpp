// SPDX-License-Identifier: MIT
// Real camera files: each report must equal, byte for byte, the one recorded beside the corpus.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <sstream>

#include "read_helpers.h"
#include "test_files.h"
#include "report/photo_report.h"

namespace {

std::vector<std::string> ExpectedReports(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) names.push_back(name.substr(0, name.size() - 4));
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Corpus, EveryReportEqualsItsExpectedFile) {
  const std::string corpus = EXIFINFO_CORPUS_DIR;
  const std::vector<std::string> names = ExpectedReports(corpus + "/expected");
  if (names.empty()) GTEST_SKIP() << "no corpus at " << corpus << ": skipped";
  for (const std::string& name : names) {
    char* captured = nullptr;
    size_t capturedSize = 0;
    FILE* diagnostics = open_memstream(&captured, &capturedSize);
    wchar_t report[exifinfo::kReportCapacity];
    wchar_t data[exifinfo::kDataBlockCapacity];
    const exifinfo::ReportOutcome outcome = exifinfo::ReportFile(
        (corpus + "/" + name).c_str(), nullptr, {report, exifinfo::kReportCapacity}, {data, exifinfo::kDataBlockCapacity},
        diagnostics);
    std::fclose(diagnostics);
    const std::string printed(captured, capturedSize);
    std::free(captured);
    ASSERT_TRUE(outcome.inputOpened) << name;

    const std::string actual = testing_builders::Utf8Of(std::wstring(report, outcome.reportLength));
    EXPECT_EQ(actual, testing_builders::ReadFileText(corpus + "/expected/" + name + ".txt")) << name;
    // Diagnostic lines are recorded beside a report only when a read prints any.
    std::ifstream stdoutFile(corpus + "/expected/" + name + ".stdout", std::ios::binary);
    EXPECT_EQ(printed, stdoutFile ? testing_builders::ReadFileText(corpus + "/expected/" + name + ".stdout") : "") << name;
  }
}

}  // namespace
