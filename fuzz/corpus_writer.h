// Shared by the seed-corpus generators: the command line (one argument, the output folder),
// numbered input files, a small deterministic random generator, and the closing report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel::fuzzing {

// Writes inputs named PREFIX_0000, PREFIX_0001, ... into one folder.
class CorpusWriter {
 public:
  CorpusWriter(std::filesystem::path folder, std::string prefix)
      : folder_(std::move(folder)), prefix_(std::move(prefix)) {}

  // Throws std::runtime_error when the file cannot be written.
  void write(std::string_view bytes) {
    char name[64];
    std::snprintf(name, sizeof name, "%s_%04zu", prefix_.c_str(), count_++);
    std::ofstream file(folder_ / name, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + (folder_ / name).string());
  }
  void write(const std::vector<uint8_t>& bytes) {
    write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  size_t count() const { return count_; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  std::string prefix_;
  size_t count_ = 0;
};

// xorshift32: the same sequence on every run.
inline uint32_t nextRandom(uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

// The generator's main: checks the command line, creates the folder, runs `fill` and
// reports how many inputs it wrote. Returns the process exit status.
template <class Fill>
int runCorpusGenerator(int argc, char** argv, const char* prefix, Fill&& fill) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::fprintf(stderr, "cannot create %s: %s\n", out.c_str(), ec.message().c_str());
    return 1;
  }
  try {
    CorpusWriter writer(out, prefix);
    fill(writer);
    std::printf("wrote %zu inputs to %s\n", writer.count(), out.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace tamsel::fuzzing
