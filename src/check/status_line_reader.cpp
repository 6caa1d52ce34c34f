#include "check/status_line_reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "synth/glyph_band.h"

namespace qp::check {
namespace {

using frame::HeaderPosition;
using frame::kStatusFields;
using frame::LayoutCell;
using frame::ShortForm;
using frame::StatusField;
using frame::StatusLayout;
using frame::StatusPosition;
using frame::StatusValues;
using frame::TextPosition;
using frame::ValuesOfFields;
using synth::kBandGreen;
using synth::kBandRed;
using synth::kBandWhite;
using synth::kBandYellow;

// More cells than any status line or header has; the rest of the row is picture.
constexpr int32_t kMaxStatusCells = 72;
// Cells at the right end that always hold status text, in both forms.
constexpr int32_t kLevelCells = 12;

// Labels in yellow, numbers in white, in the order the two forms draw them.
constexpr char kLongLabels[] = "FrameDopTihsPS";
constexpr char kShortLabels[] = "FR()TMsPS";
constexpr char kNumberChars[] = "0123456789.";

float SheetLuma(const synth::FrameImage& sheet, int32_t x, int32_t line_from_top) {
  // RGB sheets are stored bottom-up.
  const int32_t row = sheet.height() - 1 - line_from_top;
  const uint8_t* p = sheet.Pixels() + static_cast<std::ptrdiff_t>(row) * sheet.stride() +
                     static_cast<std::ptrdiff_t>(x) * sheet.bytes_per_pixel();
  return 0.299f * p[2] + 0.587f * p[1] + 0.114f * p[0];
}

// What a scaler that averages over each output pixel's footprint, followed by bilinear
// sampling at the source pixel centres, makes of a row of `n` source values starting at
// source column `origin`; outside the row the value is `outside`.
void BlurRow(const float* in, int32_t n, int32_t in_step, double origin, double scale,
             float outside, float* out, int32_t out_step) {
  auto source = [&](int64_t i) { return i >= 0 && i < n ? in[i * in_step] : outside; };
  // Average of the source over [a, b) in cell coordinates.
  auto area = [&](double a, double b) {
    double sum = 0.0;
    for (int64_t i = static_cast<int64_t>(std::floor(a)); i < b; ++i) {
      const double lo = std::max(a, static_cast<double>(i));
      const double hi = std::min(b, static_cast<double>(i + 1));
      if (hi > lo) sum += (hi - lo) * source(i);
    }
    return static_cast<float>(sum / (b - a));
  };
  for (int32_t i = 0; i < n; ++i) {
    const double p = (origin + i + 0.5) * scale - 0.5;
    const double p0 = std::floor(p);
    const double f = p - p0;
    const double a0 = area(p0 / scale - origin, (p0 + 1) / scale - origin);
    const double a1 = area((p0 + 1) / scale - origin, (p0 + 2) / scale - origin);
    out[i * out_step] = static_cast<float>((1.0 - f) * a0 + f * a1);
  }
}

float BilinearLuma(const FrameView& frame, double x, double y) {
  x = std::clamp(x, 0.0, static_cast<double>(frame.width - 1));
  y = std::clamp(y, 0.0, static_cast<double>(frame.height - 1));
  const int32_t x0 = static_cast<int32_t>(x), y0 = static_cast<int32_t>(y);
  const int32_t x1 = std::min(x0 + 1, frame.width - 1), y1 = std::min(y0 + 1, frame.height - 1);
  const float fx = static_cast<float>(x - x0), fy = static_cast<float>(y - y0);
  const float top = frame.Luma(x0, y0) * (1 - fx) + frame.Luma(x1, y0) * fx;
  const float bottom = frame.Luma(x0, y1) * (1 - fx) + frame.Luma(x1, y1) * fx;
  return top * (1 - fy) + bottom * fy;
}

// Compression and scaling soften strokes, so a glyph may show with less contrast than the
// frame's brightest white: each glyph's contrast is fitted within these bounds of the frame's.
constexpr double kMinContrast = 0.4;
constexpr double kMaxContrast = 1.25;

}  // namespace

StatusLineReader::StatusLineReader(const synth::FrameImage& sheet, int32_t source_width,
                                   int32_t source_height)
    : source_width_(source_width), source_height_(source_height) {
  if (sheet.Pixels() == nullptr || sheet.format() != 0 || sheet.bytes_per_pixel() < 3) return;
  const int32_t cw = sheet.width() / 32, ch = sheet.height() / 16;
  if (cw <= 0 || ch <= 0 || source_width < cw || source_height < ch) return;
  cell_width_ = cw;
  cell_height_ = ch;
  // Every printable glyph of the bands the stream's texts use.
  for (const int32_t band : {kBandWhite, kBandYellow, kBandRed, kBandGreen}) {
    for (int32_t code = 32; code <= 126; ++code) {
      Glyph glyph;
      glyph.code = static_cast<char>(code);
      glyph.band = band;
      glyph.pixels.resize(static_cast<std::size_t>(cw) * ch);
      const int32_t x0 = synth::GlyphCellColumn(code) * cw;
      const int32_t y0 = static_cast<int32_t>(synth::GlyphCellRow(band, code)) * ch;
      for (int32_t y = 0; y < ch; ++y)
        for (int32_t x = 0; x < cw; ++x)
          glyph.pixels[static_cast<std::size_t>(y) * cw + x] = SheetLuma(sheet, x0 + x, y0 + y);
      glyphs_.push_back(std::move(glyph));
    }
  }
  // The cell background: the space's luma.
  background_ = glyphs_.front().pixels.front();
  ink_ = 0.0f;
  for (float v : Find(kBandWhite, '0')->pixels) ink_ = std::max(ink_, v);

  const bool short_form = ShortForm(source_width_);
  layouts_ = frame::StatusLayouts(short_form);
  status_codes_ = std::string(short_form ? kShortLabels : kLongLabels) + kNumberChars + " ";
  for (std::size_t i = 0; i < status_codes_.size(); ++i)
    candidate_index_[static_cast<unsigned char>(status_codes_[i])] = i;
  blank_index_ = status_codes_.size() - 1;
}

frame::TextPosition StatusLineReader::StatusCell(int32_t k) const {
  return StatusPosition(source_width_, (k + 1) * cell_width_);
}

const StatusLineReader::Glyph* StatusLineReader::Find(int32_t band, char code) const {
  for (const Glyph& g : glyphs_)
    if (g.band == band && g.code == code) return &g;
  return nullptr;
}

void StatusLineReader::Scale(const FrameView& frame, double& sx, double& sy) const {
  sx = static_cast<double>(frame.width) / source_width_;
  sy = static_cast<double>(frame.height) / source_height_;
}

void StatusLineReader::SampleCell(const FrameView& frame, int32_t x, int32_t y,
                                  std::vector<float>& out) const {
  double sx, sy;
  Scale(frame, sx, sy);
  out.resize(static_cast<std::size_t>(cell_width_) * cell_height_);
  for (int32_t j = 0; j < cell_height_; ++j) {
    const double fy = (y + j + 0.5) * sy - 0.5;
    for (int32_t i = 0; i < cell_width_; ++i)
      out[static_cast<std::size_t>(j) * cell_width_ + i] =
          BilinearLuma(frame, (x + i + 0.5) * sx - 0.5, fy);
  }
}

std::vector<float> StatusLineReader::Blurred(const Glyph& glyph, int32_t x, int32_t y, double sx,
                                             double sy) const {
  const int32_t cw = cell_width_, ch = cell_height_;
  if (sx == 1.0 && sy == 1.0) return glyph.pixels;
  std::vector<float> rows(glyph.pixels.size()), out(glyph.pixels.size());
  for (int32_t j = 0; j < ch; ++j)
    BlurRow(&glyph.pixels[static_cast<std::size_t>(j) * cw], cw, 1, x, sx, background_,
            &rows[static_cast<std::size_t>(j) * cw], 1);
  for (int32_t i = 0; i < cw; ++i) BlurRow(&rows[i], ch, cw, y, sy, background_, &out[i], cw);
  return out;
}

std::vector<StatusLineReader::Candidate> StatusLineReader::Candidates(
    const FrameView& frame, int32_t x, int32_t y, const std::vector<const Glyph*>& set) const {
  double sx, sy;
  Scale(frame, sx, sy);
  std::vector<Candidate> result;
  result.reserve(set.size());
  for (const Glyph* g : set) {
    Candidate c{g->code, Blurred(*g, x, y, sx, sy), 0.0};
    for (float& v : c.pixels) {
      v -= background_;
      c.energy += static_cast<double>(v) * v;
    }
    result.push_back(std::move(c));
  }
  return result;
}

void StatusLineReader::Score(const std::vector<float>& cell, const std::vector<Candidate>& set,
                             float gain, float offset, std::vector<Fit>& fits) const {
  // The cell relative to the recorded background level; each glyph is fitted to it with its
  // own contrast, the blank with none.
  const double base = gain * background_ + offset;
  double cell_energy = 0.0;
  thread_local std::vector<double> relative;
  relative.resize(cell.size());
  for (std::size_t k = 0; k < cell.size(); ++k) {
    relative[k] = cell[k] - base;
    cell_energy += relative[k] * relative[k];
  }
  fits.resize(set.size());
  for (std::size_t c = 0; c < set.size(); ++c) {
    const Candidate& candidate = set[c];
    double dot = 0.0;
    for (std::size_t k = 0; k < cell.size(); ++k) dot += relative[k] * candidate.pixels[k];
    double contrast = 0.0;
    if (candidate.energy > 0.0)
      contrast = std::clamp(dot / candidate.energy, kMinContrast * gain, kMaxContrast * gain);
    fits[c].contrast = contrast;
    fits[c].error = cell_energy - 2.0 * contrast * dot + contrast * contrast * candidate.energy;
  }
}

double StatusLineReader::Margin(const std::vector<Candidate>& set, const std::vector<Fit>& fits,
                                std::size_t pick, std::size_t other) {
  // The share of the evidence that tells the two fitted glyphs apart: 1 for a clean cell, 0
  // halfway between them, negative beyond.
  const Candidate& a = set[pick];
  const Candidate& b = set[other];
  double separation = 0.0;
  for (std::size_t k = 0; k < a.pixels.size(); ++k) {
    const double d = fits[pick].contrast * a.pixels[k] - fits[other].contrast * b.pixels[k];
    separation += d * d;
  }
  return separation > 0.0 ? (fits[other].error - fits[pick].error) / separation : 0.0;
}

StatusLineReader::CellResult StatusLineReader::Classify(const std::vector<float>& cell,
                                                        const std::vector<Candidate>& set,
                                                        float gain, float offset) const {
  CellResult r;
  std::vector<Fit> fits;
  Score(cell, set, gain, offset, fits);
  std::size_t best = set.size(), second = set.size();
  for (std::size_t c = 0; c < set.size(); ++c) {
    if (best == set.size() || fits[c].error < fits[best].error) {
      if (best == set.size() || set[best].code != set[c].code) second = best;
      best = c;
    } else if ((second == set.size() || fits[c].error < fits[second].error) &&
               set[c].code != set[best].code) {
      second = c;
    }
  }
  if (best == set.size()) return r;
  r.code = set[best].code;
  r.margin = second == set.size() ? 1.0 : Margin(set, fits, best, second);
  return r;
}

const std::vector<std::vector<StatusLineReader::Candidate>>& StatusLineReader::StatusCandidates(
    const FrameView& frame) const {
  if (frame.width == cached_width_ && frame.height == cached_height_) return status_candidates_;
  std::vector<const Glyph*> set;
  for (const char code : status_codes_)
    set.push_back(Find(std::isdigit(static_cast<unsigned char>(code)) || code == '.' || code == ' '
                           ? kBandWhite
                           : kBandYellow,
                       code));
  status_candidates_.clear();
  const int32_t count = std::min(kMaxStatusCells, source_width_ / cell_width_);
  for (int32_t k = 0; k < count; ++k)
    status_candidates_.push_back(Candidates(frame, StatusCell(k).x, StatusCell(k).y, set));
  cached_width_ = frame.width;
  cached_height_ = frame.height;
  return status_candidates_;
}

bool StatusLineReader::Levels(const FrameView& frame, float& gain, float& offset) const {
  // The rightmost cells always hold status text: its darkest samples are the cell background,
  // its brightest the white of the numbers.
  std::vector<float> samples, cell;
  for (int32_t k = 0; k < kLevelCells; ++k) {
    SampleCell(frame, StatusCell(k).x, StatusCell(k).y, cell);
    samples.insert(samples.end(), cell.begin(), cell.end());
  }
  std::sort(samples.begin(), samples.end());
  const float low = samples[samples.size() / 10];
  const float high = samples[samples.size() - 1 - samples.size() / 200];
  if (!(ink_ > background_) || high - low < 16.0f) return false;
  gain = (high - low) / (ink_ - background_);
  offset = low - gain * background_;
  return true;
}

bool StatusLineReader::CanRead(const FrameView& frame) const {
  if (!IsUsable() || !check::IsUsable(frame)) return false;
  double sx, sy;
  Scale(frame, sx, sy);
  return sx >= kMinScale && sy >= kMinScale;
}

StatusReading StatusLineReader::ReadStatus(const FrameView& frame) const {
  StatusReading reading;
  if (!CanRead(frame)) return reading;
  const bool short_form = ShortForm(source_width_);
  reading.short_form = short_form;

  float gain = 1.0f, offset = 0.0f;
  if (!Levels(frame, gain, offset)) return reading;

  // Squared error of every cell at the right end against every glyph the line can hold.
  const std::vector<std::vector<Candidate>>& candidates = StatusCandidates(frame);
  const std::size_t count = candidates.size();
  const std::size_t kinds = candidates.front().size();
  std::vector<double> cost(count * kinds), free_cost(count);
  std::vector<std::vector<Fit>> fits(count);
  std::vector<float> cell;
  reading.cells.assign(count, ' ');
  for (std::size_t k = 0; k < count; ++k) {
    const TextPosition at = StatusCell(static_cast<int32_t>(k));
    SampleCell(frame, at.x, at.y, cell);
    Score(cell, candidates[k], gain, offset, fits[k]);
    double best = HUGE_VAL;
    for (std::size_t c = 0; c < kinds; ++c) {
      const double e = fits[k][c].error;
      cost[k * kinds + c] = e;
      if (e < best) best = e, reading.cells[count - 1 - k] = candidates[k][c].code;
    }
    free_cost[k] = best;
  }
  // Cells beyond a variant's left end are picture: they cost what their best glyph costs.
  std::vector<double> free_beyond(count + 1, 0.0);
  for (std::size_t k = count; k-- > 0;) free_beyond[k] = free_beyond[k + 1] + free_cost[k];

  auto candidate_of = [&](const LayoutCell& c) {
    return candidate_index_[static_cast<unsigned char>(c.glyph)];
  };
  auto cell_cost = [&](std::size_t k, const LayoutCell& c) {
    if (!c.IsDigit()) return cost[k * kinds + candidate_of(c)];
    double best = HUGE_VAL;
    for (char d = '0'; d <= '9'; ++d)
      best = std::min(best, cost[k * kinds + candidate_index_[static_cast<unsigned char>(d)]]);
    return best;
  };
  const StatusLayout* chosen = nullptr;
  double chosen_cost = HUGE_VAL;
  for (const StatusLayout& layout : layouts_) {
    if (layout.size() > count) continue;
    double total = free_beyond[layout.size()];
    for (std::size_t i = 0; i < layout.size() && total < chosen_cost; ++i)
      total += cell_cost(layout.size() - 1 - i, layout[i]);
    if (total < chosen_cost) chosen_cost = total, chosen = &layout;
  }
  if (chosen == nullptr) return reading;

  // How much of the line's glyph contrast the chosen text explains: near 1 for a drawn line,
  // far below for a picture.
  double residual = 0.0, signal = 0.0, weakest = 1.0, weakest_clock = 1.0;
  uint64_t fields[kStatusFields] = {};
  int32_t labels = 0, labels_seen = 0;
  const std::size_t size = chosen->size();
  auto margin = [&](std::size_t k, std::size_t pick, std::size_t other) {
    return Margin(candidates[k], fits[k], pick, other);
  };
  auto best_digit = [&](std::size_t k, std::size_t except) {
    std::size_t best = kinds;
    for (char d = '0'; d <= '9'; ++d) {
      const std::size_t j = candidate_index_[static_cast<unsigned char>(d)];
      if (j != except && (best == kinds || cost[k * kinds + j] < cost[k * kinds + best])) best = j;
    }
    return best;
  };
  // The number a cell belongs to or, for a blank, the number next to it across blanks: a
  // blank there might be a digit that would change the number's length.
  auto field_near = [&](std::size_t i) {
    StatusField left = StatusField::None, right = StatusField::None;
    for (std::size_t j = i; j-- > 0;) {
      if ((*chosen)[j].IsDigit()) left = (*chosen)[j].field;
      if ((*chosen)[j].glyph != ' ' || (*chosen)[j].IsDigit()) break;
    }
    for (std::size_t j = i + 1; j < size; ++j) {
      if ((*chosen)[j].IsDigit()) right = (*chosen)[j].field;
      if ((*chosen)[j].glyph != ' ' || (*chosen)[j].IsDigit()) break;
    }
    auto identity = [](StatusField f) {
      return f == StatusField::Frame || f == StatusField::Drops;
    };
    if (identity(left) || identity(right)) return StatusField::Frame;
    return left != StatusField::None ? left : right;
  };
  auto weigh = [&](StatusField field, double m) {
    if (field == StatusField::Frame || field == StatusField::Drops)
      weakest = std::min(weakest, m);
    else if (field != StatusField::None && field != StatusField::FpsWhole &&
             field != StatusField::FpsFraction)
      weakest_clock = std::min(weakest_clock, m);
  };
  for (std::size_t i = 0; i < size; ++i) {
    const LayoutCell& c = (*chosen)[i];
    const std::size_t k = size - 1 - i;
    std::size_t pick = candidate_of(c);
    if (c.IsDigit()) {
      pick = best_digit(k, kinds);
      // Its runner-up among the digits, and a blank, which would shorten the number.
      weigh(c.field, std::min(margin(k, pick, best_digit(k, pick)), margin(k, pick, blank_index_)));
      uint64_t& value = fields[static_cast<int>(c.field)];
      value = value * 10 + static_cast<uint64_t>(candidates[k][pick].code - '0');
    } else if (c.glyph == ' ') {
      weigh(field_near(i), margin(k, pick, best_digit(k, kinds)));
    } else if (c.glyph != '.') {
      ++labels;
      if (reading.cells[count - 1 - k] == c.glyph) ++labels_seen;
    }
    residual += cost[k * kinds + pick];
    // The glyph's strokes at the frame's own contrast: a faded line explains little of it.
    signal += static_cast<double>(gain) * gain * candidates[k][pick].energy;
  }
  // The labels must show as themselves in most of their cells: numbers alone can be fitted
  // into a pattern that repeats cell by cell.
  const bool labelled = labels_seen * 2 >= labels;
  const double fit = signal > 0.0 ? 1.0 - residual / signal : 0.0;
  reading.fit = fit;
  reading.confidence = std::clamp(weakest, 0.0, 1.0);
  reading.clock_confidence = std::clamp(weakest_clock, 0.0, 1.0);

  StatusValues values;
  if (!ValuesOfFields(fields, short_form, values)) return reading;
  reading.frame = values.frame;
  reading.drops = values.drops;
  reading.clock_ms = values.clock_ms;
  reading.fps = values.fps;
  reading.readable = labelled && fit >= kMinFit && reading.confidence >= kMinConfidence;
  reading.clock_readable = reading.readable && reading.clock_confidence >= kMinConfidence;
  return reading;
}

HeaderReading StatusLineReader::ReadHeader(const FrameView& frame, int32_t cells) const {
  HeaderReading reading;
  if (!CanRead(frame)) return reading;
  float gain = 1.0f, offset = 0.0f;
  if (!Levels(frame, gain, offset)) return reading;

  // Every glyph of every band, blurred for each cell once per recording size.
  if (frame.width != header_width_ || frame.height != header_height_) {
    header_candidates_.clear();
    header_width_ = frame.width;
    header_height_ = frame.height;
  }
  std::vector<const Glyph*> set;
  for (const Glyph& g : glyphs_) set.push_back(&g);
  const int32_t y = HeaderPosition(source_height_, cell_height_).y;
  const int32_t count =
      std::min({kMaxHeaderCells, std::max(cells, 0), source_width_ / cell_width_});
  std::vector<float> cell;
  reading.margins.reserve(static_cast<std::size_t>(count));
  for (int32_t k = 0; k < count; ++k) {
    const int32_t x = k * cell_width_;
    if (header_candidates_.size() <= static_cast<std::size_t>(k))
      header_candidates_.push_back(Candidates(frame, x, y, set));
    SampleCell(frame, x, y, cell);
    const CellResult r =
        Classify(cell, header_candidates_[static_cast<std::size_t>(k)], gain, offset);
    reading.text.push_back(r.code);
    reading.margins.push_back(r.margin);
  }
  return reading;
}

bool HeaderMatches(const HeaderReading& header, const std::string& expected) {
  if (expected.empty() || header.text.size() < expected.size()) return false;
  // Compression and scaling may spoil a few cells, and a doubtful cell (a blank blurred into a
  // tilde) says nothing either way; a different preset differs in many cells, or clearly in a
  // digit of the size, which every candidate of the same aspect has.
  std::size_t matching = 0, wrong = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (header.text[i] == expected[i]) {
      ++matching;
      continue;
    }
    if (header.margins[i] < StatusLineReader::kMinConfidence) continue;
    ++wrong;
    if (std::isdigit(static_cast<unsigned char>(expected[i])) && header.margins[i] >= 0.5)
      return false;
  }
  return wrong * 10 <= expected.size() && matching * 4 >= expected.size() * 3;
}

}  // namespace qp::check
