#include "check/status_layout.h"

namespace qp::check {
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

}  // namespace qp::check
