// Typed reads of single values from an INI file. Every read tells an absent value from a
// present one and never touches the destination when the value is absent, so callers preset
// each variable with its default and let the file override it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qp::config {

class ProfileFile {
 public:
  // `path` is the file's full path (at most 259 characters); it is copied. An empty or null
  // path is no file: every key reads as absent.
  explicit ProfileFile(const char* path);

  // False when the key is missing or empty. True otherwise, even when the text holds no
  // number, in which case `value` keeps its value ("%d" rules; saturates beyond 32 bits).
  bool ReadInt(const char* section, const char* key, int32_t& value) const;

  // As ReadInt with "%f" rules into a 32-bit float.
  bool ReadReal(const char* section, const char* key, float& value) const;

  // Copies the value, cut to `size` - 1 characters, into `value`. A key present with nothing
  // after "=" gives the empty string and true; a missing key gives false.
  bool ReadString(const char* section, const char* key, char* value, std::size_t size) const;

  const char* Path() const { return path_; }

 private:
  // Numbers are read through a buffer of this size, as the INI texts are paths-sized.
  static constexpr std::size_t kNumberBuffer = 260;

  bool ReadNumberText(const char* section, const char* key, char (&text)[kNumberBuffer]) const;

  char path_[260];
};

}  // namespace qp::config
