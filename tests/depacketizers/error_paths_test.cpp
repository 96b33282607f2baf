// What every depacketizer does when a frame cannot be made whole or handed
// over: a lost packet, a frame the host refuses, a frame over the size bound,
// no host allocator, a host sample too small. Frames that need an earlier one
// wait for the next key frame; JPEG pictures stand alone.
#include <gtest/gtest.h>

#include "bit_writer.h"
#include "depacketizer_fixture.h"
#include "rtsp/h264_rtp_media_parser.h"
#include "rtsp/jpeg_rtp_media_parser.h"
#include "rtsp/mpeg4_rtp_media_parser.h"

namespace orbisan::test {
namespace {

struct H264 {
  using Parser = CH264RTPMediaParser;
  static constexpr bool kIndependentFrames = false;
  static void Describe(Parser& p) { p.SetSdpParameters(BaselineSps(80, 45), {0x68, 0xCE, 0x3C, 0x80}, {}, 0, 0); }
  static Bytes Key() { return {0x65, 0x88, 0x84, 0x21, 0xA0}; }
  static Bytes Delta() { return {0x41, 0x9A, 0x20, 0x2E}; }
  // A key frame in fragmentation units: start, the given middles, end.
  static std::vector<Bytes> Fragments(const std::vector<Bytes>& middles) {
    std::vector<Bytes> out = {{0x7C, 0x85, 0x88}};
    for (const Bytes& m : middles) out.push_back(Cat({{0x7C, 0x05}, m}));
    out.push_back({0x7C, 0x45, 0xA0});
    return out;
  }
};

struct Mpeg4 {
  using Parser = CMpeg4RTPMediaParser;
  static constexpr bool kIndependentFrames = false;
  static void Describe(Parser& p) { p.SetSdpParameters({}, {}, CapturedMpeg4Config(), 0, 0); }
  static Bytes Key() { return {0, 0, 1, 0xB6, 0x10, 0x60, 0x91, 0x82}; }
  static Bytes Delta() { return {0, 0, 1, 0xB6, 0x50, 0x88, 0x8E, 0x10}; }
  static std::vector<Bytes> Fragments(const std::vector<Bytes>& middles) {
    std::vector<Bytes> out = {Key()};
    out.insert(out.end(), middles.begin(), middles.end());
    out.push_back({0x3E, 0xA8, 0xEC, 0x19});
    return out;
  }
};

struct Jpeg {
  using Parser = CJpegRTPMediaParser;
  static constexpr bool kIndependentFrames = true;
  static void Describe(Parser&) {}
  // Type 1, Q 50, 176 x 144.
  static Bytes Header(size_t offset) { return JpegMainHeader(static_cast<uint32_t>(offset), 1, 50, 22, 18); }
  static Bytes Key() { return Cat({Header(0), {0x12, 0x34, 0xFF, 0x00, 0x56}}); }
  static Bytes Delta() { return Key(); }
  static std::vector<Bytes> Fragments(const std::vector<Bytes>& middles) {
    std::vector<Bytes> out = {Key()};
    size_t offset = 5;
    for (const Bytes& m : middles) {
      out.push_back(Cat({Header(offset), m}));
      offset += m.size();
    }
    out.push_back(Cat({Header(offset), {0x78, 0x9A}}));
    return out;
  }
};

template <typename Codec>
class DepacketizerErrors : public ParserTest<typename Codec::Parser> {
 protected:
  DepacketizerErrors() { Codec::Describe(this->parser); }
  // A fragmented key frame; the fragment at index lost (if any) never arrives.
  void SendFragments(const std::vector<Bytes>& middles, size_t lost = SIZE_MAX) {
    const std::vector<Bytes> parts = Codec::Fragments(middles);
    for (size_t i = 0; i < parts.size(); ++i) {
      if (i == lost) {
        ++this->sequence;
        continue;
      }
      this->Send(i + 1 == parts.size(), parts[i]);
    }
  }
  // Frames after a failed one: none until a key frame, unless frames stand alone.
  static size_t After(size_t dependent) { return Codec::kIndependentFrames ? dependent : 0; }
};

using Codecs = ::testing::Types<H264, Mpeg4, Jpeg>;
TYPED_TEST_SUITE(DepacketizerErrors, Codecs);

TYPED_TEST(DepacketizerErrors, LostPacketDropsItsFrameAndWhatDependsOnIt) {
  this->Send(true, TypeParam::Key());
  this->SendFragments({{0x11, 0x22}}, 1);
  this->Send(true, TypeParam::Delta());
  EXPECT_EQ(this->client.frames.size(), 1 + this->After(1));
  this->Send(true, TypeParam::Key());
  EXPECT_EQ(this->client.frames.size(), 2 + this->After(1));
}

TYPED_TEST(DepacketizerErrors, RefusedFrameWaitsForTheNextKeyFrame) {
  this->client.accept = false;
  this->Send(true, TypeParam::Key());
  this->client.accept = true;
  this->Send(true, TypeParam::Delta());
  EXPECT_EQ(this->client.offered, 1 + this->After(1));
  this->Send(true, TypeParam::Key());
  this->Send(true, TypeParam::Delta());
  EXPECT_EQ(this->client.offered, 3 + this->After(1));
}

TYPED_TEST(DepacketizerErrors, OversizedFrameIsLoggedOnceAndDropped) {
  std::vector<Bytes> middles(CRTPMediaParser::kMaxFrameSize / 60000 + 1, Bytes(60000, 0x5A));
  this->SendFragments(middles);
  EXPECT_TRUE(this->client.frames.empty());
  const auto lines = this->driver.LinesWith("Frame buffer overflow detected, device 127.0.0.1:80");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 1u);
  this->Send(true, TypeParam::Key());
  EXPECT_EQ(this->client.frames.size(), 1u);
}

TYPED_TEST(DepacketizerErrors, WithoutMarkerBitsTheNextTimeStampEndsAFrame) {
  const Bytes pictures[] = {TypeParam::Key(), TypeParam::Delta(), TypeParam::Delta()};
  for (uint32_t i = 0; i < 3; ++i)
    this->parser.ProcessPacket(MakePacket(this->sequence++, 3000 * i, false, pictures[i]));
  EXPECT_EQ(this->client.frames.size(), 2u);
  this->parser.FinishHeld(1000);  // the last one, once the stream pauses
  ASSERT_EQ(this->client.frames.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(this->client.frames[i].rtpTimestamp, 3000 * i);
}

// A host sample smaller than asked for cannot take the frame, nor can none at all.
class ShortSampleAllocator : public TestAllocator {
 public:
  bool none = false;
  ipcapture::IMediaSample* CreateSample(uint32_t fourcc, uint32_t size, const char* name) override {
    return none ? nullptr : TestAllocator::CreateSample(fourcc, size / 2, name);
  }
};

// Each way fails a key frame in a running stream: the delta frame after it has lost its reference.
TYPED_TEST(DepacketizerErrors, NoAllocatorNoSampleOrAShortSampleDeliversNothingAndLeaksNothing) {
  ShortSampleAllocator failing;
  size_t expected = 0;
  for (int way = 0; way < 3; ++way) {
    this->Send(true, TypeParam::Key());
    EXPECT_EQ(this->client.frames.size(), ++expected) << way << ": the next key frame";
    failing.none = way == 1;
    this->client.allocator = way == 0 ? nullptr : &failing;
    this->Send(true, TypeParam::Key());
    this->client.allocator = &this->allocator;
    this->Send(true, TypeParam::Delta());
    expected += this->After(1);
    EXPECT_EQ(this->client.frames.size(), expected) << way;
  }
  EXPECT_EQ(failing.created.load(), failing.released.load());
}

}  // namespace
}  // namespace orbisan::test
