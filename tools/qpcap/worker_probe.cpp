#include "worker_probe.h"

namespace qpcap {

WorkerProbe::~WorkerProbe() {
  if (statistics_) statistics_->Release();
}

bool WorkerProbe::Attach(IBaseFilter* source) {
  if (statistics_ || !source) return statistics_ != nullptr;
  void* found = nullptr;
  if (FAILED(source->QueryInterface(qp::kStreamStatisticsId, &found)) || !found) return false;
  statistics_ = static_cast<qp::IStreamStatistics*>(found);
  return true;
}

bool WorkerProbe::Totals(qp::StreamTotals& totals) const {
  return statistics_ && SUCCEEDED(statistics_->GetTotals(&totals));
}

uint64_t WorkerProbe::Poll() {
  if (!statistics_) return lost_;
  qp::FrameTimes chunk[256];
  for (;;) {
    uint32_t count = 0;
    uint64_t from = 0;
    if (FAILED(statistics_->GetFrames(next_, 256, chunk, &count, &from)) || count == 0) break;
    if (from > next_) lost_ += from - next_;
    records_.insert(records_.end(), chunk, chunk + count);
    next_ = from + count;
  }
  return lost_;
}

}  // namespace qpcap
