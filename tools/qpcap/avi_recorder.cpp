#include "avi_recorder.h"

#include <vfw.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "tool_status.h"

namespace qpcap {
namespace {

// An AVIFile file with one video stream; frames are appended in order.
class AviFile {
 public:
  AviFile() { AVIFileInit(); }
  ~AviFile() {
    Close();
    AVIFileExit();
  }

  HRESULT Create(const std::string& path, const VideoFormat& format) {
    HRESULT hr = AVIFileOpenW(&file_, Wide(path).c_str(), OF_WRITE | OF_CREATE, nullptr);
    if (FAILED(hr)) return hr;
    AVISTREAMINFOW info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = format.IsRgb() ? mmioFOURCC('D', 'I', 'B', ' ') : format.compression;
    // Rate/scale is frames per second; the frame time in 100 ns keeps 29.97 exact.
    info.dwScale = DWORD(format.frame_time > 0 ? format.frame_time : 333667);
    info.dwRate = 10000000;
    info.dwSuggestedBufferSize = format.ImageSize();
    SetRect(&info.rcFrame, 0, 0, format.width, std::abs(format.height));
    if (FAILED(hr = AVIFileCreateStreamW(file_, &stream_, &info))) return hr;
    BITMAPINFOHEADER header = format.header;
    header.biSizeImage = format.ImageSize();
    return AVIStreamSetFormat(stream_, 0, &header, sizeof header);
  }

  HRESULT Append(const BYTE* data, LONG size) {
    return AVIStreamWrite(stream_, position_++, 1, const_cast<BYTE*>(data), size, AVIIF_KEYFRAME,
                          nullptr, nullptr);
  }

  void Close() {
    if (stream_) AVIStreamRelease(stream_);
    if (file_) AVIFileRelease(file_);
    stream_ = nullptr;
    file_ = nullptr;
  }

 private:
  PAVIFILE file_ = nullptr;
  PAVISTREAM stream_ = nullptr;
  LONG position_ = 0;
};

// A ring of frame buffers between the streaming thread (one producer) and the writer thread
// (one consumer). A frame that finds the ring full is counted, not waited for: the source must
// never be held up by the disk.
class RecordSink : public FrameSink {
 public:
  explicit RecordSink(AviFile& file) : file_(file) {}

  // Before the run, once the connected format is known.
  void Prepare(size_t frame_size, size_t slots, int64_t target_frames) {
    slots_.assign(slots, std::vector<BYTE>(frame_size));
    sizes_.assign(slots, 0);
    target_frames_ = target_frames;
  }

  // Streaming thread.
  bool OnFrame(const Arrival& arrival) override {
    const int64_t seen = received_.fetch_add(1) + 1;
    BYTE* data = nullptr;
    const long length = arrival.sample->GetActualDataLength();
    bool full;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      full = filled_ == slots_.size();
    }
    if (full || FAILED(arrival.sample->GetPointer(&data)) || length <= 0) {
      dropped_.fetch_add(1);
    } else {
      const size_t size = std::min(size_t(length), slots_[head_].size());
      std::memcpy(slots_[head_].data(), data, size);
      sizes_[head_] = size;
      head_ = (head_ + 1) % slots_.size();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++filled_;
      }
      wake_.notify_one();
    }
    return seen >= target_frames_;
  }

  // Writer thread: drains the ring until Finish() and an empty ring.
  void WriteFrames() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    size_t tail = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return filled_ > 0 || finishing_; });
        if (filled_ == 0) break;
      }
      if (SUCCEEDED(write_error_)) {
        const HRESULT hr = file_.Append(slots_[tail].data(), LONG(sizes_[tail]));
        if (FAILED(hr))
          write_error_ = hr;
        else
          written_.fetch_add(1);
      }
      tail = (tail + 1) % slots_.size();
      std::lock_guard<std::mutex> lock(mutex_);
      --filled_;
    }
    CoUninitialize();
  }

  void Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finishing_ = true;
    }
    wake_.notify_one();
  }

  int64_t received() const { return received_.load(); }
  int64_t dropped() const { return dropped_.load(); }
  int64_t written() const { return written_.load(); }
  HRESULT write_error() const { return write_error_; }  // Read after the writer has ended.

 private:
  AviFile& file_;
  std::vector<std::vector<BYTE>> slots_;
  std::vector<size_t> sizes_;  // Bytes held by each slot.
  int64_t target_frames_ = 1;
  size_t head_ = 0;  // Streaming thread only.
  std::mutex mutex_;
  std::condition_variable wake_;
  size_t filled_ = 0;           // Guarded by mutex_.
  bool finishing_ = false;      // Guarded by mutex_.
  HRESULT write_error_ = S_OK;  // Writer thread only.
  std::atomic<int64_t> received_{0}, dropped_{0}, written_{0};
};

// The platform's AVI writer keeps 32-bit signed file offsets: past 2 GiB it writes a broken
// file and still reports success. Frames and their index entries stay well below that.
constexpr int64_t kMaxAviBytes = 2000000000;
constexpr int64_t kBytesPerFrameOverhead = 32;  // chunk header and index entry

}  // namespace

int RunRecord(const CommandOptions& options) {
  // Declared before the capture, so the graph is gone before the sink and the file.
  AviFile file;
  RecordSink sink(file);
  Capture capture;
  int status = SetUpCapture(options, &sink, capture);
  if (status != kExitOk) return status;
  const VideoFormat& format = capture.session.connected_format();
  HRESULT hr = file.Create(options.output, format);
  if (FAILED(hr))
    return Fail(kExitOutput, "cannot write %s: %s", options.output.c_str(),
                HresultText(hr).c_str());

  const double rate = format.FramesPerSecond() > 0 ? format.FramesPerSecond() : 30.0;
  int64_t target = std::max<int64_t>(1, std::llround(options.seconds * rate));
  // About 256 MB of frames in flight, at least 4 and at most 64 of them.
  const size_t frame_size = format.ImageSize();
  const int64_t fitting =
      kMaxAviBytes / (static_cast<int64_t>(frame_size) + kBytesPerFrameOverhead);
  if (target > fitting) {
    std::fprintf(stderr,
                 "qpcap: an uncompressed AVI file holds at most 2 GB: recording %lld frames "
                 "(%.2f s) instead of %lld\n",
                 (long long)fitting, double(fitting) / rate, (long long)target);
    target = std::max<int64_t>(1, fitting);
  }
  const size_t slots =
      std::clamp<size_t>((size_t(256) << 20) / std::max<size_t>(frame_size, 1), 4, 64);
  sink.Prepare(frame_size, slots, target);
  PrintCaptureHeader("recording", capture);

  std::thread writer([&] { sink.WriteFrames(); });
  double last_elapsed = 0;
  auto progress = [&](double elapsed) {
    last_elapsed = elapsed;
    if (options.quiet) return;
    std::fprintf(stderr, "\r  %5.1f s  frames %lld of %lld  written %lld  not kept up %lld ",
                 elapsed, (long long)sink.received(), (long long)target, (long long)sink.written(),
                 (long long)sink.dropped());
  };
  CaptureSession::RunEnd end;
  // Generous: a slow start must not cut the file short, a stalled source must not hang.
  status = capture.session.Run(options.seconds * 2 + 10.0, progress, end);
  sink.Finish();
  writer.join();
  progress(last_elapsed);
  if (!options.quiet) std::fputc('\n', stderr);
  file.Close();
  if (status != kExitOk) return status;
  if (FAILED(sink.write_error()))
    return Fail(kExitOutput, "writing %s failed: %s", options.output.c_str(),
                HresultText(sink.write_error()).c_str());
  std::printf("wrote %s: %lld frames (%.2f s); %lld samples the recording could not keep up with\n",
              options.output.c_str(), (long long)sink.written(), double(sink.written()) / rate,
              (long long)sink.dropped());
  if (end != CaptureSession::RunEnd::kSinkDone)
    return Fail(kExitFailure, "the device delivered %lld of %lld frames",
                (long long)sink.received(), (long long)target);
  return kExitOk;
}

}  // namespace qpcap
