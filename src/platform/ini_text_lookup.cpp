#include "platform/ini_text_lookup.h"

#include <cstring>

namespace qp::platform {
namespace {

bool IsBlank(int c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Section and key names longer than this never match: the module asks for short names only.
constexpr std::size_t kMaxName = 256;

// Collects a name from a line, remembering whether it was cut.
class NameCollector {
 public:
  void Reset() {
    length_ = 0;
    cut_ = false;
  }
  void Add(int c) {
    if (length_ < kMaxName)
      text_[length_++] = static_cast<char>(c);
    else
      cut_ = true;
  }
  // Case-insensitive, both sides trimmed of blanks and tabs.
  bool Matches(const char* wanted) const {
    if (cut_) return false;
    std::size_t begin = 0, end = length_;
    while (begin < end && IsBlank(text_[begin])) ++begin;
    while (end > begin && IsBlank(text_[end - 1])) --end;
    std::size_t wanted_length = std::strlen(wanted);
    std::size_t wbegin = 0, wend = wanted_length;
    while (wbegin < wend && IsBlank(wanted[wbegin])) ++wbegin;
    while (wend > wbegin && IsBlank(wanted[wend - 1])) --wend;
    if (end - begin != wend - wbegin) return false;
    for (std::size_t i = 0; i < end - begin; ++i)
      if (Lower(text_[begin + i]) != Lower(wanted[wbegin + i])) return false;
    return true;
  }

 private:
  char text_[kMaxName];
  std::size_t length_ = 0;
  bool cut_ = false;
};

// Receives a value character by character straight into the caller's buffer, so that a value
// of any length costs no memory beyond the buffer.
class ValueCollector {
 public:
  ValueCollector(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {}

  void Add(int c) {
    if (count_ == 0 && IsBlank(c)) return;  // leading blanks
    if (count_ < size_) buffer_[count_] = static_cast<char>(c);
    if (count_ == 0) first_ = static_cast<char>(c);
    ++count_;
    if (!IsBlank(c)) {
      trimmed_length_ = count_;
      last_ = static_cast<char>(c);
    }
  }

  void Finish() {
    if (size_ == 0) return;
    std::size_t begin = 0, length = trimmed_length_;
    if (length >= 2 && (first_ == '"' || first_ == '\'') && last_ == first_) {
      begin = 1;
      length -= 2;
    }
    if (length > size_ - 1) length = size_ - 1;
    if (begin != 0) std::memmove(buffer_, buffer_ + begin, length);
    buffer_[length] = '\0';
  }

 private:
  char* buffer_;
  std::size_t size_;
  std::size_t count_ = 0;           // characters seen since the first non-blank one
  std::size_t trimmed_length_ = 0;  // up to and including the last non-blank one
  char first_ = 0;
  char last_ = 0;
};

// A UTF-8 byte-order mark is not part of the first line.
void SkipByteOrderMark(std::FILE* stream) {
  long start = std::ftell(stream);
  unsigned char mark[3] = {};
  if (std::fread(mark, 1, 3, stream) == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF)
    return;
  std::clearerr(stream);
  std::fseek(stream, start, SEEK_SET);
}

}  // namespace

bool FindIniValue(std::FILE* stream, const char* section, const char* key, char* buffer,
                  std::size_t size) {
  enum class Line { Start, SectionName, KeyName, Value, Ignore };
  enum class Section { Before, Inside };

  Line line = Line::Start;
  Section where = Section::Before;
  NameCollector name;
  ValueCollector value(buffer, size);
  SkipByteOrderMark(stream);

  for (;;) {
    int c = std::getc(stream);
    bool end_of_line = (c == '\n' || c == '\r' || c == EOF);
    if (end_of_line) {
      if (line == Line::Value) {
        value.Finish();
        return true;
      }
      if (c == EOF) return false;
      line = Line::Start;
      continue;
    }
    switch (line) {
      case Line::Start:
        if (IsBlank(c)) break;
        name.Reset();
        if (c == '[') {
          line = Line::SectionName;
        } else if (c == ';') {
          line = Line::Ignore;
        } else if (c == '=') {
          line = (where == Section::Inside && name.Matches(key)) ? Line::Value : Line::Ignore;
        } else {
          name.Add(c);
          line = Line::KeyName;
        }
        break;
      case Line::SectionName:
        if (c == ']') {
          bool match = name.Matches(section);
          // Only the first section of the name is searched.
          if (where == Section::Inside) return false;
          if (match) where = Section::Inside;
          line = Line::Ignore;
        } else {
          name.Add(c);
        }
        break;
      case Line::KeyName:
        if (c == '=') {
          line = (where == Section::Inside && name.Matches(key)) ? Line::Value : Line::Ignore;
        } else {
          name.Add(c);
        }
        break;
      case Line::Value: value.Add(c); break;
      case Line::Ignore: break;
    }
  }
}

}  // namespace qp::platform
