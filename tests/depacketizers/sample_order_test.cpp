// The order in which each depacketizer fills the host sample: hosts read
// the fields in the order they are set, so it is kept exactly.

#include <gtest/gtest.h>

#include "bit_writer.h"
#include "depacketizer_fixture.h"
#include "rtsp/h264_rtp_media_parser.h"
#include "rtsp/jpeg_rtp_media_parser.h"
#include "rtsp/mpeg4_rtp_media_parser.h"

namespace orbisan::test {
namespace {

using Calls = std::vector<std::string>;

class RecordingSample : public TestSample {
 public:
  RecordingSample(uint32_t fourcc, uint32_t size, const char* name, Calls* calls)
      : TestSample(fourcc, size, name), calls_(calls) {}
  uint8_t* GetBuffer() override {
    calls_->push_back("GetBuffer");
    return TestSample::GetBuffer();
  }
  void SetDataSize(uint32_t v) override {
    calls_->push_back("SetDataSize");
    TestSample::SetDataSize(v);
  }
  void SetTime(const SYSTEMTIME* t) override {
    calls_->push_back("SetTime");
    TestSample::SetTime(t);
  }
  void SetFourCC(uint32_t v) override {
    calls_->push_back("SetFourCC");
    TestSample::SetFourCC(v);
  }
  void SetHeight(uint32_t v) override {
    calls_->push_back("SetHeight");
    TestSample::SetHeight(v);
  }
  void SetWidth(uint32_t v) override {
    calls_->push_back("SetWidth");
    TestSample::SetWidth(v);
  }
  void SetResolutionClass(uint32_t v) override {
    calls_->push_back("SetResolutionClass");
    TestSample::SetResolutionClass(v);
  }

 private:
  Calls* calls_;
};

class RecordingAllocator : public TestAllocator {
 public:
  explicit RecordingAllocator(Calls* calls) : calls_(calls) {}
  ipcapture::IMediaSample* CreateSample(uint32_t fourcc, uint32_t size, const char* name) override {
    calls_->push_back("CreateSample");
    ++created;
    return new RecordingSample(fourcc, size, name, calls_);
  }
  void ReleaseSample(ipcapture::IMediaSample* sample) override {
    calls_->push_back("ReleaseSample");
    TestAllocator::ReleaseSample(sample);
  }

 private:
  Calls* calls_;
};

class RecordingClient : public CollectingClient {
 public:
  explicit RecordingClient(Calls* calls) : calls_(calls) {}
  bool FrameReady(ipcapture::IMediaSample* frame) override {
    calls_->push_back("FrameReady");
    const size_t mark = calls_->size();
    const bool accepted = CollectingClient::FrameReady(frame);
    calls_->resize(mark);  // the client's own reading of the sample
    return accepted;
  }
  void ConvertTimestamp(uint32_t ts, SYSTEMTIME& time) override {
    calls_->push_back("ConvertTimestamp");
    CollectingClient::ConvertTimestamp(ts, time);
  }

 private:
  Calls* calls_;
};

template <class Parser>
Calls Record(const std::vector<Bytes>& payloads, const Bytes& config = {}) {
  Calls calls;
  TestDriver driver;
  RecordingAllocator allocator(&calls);
  RecordingClient client(&calls);
  client.allocator = &allocator;
  Parser parser(&driver);
  parser.SetClient(&client);
  parser.SetSdpParameters({}, {}, config, 0, 0);
  uint16_t sequence = 1;
  for (size_t i = 0; i < payloads.size(); ++i)
    parser.ProcessPacket(MakePacket(sequence++, 9000, i + 1 == payloads.size(), payloads[i]));
  EXPECT_EQ(1u, client.frames.size());
  return calls;
}

TEST(SampleOrder, EachDepacketizerFillsTheSampleInItsOrder) {
  BitWriter w;  // baseline SPS, 176 x 144
  w.Bits(66, 8).Bits(0, 8).Bits(30, 8).UE(0).UE(0).UE(0).UE(2).UE(1).Bit(0).UE(10).UE(8).Bit(1).Bit(1).Bit(0).Bit(0);
  const Bytes sps = EscapeNal(0x67, w.Finish());
  EXPECT_EQ((Calls{"CreateSample", "GetBuffer", "ConvertTimestamp", "SetWidth", "SetHeight", "SetResolutionClass",
                   "SetDataSize", "SetFourCC", "SetTime", "FrameReady", "ReleaseSample"}),
            Record<CH264RTPMediaParser>({sps, {0x68, 0xCE, 0x3C, 0x80}, {0x65, 0x88, 0x84}}));

  const Bytes config = {0, 0, 1, 0xB0, 1, 0,    0,    1,    0xB5, 0x89, 0x13, 0,    0,    1,    0,
                        0, 0, 1, 0x20, 0, 0xC4, 0x8D, 0x88, 0,    0xF5, 0x05, 0x84, 0x12, 0x14, 0x43};
  EXPECT_EQ((Calls{"CreateSample", "ConvertTimestamp", "SetWidth", "SetHeight", "SetResolutionClass", "SetDataSize",
                   "SetFourCC", "SetTime", "GetBuffer", "FrameReady", "ReleaseSample"}),
            Record<CMpeg4RTPMediaParser>({{0, 0, 1, 0xB6, 0x10, 0x60}}, config));

  EXPECT_EQ((Calls{"CreateSample", "GetBuffer", "ConvertTimestamp", "SetDataSize", "SetWidth", "SetHeight",
                   "SetResolutionClass", "SetTime", "FrameReady", "ReleaseSample"}),
            Record<CJpegRTPMediaParser>({{0, 0, 0, 0, 1, 50, 22, 18, 0x12, 0x34}}));
}

}  // namespace
}  // namespace orbisan::test
