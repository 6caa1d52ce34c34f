// A fresh directory for one test's files, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace qp::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Writes `bytes` to a file of that name in the directory and returns its full narrow path.
  std::string Write(std::string_view name, std::string_view bytes) const;
  std::string Write(std::string_view name, const std::vector<uint8_t>& bytes) const;
  std::string PathOf(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace qp::test
