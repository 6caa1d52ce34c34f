#include "frame/status_layout.h"

#include <cstdint>

#include "synth/glyph_band.h"

namespace qp::frame {
namespace {

class Builder {
 public:
  Builder& Label(const char* text) {
    for (; *text != 0; ++text) layout_.push_back({*text, StatusField::None, *text != ' '});
    return *this;
  }
  Builder& Blanks(int count) {
    for (int i = 0; i < count; ++i) layout_.push_back({' ', StatusField::None, false});
    return *this;
  }
  Builder& Digits(int count, StatusField field) {
    for (int i = 0; i < count; ++i) layout_.push_back({'0', field, false});
    return *this;
  }
  Builder& Point() {
    layout_.push_back({'.', StatusField::None, false});
    return *this;
  }
  // printf's "%-Nd": digits, then blanks up to the width.
  Builder& LeftAligned(int digits, int width, StatusField field) {
    return Digits(digits, field).Blanks(width > digits ? width - digits : 0);
  }
  // "%Nd": blanks up to the width, then digits.
  Builder& RightAligned(int digits, int width, StatusField field) {
    return Blanks(width > digits ? width - digits : 0).Digits(digits, field);
  }
  // "%N.2f": the whole part's digits, a point and two more, right-aligned in the width.
  Builder& Rate(int whole_digits, int width) {
    Blanks(width > whole_digits + 3 ? width - whole_digits - 3 : 0);
    return Digits(whole_digits, StatusField::FpsWhole).Point().Digits(2, StatusField::FpsFraction);
  }
  StatusLayout Take() { return std::move(layout_); }

 private:
  StatusLayout layout_;
};

}  // namespace

std::vector<StatusLayout> StatusLayouts(bool short_form) {
  std::vector<StatusLayout> layouts;
  for (int frame = 1; frame <= 9; ++frame) {
    for (int drops = 1; drops <= 9; ++drops) {
      for (int rate = 1; rate <= 3; ++rate) {
        if (short_form) {
          // "FR%4d(%d) TM%3u.%03us FPS%4.2f"; seconds up to 4294967.
          for (int seconds = 1; seconds <= 7; ++seconds) {
            Builder b;
            b.Label("FR").RightAligned(frame, 4, StatusField::Frame).Label("(");
            b.Digits(drops, StatusField::Drops).Label(") TM");
            b.RightAligned(seconds, 3, StatusField::Seconds).Point();
            b.Digits(3, StatusField::Millis).Label("s FPS").Rate(rate, 4);
            layouts.push_back(b.Take());
          }
          continue;
        }
        // "Frame%-4d Drop%-2d Time%uh%02um%02us%03ums FPS%5.2f"; hours up to 1193.
        for (int hours = 1; hours <= 4; ++hours) {
          Builder b;
          b.Label("Frame").LeftAligned(frame, 4, StatusField::Frame).Label(" Drop");
          b.LeftAligned(drops, 2, StatusField::Drops).Label(" Time");
          b.Digits(hours, StatusField::Hours).Label("h").Digits(2, StatusField::Minutes);
          b.Label("m").Digits(2, StatusField::Seconds).Label("s");
          b.Digits(3, StatusField::Millis).Label("ms FPS").Rate(rate, 5);
          layouts.push_back(b.Take());
        }
      }
    }
  }
  return layouts;
}

bool ValuesOfFields(const uint64_t (&fields)[kStatusFields], bool short_form,
                    StatusValues& values) {
  auto field = [&](StatusField f) { return fields[static_cast<int>(f)]; };
  if (!short_form && (field(StatusField::Minutes) >= 60 || field(StatusField::Seconds) >= 60))
    return false;
  // Each field has at most nine digits, so the sums cannot overflow 64 bits.
  const uint64_t clock =
      short_form ? field(StatusField::Seconds) * 1000 + field(StatusField::Millis)
                 : ((field(StatusField::Hours) * 60 + field(StatusField::Minutes)) * 60 +
                    field(StatusField::Seconds)) *
                           1000 +
                       field(StatusField::Millis);
  if (field(StatusField::Frame) > INT32_MAX || field(StatusField::Drops) > INT32_MAX ||
      clock > UINT32_MAX)
    return false;
  values.frame = static_cast<int32_t>(field(StatusField::Frame));
  values.drops = static_cast<int32_t>(field(StatusField::Drops));
  values.clock_ms = static_cast<uint32_t>(clock);
  values.fps = static_cast<double>(field(StatusField::FpsWhole)) +
               static_cast<double>(field(StatusField::FpsFraction)) / 100.0;
  return true;
}

bool ReadStatusCells(const std::vector<TextCell>& cells, bool short_form, StatusValues& values,
                     std::size_t* layout_index) {
  static const std::vector<StatusLayout> kShort = StatusLayouts(true);
  static const std::vector<StatusLayout> kLong = StatusLayouts(false);
  const std::vector<StatusLayout>& layouts = short_form ? kShort : kLong;
  for (std::size_t index = 0; index < layouts.size(); ++index) {
    const StatusLayout& layout = layouts[index];
    if (layout.size() != cells.size()) continue;
    uint64_t fields[kStatusFields] = {};
    bool spelt = true;
    for (std::size_t i = 0; i < layout.size() && spelt; ++i) {
      const LayoutCell& want = layout[i];
      const TextCell& got = cells[i];
      const bool yellow = got.band == synth::kBandYellow;
      // Blanks show no ink, so their band cannot be seen and is not asked for.
      if (want.IsDigit()) {
        spelt = got.glyph >= '0' && got.glyph <= '9' && !yellow;
        fields[static_cast<int>(want.field)] =
            fields[static_cast<int>(want.field)] * 10 + static_cast<uint64_t>(got.glyph - '0');
      } else {
        spelt = got.glyph == want.glyph && (want.glyph == ' ' || yellow == want.yellow);
      }
    }
    if (!spelt) continue;
    if (layout_index != nullptr) *layout_index = index;
    return ValuesOfFields(fields, short_form, values);
  }
  return false;
}

}  // namespace qp::frame
