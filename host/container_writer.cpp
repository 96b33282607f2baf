#include "host/container_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <cstdio>
#include <cstring>

#include "strandline/media_sample.h"

namespace strandline::host {

namespace {

using namespace orbisan::ipcapture;

AVCodecID CodecOf(uint32_t fourcc) {
  if (fourcc == kFourCC_H264 || fourcc == kFourCC_I264) return AV_CODEC_ID_H264;
  if (fourcc == kFourCC_DIVX || fourcc == kFourCC_DIVI) return AV_CODEC_ID_MPEG4;
  if (fourcc == kFourCC_JPEG) return AV_CODEC_ID_MJPEG;
  return AV_CODEC_ID_NONE;
}

bool IsKey(uint32_t fourcc) { return fourcc == kFourCC_H264 || fourcc == kFourCC_DIVX || fourcc == kFourCC_JPEG; }

// Offsets of the Annex B start codes (00 00 01) in data.
size_t NextStartCode(const uint8_t* data, size_t size, size_t from) {
  for (size_t i = from; i + 3 <= size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
  }
  return size;
}

// The parameter sets (SPS and PPS) of an H.264 key frame, in Annex B form.
std::string H264ParameterSets(const uint8_t* data, size_t size) {
  std::string sets;
  size_t start = NextStartCode(data, size, 0);
  while (start < size) {
    const size_t payload = start + 3;
    const size_t next = NextStartCode(data, size, payload);
    size_t end = next;
    while (end > payload && data[end - 1] == 0) --end;  // trailing zeros belong to the next start code
    const uint8_t type = payload < size ? (data[payload] & 0x1F) : 0;
    if (type == 7 || type == 8) {
      sets.append("\0\0\0\1", 4);
      sets.append(reinterpret_cast<const char*>(data + payload), end - payload);
    }
    start = next;
  }
  return sets;
}

// The MPEG-4 Part 2 headers before the first picture (VOP, 00 00 01 B6).
std::string Mpeg4Headers(const uint8_t* data, size_t size) {
  for (size_t i = NextStartCode(data, size, 0); i < size; i = NextStartCode(data, size, i + 3)) {
    if (i + 3 < size && data[i + 3] == 0xB6) return std::string(reinterpret_cast<const char*>(data), i);
  }
  return {};
}

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

ContainerWriter::~ContainerWriter() { Close(); }

bool ContainerWriter::Open(const std::string& path, std::string& error) {
  path_ = path;
  if (avformat_alloc_output_context2(&context_, nullptr, nullptr, path.c_str()) < 0 || context_ == nullptr) {
    error = "no container format for " + path;
    return false;
  }
  // Opened now so that an unwritable path is reported before recording starts.
  const int result = avio_open(&context_->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (result < 0) {
    error = "cannot write " + path + ": " + AvError(result);
    avformat_free_context(context_);
    context_ = nullptr;
    return false;
  }
  return true;
}

bool ContainerWriter::Start(const uint8_t* data, uint32_t size, uint32_t fourcc, uint32_t width, uint32_t height) {
  const AVCodecID codec = CodecOf(fourcc);
  std::string extradata;
  if (codec == AV_CODEC_ID_H264) extradata = H264ParameterSets(data, size);
  if (codec == AV_CODEC_ID_MPEG4) extradata = Mpeg4Headers(data, size);
  if (codec == AV_CODEC_ID_H264 && extradata.empty()) return false;  // wait for a key frame that carries them
  stream_ = avformat_new_stream(context_, nullptr);
  if (stream_ == nullptr) return false;
  stream_->time_base = AVRational{1, 1000};
  AVCodecParameters* parameters = stream_->codecpar;
  parameters->codec_type = AVMEDIA_TYPE_VIDEO;
  parameters->codec_id = codec;
  parameters->width = static_cast<int>(width);
  parameters->height = static_cast<int>(height);
  if (!extradata.empty()) {
    parameters->extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (parameters->extradata == nullptr) return false;
    std::memcpy(parameters->extradata, extradata.data(), extradata.size());
    parameters->extradata_size = static_cast<int>(extradata.size());
  }
  const int result = avformat_write_header(context_, nullptr);
  if (result < 0) {
    std::fprintf(stderr, "strandline record: cannot start %s: %s\n", path_.c_str(), AvError(result).c_str());
    failed_ = true;
    return false;
  }
  started_ = true;
  return true;
}

bool ContainerWriter::Write(const uint8_t* data, uint32_t size, uint32_t fourcc, uint32_t width, uint32_t height,
                            int64_t timeMs) {
  if (context_ == nullptr || failed_) return false;
  if (CodecOf(fourcc) == AV_CODEC_ID_NONE) return true;  // motion data and the like have no place in the file
  // The access unit delimiter each H.264 frame ends with announces the next
  // frame; in a container every packet is one frame, so it is left out.
  static const uint8_t kDelimiter[5] = {0, 0, 1, 0x09, 0x30};
  if (CodecOf(fourcc) == AV_CODEC_ID_H264 && size > 5 && std::memcmp(data + size - 5, kDelimiter, 5) == 0) size -= 5;
  if (!started_) {
    // The file begins with a key frame: earlier frames cannot be decoded.
    if (!IsKey(fourcc) || !Start(data, size, fourcc, width, height)) return !failed_;
    firstMs_ = timeMs;
  }
  int64_t pts = timeMs - firstMs_;
  // Containers need rising times; a clock step back keeps the order of arrival.
  if (pts <= pendingPts_) pts = pendingPts_ + 1;
  if (!WritePending(pts)) return false;
  pending_.assign(reinterpret_cast<const char*>(data), size);
  pendingPts_ = pts;
  pendingKey_ = IsKey(fourcc);
  return true;
}

bool ContainerWriter::WritePending(int64_t nextPts) {
  if (pending_.empty()) return true;
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr || av_new_packet(packet, static_cast<int>(pending_.size())) < 0) {
    av_packet_free(&packet);
    failed_ = true;
    return false;
  }
  std::memcpy(packet->data, pending_.data(), pending_.size());
  if (nextPts > pendingPts_) lastDuration_ = nextPts - pendingPts_;
  packet->pts = pendingPts_;
  packet->dts = pendingPts_;
  packet->duration = lastDuration_;
  packet->stream_index = stream_->index;
  if (pendingKey_) packet->flags |= AV_PKT_FLAG_KEY;
  av_packet_rescale_ts(packet, AVRational{1, 1000}, stream_->time_base);
  const int result = av_interleaved_write_frame(context_, packet);
  av_packet_free(&packet);
  pending_.clear();
  if (result < 0) {
    std::fprintf(stderr, "strandline record: cannot write to %s: %s\n", path_.c_str(), AvError(result).c_str());
    failed_ = true;
    return false;
  }
  return true;
}

void ContainerWriter::Close() {
  if (context_ == nullptr) return;
  if (started_) {
    WritePending(-1);  // the last frame lasts as long as the one before it
    const int result = av_write_trailer(context_);
    if (result < 0)
      std::fprintf(stderr, "strandline record: cannot finish %s: %s\n", path_.c_str(), AvError(result).c_str());
  }
  avio_closep(&context_->pb);
  avformat_free_context(context_);
  context_ = nullptr;
  stream_ = nullptr;
}

}  // namespace strandline::host

extern "C" __attribute__((visibility("default"))) strandline::host::IContainerOutput*
strandline_new_container_output() {
  return new strandline::host::ContainerWriter();
}
