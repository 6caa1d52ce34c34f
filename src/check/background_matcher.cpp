#include "check/background_matcher.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "frame/frame_plan.h"
#include "synth/frame_image.h"
#include "synth/pixel_format.h"

namespace qp::check {
namespace {

// About this many grid points per frame: a steady PSNR for a small share of a frame's time.
constexpr int64_t kTargetPoints = 8192;
constexpr int32_t kMaxPerAxis = 1024;
// Recordings shrunk further than this per axis are not compared: the resampling kernel would
// grow wider than the comparison is worth.
constexpr double kMaxShrink = 16.0;
// Sizes beyond the configuration's limit are no preset's.
constexpr int32_t kMaxSide = 16384;

// out = m · in + o.
struct Affine {
  double m[3][3];
  double o[3];
  void Apply(const double in[3], double out[3]) const {
    for (int r = 0; r < 3; ++r) out[r] = m[r][0] * in[0] + m[r][1] * in[1] + m[r][2] * in[2] + o[r];
  }
};

Affine Compose(const Affine& a, const Affine& b) {  // a after b
  Affine c{};
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 3; ++k)
      c.m[r][k] = a.m[r][0] * b.m[0][k] + a.m[r][1] * b.m[1][k] + a.m[r][2] * b.m[2][k];
    c.o[r] = a.m[r][0] * b.o[0] + a.m[r][1] * b.o[1] + a.m[r][2] * b.o[2] + a.o[r];
  }
  return c;
}

Affine Inverse(const Affine& a) {
  const auto& m = a.m;
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  Affine v{};
  v.m[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
  v.m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
  v.m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
  v.m[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
  v.m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
  v.m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
  v.m[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
  v.m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
  v.m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
  for (int r = 0; r < 3; ++r)
    v.o[r] = -(v.m[r][0] * a.o[0] + v.m[r][1] * a.o[1] + v.m[r][2] * a.o[2]);
  return v;
}

// 8-bit Y'CbCr to 8-bit R'G'B' (unclamped) for hypothesis h, in ColourHandling order.
Affine Decoder(int h) {
  const bool bt709 = h >= 2;
  const bool full = (h & 1) != 0;
  const double kr = bt709 ? 0.2126 : 0.299;
  const double kb = bt709 ? 0.0722 : 0.114;
  const double kg = 1.0 - kr - kb;
  const double ys = full ? 255.0 : 219.0;
  const double cs = full ? 255.0 : 224.0;
  const double y_origin = full ? 0.0 : 16.0;
  Affine d{};
  const double y = 255.0 / ys;
  const double c = 255.0 / cs;
  d.m[0][0] = y, d.m[0][1] = 0.0, d.m[0][2] = c * 2.0 * (1.0 - kr);
  d.m[1][0] = y, d.m[1][1] = -c * 2.0 * kb * (1.0 - kb) / kg,
  d.m[1][2] = -c * 2.0 * kr * (1.0 - kr) / kg;
  d.m[2][0] = y, d.m[2][1] = c * 2.0 * (1.0 - kb), d.m[2][2] = 0.0;
  for (int r = 0; r < 3; ++r)
    d.o[r] = -(d.m[r][0] * y_origin + d.m[r][1] * 128.0 + d.m[r][2] * 128.0);
  return d;
}

struct Conversions {
  Affine decode[kColourHypotheses];
  Affine encode[kColourHypotheses];
  Conversions() {
    for (int h = 0; h < kColourHypotheses; ++h) {
      decode[h] = Decoder(h);
      encode[h] = Inverse(decode[h]);
    }
  }
};

const Conversions& Tables() {
  static const Conversions tables;
  return tables;
}

double Clamp255(double v) { return v < 0.0 ? 0.0 : v > 255.0 ? 255.0 : v; }

double Luma601(double r, double g, double b) { return 0.299 * r + 0.587 * g + 0.114 * b; }

// The handling the source's own conversion uses; Unknown for RGB.
ColourHandling SourceHandling(uint32_t compression) {
  switch (compression) {
    case synth::kFormatYUY2:
    case synth::kFormatYVYU:
    case synth::kFormatUYVY: return ColourHandling::Bt601Limited;
    case synth::kFormatHDYC: return ColourHandling::Bt709Limited;
    default: return ColourHandling::Unknown;
  }
}

int32_t Wrap(int32_t offset, int32_t period) {
  const int64_t r = static_cast<int64_t>(offset) % period;
  return static_cast<int32_t>(r < 0 ? r + period : r);
}

// The cubic most scalers default to (a = -0.5), widened by the shrink factor as an
// antialiasing scaler widens it.
double Cubic(double t) {
  t = std::abs(t);
  if (t < 1.0) return (1.5 * t - 2.5) * t * t + 1.0;
  if (t < 2.0) return ((-0.5 * t + 2.5) * t - 4.0) * t + 2.0;
  return 0.0;
}

// Normalised weights of taps first, first + 1, ... for the value at `phase` (0 to 1) past a
// pixel, for a recording `factor` times smaller.
std::vector<float> ScalerKernel(double factor, double phase, int32_t& first) {
  const double width = std::max(factor, 1.0);
  first = static_cast<int32_t>(std::floor(phase - 2.0 * width)) + 1;
  const int32_t last = static_cast<int32_t>(std::ceil(phase + 2.0 * width)) - 1;
  std::vector<double> raw;
  double total = 0.0;
  for (int32_t k = first; k <= last; ++k) {
    raw.push_back(Cubic((k - phase) / width));
    total += raw.back();
  }
  std::vector<float> weights;
  for (double w : raw) weights.push_back(static_cast<float>(w / total));
  return weights;
}

// The fraction of a pixel past the source pixel that recording coordinate r maps to.
double MappedFraction(int64_t r, double factor) {
  const double s = (static_cast<double>(r) + 0.5) * factor - 0.5;
  return s - std::floor(s);
}

// Recording coordinates whose mapped centre lies within [lo, hi] of the source axis.
bool RecordedRange(double factor, int32_t recorded, double lo, double hi, int32_t& first,
                   int32_t& last) {
  const double a = std::ceil((lo + 0.5) / factor - 0.5);
  const double b = std::floor((hi + 0.5) / factor - 0.5);
  first = static_cast<int32_t>(std::max(a, 0.0));
  last = static_cast<int32_t>(std::min(b, static_cast<double>(recorded) - 1.0));
  return lo <= hi && first <= last;
}

}  // namespace

const char* ColourHandlingName(ColourHandling handling) {
  switch (handling) {
    case ColourHandling::Bt601Limited: return "BT.601 limited";
    case ColourHandling::Bt601Full: return "BT.601 full";
    case ColourHandling::Bt709Limited: return "BT.709 limited";
    case ColourHandling::Bt709Full: return "BT.709 full";
    case ColourHandling::Rgb: return "RGB";
    default: return "unknown";
  }
}

BackgroundMatcher::BackgroundMatcher(const config::Preset& preset, const std::string& directory,
                                     int32_t cell_height) {
  Load(preset, directory, cell_height);
}

bool BackgroundMatcher::Load(const config::Preset& preset, const std::string& directory,
                             int32_t cell_height) {
  ready_ = false;
  picture_loaded_ = false;
  picture_.clear();
  filtered_.clear();
  columns_.clear();
  rows_.clear();
  expected_.clear();
  grid_width_ = grid_height_ = 0;
  have_gathered_ = false;
  if (preset.w <= 0 || preset.h <= 0 || preset.w > kMaxSide || preset.h > kMaxSide ||
      synth::BytesPerPixel(preset.compression, preset.bit_count) == 0)
    return false;

  // Joined as the source joins them; an unterminated name is cut at the field's end.
  std::string path = directory;
#ifdef _WIN32
  const char separator = '\\';
#else
  const char separator = '/';
#endif
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += separator;
  path.append(preset.bmp, std::find(preset.bmp, preset.bmp + sizeof preset.bmp, '\0'));

  synth::FrameImage image;
  picture_loaded_ =
      image.LoadPicture(path.c_str(), preset.w, preset.h, preset.compression, preset.bit_count);
  if (!picture_loaded_ &&
      !image.CreateBlank(preset.w, preset.h, preset.compression, preset.bit_count))
    return false;
  const int32_t width = image.width();
  const int32_t height = image.height();
  if (image.Pixels() == nullptr || width < preset.w || height < preset.h) return false;

  try {
    picture_.assign(static_cast<std::size_t>(width) * height * 4, 0);
  } catch (const std::bad_alloc&) {
    picture_.clear();
    return false;
  }
  const uint8_t* pixels = image.Pixels();
  const std::size_t stride = static_cast<std::size_t>(image.stride());
  if (preset.compression == synth::kFormatRgb) {
    const int32_t bpp = image.bytes_per_pixel();
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* row = pixels + stride * (height - 1 - y);  // stored bottom-up
      uint8_t* out = &picture_[static_cast<std::size_t>(y) * width * 4];
      for (int32_t x = 0; x < width; ++x, out += 4) {
        out[0] = row[x * bpp + 2];
        out[1] = row[x * bpp + 1];
        out[2] = row[x * bpp];
      }
    }
  } else {
    int32_t y_at = 0, cb_at = 1, cr_at = 3;  // byte offsets within a pair: YUY2
    if (preset.compression == synth::kFormatYVYU) {
      cb_at = 3, cr_at = 1;
    } else if (preset.compression != synth::kFormatYUY2) {  // UYVY, HDYC
      y_at = 1, cb_at = 0, cr_at = 2;
    }
    // Pairs start at even picture columns; the pair of an odd-width row's last pixel reads on
    // across the wrap, as a window copy would.
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 2;
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* row = pixels + stride * y;
      uint8_t* out = &picture_[static_cast<std::size_t>(y) * width * 4];
      for (int32_t x = 0; x < width; ++x, out += 4) {
        const std::size_t pair = static_cast<std::size_t>(x - (x & 1)) * 2;
        out[0] = row[static_cast<std::size_t>(x) * 2 + y_at];
        out[1] = row[(pair + cb_at) % row_bytes];
        out[2] = row[(pair + cr_at) % row_bytes];
      }
    }
  }

  picture_width_ = width;
  picture_height_ = height;
  w_ = preset.w;
  h_ = preset.h;
  compression_ = preset.compression;
  preset_ = preset;
  origin_y_ = frame::CentringOrigin(preset, height);
  cell_height_ = std::clamp(cell_height, 0, preset.h);
  ready_ = true;
  return true;
}

BackgroundMatcher::Window BackgroundMatcher::WindowOf(int32_t frame_number) const {
  // Index 0 is the even lines from the top, the top field.
  const frame::FramePlan plan = frame::PlanFrame(preset_, origin_y_, frame_number);
  Window window{};
  window.column[0] = plan.top_field.column;
  window.line[0] = plan.top_field.line;
  window.column[1] = plan.bottom_field.column;
  window.line[1] = plan.bottom_field.line;
  for (int k = 0; k < 2; ++k) {
    window.column[k] = Wrap(window.column[k], picture_width_);
    window.line[k] = Wrap(window.line[k], picture_height_);
  }
  return window;
}

void BackgroundMatcher::BuildGrid(int32_t recorded_width, int32_t recorded_height) {
  columns_.clear();
  rows_.clear();
  filtered_.clear();
  have_gathered_ = false;
  grid_width_ = recorded_width;
  grid_height_ = recorded_height;

  const double fx = static_cast<double>(w_) / recorded_width;
  const double fy = static_cast<double>(h_) / recorded_height;
  if (fx > kMaxShrink || fy > kMaxShrink) return;
  // Scaling blurs the text into the rows next to it, and a scaler's edge handling differs from
  // the picture's wrap: keep a margin of a few recorded pixels.
  const int32_t margin_x = 2 + static_cast<int32_t>(std::ceil(2.0 * std::max(fx, 1.0)));
  const int32_t margin_y = 2 + static_cast<int32_t>(std::ceil(2.0 * std::max(fy, 1.0)));
  int32_t u0 = 0, u1 = 0, v0 = 0, v1 = 0;
  if (!RecordedRange(fx, recorded_width, margin_x, w_ - 1.0 - margin_x, u0, u1) ||
      !RecordedRange(fy, recorded_height, cell_height_ + margin_y,
                     h_ - 1.0 - cell_height_ - margin_y, v0, v1))
    return;

  const int64_t nu = int64_t{u1} - u0 + 1;
  const int64_t nv = int64_t{v1} - v0 + 1;
  const int64_t step = std::max<int64_t>(
      1, static_cast<int64_t>(std::sqrt(static_cast<double>(nu) * nv / kTargetPoints)));
  const int64_t step_x = std::max(step, (nu + kMaxPerAxis - 1) / kMaxPerAxis);
  const int64_t step_y = std::max(step, (nv + kMaxPerAxis - 1) / kMaxPerAxis);

  // One coordinate per stretch of `stride`: the one whose centre maps nearest to the axis's
  // phase past a source pixel, so that one resampled picture serves every grid point; a
  // stretch without one within an eighth of a pixel is left out.
  auto fill = [](std::vector<AxisSample>& axis, int64_t first, int64_t count, int64_t stride,
                 double factor, int32_t source_size, double phase) {
    for (int64_t start = first; start < first + count; start += stride) {
      const int64_t end = std::min({start + stride, first + count, start + 64});
      int64_t best = -1;
      double best_source = 0.0, best_distance = 0.125;
      for (int64_t r = start; r < end && best_distance > 1e-9; ++r) {
        const double s = (static_cast<double>(r) + 0.5) * factor - 0.5 - phase;
        const double nearest = std::round(s);
        if (std::abs(s - nearest) <= best_distance)
          best = r, best_source = nearest, best_distance = std::abs(s - nearest);
      }
      if (best < 0) continue;
      const double source = std::clamp(best_source, 0.0, source_size - 1.0);
      axis.push_back({static_cast<int32_t>(best), static_cast<int32_t>(source)});
    }
  };
  const double phase_x = MappedFraction(u0, fx);
  const double phase_y = MappedFraction(v0, fy);
  try {
    fill(columns_, u0, nu, step_x, fx, w_, phase_x);
    fill(rows_, v0, nv, step_y, fy, h_, phase_y);
    const bool same_size = fx == 1.0 && fy == 1.0 && phase_x == 0.0 && phase_y == 0.0;
    if (!same_size) BuildFiltered(fx, fy, phase_x, phase_y);
  } catch (const std::bad_alloc&) {
    columns_.clear();
    rows_.clear();
    filtered_.clear();
  }
}

// What a scaler would make of the periodic picture at the recording's scale, pixel x holding
// the value at x plus the grid's phase.
void BackgroundMatcher::BuildFiltered(double x_factor, double y_factor, double x_phase,
                                      double y_phase) {
  const int32_t width = picture_width_;
  const int32_t height = picture_height_;
  int32_t first_x = 0, first_y = 0;
  const std::vector<float> kx = ScalerKernel(x_factor, x_phase, first_x);
  const std::vector<float> ky = ScalerKernel(y_factor, y_phase, first_y);
  const int32_t nx = static_cast<int32_t>(kx.size());
  const int32_t ny = static_cast<int32_t>(ky.size());
  const std::size_t row_values = static_cast<std::size_t>(width) * 3;
  std::vector<float> across(row_values * height);
  // Each row is first laid out with its wrapped neighbours, so the taps need no wrapping.
  std::vector<float> padded(static_cast<std::size_t>(width + nx) * 3);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = &picture_[static_cast<std::size_t>(y) * width * 4];
    for (int32_t i = 0; i < width + nx - 1; ++i) {
      const uint8_t* p = row + static_cast<std::size_t>(Wrap(i + first_x, width)) * 4;
      for (int c = 0; c < 3; ++c) padded[std::size_t(i) * 3 + c] = p[c];
    }
    float* out = &across[row_values * y];
    for (std::size_t v = 0; v < row_values; ++v) {
      float sum = 0.0f;
      for (int32_t k = 0; k < nx; ++k) sum += kx[k] * padded[v + std::size_t(k) * 3];
      out[v] = sum;
    }
  }
  filtered_.assign(picture_.size(), 0);
  std::vector<float> sum(row_values);
  for (int32_t y = 0; y < height; ++y) {
    std::fill(sum.begin(), sum.end(), 0.0f);
    for (int32_t k = 0; k < ny; ++k) {
      const float* in = &across[row_values * Wrap(y + first_y + k, height)];
      for (std::size_t v = 0; v < row_values; ++v) sum[v] += ky[k] * in[v];
    }
    uint8_t* out = &filtered_[static_cast<std::size_t>(y) * width * 4];
    for (std::size_t v = 0; v < row_values; ++v)
      out[v / 3 * 4 + v % 3] = static_cast<uint8_t>(std::clamp(sum[v] + 0.5f, 0.0f, 255.0f));
  }
}

void BackgroundMatcher::Gather(const Window& window) {
  const uint8_t* picture = filtered_.empty() ? picture_.data() : filtered_.data();
  const int32_t width = picture_width_;
  const int32_t height = picture_height_;
  expected_.resize(columns_.size() * rows_.size() * 3);
  float* out = expected_.data();
  // Frame columns and lines lie below the picture's size, offsets too: one subtraction wraps.
  auto wrap = [](int32_t v, int32_t period) { return v >= period ? v - period : v; };
  for (const AxisSample& row : rows_) {
    // Each field has its own window; a scaled interlaced frame is taken as the field of the
    // line its rows map to.
    const int field = row.source & 1;
    const uint8_t* line =
        picture +
        static_cast<std::size_t>(wrap(window.line[field] + row.source, height)) * width * 4;
    for (const AxisSample& column : columns_) {
      const uint8_t* p =
          line + static_cast<std::size_t>(wrap(window.column[field] + column.source, width)) * 4;
      out[0] = p[0], out[1] = p[1], out[2] = p[2];
      out += 3;
    }
  }
  gathered_ = window;
  have_gathered_ = true;
}

bool BackgroundMatcher::PrepareFor(const FrameView& frame, int32_t frame_number) {
  if (!ready_ || !IsUsable(frame)) return false;
  if (frame.width != grid_width_ || frame.height != grid_height_)
    BuildGrid(frame.width, frame.height);
  if (columns_.empty() || rows_.empty()) return false;
  const Window window = WindowOf(frame_number);
  if (!have_gathered_ || !(window == gathered_)) {
    try {
      Gather(window);
    } catch (const std::bad_alloc&) {
      have_gathered_ = false;
      return false;
    }
  }
  return true;
}

double BackgroundMatcher::Psnr(const FrameView& frame, int32_t frame_number) {
  if (!PrepareFor(frame, frame_number)) return kPsnrUnavailable;
  const bool source_rgb = compression_ == synth::kFormatRgb;
  const bool recorded_rgb = frame.model == ColourModel::Rgb;
  const Conversions& tables = Tables();
  const ColourHandling own = SourceHandling(compression_);
  const Affine& to_source = tables.encode[own == ColourHandling::Unknown ? 0 : int(own)];

  double sse[kColourHypotheses] = {};
  const float* e = expected_.data();
  for (const AxisSample& row : rows_) {
    for (const AxisSample& column : columns_) {
      const int32_t x = column.recorded, y = row.recorded;
      if (!source_rgb && !recorded_rgb) {
        const double d = frame.Sample(0, x, y) - e[0];
        sse[0] += d * d;
      } else if (recorded_rgb) {
        const double r = frame.Sample(0, x, y), g = frame.Sample(1, x, y),
                     b = frame.Sample(2, x, y);
        // An RGB recording of a 4:2:2 preset is put back into the source's Y'.
        const double d = source_rgb ? Luma601(r, g, b) - Luma601(e[0], e[1], e[2])
                                    : to_source.m[0][0] * r + to_source.m[0][1] * g +
                                          to_source.m[0][2] * b + to_source.o[0] - e[0];
        sse[0] += d * d;
      } else {
        const double luma = frame.Sample(0, x, y);
        for (int h = 0; h < kColourHypotheses; ++h) {
          const Affine& a = tables.encode[h];
          const double d = luma - (a.m[0][0] * e[0] + a.m[0][1] * e[1] + a.m[0][2] * e[2] + a.o[0]);
          sse[h] += d * d;
        }
      }
      e += 3;
    }
  }
  const int hypotheses = source_rgb && !recorded_rgb ? kColourHypotheses : 1;
  const double best = *std::min_element(sse, sse + hypotheses);
  const double mse = best / static_cast<double>(rows_.size() * columns_.size());
  if (!(mse > 0.0)) return kPsnrIdentical;
  return std::min(kPsnrIdentical, 10.0 * std::log10(255.0 * 255.0 / mse));
}

ColourVerdict BackgroundMatcher::JudgeColour(const FrameView& frame, int32_t frame_number) {
  ColourVerdict verdict;
  if (!PrepareFor(frame, frame_number)) return verdict;
  const bool source_rgb = compression_ == synth::kFormatRgb;
  const bool recorded_rgb = frame.model == ColourModel::Rgb;
  const Conversions& tables = Tables();
  const ColourHandling own = SourceHandling(compression_);
  const double points = static_cast<double>(rows_.size() * columns_.size());
  verdict.samples = static_cast<int32_t>(rows_.size() * columns_.size());

  double sse[kColourHypotheses] = {};
  // Y'CbCr kept from a 4:2:2 preset is compared as Y'CbCr: the source's values re-encoded by
  // each hypothesis (the source's own is the identity).
  Affine reencode[kColourHypotheses];
  if (!source_rgb && !recorded_rgb)
    for (int h = 0; h < kColourHypotheses; ++h)
      reencode[h] = Compose(tables.encode[h], tables.decode[int(own)]);

  const float* e = expected_.data();
  for (const AxisSample& row : rows_) {
    for (const AxisSample& column : columns_) {
      const double got[3] = {static_cast<double>(frame.Sample(0, column.recorded, row.recorded)),
                             static_cast<double>(frame.Sample(1, column.recorded, row.recorded)),
                             static_cast<double>(frame.Sample(2, column.recorded, row.recorded))};
      const double want[3] = {e[0], e[1], e[2]};
      e += 3;
      if (source_rgb && recorded_rgb) {
        for (int c = 0; c < 3; ++c) sse[0] += (got[c] - want[c]) * (got[c] - want[c]);
        continue;
      }
      for (int h = 0; h < kColourHypotheses; ++h) {
        double model[3];
        const double* compared = got;
        if (!source_rgb && !recorded_rgb) {
          reencode[h].Apply(want, model);
        } else if (recorded_rgb) {
          // The decoder that made this RGB clamped its results.
          tables.decode[h].Apply(want, model);
          for (double& v : model) v = Clamp255(v);
        } else {
          tables.decode[h].Apply(got, model);
          compared = want;
        }
        for (int c = 0; c < 3; ++c) sse[h] += (compared[c] - model[c]) * (compared[c] - model[c]);
      }
    }
  }

  if (source_rgb && recorded_rgb) {
    verdict.rgb_error = std::sqrt(sse[0] / (3.0 * points));
    verdict.likely = verdict.implied = ColourHandling::Rgb;
    verdict.matches = true;
    return verdict;
  }
  int best = 0;
  for (int h = 0; h < kColourHypotheses; ++h) {
    verdict.error[h] = std::sqrt(sse[h] / (3.0 * points));
    if (verdict.error[h] < verdict.error[best]) best = h;
  }
  verdict.implied = own;
  verdict.likely = static_cast<ColourHandling>(best);
  // Content without colour cannot tell the matrices apart: a near tie goes to the source's own.
  if (own != ColourHandling::Unknown &&
      verdict.error[int(own)] <= verdict.error[best] * 1.01 + 1e-6)
    verdict.likely = own;
  verdict.matches = own == ColourHandling::Unknown || verdict.likely == own;
  return verdict;
}

}  // namespace qp::check
