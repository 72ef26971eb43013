// Raw scan throughput: the disk library scans a generated 256 MB FAT32 card image holding
// three thousand files (live, deleted, in folders) and, in its free half, noise with a
// picture every megabyte to carve.
// Reports MB/s and found files. The image is written once to a temporary file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "raw/disklib_loader.h"
#include "tests/fixtures/fat_image_writer.h"

namespace fs = std::filesystem;

namespace {

fs::path g_image;
uint64_t g_imageBytes = 0;
uint64_t g_found = 0;

void onFound(_rec_file_ele*) {
  ++g_found;
}

// A structurally complete JPEG of `n` bytes: start, JFIF header, start of scan, entropy
// bytes without 0xFF, end.
std::string jpegLike(size_t n, int seed) {
  std::string s("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
  s.append("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
  s.resize(n - 2, static_cast<char>('A' + seed % 26));
  return s + "\xFF\xD9";
}

void makeImage() {
  constexpr uint32_t kSectors = (256u << 20) / 512;
  tamsel::testing::FatImageWriter w(kSectors, 4);
  for (int d = 0; d < 20; ++d) {
    const std::string dir = "DIR" + std::to_string(d);
    w.addDirectory(dir);
    for (int f = 0; f < 150; ++f) {
      const std::string name = dir + "/IMG_" + std::to_string(1000 + f) + ".JPG";
      w.addFile(name, jpegLike(4096 + 977 * (f % 40), f), /*deleted=*/f % 5 == 0);
    }
  }
  // The second half of the card is free space, as on a used card: noise, with a picture
  // every megabyte for the carver to find.
  std::string image = w.bytes();
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (size_t i = image.size() / 2; i + 8 <= image.size(); i += 8) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    std::memcpy(&image[i], &x, 8);
  }
  for (size_t at = image.size() / 2; at + (64 << 10) < image.size(); at += 1 << 20) {
    const std::string pic = jpegLike(48 << 10, static_cast<int>(at >> 20));
    image.replace(at, pic.size(), pic);
  }
  g_image = fs::temp_directory_path() / ("tamsel_raw_bench_" + std::to_string(getpid()) + ".img");
  std::ofstream(g_image, std::ios::binary)
      .write(image.data(), static_cast<std::streamsize>(image.size()));
  g_imageBytes = image.size();
}

void BM_RawScan(benchmark::State& state) {
  tamsel::DiskLibrary lib;
  if (!lib.load(TAMSEL_DISKLIB_PATH) || lib.table()->scanDevice == nullptr) {
    state.SkipWithError("cannot load the disk library");
    return;
  }
  for (auto _ : state) {
    g_found = 0;
    _rec_file_ele ele{};
    rec_progress progress{};
    lib.table()->scanDevice(g_image.c_str(), 255, onFound, &ele, nullptr, &progress);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_imageBytes));
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(g_imageBytes) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
  state.counters["files"] = static_cast<double>(g_found);
  state.counters["image_MB"] = static_cast<double>(g_imageBytes) / 1e6;
}
BENCHMARK(BM_RawScan)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  makeImage();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove(g_image);
  return 0;
}
