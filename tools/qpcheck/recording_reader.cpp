#include "recording_reader.h"

#include <cmath>
#include <limits>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace qpcheck {
namespace {

using qp::check::ComponentPlane;
using qp::check::FrameView;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Packed RGB with four bytes per pixel: the byte offsets of R, G and B.
FrameView ViewOfRgb32(const AVFrame* f, int r, int g, int b) {
  FrameView view;
  view.width = f->width;
  view.height = f->height;
  view.model = qp::check::ColourModel::Rgb;
  view.planes[0] = {f->data[0] + r, f->linesize[0], 4, 0, 0};
  view.planes[1] = {f->data[0] + g, f->linesize[0], 4, 0, 0};
  view.planes[2] = {f->data[0] + b, f->linesize[0], 4, 0, 0};
  return view;
}

// Luma plane and one interleaved chroma plane, 4:2:0.
FrameView ViewOfSemiPlanar(const AVFrame* f, bool cr_first) {
  FrameView view;
  view.width = f->width;
  view.height = f->height;
  view.model = qp::check::ColourModel::YCbCr;
  view.planes[0] = {f->data[0], f->linesize[0], 1, 0, 0};
  view.planes[1] = {f->data[1] + (cr_first ? 1 : 0), f->linesize[1], 2, 1, 1};
  view.planes[2] = {f->data[1] + (cr_first ? 0 : 1), f->linesize[1], 2, 1, 1};
  return view;
}

FrameView ViewOfPlanar(const AVFrame* f, int x_shift, int y_shift) {
  return qp::check::ViewOfPlanarYCbCr(f->data[0], f->linesize[0], f->data[1], f->linesize[1],
                                      f->data[2], f->linesize[2], f->width, f->height, x_shift,
                                      y_shift);
}

// The layouts a view describes directly; false for the rest.
bool DirectView(const AVFrame* f, FrameView& view) {
  switch (f->format) {
    case AV_PIX_FMT_YUYV422:
      view = qp::check::ViewOfPacked422(f->data[0], f->linesize[0], f->width, f->height, "YUY2");
      return true;
    case AV_PIX_FMT_UYVY422:
      view = qp::check::ViewOfPacked422(f->data[0], f->linesize[0], f->width, f->height, "UYVY");
      return true;
    case AV_PIX_FMT_YVYU422:
      view = qp::check::ViewOfPacked422(f->data[0], f->linesize[0], f->width, f->height, "YVYU");
      return true;
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P: view = ViewOfPlanar(f, 1, 1); return true;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P: view = ViewOfPlanar(f, 1, 0); return true;
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P: view = ViewOfPlanar(f, 0, 0); return true;
    case AV_PIX_FMT_NV12: view = ViewOfSemiPlanar(f, false); return true;
    case AV_PIX_FMT_NV21: view = ViewOfSemiPlanar(f, true); return true;
    case AV_PIX_FMT_RGB24:
      view = qp::check::ViewOfRgb24(f->data[0], f->linesize[0], f->width, f->height);
      return true;
    case AV_PIX_FMT_BGR24:
      view = qp::check::ViewOfBgr(f->data[0], f->linesize[0], f->width, f->height, 3, false);
      return true;
    case AV_PIX_FMT_BGRA:
    case AV_PIX_FMT_BGR0: view = ViewOfRgb32(f, 2, 1, 0); return true;
    case AV_PIX_FMT_RGBA:
    case AV_PIX_FMT_RGB0: view = ViewOfRgb32(f, 0, 1, 2); return true;
    case AV_PIX_FMT_ARGB:
    case AV_PIX_FMT_0RGB: view = ViewOfRgb32(f, 1, 2, 3); return true;
    case AV_PIX_FMT_ABGR:
    case AV_PIX_FMT_0BGR: view = ViewOfRgb32(f, 3, 2, 1); return true;
    default: return false;
  }
}

// What the frame says of its colours. Range and matrix mean something only for Y'CbCr.
void DescribeColour(const AVFrame* f, qp::check::RecordingInfo& info) {
  const AVPixelFormat format = static_cast<AVPixelFormat>(f->format);
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  info.monochrome = d != nullptr && d->nb_components < 3;
  if (d == nullptr || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0 ||
      info.monochrome)
    return;
  if (f->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
      format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P)
    info.declared_range = "full";
  else if (f->color_range == AVCOL_RANGE_MPEG)
    info.declared_range = "limited";
  if (f->colorspace == AVCOL_SPC_BT709) {
    info.declared_matrix = "BT.709";
  } else if (f->colorspace == AVCOL_SPC_BT470BG || f->colorspace == AVCOL_SPC_SMPTE170M) {
    info.declared_matrix = "BT.601";
  } else if (f->colorspace != AVCOL_SPC_UNSPECIFIED && f->colorspace != AVCOL_SPC_RGB) {
    if (const char* name = av_color_space_name(f->colorspace)) info.declared_matrix = name;
  }
}

}  // namespace

struct RecordingReader::State {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  SwsContext* scaler = nullptr;
  std::vector<uint8_t> converted;
  int stream = -1;
  AVRational time_base{0, 1};
  bool draining = false;
  bool finished = false;
  bool have_origin = false;
  bool described_colour = false;
  int64_t origin = 0;

  ~State() {
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  }
};

RecordingReader::RecordingReader() = default;
RecordingReader::~RecordingReader() = default;

bool RecordingReader::Open(const std::string& path, std::string& error) {
  state_ = std::make_unique<State>();
  State& s = *state_;
  int rc = avformat_open_input(&s.format, path.c_str(), nullptr, nullptr);
  if (rc < 0) {
    error = "cannot open " + path + ": " + AvError(rc);
    return false;
  }
  rc = avformat_find_stream_info(s.format, nullptr);
  if (rc < 0) {
    error = "cannot read the streams of " + path + ": " + AvError(rc);
    return false;
  }
  const AVCodec* decoder = nullptr;
  s.stream = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (s.stream < 0) {
    error = path + " has no video stream FFmpeg can decode" +
            (s.stream == AVERROR_DECODER_NOT_FOUND ? " (no decoder for it)" : "");
    return false;
  }
  const AVStream* stream = s.format->streams[s.stream];
  s.codec = avcodec_alloc_context3(decoder);
  if (s.codec == nullptr || avcodec_parameters_to_context(s.codec, stream->codecpar) < 0) {
    error = "cannot set up the " + std::string(decoder->name) + " decoder";
    return false;
  }
  // Both cores: the checker's own work runs beside the decoder's threads.
  s.codec->thread_count = 0;
  s.codec->pkt_timebase = stream->time_base;
  rc = avcodec_open2(s.codec, decoder, nullptr);
  if (rc < 0) {
    error = "cannot open the " + std::string(decoder->name) + " decoder: " + AvError(rc);
    return false;
  }
  s.packet = av_packet_alloc();
  s.frame = av_frame_alloc();
  if (s.packet == nullptr || s.frame == nullptr) {
    error = "out of memory";
    return false;
  }
  s.time_base = stream->time_base;

  info_.container = s.format->iformat->name;
  info_.codec = decoder->name;
  const char* pixel = av_get_pix_fmt_name(s.codec->pix_fmt);
  info_.pixel_format = pixel != nullptr ? pixel : "unknown";
  info_.width = s.codec->width;
  info_.height = s.codec->height;
  AVRational rate = stream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
  if (rate.num > 0 && rate.den > 0) info_.nominal_fps = av_q2d(rate);
  info_.frame_estimate = stream->nb_frames;
  if (info_.frame_estimate <= 0 && s.format->duration > 0 && info_.nominal_fps > 0.0)
    info_.frame_estimate = static_cast<int64_t>(static_cast<double>(s.format->duration) /
                                                AV_TIME_BASE * info_.nominal_fps);
  return true;
}

bool RecordingReader::MapFrame(DecodedFrame& out, std::string& error) {
  State& s = *state_;
  const AVFrame* f = s.frame;
  if (f->width <= 0 || f->height <= 0) {
    error = "the decoder gave a frame without pixels";
    return false;
  }
  if (!s.described_colour) {
    s.described_colour = true;
    DescribeColour(f, info_);
  }
  out.converted = false;
  if (!DirectView(f, out.view)) {
    // Anything else goes to the closest layout a view reads: planar 4:4:4 for Y'CbCr, RGB
    // for the rest, so that no colour matrix is applied on the way.
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    const bool rgb = d == nullptr ||
                     (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0 ||
                     d->nb_components < 3;
    const AVPixelFormat target = rgb ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUV444P;
    s.scaler =
        sws_getCachedContext(s.scaler, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                             f->width, f->height, target, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (s.scaler == nullptr) {
      error = std::string("cannot convert frames of pixel format ") +
              (d != nullptr ? d->name : "unknown");
      return false;
    }
    uint8_t* planes[4] = {};
    int strides[4] = {};
    const int size = av_image_fill_arrays(planes, strides, nullptr, target, f->width, f->height, 1);
    if (size < 0) {
      error = "frame too large to convert";
      return false;
    }
    s.converted.resize(static_cast<std::size_t>(size));
    av_image_fill_arrays(planes, strides, s.converted.data(), target, f->width, f->height, 1);
    sws_scale(s.scaler, f->data, f->linesize, 0, f->height, planes, strides);
    out.view = rgb ? qp::check::ViewOfRgb24(planes[0], strides[0], f->width, f->height)
                   : qp::check::ViewOfPlanarYCbCr(planes[0], strides[0], planes[1], strides[1],
                                                  planes[2], strides[2], f->width, f->height, 0, 0);
    out.converted = true;
  }
  const int64_t stamp =
      f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
  if (stamp == AV_NOPTS_VALUE) {
    out.time_ms = std::numeric_limits<double>::quiet_NaN();
  } else {
    if (!s.have_origin) s.origin = stamp, s.have_origin = true;
    out.time_ms = static_cast<double>(stamp - s.origin) * av_q2d(s.time_base) * 1000.0;
  }
  return true;
}

bool RecordingReader::Receive(DecodedFrame& frame, std::string& error, bool& got) {
  State& s = *state_;
  got = false;
  av_frame_unref(s.frame);
  const int rc = avcodec_receive_frame(s.codec, s.frame);
  if (rc == AVERROR(EAGAIN)) return true;
  if (rc == AVERROR_EOF) {
    s.finished = true;
    return true;
  }
  if (rc < 0) {
    ++decode_errors_;
    return true;
  }
  if (!MapFrame(frame, error)) return false;
  got = true;
  return true;
}

bool RecordingReader::Next(DecodedFrame& frame, std::string& error) {
  error.clear();
  if (!state_ || state_->codec == nullptr) {
    error = "no recording is open";
    return false;
  }
  State& s = *state_;
  for (;;) {
    if (s.finished) return false;
    bool got = false;
    if (!Receive(frame, error, got)) return false;
    if (got) return true;
    if (s.finished) return false;
    if (s.draining) {
      // EAGAIN while draining would loop for ever; the decoder has nothing more.
      s.finished = true;
      return false;
    }
    const int rc = av_read_frame(s.format, s.packet);
    if (rc < 0) {
      // End of file, or a read error past which nothing can be decoded: drain what is held.
      if (rc != AVERROR_EOF) ++decode_errors_;
      avcodec_send_packet(s.codec, nullptr);
      s.draining = true;
      continue;
    }
    if (s.packet->stream_index == s.stream) {
      const int sent = avcodec_send_packet(s.codec, s.packet);
      if (sent < 0 && sent != AVERROR(EAGAIN)) ++decode_errors_;
    }
    av_packet_unref(s.packet);
  }
}

}  // namespace qpcheck
