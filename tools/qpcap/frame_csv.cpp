#include "frame_csv.h"

namespace qpcap {

bool WriteFrameCsv(std::FILE* file, const std::vector<FrameRecord>& frames,
                   int64_t ticks_per_second) {
  std::fputs("frame,start_ms,stop_ms,arrival_ms,interval_ms,stream_ms,lateness_ms,continuous\n",
             file);
  const double ms_per_tick = 1000.0 / double(ticks_per_second);
  const FrameRecord* previous_stamped = nullptr;
  for (size_t i = 0; i < frames.size(); ++i) {
    const FrameRecord& frame = frames[i];
    const double arrival = double(frame.arrival_ticks - frames[0].arrival_ticks) * ms_per_tick;
    const double interval =
        i ? double(frame.arrival_ticks - frames[i - 1].arrival_ticks) * ms_per_tick : 0.0;
    std::fprintf(file, "%zu,", i);
    if (frame.stamped) {
      const bool continuous = !previous_stamped || previous_stamped->stop == frame.start;
      std::fprintf(file, "%.4f,%.4f,%.3f,%.3f,%.3f,%.3f,%d\n", frame.start / 1e4, frame.stop / 1e4,
                   arrival, interval, frame.stream_time / 1e4,
                   (frame.stream_time - frame.start) / 1e4, continuous ? 1 : 0);
      previous_stamped = &frame;
    } else {
      std::fprintf(file, ",,%.3f,%.3f,%.3f,,0\n", arrival, interval, frame.stream_time / 1e4);
    }
  }
  return std::fflush(file) == 0 && !std::ferror(file);
}

}  // namespace qpcap
