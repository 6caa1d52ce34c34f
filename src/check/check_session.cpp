#include "check/check_session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdint>

#include "config/module_directory.h"
#include "frame/status_text.h"
#include "synth/pixel_format.h"

namespace qp::check {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// Joined as the source joins them: the relative name appended as written.
std::string JoinPath(const std::string& directory, const char* relative, std::size_t size) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += kSeparator;
  path.append(relative, strnlen(relative, size));
  return path;
}

// Same aspect within 1%: scalers round odd sizes.
bool SameAspect(int32_t w, int32_t h, int32_t pw, int32_t ph) {
  const double a = static_cast<double>(w) * ph;
  const double b = static_cast<double>(h) * pw;
  return std::fabs(a - b) <= 0.01 * b;
}

double PresetFps(const config::Preset& p) {
  return p.frame_time > 0 ? 1e7 / static_cast<double>(p.frame_time) : 0.0;
}

// A neighbouring frame's window must fit this much better to overrule the status line.
constexpr double kBackgroundMarginDb = 1.0;
// A frame this far below the median PSNR of the recent trusted frames shows another frame's
// number; the median of at least kRecentPsnrMin of the last kRecentPsnrMax is compared.
constexpr double kPsnrOutlierDb = 6.0;
constexpr std::size_t kRecentPsnrMin = 8;
constexpr std::size_t kRecentPsnrMax = 31;

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

struct CheckSession::Reader {
  std::string font;
  int32_t width = 0;
  int32_t height = 0;
  std::unique_ptr<StatusLineReader> reader;
};

std::string ExpectedHeader(const config::Preset& preset, bool cpu_clock) {
  config::Preset terminated = preset;
  terminated.comment[sizeof terminated.comment - 1] = '\0';
  char coded[frame::kTextSize];
  frame::FormatHeaderLine(coded, terminated, cpu_clock);
  return frame::PlainText(coded);
}

CheckSession::CheckSession() = default;
CheckSession::~CheckSession() = default;

bool CheckSession::Open(const SessionSettings& settings, std::string& error) {
  settings_ = settings;
  std::string ini;
  if (!settings.install_dir.empty()) {
    directory_ = settings.install_dir;
    ini = JoinPath(directory_, config::kIniFileName, sizeof config::kIniFileName);
  } else if (!settings.ini_path.empty()) {
    ini = settings.ini_path;
    std::vector<char> directory(ini.size() + 1);
    config::DirectoryOfPath(ini.c_str(), directory.data(), directory.size());
    directory_ = directory.data();
    if (directory_.empty()) directory_ = ".";
  } else {
    error = "no install folder or INI file to check against";
    return false;
  }
  // A missing INI would silently give the built-in defaults.
  std::FILE* file = std::fopen(ini.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot read " + ini;
    return false;
  }
  std::fclose(file);
  if (!configuration_.LoadConfigurationFrom(ini.c_str())) {
    error = "out of memory reading " + ini;
    return false;
  }
  if (configuration_.presets[0].enable == 0)
    warnings_.push_back("no preset of " + ini + " is enabled: checking against its defaults");
  if (settings.preset >= configuration_.preset_num) {
    error = "no preset " + std::to_string(settings.preset) + ": " + ini + " has " +
            std::to_string(configuration_.preset_num) + " (0 to " +
            std::to_string(configuration_.preset_num - 1) + ")";
    return false;
  }
  opened_ = true;
  return true;
}

const config::Preset* CheckSession::preset() const {
  if (chosen_ >= candidates_.size()) return nullptr;
  return &configuration_.presets[candidates_[chosen_].index];
}

const synth::FrameImage* CheckSession::Sheet(const config::Preset& preset, std::string& error) {
  if (preset.font[0] == '\0') {
    error = "the preset names no glyph sheet (font=)";
    return nullptr;
  }
  const std::string path = JoinPath(directory_, preset.font, sizeof preset.font);
  auto found = sheets_.find(path);
  if (found != sheets_.end()) return found->second.get();
  auto sheet = std::make_unique<synth::FrameImage>();
  if (!sheet->LoadPicture(path.c_str(), 0, 0, synth::kFormatRgb, 24)) {
    error = "cannot load the glyph sheet " + path;
    return nullptr;
  }
  return sheets_.emplace(path, std::move(sheet)).first->second.get();
}

bool CheckSession::PrepareCandidates(int32_t width, int32_t height, std::string& error) {
  width_ = width;
  height_ = height;
  std::vector<int32_t> indices;
  if (settings_.preset >= 0) {
    indices.push_back(settings_.preset);
    const config::Preset& p = configuration_.presets[settings_.preset];
    if (!SameAspect(width_, height_, p.w, p.h))
      warnings_.push_back("the recording's " + std::to_string(width_) + "x" +
                          std::to_string(height_) + " is not preset " +
                          std::to_string(settings_.preset) + "'s aspect: little will read");
  } else {
    // Presets of the recording's own size first.
    for (int pass = 0; pass < 2; ++pass)
      for (int32_t i = 0; i < configuration_.preset_num; ++i) {
        const config::Preset& p = configuration_.presets[i];
        const bool exact = p.w == width_ && p.h == height_;
        if ((pass == 0) == exact && SameAspect(width_, height_, p.w, p.h)) indices.push_back(i);
      }
  }
  if (indices.empty()) {
    error = "no preset has the recording's size " + std::to_string(width_) + "x" +
            std::to_string(height_) + " or its aspect; name one with --preset";
    return false;
  }
  for (int32_t index : indices) {
    const config::Preset& p = configuration_.presets[index];
    const synth::FrameImage* sheet = Sheet(p, error);
    if (sheet == nullptr) return false;
    const std::string font = JoinPath(directory_, p.font, sizeof p.font);
    Candidate c;
    c.index = index;
    c.reader = readers_.size();
    for (std::size_t r = 0; r < readers_.size(); ++r)
      if (readers_[r]->font == font && readers_[r]->width == p.w && readers_[r]->height == p.h)
        c.reader = r;
    if (c.reader == readers_.size()) {
      auto reader = std::make_unique<Reader>();
      reader->font = font;
      reader->width = p.w;
      reader->height = p.h;
      reader->reader = std::make_unique<StatusLineReader>(*sheet, p.w, p.h);
      if (!reader->reader->IsUsable()) {
        error = "the glyph sheet " + font + " has no usable cells";
        return false;
      }
      readers_.push_back(std::move(reader));
    }
    c.expected[0] = ExpectedHeader(p, true);
    c.expected[1] = ExpectedHeader(p, false);
    candidates_.push_back(std::move(c));
  }
  return true;
}

void CheckSession::TryHeader(const FrameView& frame) {
  ++header_tries_;
  std::vector<HeaderReading> headers(readers_.size());
  std::vector<bool> read(readers_.size(), false);
  std::vector<std::size_t> matched;
  std::vector<int> clocks;
  // Only as many cells as the longest header to compare with: reading a cell is costly.
  std::size_t longest = 0;
  for (const Candidate& c : candidates_)
    longest = std::max({longest, c.expected[0].size(), c.expected[1].size()});
  for (std::size_t k = 0; k < candidates_.size(); ++k) {
    if (chosen_ != SIZE_MAX && k != chosen_) continue;
    const Candidate& c = candidates_[k];
    if (!read[c.reader]) {
      headers[c.reader] =
          readers_[c.reader]->reader->ReadHeader(frame, static_cast<int32_t>(longest));
      read[c.reader] = true;
      if (choice_.read_header.empty()) choice_.read_header = Trimmed(headers[c.reader].text);
    }
    const HeaderReading& header = headers[c.reader];
    for (int clock = 0; clock < 2; ++clock) {
      // Cells past the frame's right edge are not drawn.
      std::string expected = c.expected[clock];
      if (expected.size() > header.text.size()) expected.resize(header.text.size());
      if (HeaderMatches(header, expected)) {
        matched.push_back(k);
        clocks.push_back(clock);
        choice_.read_header = header.text.substr(0, expected.size());
        break;
      }
    }
  }
  if (matched.empty()) return;
  auto better = [&](std::size_t a, std::size_t b) {
    const config::Preset& pa = configuration_.presets[candidates_[a].index];
    const config::Preset& pb = configuration_.presets[candidates_[b].index];
    const bool exact_a = pa.w == width_ && pa.h == height_;
    const bool exact_b = pb.w == width_ && pb.h == height_;
    if (exact_a != exact_b) return exact_a;
    if (settings_.nominal_fps > 0.0) {
      const double da = std::fabs(PresetFps(pa) - settings_.nominal_fps);
      const double db = std::fabs(PresetFps(pb) - settings_.nominal_fps);
      if (std::fabs(da - db) > 1e-6) return da < db;
    }
    return candidates_[a].index < candidates_[b].index;
  };
  std::size_t best = 0;
  for (std::size_t m = 1; m < matched.size(); ++m)
    if (better(matched[m], matched[best])) best = m;
  if (chosen_ == SIZE_MAX) {
    if (matched.size() > 1) {
      std::string others;
      for (std::size_t m = 0; m < matched.size(); ++m)
        if (m != best) others += " " + std::to_string(candidates_[matched[m]].index);
      warnings_.push_back("presets" + others + " draw the same header as preset " +
                          std::to_string(candidates_[matched[best]].index) +
                          "; took the latter by size, rate and order");
    }
    Settle(matched[best], true);
  }
  choice_.header_confirmed = true;
  choice_.clock_name = clocks[best] == 0 ? "CPU Clock" : "Stream Time";
  choice_.expected_header = candidates_[matched[best]].expected[clocks[best]];
}

void CheckSession::Settle(std::size_t candidate, bool confirmed) {
  chosen_ = candidate;
  const Candidate& c = candidates_[candidate];
  const config::Preset& p = configuration_.presets[c.index];
  choice_.index = c.index;
  choice_.header_confirmed = confirmed;
  choice_.scaled = p.w != width_ || p.h != height_;
  choice_.expected_header = c.expected[0];
  const StatusLineReader& reader = *readers_[c.reader]->reader;
  matcher_ = std::make_unique<BackgroundMatcher>(p, directory_, reader.cell_height());
  if (!matcher_->ready()) {
    warnings_.push_back("preset " + std::to_string(c.index) +
                        "'s background cannot be rebuilt: no PSNR");
  } else if (!matcher_->picture_loaded()) {
    warnings_.push_back("the background picture " + JoinPath(directory_, p.bmp, sizeof p.bmp) +
                        " did not load: PSNR is against black, as the source would draw");
  }
  for (const Pending& frame : pending_) Record(nullptr, frame.readings[c.reader], frame.time_ms);
  pending_.clear();
}

void CheckSession::SettleWithoutHeader(const FrameView* frame) {
  // The reader that made sense of the most status lines has the source's size.
  std::vector<int64_t> readable(readers_.size(), 0);
  for (const Pending& p : pending_)
    for (std::size_t r = 0; r < readers_.size(); ++r)
      if (p.readings[r].readable) ++readable[r];
  std::size_t reader = candidates_[0].reader;
  for (const Candidate& c : candidates_)
    if (readable[c.reader] > readable[reader]) reader = c.reader;
  // Among its presets the background tells scrolling from still pictures, then the rate.
  const StatusReading* last =
      frame != nullptr && !pending_.empty() ? &pending_.back().readings[reader] : nullptr;
  std::vector<double> psnr(candidates_.size(), -1.0);
  if (last != nullptr && last->readable) {
    for (std::size_t k = 0; k < candidates_.size(); ++k) {
      if (candidates_[k].reader != reader) continue;
      BackgroundMatcher matcher(configuration_.presets[candidates_[k].index], directory_,
                                readers_[reader]->reader->cell_height());
      if (matcher.ready()) psnr[k] = matcher.Psnr(*frame, last->frame);
    }
  }
  std::size_t best = SIZE_MAX;
  for (std::size_t k = 0; k < candidates_.size(); ++k) {
    if (candidates_[k].reader != reader) continue;
    if (best == SIZE_MAX) {
      best = k;
      continue;
    }
    if (std::fabs(psnr[k] - psnr[best]) > kBackgroundMarginDb) {
      if (psnr[k] > psnr[best]) best = k;
      continue;
    }
    if (settings_.nominal_fps > 0.0) {
      const double dk = std::fabs(PresetFps(configuration_.presets[candidates_[k].index]) -
                                  settings_.nominal_fps);
      const double db = std::fabs(PresetFps(configuration_.presets[candidates_[best].index]) -
                                  settings_.nominal_fps);
      if (dk + 1e-6 < db) best = k;
    }
  }
  warnings_.push_back("the header line was not recognised in " + std::to_string(header_tries_) +
                      " frames (read \"" + choice_.read_header + "\"); took preset " +
                      std::to_string(candidates_[best].index) + " by size, background and rate");
  Settle(best, false);
}

void CheckSession::Record(const FrameView* frame, const StatusReading& reading, double time_ms) {
  FrameRecord record;
  record.position = static_cast<int64_t>(records_.size());
  record.time_ms = time_ms;
  record.reading = reading;
  // The cells' text only explains a single reading; a long recording would keep it per frame.
  record.reading.cells = std::string();
  if (frame != nullptr && matcher_ && matcher_->ready() && reading.readable) {
    const double psnr = matcher_->Psnr(*frame, reading.frame);
    if (psnr >= 0.0) record.psnr = psnr;
    // A scrolling background tells neighbouring frames apart: when the window of the number
    // before or after fits clearly better, the status line is not this frame's.
    const config::Preset& p = *preset();
    if (psnr >= 0.0 && (p.scroll_x != 0 || p.scroll_y != 0)) {
      for (int32_t step : {-1, 1}) {
        if (reading.frame + step < 0 || reading.frame == INT32_MAX) continue;
        if (matcher_->Psnr(*frame, reading.frame + step) > psnr + kBackgroundMarginDb)
          record.background_disagrees = true;
      }
      // A status line from further away fits none of the three windows: it shows in a PSNR
      // far below that of the frames just before.
      if (recent_psnr_.size() >= kRecentPsnrMin) {
        std::vector<double> sorted(recent_psnr_.begin(), recent_psnr_.end());
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        if (psnr < sorted[sorted.size() / 2] - kPsnrOutlierDb) record.background_disagrees = true;
      }
      if (!record.background_disagrees) {
        recent_psnr_.push_back(psnr);
        if (recent_psnr_.size() > kRecentPsnrMax) recent_psnr_.pop_front();
      }
    }
    // Judged on trusted readings whose background agrees: a wrong number compares the wrong
    // window. (Scaled recordings read with margins well below those of full-size ones.)
    if (colour_.frames < settings_.colour_frames && reading.readable &&
        !record.background_disagrees) {
      const ColourVerdict verdict = matcher_->JudgeColour(*frame, reading.frame);
      if (verdict.samples > 0) {
        ++colour_.frames;
        colour_.implied = verdict.implied;
        const int32_t vote = static_cast<int32_t>(verdict.likely);
        if (vote >= 0 && vote <= kColourHypotheses) ++colour_votes_[vote];
        for (int32_t h = 0; h < kColourHypotheses; ++h)
          if (verdict.error[h] >= 0.0)
            colour_error_sum_[h] += verdict.error[h], ++colour_error_count_[h];
      }
    }
  }
  records_.push_back(record);
}

bool CheckSession::Prepare(int32_t width, int32_t height, std::string& error) {
  if (!opened_) {
    error = "the check has no configuration";
    return false;
  }
  if (!candidates_.empty()) {
    if (width == width_ && height == height_) return true;
    error = "the check was prepared for " + std::to_string(width_) + "x" + std::to_string(height_);
    return false;
  }
  if (!PrepareCandidates(width, height, error)) return false;
  // A preset named by the caller is taken; its header only confirms it.
  if (settings_.preset >= 0) Settle(0, false);
  return true;
}

bool CheckSession::AddFrame(const FrameView& frame, double time_ms, std::string& error) {
  if (!opened_) {
    error = "the check has no configuration";
    return false;
  }
  if (!IsUsable(frame)) {
    error = "frame " + std::to_string(records_.size() + pending_.size()) + " has no usable pixels";
    return false;
  }
  if (candidates_.empty()) {
    if (!Prepare(frame.width, frame.height, error)) return false;
  }
  if (frame.width != width_ || frame.height != height_) {
    // The readers are made for the first frame's size; a change mid-recording is reported
    // once and its frames counted unreadable.
    if (warnings_.empty() || warnings_.back().rfind("the frame size changed", 0) != 0)
      warnings_.push_back("the frame size changed to " + std::to_string(frame.width) + "x" +
                          std::to_string(frame.height) + " at frame " +
                          std::to_string(records_.size() + pending_.size()));
    if (chosen_ == SIZE_MAX) {
      pending_.push_back({time_ms, std::vector<StatusReading>(readers_.size())});
    } else {
      Record(nullptr, StatusReading{}, time_ms);
    }
    return true;
  }
  if (header_tries_ < settings_.header_frames && !choice_.header_confirmed) TryHeader(frame);
  if (chosen_ == SIZE_MAX) {
    Pending p{time_ms, {}};
    for (const auto& reader : readers_) p.readings.push_back(reader->reader->ReadStatus(frame));
    pending_.push_back(std::move(p));
    // Settled on a frame whose status line reads, if one comes soon, so that its background
    // can tell like presets apart.
    const int64_t waited = static_cast<int64_t>(pending_.size());
    bool any_read = false;
    for (const StatusReading& r : pending_.back().readings) any_read = any_read || r.readable;
    if (waited >= settings_.header_frames &&
        (any_read || waited >= 2 * int64_t{settings_.header_frames}))
      SettleWithoutHeader(&frame);
    return true;
  }
  Record(&frame, readers_[candidates_[chosen_].reader]->reader->ReadStatus(frame), time_ms);
  return true;
}

RecordingAnalysis CheckSession::Finish() {
  if (chosen_ == SIZE_MAX && !candidates_.empty()) SettleWithoutHeader(nullptr);
  if (colour_.frames > 0) {
    int32_t best = 0;
    for (int32_t h = 1; h <= kColourHypotheses; ++h)
      if (colour_votes_[h] > colour_votes_[best]) best = h;
    colour_.likely =
        colour_votes_[best] > 0 ? static_cast<ColourHandling>(best) : ColourHandling::Unknown;
    colour_.matches =
        colour_.implied == ColourHandling::Unknown || colour_.likely == colour_.implied;
    for (int32_t h = 0; h < kColourHypotheses; ++h)
      colour_.error[h] =
          colour_error_count_[h] > 0 ? colour_error_sum_[h] / colour_error_count_[h] : -1.0;
  }
  AnalysisOptions options;
  if (const config::Preset* p = preset()) {
    options.frame_time_ms = static_cast<double>(p->frame_time) / 10000.0;
    options.background_identifies = (p->scroll_x != 0 || p->scroll_y != 0) && matcher_ &&
                                    matcher_->ready() && matcher_->picture_loaded();
  }
  return AnalyseRecording(records_, options);
}

}  // namespace qp::check
