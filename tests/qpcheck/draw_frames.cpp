// Writes frames as the stream draws them for a preset of an INI, as raw bytes in the preset's
// layout (top row first), so that FFmpeg can wrap them into recordings for qpcheck to check.
//   qpcheck_draw_frames INI PRESET COUNT OUT.raw
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/module_directory.h"
#include "config/stream_configuration.h"
#include "support/expected_frame.h"
#include "synth/pixel_format_code.h"

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
  qp::test::ExpectedFrame frame(p, std::string(folder.data()) + "/");
  if (!frame.ok()) {
    std::fprintf(stderr, "qpcheck_draw_frames: cannot load the pictures\n");
    return 2;
  }
  std::FILE* out = std::fopen(argv[4], "wb");
  if (out == nullptr) return 2;
  for (int32_t n = 0; n < count; ++n) {
    // Due at 1000 ms + n frame times, filled a millisecond later.
    const int32_t clock_ms = 1001 + static_cast<int32_t>(n * p.frame_time / 10000);
    frame.Draw(n, 0, clock_ms, 1e7 / p.frame_time);
    const std::vector<uint8_t>& bytes = frame.bytes();
    if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return 2;
  }
  return std::fclose(out) == 0 ? 0 : 2;
}
