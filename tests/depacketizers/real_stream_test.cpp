// JPEG streams payloaded by GStreamer (tests/data/depacketizers/make_streams.sh)
// through the depacketizer, with ffmpeg and GStreamer's own depayloader as
// the judges of what comes out. (H.264 from GStreamer's payloader is streamed
// end to end and decoded by the field-camera quirk table.)

#include <gtest/gtest.h>

#include <algorithm>

#include "depacketizer_fixture.h"
#include "rtsp/jpeg_header.h"
#include "rtsp/jpeg_rtp_media_parser.h"

namespace orbisan::test {
namespace {

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

// The stream as captured, tables in band. jpegenc ran at quality 80, whose
// tables are the ones Q = 80 stands for: the computed ones must equal them.
TEST_F(RealJpeg, PicturesMatchGstreamersDepayloader) {
  const std::vector<Bytes> packets = LoadStream("jpeg_176x144_20.rtp");
  uint8_t computed[128];
  CJpegHeader::MakeTables(80, computed);
  ASSERT_EQ(128, (packets[0][22] << 8) | packets[0][23]);
  EXPECT_TRUE(std::equal(computed, computed + 128, packets[0].begin() + 24));
  ScratchDir dir;
  std::string errors;
  const size_t pictureSize = 176 * 144 * 3 / 2;
  const std::string theirs = Pixels(GstreamerPictures(packets, dir), dir, &errors);
  EXPECT_EQ("", errors);
  ASSERT_EQ(20 * pictureSize, theirs.size());
  Feed(packets);
  ASSERT_EQ(20u, client.frames.size());
  std::string ours;
  for (const ParsedFrame& f : client.frames) ours += f.bytes;
  EXPECT_TRUE(Pixels(ours, dir, &errors) == theirs) << "decoded pictures differ";
  EXPECT_EQ("", errors);
}

}  // namespace
}  // namespace orbisan::test
