// Writes frames as the stream draws them for a preset of an INI, as raw bytes in the preset's
// layout (top row first), so that FFmpeg can wrap them into recordings for qpcheck to check.
//   qpcheck_draw_frames INI PRESET COUNT OUT.raw
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/module_directory.h"
#include "config/stream_configuration.h"
#include "stream/status_text.h"
#include "synth/frame_image.h"
#include "synth/pixel_format.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: qpcheck_draw_frames INI PRESET COUNT OUT.raw\n");
    return 2;
  }
  qp::config::StreamConfiguration c;
  const int index = std::atoi(argv[2]);
  const int count = std::atoi(argv[3]);
  if (!c.LoadConfigurationFrom(argv[1]) || index < 0 || index >= c.preset_num || count <= 0) {
    std::fprintf(stderr, "qpcheck_draw_frames: bad INI, preset or count\n");
    return 2;
  }
  const qp::config::Preset& p = c.presets[index];
  if (p.compression == qp::synth::kFormatRgb || p.interlaced != 0) {
    std::fprintf(stderr, "qpcheck_draw_frames: only progressive 4:2:2 presets\n");
    return 2;
  }
  std::vector<char> folder(std::string(argv[1]).size() + 1);
  qp::config::DirectoryOfPath(argv[1], folder.data(), folder.size());
  const std::string dir = std::string(folder.data()) + "/";
  qp::synth::FrameImage background, sheet;
  if (!background.LoadPicture((dir + p.bmp).c_str(), p.w, p.h, p.compression, p.bit_count) ||
      !sheet.LoadPicture((dir + p.font).c_str(), 0, 0, p.compression, p.bit_count)) {
    std::fprintf(stderr, "qpcheck_draw_frames: cannot load the pictures\n");
    return 2;
  }
  std::FILE* out = std::fopen(argv[4], "wb");
  if (out == nullptr) return 2;
  std::vector<uint8_t> bytes(static_cast<std::size_t>(p.w) * p.h * 2);
  const qp::synth::FrameBuffer frame{bytes.data(), bytes.size(), p.w, p.h, p.w * 2, false};
  char header[qp::stream::kTextSize], status[qp::stream::kTextSize];
  qp::stream::FormatHeaderLine(header, p, true);
  const int32_t origin_y = p.scroll_y == 0 ? (background.height() - p.h) / 2 : 0;
  for (int32_t n = 0; n < count; ++n) {
    background.CopyWindow(frame, p.scroll_x * n, p.scroll_x * n, origin_y + p.scroll_y * n,
                          origin_y + p.scroll_y * n);
    // Due at 1000 ms + n frame times, filled a millisecond later.
    const int32_t clock_ms = 1001 + static_cast<int32_t>(n * p.frame_time / 10000);
    qp::stream::FormatStatusLine(status, p.w, n, 0, clock_ms, 1e7 / p.frame_time);
    int32_t tw = 0, th = 0;
    sheet.MeasureText(status, tw, th);
    sheet.DrawText(frame, 0, p.h - sheet.cell_height(), header);
    sheet.DrawText(frame, p.w - tw, 0, status);
    if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return 2;
  }
  return std::fclose(out) == 0 ? 0 : 2;
}
