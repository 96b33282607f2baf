#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <numeric>
#include <thread>
#include <tuple>

#include "platform/socket_utils.h"
#include "rtp_test_util.h"
#include "rtsp/frame_buffer.h"
#include "rtsp/rtp_receiver.h"
#include "rtsp/udp_client.h"
#include "runtime/event.h"
#include "runtime/page_allocator.h"
#include "scripted_rtsp_server.h"
#include "support/test_driver.h"
#include "support/wait_until.h"
#include "udp_test_socket.h"

namespace orbisan {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::UdpTestSocket;

struct Datagram {
  sockaddr_in source;
  std::vector<uint8_t> bytes;
};

class RawUser : public IRTPClientUser, public test::Recorded<Datagram> {
 public:
  void DataReceived(IRTPClient*, const sockaddr_in& source, const uint8_t* data, size_t length) override {
    Add({source, std::vector<uint8_t>(data, data + length)});
  }
  void ReceiveTimeout(IRTPClient*) override { ++timeouts; }
  void ClientClosed(IRTPClient*) override { ++closed; }

  std::atomic<int> timeouts{0};
  std::atomic<int> closed{0};
};

// Datagrams larger than the buffer, up to the largest UDP carries, come
// whole and in order from the first, also within one batch of reads; quiet
// polls are reported, and a closed client can be opened again.
TEST(UdpClientTest, DeliversDatagramsOfEverySizeWholeAndReopens) {
  RawUser user;
  CUDPClient client;
  client.SetTimeout(50);
  client.SetBufferSize(1536);
  client.SetBatchSize(8);
  client.SetBurstWait(20000);
  client.SetSocketReceiveBuffer(1 << 20);
  const uint16_t port = test::OnFreePort([&](uint16_t p) { return client.Open(&user, p); });
  ASSERT_NE(port, 0);
  EXPECT_EQ(client.GetPort(), port);

  UdpTestSocket sender;
  const size_t sizes[] = {100, 1536, 1537, 65507, 10, 2000, 65000, 1};
  for (size_t i = 0; i < std::size(sizes); ++i) ASSERT_TRUE(sender.SendTo(port, Bytes(sizes[i], i)));
  ASSERT_TRUE(user.WaitForCount(std::size(sizes)));
  const std::vector<Datagram> datagrams = user.Items();
  ASSERT_EQ(datagrams.size(), std::size(sizes));
  for (size_t i = 0; i < std::size(sizes); ++i) EXPECT_EQ(datagrams[i].bytes, Bytes(sizes[i], i)) << sizes[i];
  EXPECT_EQ(ntohs(datagrams[0].source.sin_port), sender.port());
  EXPECT_EQ(client.GetBufferSize(), 1536u) << "no buffer grows for them";
  // The large ones took pages of the spill block; they go back a while after.
  EXPECT_GT(client.SpillResident(), 0u);
  EXPECT_TRUE(test::WaitUntil([&] { return sender.SendTo(port, Bytes(10, 0)) && client.SpillResident() == 0; }))
      << client.SpillResident();
  EXPECT_TRUE(test::WaitUntil([&] { return user.timeouts.load() >= 2; })) << "quiet polls are reported";

  RawUser other;
  CUDPClient second;
  EXPECT_FALSE(second.Open(&other, port)) << "the port is taken";
  EXPECT_FALSE(client.Open(&other, 0)) << "already open";
  for (const char* group : {"", "not-an-address"})
    EXPECT_FALSE(second.OpenMulticast(&other, group, 40000)) << "multicast needs a group address";
  EXPECT_FALSE(second.IsOpen());

  const auto before = std::chrono::steady_clock::now();
  EXPECT_TRUE(client.Close());
  EXPECT_LT(std::chrono::steady_clock::now() - before, 3s) << "close does not wait for the poll time";
  EXPECT_EQ(std::make_tuple(user.closed.load(), client.GetPort(), client.IsOpen()), std::make_tuple(1, 0, false));

  // The port is free again and the client can be reused.
  ASSERT_TRUE(client.Open(&user, port));
  const size_t received = user.Items().size();
  ASSERT_TRUE(sender.SendTo(port, Bytes(20, 9)));
  EXPECT_TRUE(user.WaitForCount(received + 1));
  client.Close();
  EXPECT_EQ(user.closed.load(), 2);
  EXPECT_TRUE(other.Items().empty()) << "a failed open keeps the first user";
  EXPECT_EQ(other.closed, 0);
}

// A key frame's pages go back once it was handed on, and the next one is
// whole in the same buffer; a frame the kept part nearly holds keeps them.
TEST(FrameBufferTest, LargeFramesGiveTheirPagesBack) {
  CFrameBuffer frame;
  for (uint8_t round = 0; round < 2; ++round) {
    const std::vector<uint8_t> key = Bytes(300 * 1024, round);
    frame.append(key.data(), key.size());
    ASSERT_EQ(std::vector<uint8_t>(frame.data(), frame.data() + frame.size()), key);
    frame.clear();
    EXPECT_LE(ResidentBytes(frame.data(), frame.capacity()), CFrameBuffer::kKeptBytes);
  }
  const std::vector<uint8_t> between = Bytes(2 * CFrameBuffer::kKeptBytes, 9);
  frame.append(between.data(), between.size());
  frame.clear();
  EXPECT_GE(ResidentBytes(frame.data(), frame.capacity()), between.size());
}

struct Arrival {
  uint16_t sequence;
  sockaddr_in source;
  std::thread::id thread;
  size_t payload;  // bytes, when they are the ones Rtp() sent; 0 otherwise
};

class PacketUser : public IRTPReceiverUser, public test::Recorded<Arrival> {
 public:
  void RtpPacketArrived(const sockaddr_in& source, const CRTPPacket& packet) override {
    const std::vector<uint8_t> payload(packet.GetPayload(), packet.GetPayload() + packet.GetPayloadLength());
    const bool intact = payload == Bytes(payload.size(), static_cast<uint8_t>(packet.GetSequenceNumber()));
    Add({packet.GetSequenceNumber(), source, std::this_thread::get_id(), intact ? payload.size() : 0});
    if (throwEach) throw std::runtime_error("user failure");
  }
  void ReceiveTimeout() override {}
  void ClientClosed() override { ++closed; }
  std::vector<uint16_t> Sequences() {
    std::vector<uint16_t> sequences;
    for (const Arrival& arrival : Items()) sequences.push_back(arrival.sequence);
    return sequences;
  }

  bool throwEach = false;
  std::atomic<int> closed{0};
};

// Each packet a whole frame (marker set, its own timestamp), as audio sends them.
std::vector<uint8_t> Rtp(uint16_t sequence, size_t bytes = 100) {
  const auto seed = static_cast<uint8_t>(sequence);
  return test::BuildRtp(
      {.marker = true, .sequence = sequence, .timestamp = sequence * 160u, .payload = Bytes(bytes, seed)});
}

// Also: the socket buffer is sized for bursts, and a smaller grant than asked
// for is logged once over the receiver's restarts.
TEST(RtpReceiverTest, DeliversValidPacketsInOrderAndIgnoresEverythingElse) {
  uint32_t systemMax = 0;
  std::ifstream("/proc/sys/net/core/rmem_max") >> systemMax;
  ASSERT_GT(systemMax, 0u);
  PacketUser user;
  user.throwEach = true;  // exceptions from the user must not stop delivery
  test::TestDriver log;
  CRTPReceiver receiver(&user, &log);
  // Asking for more than the system allows: what it grants is read back.
  receiver.SetSocketReceiveBuffer(systemMax + 65536);
  const uint16_t port = test::OnFreePort([&](uint16_t p) { return receiver.Start(p); });
  ASSERT_NE(port, 0);
  EXPECT_EQ(receiver.GetPort(), port);
  UdpTestSocket camera;
  for (uint16_t seq = 1; seq <= 20; ++seq) {
    ASSERT_TRUE(camera.SendTo(port, Rtp(seq)));
    if (seq % 5 == 0) {
      ASSERT_TRUE(camera.SendTo(port, Bytes(12, 0x80)));  // header only: invalid
    }
  }
  ASSERT_TRUE(user.WaitForCount(20));
  std::this_thread::sleep_for(50ms);
  std::vector<uint16_t> expected;
  for (uint16_t seq = 1; seq <= 20; ++seq) expected.push_back(seq);
  EXPECT_EQ(user.Sequences(), expected);
  EXPECT_EQ(ntohs(user.Items().back().source.sin_port), camera.port());
  EXPECT_NE(user.Items().front().thread, std::this_thread::get_id());

  // Data of another client than the receiver's own is not taken.
  CUDPClient stranger;
  const std::vector<uint8_t> packet = Rtp(77);
  receiver.DataReceived(&stranger, test::Loopback(1), packet.data(), packet.size());
  receiver.DataReceived(nullptr, test::Loopback(1), packet.data(), packet.size());
  EXPECT_EQ(receiver.QueuedCount(), 0u);
  EXPECT_FALSE(user.WaitForCount(21, 200ms));
  // Restart on the same port: a new client, packets flow again.
  receiver.Stop();
  EXPECT_EQ(receiver.GetPort(), 0);
  ASSERT_TRUE(receiver.Start(port));
  ASSERT_TRUE(camera.SendTo(port, Rtp(5)));
  EXPECT_TRUE(user.WaitForCount(21));
  const auto lines = log.LinesWith("UDP receive buffer of");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, kLogTrace);
  EXPECT_NE(lines[0].text.find(std::to_string(systemMax) + " bytes granted"), std::string::npos) << lines[0].text;
}

// The first packet blocks the user, as a host's frame sink that hangs.
class BlockingUser : public PacketUser {
 public:
  void RtpPacketArrived(const sockaddr_in& source, const CRTPPacket& packet) override {
    entered.Set();
    release.Wait(kInfinite);
    PacketUser::RtpPacketArrived(source, packet);
  }
  CManualEvent entered;
  CManualEvent release;
};

// Lets a blocked user go before the receiver declared ahead of it stops, whatever failed.
struct Release {
  CManualEvent& event;
  ~Release() { event.Set(); }
};

TEST(RtpReceiverTest, BlockedUserBoundsTheQueueAndCountsWhatWasDropped) {
  BlockingUser user;
  test::TestDriver log;
  CRTPReceiver receiver(&user, &log);
  Release release{user.release};
  constexpr size_t kLimit = 50;
  constexpr uint16_t kSent = 300;
  receiver.SetQueueLimit(kLimit);
  const uint16_t port = test::OnFreePort([&](uint16_t p) { return receiver.Start(p); });
  ASSERT_NE(port, 0);
  UdpTestSocket camera;
  ASSERT_TRUE(camera.SendTo(port, Rtp(1)));
  ASSERT_TRUE(user.entered.Wait(10000));
  for (uint16_t seq = 2; seq <= kSent; ++seq) ASSERT_TRUE(camera.SendTo(port, Rtp(seq)));
  // Packet 1 is held by the user; of the rest only the newest kLimit wait.
  const uint64_t expectedDrops = kSent - 1 - kLimit;
  test::WaitUntil([&] { return receiver.DroppedPackets() >= expectedDrops; });
  EXPECT_EQ(receiver.DroppedPackets(), expectedDrops);
  EXPECT_LE(receiver.QueuedCount(), kLimit + 1);
  EXPECT_EQ(log.LinesWith("RTP packet queue full").size(), 1u) << "one line per run of drops";

  user.release.Set();
  ASSERT_TRUE(user.WaitForCount(kLimit + 1));
  std::this_thread::sleep_for(50ms);
  std::vector<uint16_t> expected(kLimit + 1, 1);  // packet 1, then the newest: the oldest were dropped
  std::iota(expected.begin() + 1, expected.end(), kSent - kLimit + 1);
  EXPECT_EQ(user.Sequences(), expected);
}

// A flood from another address never takes the camera's place in the
// queue; large datagrams come whole from the first, a flood of them is
// bounded by its bytes, and afterwards only a few slots stay large.
TEST(RtpReceiverTest, StrangersAndLargeDatagramsDoNotCrowdOutTheCamera) {
  BlockingUser user;
  CRTPReceiver receiver(&user);
  Release release{user.release};
  receiver.SetSource(test::Loopback(0).sin_addr.s_addr);
  const uint16_t port = test::OnFreePort([&](uint16_t p) { return receiver.Start(p); });
  ASSERT_NE(port, 0);
  UdpTestSocket camera;
  UdpTestSocket stranger("127.0.0.2");
  auto size = [](uint16_t seq) -> size_t { return seq == 0 ? 65507 - 12 : seq % 2 ? 60000 : 100; };
  ASSERT_TRUE(camera.SendTo(port, Rtp(0, size(0))));
  ASSERT_TRUE(user.entered.Wait(10000));
  for (uint16_t seq = 1000; seq < 1300; ++seq) ASSERT_TRUE(stranger.SendTo(port, Rtp(seq)));
  constexpr uint16_t kLast = 320;  // 9.6 MB, twice what the socket buffer holds
  for (uint16_t seq = 1; seq <= kLast; ++seq) {
    ASSERT_TRUE(camera.SendTo(port, Rtp(seq, size(seq))));
    // Paced, so that the kernel drops none and every drop is the receiver's.
    if (seq % 32 == 0) {
      ASSERT_TRUE(test::WaitUntil([&] { return receiver.QueuedCount() + receiver.DroppedPackets() == seq + 1u; }));
    }
  }
  const size_t slots = CRTPReceiver::kDefaultQueueLimit + 2 * 64;
  EXPECT_GT(receiver.DroppedPackets(), 0u);
  EXPECT_LE(receiver.SlotMemory(),
            slots * CRTPReceiver::kSlotBytes + CRTPReceiver::kDefaultSocketBuffer + CRTPReceiver::kMaxBigSlots * 65536);
  user.release.Set();
  ASSERT_TRUE(user.WaitForCount(kLast + 1 - receiver.DroppedPackets()));
  const std::vector<Arrival> arrivals = user.Items();
  for (size_t i = 0; i < arrivals.size(); ++i) {
    EXPECT_EQ(arrivals[i].payload, size(arrivals[i].sequence)) << arrivals[i].sequence;
    if (i > 0) {
      EXPECT_GT(arrivals[i].sequence, arrivals[i - 1].sequence) << "oldest dropped first, no stranger";
    }
  }
  EXPECT_EQ(arrivals.back().sequence, kLast);
  EXPECT_LE(receiver.SlotMemory(), slots * CRTPReceiver::kSlotBytes + CRTPReceiver::kMaxBigSlots * 65536);
}

TEST(SocketUtilsTest, ReadinessConnectAndAddresses) {
  // Quiet, readable and refused are the UDP client's and the RTSP client's
  // tests; a descriptor that is no longer open counts as a closed client.
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ::close(fd);
  EXPECT_EQ(WaitReadable(fd, 20), ReadinessResult::kClosed);

  test::ScriptedRtspServer listener([](const std::string&, size_t) { return std::string(); });
  fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_TRUE(ConnectWithTimeout(fd, test::Loopback(listener.port()), 1000));
  EXPECT_EQ(fcntl(fd, F_GETFL, 0) & O_NONBLOCK, 0) << "blocking again after the connect";
  CloseSocket(fd);
  EXPECT_EQ(fd, kInvalidSocket);

  in_addr a{};
  EXPECT_TRUE(ParseIPv4("239.1.2.3", a));
  for (const char* bad : {"239.1.2", ""}) EXPECT_FALSE(ParseIPv4(bad, a)) << bad;
  EXPECT_TRUE(ResolveIPv4("localhost", a));
  EXPECT_EQ(ntohl(a.s_addr) >> 24, 127u);
  EXPECT_FALSE(ResolveIPv4("no-such-host.invalid", a));
}

}  // namespace
}  // namespace orbisan
