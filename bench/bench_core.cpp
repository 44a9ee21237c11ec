// SPDX-License-Identifier: MIT
// The core, in-process: each corpus file read from memory and from disk, the report
// formatting alone, and the cost against the bytes before the start of scan.
#include <benchmark/benchmark.h>
#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "builders.h"
#include "report/photo_report.h"

namespace {

using testing_builders::Bytes;

struct Buffers {
  wchar_t report[exifinfo::kReportCapacity];
  wchar_t data[exifinfo::kDataBlockCapacity];
};

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  const std::string dir = EXIFINFO_CORPUS_DIR;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name[0] != '.' && name != "expected" && name != "README.md" && name != "SHA256SUMS") files.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

Bytes ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void FromMemory(benchmark::State& state, const Bytes& bytes) {
  Buffers b;
  for (auto _ : state) {
    const size_t n = exifinfo::ReportBytes(bytes.data(), bytes.size(), {b.report, exifinfo::kReportCapacity},
                                           {b.data, exifinfo::kDataBlockCapacity}, nullptr);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(b.report[0]);
  }
}

void FromDisk(benchmark::State& state, const std::string& path) {
  Buffers b;
  for (auto _ : state) {
    const exifinfo::ReportOutcome o = exifinfo::ReportFile(path.c_str(), nullptr, {b.report, exifinfo::kReportCapacity},
                                                           {b.data, exifinfo::kDataBlockCapacity}, nullptr);
    benchmark::DoNotOptimize(o.reportLength);
  }
}

void FormatOnly(benchmark::State& state) {
  exifinfo::ImageInfo info{};
  std::strcpy(info.CameraMake, "Canon");
  std::strcpy(info.CameraModel, "Canon EOS 40D");
  std::strcpy(info.DateTime, "2008:05:30 15:56:01");
  std::strcpy(info.Version, "0221");
  info.Height = 68, info.Width = 100, info.Orientation = 1, info.IsColor = 1, info.Process = 192;
  info.FocalLength = 135.0f, info.ExposureTime = 0.00625f, info.ApertureFNumber = 7.1f, info.CCDWidth = 0.022531f;
  info.ISOequivalent = 100, info.FocalplaneXRes = 4438.356f, info.FocalplaneYRes = 4445.969f;
  info.FocalplaneUnits = info.ResolutionUnit = 1.0f, info.Xresolution = info.Yresolution = 72.0f;
  Buffers b;
  for (auto _ : state) {
    benchmark::DoNotOptimize(exifinfo::FormatReport(info, {b.report, exifinfo::kReportCapacity},
                                                    {b.data, exifinfo::kDataBlockCapacity}));
  }
}

// A camera-like file with `kib` KiB of extra APP2 sections before its EXIF section.
Bytes SweepFile(int kib) {
  testing_builders::TiffBuilder tiff(testing_builders::ByteOrder::kLittle);
  tiff.Directory().Ascii(0x010F, "Maker").Ascii(0x0110, "Model").Short(0x0112, 1).Rational(0x011A, 72, 1);
  testing_builders::JpegBuilder jpeg;
  jpeg.Soi();
  for (int left = kib * 1024; left > 0; left -= 16384) {
    const int streamBytes = std::min(left, 16384);  // marker and length included
    jpeg.Segment(0xE2, Bytes(static_cast<size_t>(std::max(streamBytes - 4, 0)), 0x42));
  }
  return jpeg.App1Exif(tiff.Build()).BaselineFrame(480, 640).StartOfScan().Build();
}

// A camera-like file whose EXIF section carries a thumbnail of about `kib` KiB (copied and walked).
Bytes ExifSweepFile(int kib) {
  testing_builders::TiffBuilder tiff(testing_builders::ByteOrder::kLittle);
  const uint32_t thumbnail = static_cast<uint32_t>(std::max(kib * 1024 - 200, 1));
  tiff.Directory().Ascii(0x010F, "Maker").Ascii(0x0110, "Model").Short(0x0112, 1).NextDirectory(1);
  tiff.Directory().Long(0x0201, 0).Long(0x0202, thumbnail);
  Bytes block = tiff.Trailer(Bytes(thumbnail, 0x24)).Build();
  testing_builders::SetU32(block, tiff.DirectoryOffset(1) + 2 + 8, static_cast<uint32_t>(block.size() - thumbnail),
                           testing_builders::ByteOrder::kLittle);
  return testing_builders::JpegBuilder().Soi().App1Exif(block).BaselineFrame(480, 640).StartOfScan().Build();
}

void SweepOf(benchmark::State& state, const Bytes& bytes) {
  FromMemory(state, bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
  state.counters["header_bytes"] = static_cast<double>(bytes.size());
}

void SweepApp(benchmark::State& state) { SweepOf(state, SweepFile(static_cast<int>(state.range(0)))); }
void SweepExif(benchmark::State& state) { SweepOf(state, ExifSweepFile(static_cast<int>(state.range(0)))); }

}  // namespace

int main(int argc, char** argv) {
  static std::vector<Bytes> contents;
  const std::vector<std::string> files = CorpusFiles();
  contents.reserve(files.size());
  for (const std::string& path : files) {
    contents.push_back(ReadWhole(path));
    const std::string name = path.substr(path.rfind('/') + 1);
    benchmark::RegisterBenchmark(("memory/" + name).c_str(), FromMemory, std::cref(contents.back()));
    benchmark::RegisterBenchmark(("disk/" + name).c_str(), FromDisk, path);
  }
  benchmark::RegisterBenchmark("format_report", FormatOnly);
  benchmark::RegisterBenchmark("sweep_app_kib", SweepApp)->DenseRange(0, 60, 10);
  benchmark::RegisterBenchmark("sweep_exif_kib", SweepExif)->DenseRange(1, 61, 10);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
