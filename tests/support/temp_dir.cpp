#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <random>

namespace qp::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device entropy;
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("qp-test-" + std::to_string(entropy()) + "-" + std::to_string(stamp % 1000000) + "-" +
           std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::PathOf(std::string_view name) const { return (path_ / name).string(); }

std::string TempDir::Write(std::string_view name, std::string_view bytes) const {
  std::string path = PathOf(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string TempDir::Write(std::string_view name, const std::vector<uint8_t>& bytes) const {
  return Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace qp::test
