// JPEG streams payloaded by GStreamer (tests/data/depacketizers/make_streams.sh)
// through the depacketizer, with ffmpeg and GStreamer's own depayloader as
// the judges of what comes out. (H.264 from GStreamer's payloader is streamed
// end to end and decoded by the field-camera quirk table.)

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>

#include "depacketizer_fixture.h"
#include "rtsp/jpeg_header.h"
#include "rtsp/jpeg_rtp_media_parser.h"

namespace orbisan::test {
namespace {

uint32_t Timestamp(const Bytes& p) {
  return (uint32_t{p[4]} << 24) | (uint32_t{p[5]} << 16) | (uint32_t{p[6]} << 8) | p[7];
}

std::string Concatenate(const std::vector<ParsedFrame>& frames) {
  std::string out;
  for (const ParsedFrame& f : frames) out += f.bytes;
  return out;
}

// The stream played `loops` times in a row with continuous numbering, and
// with the given share of its packets left out (fixed seed).
struct LossyStream {
  std::vector<Bytes> sent;
  std::vector<uint32_t> lostTimestamps;
  std::vector<Bytes> all;  // before the losses
};

LossyStream MakeLossy(const std::vector<Bytes>& original, int loops, double lossRate, uint32_t seed) {
  LossyStream s;
  const uint32_t span = Timestamp(original.back()) - Timestamp(original.front()) + 3000;
  uint16_t sequence = 40000;
  for (int loop = 0; loop < loops; ++loop) {
    for (const Bytes& p : original) {
      Bytes q = p;
      const uint32_t ts = Timestamp(p) + static_cast<uint32_t>(loop) * span;
      StoreBigEndian(&q[2], sequence, 2);
      StoreBigEndian(&q[4], ts, 4);
      ++sequence;
      s.all.push_back(q);
    }
  }
  std::mt19937 random(seed);
  std::bernoulli_distribution lose(lossRate);
  for (const Bytes& p : s.all) {
    if (lose(random)) {
      s.lostTimestamps.push_back(Timestamp(p));
    } else {
      s.sent.push_back(p);
    }
  }
  return s;
}

// ---------------------------------------------------------------- JPEG

class RealJpeg : public ParserTest<CJpegRTPMediaParser> {
 protected:
  RealJpeg() { client.defaultResolution = {176, 144}; }
  // Raw pictures of a concatenation of JPEG files, through ffmpeg.
  static std::string Pixels(const std::string& mjpeg, const ScratchDir& dir, std::string* errors) {
    dir.Write("in.mjpeg", mjpeg);
    CommandResult r = RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "mjpeg", "-i", dir.File("in.mjpeg"), "-f",
                                  "rawvideo", "-pix_fmt", "yuv420p", "-"});
    *errors = r.err;
    return r.out;
  }
  // What GStreamer's depayloader makes of the same packets.
  static std::string GstreamerPictures(const std::vector<Bytes>& packets, const ScratchDir& dir) {
    std::string framed;
    for (const Bytes& p : packets) {
      framed.push_back(static_cast<char>(p.size() >> 8));
      framed.push_back(static_cast<char>(p.size()));
      framed.append(p.begin(), p.end());
    }
    dir.Write("in.rtp", framed);
    CommandResult r =
        RunCommand({"gst-launch-1.0", "-q", "filesrc", "location=" + dir.File("in.rtp"), "!",
                    "application/x-rtp-stream,media=video,clock-rate=90000,encoding-name=JPEG,payload=26", "!",
                    "rtpstreamdepay", "!", "rtpjpegdepay", "!", "filesink", "location=" + dir.File("gst.mjpeg")});
    EXPECT_EQ(0, r.exit_code) << r.err;
    return ReadText(dir.File("gst.mjpeg"));
  }
};

TEST_F(RealJpeg, PicturesMatchGstreamersDepayloader) {
  const std::vector<Bytes> packets = LoadStream("jpeg_176x144_20.rtp");
  Feed(packets);
  ASSERT_EQ(20u, client.frames.size());
  ScratchDir dir;
  std::string errors;
  const size_t pictureSize = 176 * 144 * 3 / 2;
  for (const ParsedFrame& f : client.frames) {
    EXPECT_EQ(176u, f.width);
    EXPECT_EQ(144u, f.height);
    // Each picture must stand alone: a decoder keeps tables between pictures.
    EXPECT_EQ(pictureSize, Pixels(f.bytes, dir, &errors).size());
    EXPECT_EQ("", errors);
  }
  const std::string ours = Pixels(Concatenate(client.frames), dir, &errors);
  EXPECT_EQ("", errors);
  const std::string theirs = Pixels(GstreamerPictures(packets, dir), dir, &errors);
  EXPECT_EQ("", errors);
  ASSERT_EQ(20 * pictureSize, theirs.size());
  EXPECT_TRUE(ours == theirs) << "decoded pictures differ";
}

TEST_F(RealJpeg, ComputedTablesMatchTheEncodersAndGiveTheSamePictures) {
  // jpegenc ran at quality 80, whose tables are the ones Q = 80 stands for.
  std::vector<Bytes> packets = LoadStream("jpeg_176x144_20.rtp");
  uint8_t computed[128];
  CJpegHeader::MakeTables(80, computed);
  std::vector<Bytes> withQ80;
  for (const Bytes& p : packets) {
    Bytes q = p;
    const bool first = q[13] == 0 && q[14] == 0 && q[15] == 0;
    ASSERT_EQ(255, q[17]);
    q[17] = 80;
    if (first) {
      ASSERT_EQ(128, (q[22] << 8) | q[23]);
      EXPECT_TRUE(std::equal(computed, computed + 128, q.begin() + 24));
      q.erase(q.begin() + 20, q.begin() + 24 + 128);
    }
    withQ80.push_back(q);
  }
  Feed(withQ80);
  ASSERT_EQ(20u, client.frames.size());
  ScratchDir dir;
  std::string errors;
  const std::string ours = Pixels(Concatenate(client.frames), dir, &errors);
  EXPECT_EQ("", errors);
  const std::string theirs = Pixels(GstreamerPictures(packets, dir), dir, &errors);
  EXPECT_EQ(theirs.size(), ours.size());
  EXPECT_TRUE(ours == theirs) << "decoded pictures differ";
}

TEST_F(RealJpeg, OnePercentLossDeliversExactlyTheWholePictures) {
  const LossyStream s = MakeLossy(LoadStream("jpeg_176x144_20.rtp"), 20, 0.01, 99);
  ASSERT_GE(s.lostTimestamps.size(), 5u);
  Feed(s.sent);
  std::set<uint32_t> whole;
  for (const Bytes& p : s.all) whole.insert(Timestamp(p));
  for (uint32_t ts : s.lostTimestamps) whole.erase(ts);
  std::set<uint32_t> delivered;
  for (const ParsedFrame& f : client.frames) delivered.insert(f.rtpTimestamp);
  EXPECT_EQ(whole, delivered);
  ScratchDir dir;
  std::string errors;
  const std::string pixels = Pixels(Concatenate(client.frames), dir, &errors);
  EXPECT_EQ("", errors);
  EXPECT_EQ(client.frames.size() * 176 * 144 * 3 / 2, pixels.size());
}

}  // namespace
}  // namespace orbisan::test
