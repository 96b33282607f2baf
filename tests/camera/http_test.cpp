#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "camera/cgi_path.h"
#include "camera/h_utils.h"
#include "camera/http_sender.h"
#include "camera/scripted_http_server.h"
#include "support/wait_until.h"

namespace orbisan::test {
namespace {

using Clock = std::chrono::steady_clock;
using Server = ScriptedHttpServer;

DEVICE_INFO Device(uint16_t port, const std::string& user = "admin", const std::string& password = "secret",
                   uint32_t timeoutMs = 3000) {
  DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = port;
  device.user = user;
  device.password = password;
  device.connectTimeoutMs = timeoutMs;
  return device;
}

std::string Url(const DEVICE_INFO& device, const std::string& item) {
  return CCgiPath(cgi::kSystem, device).Items(item);
}

Server::Handler Fixed(unsigned status, const std::string& body) {
  return [=](const std::string&) { return HttpReply{status, body}; };
}

// A server on loopback and a client for it.
struct Rig {
  Rig(Server::Options options, Server::Handler handler, uint32_t timeoutMs = 3000, const std::string& user = "admin",
      const std::string& password = "secret")
      : server(std::move(options), std::move(handler)), device(Device(server.Port(), user, password, timeoutMs)) {
    EXPECT_TRUE(server.Running());
  }
  std::string Url(const std::string& item) const { return ::orbisan::test::Url(device, item); }
  // GET of one item, the whole body read.
  CResultDef Get(const std::string& item, bool requireBody = true) {
    body.clear();
    return HUtils::RequestGetRD(http, Url(item), body, requireBody);
  }

  Server server;
  DEVICE_INFO device;
  Web::CHttpSender http{device};  // after device
  std::vector<char> body;
};

// One GET of a login, a status and a body: the result, and for a failure a
// message that names the device and the request without the password.
TEST(HttpSender, ResultsOfStatusesAndCredentials) {
  struct Case {
    Server::Auth auth;
    std::string user, password;
    unsigned status;
    std::string body;
    bool requireBody;
    uint32_t code, category;
    std::string message;
  };
  using enum Server::Auth;
  const std::string bad = "the user name or password contains a blank";
  const Case cases[] = {
      // Basic credentials are sent first and accepted, without a challenge round.
      {kBasic, "admin", "secret", 200, "SYSTEM_INFO='x'\r\n", true, 0, 3, ""},
      {kDigest, "admin", "wrong-pass", 200, "OK\r\n", true, 10, 1, "credentials are invalid"},
      {kBasic, "admin", "wrong-pass", 200, "OK\r\n", true, 10, 1, "credentials are invalid"},
      {kNone, "admin", "secret", 404, "no", true, 9, 1, "was not found"},
      {kNone, "admin", "secret", 500, "boom", true, 8, 1, "HTTP status code is 500"},
      {kNone, "admin", "secret", 302, "x", true, 8, 1, "HTTP status code is 302"},
      {kNone, "admin", "secret", 200, "", true, 12, 2, "Incorrect response"},
      {kNone, "admin", "secret", 200, "", false, 0, 3, ""},
      {kNone, "admin", "secret", 204, "", false, 0, 3, ""},
      // An empty user sends no credentials, though the server would take them.
      {kBasic, "", "secret", 200, "OK\r\n", true, 10, 1, "credentials are invalid"},
      // Credentials that cannot stand in a URL are refused before sending.
      {kNone, "admin", "pass word", 200, "OK\r\n", true, 11, 4, bad},
      {kNone, "admin", "pa\r\nX-Injected: 1", 200, "OK\r\n", true, 11, 4, bad},
      {kNone, "admin", "pass#frag", 200, "OK\r\n", true, 11, 4, bad},
      {kNone, "admin", "a&SAVE_REBOOT", 200, "OK\r\n", true, 11, 4, bad},
      {kNone, "ad min", "secret", 200, "OK\r\n", true, 11, 4, bad},
      {kNone, "admin\n", "secret", 200, "OK\r\n", true, 11, 4, bad},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user + ":" + c.password + " " + std::to_string(c.status));
    Rig rig({c.auth, c.user.empty() ? "" : "admin", "secret"}, Fixed(c.status, c.body), 3000, c.user, c.password);
    const CResultDef result = rig.Get("SYSTEM_INFO", c.requireBody);
    EXPECT_EQ(std::pair(result.GetCode(), result.GetCategory()), std::pair(c.code, c.category));
    const auto requests = rig.server.Requests();
    if (c.code == 0) {
      EXPECT_EQ(std::string(rig.body.begin(), rig.body.end()), c.requireBody ? c.body : "");
      ASSERT_EQ(requests.size(), 1u);
      EXPECT_TRUE(requests[0].accepted) << "no challenge round first";
      // The query goes out exactly as built, login included.
      EXPECT_EQ(requests[0].uri, "/cgi-bin/system?USER=admin&PWD=secret&SYSTEM_INFO");
    } else {
      EXPECT_NE(result.GetMessage().find(c.message), std::string::npos) << result.GetMessage();
      EXPECT_NE(result.GetMessage().find("device 127.0.0.1:" + std::to_string(rig.server.Port())), std::string::npos);
      EXPECT_NE(result.GetMessage().find("PWD=***&SYSTEM_INFO"), std::string::npos) << result.GetMessage();
      EXPECT_EQ(result.GetMessage().find(c.password), std::string::npos) << result.GetMessage();
      EXPECT_EQ(rig.server.AcceptedUris().empty(), c.code == 10 || c.code == 11);
    }
    // A second request of the same client ends the same way.
    EXPECT_EQ(rig.Get("X", c.requireBody).GetCode(), c.code);
    if (c.code == 11) {
      EXPECT_TRUE(requests.empty());
      // Sent directly, a path that cannot stand on the request line is refused by the client as well.
      if (c.password.find('&') == std::string::npos) {
        EXPECT_FALSE(rig.http.Send(Web::CHttpRequest("GET", rig.Url("SYSTEM_INFO"))));
      }
    }
  }
}

TEST(HttpSender, DigestIsLearntAndKeptAClosedPortGivesCode11AndTheSchemeFallsBackBothWays) {
  Rig rig({Server::Auth::kDigest}, Fixed(200, "OK\r\n"));
  EXPECT_TRUE(HUtils::RequestGet(rig.http, rig.Url("A"), true));
  EXPECT_EQ(rig.http.GetAuthScheme(), static_cast<unsigned long>(CURLAUTH_DIGEST));
  const auto first = rig.server.Requests();
  ASSERT_GE(first.size(), 2u);
  EXPECT_FALSE(first.front().accepted);
  EXPECT_TRUE(first.back().accepted);

  rig.server.ClearRequests();
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(HUtils::RequestGet(rig.http, rig.Url("B"), true));
  // Later requests carry Digest credentials from the start: no Basic, no
  // further challenge round, all on the one connection.
  EXPECT_EQ(rig.server.Connections(), 1u);
  ASSERT_EQ(rig.server.Requests().size(), 10u);
  EXPECT_EQ(rig.server.AcceptedUris().size(), 10u);

  DEVICE_INFO device;
  {
    Server secure({Server::Auth::kNone, "admin", "secret", true}, Fixed(200, "TLS\r\n"));
    ASSERT_TRUE(secure.Running());
    device = Device(secure.Port());
  }
  // Nobody listens on that port now.
  Web::CHttpSender closed(device);
  std::vector<char> body;
  const CResultDef refused = HUtils::RequestGetRD(closed, Url(device, "Q"), body, true);
  EXPECT_EQ(std::pair(refused.GetCode(), refused.GetCategory()), std::pair(11u, 4u));
  EXPECT_NE(refused.GetMessage().find("Cannot send request \"/cgi-bin/system?USER=admin&PWD=***&Q\""),
            std::string::npos)
      << refused.GetMessage();

  // Port 443 starts with TLS.
  DEVICE_INFO onHttpsPort = device;
  onHttpsPort.port = 443;
  EXPECT_TRUE(Web::CHttpSender(onHttpsPort).IsSecure());

  Web::CHttpSender http(device);
  {
    Server secure({Server::Auth::kBasic, "admin", "secret", true, device.port}, Fixed(200, "TLS\r\n"));
    ASSERT_TRUE(secure.Running());
    EXPECT_FALSE(http.IsSecure());
    std::string answer;
    EXPECT_TRUE(HUtils::RequestGet(http, Url(device, "A"), answer));
    EXPECT_EQ(answer, "TLS\r\n");
    EXPECT_TRUE(http.IsSecure());
    EXPECT_EQ(secure.Connections(), 2u);  // the refused plain attempt, then TLS
    // HTTPS straight away, on the kept connection.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(HUtils::RequestGet(http, Url(device, "B"), true));
    EXPECT_EQ(secure.Connections(), 2u);
    EXPECT_EQ(secure.AcceptedUris().size(), 4u);
  }
  // The device now speaks plain HTTP on the same port: TLS is tried first,
  // fails, and HTTP is kept from then on.
  Server plain({Server::Auth::kNone, "admin", "secret", false, device.port}, Fixed(200, "PLAIN\r\n"));
  ASSERT_TRUE(plain.Running());
  std::string answer;
  EXPECT_TRUE(HUtils::RequestGet(http, Url(device, "B"), answer));
  EXPECT_EQ(answer, "PLAIN\r\n");
  EXPECT_FALSE(http.IsSecure());
  const unsigned connections = plain.Connections();
  EXPECT_TRUE(HUtils::RequestGet(http, Url(device, "C"), answer));
  EXPECT_EQ(plain.Connections(), connections);
}

TEST(HttpSender, CancelFromAnotherThreadEndsAStalledBodyAtOnceAndCancelOrShutdownEndTheRequestUnderWay) {
  Rig stalled(
      {}, [](const std::string&) { return HttpReply{.body = std::string(20000, 'x'), .stallAfter = 100}; }, 8000);
  ASSERT_TRUE(stalled.http.Send(Web::CHttpRequest("GET", stalled.Url("A"))));
  Clock::time_point cancelledAt;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cancelledAt = Clock::now();
    stalled.http.Cancel();
  });
  stalled.http.ReadAll(stalled.body);
  const auto returnedAt = Clock::now();
  canceller.join();
  EXPECT_EQ(stalled.body.size(), 100u);
  // Well before the 8 s time-out that a read ignoring the cancel would wait for.
  EXPECT_LT(returnedAt - cancelledAt, std::chrono::seconds(4));
  // The response is closed: nothing more can be read.
  EXPECT_EQ(stalled.http.Read(stalled.body, 10, true), 0u);

  // A request held by the server is ended from another thread by Cancel (no
  // fallback to the other scheme) or by Shutdown (which also refuses later
  // requests until Resume).
  for (bool shutdown : {false, true}) {
    SCOPED_TRACE(shutdown ? "shutdown" : "cancel");
    std::atomic<bool> release{false};
    Rig rig(
        {},
        [&](const std::string& uri) {
          // Held until the test lets it go (bounded: a failing test cannot hang the server).
          if (uri.find("SLOW") != std::string::npos) WaitUntil([&] { return release.load(); });
          return HttpReply{200, "ok"};
        },
        8000);
    std::thread stopper([&] {
      WaitUntil([&] { return !rig.server.Requests().empty(); });
      shutdown ? rig.http.Shutdown() : rig.http.Cancel();
    });
    const auto start = Clock::now();
    EXPECT_FALSE(rig.http.Send(Web::CHttpRequest("GET", rig.Url("SLOW"))));
    const auto elapsed = Clock::now() - start;
    stopper.join();
    release.store(true);
    EXPECT_LT(elapsed, std::chrono::seconds(4));
    EXPECT_EQ(rig.server.Connections(), 1u);
    EXPECT_FALSE(rig.http.IsSecure());
    rig.server.ClearRequests();
    EXPECT_EQ(rig.http.Send(Web::CHttpRequest("GET", rig.Url("B"))), !shutdown);
    EXPECT_EQ(rig.server.Requests().empty(), shutdown) << "nothing is sent while shut down";
    rig.http.Resume();
    EXPECT_TRUE(rig.http.Send(Web::CHttpRequest("GET", rig.Url("C"))));
    EXPECT_EQ(rig.http.GetStatusCode(), 200u);
  }
}

TEST(HttpSender, SilentServerTimesOutWithoutTryingTheOtherSchemeAndATricklingAnswerEndsAtTheDeadline) {
  std::atomic<bool> release{false};
  std::atomic<int> calls{0};
  Rig rig(
      {},
      [&](const std::string&) {
        // The first request gets no answer at all for a long while.
        if (calls++ == 0) WaitUntil([&] { return release.load(); });
        return HttpReply{.body = std::string(5000, 'y'), .stallAfter = 10};
      },
      400);
  auto start = Clock::now();
  EXPECT_EQ(rig.Get("A").GetCode(), 11u);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(rig.server.Connections(), 1u);
  release.store(true);
  // A body that stops half way ends the read after the time-out with what came.
  ASSERT_TRUE(rig.http.Send(Web::CHttpRequest("GET", rig.Url("B"))));
  start = Clock::now();
  EXPECT_EQ(rig.http.ReadAll(rig.body), 10u);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
  rig.server.ReleaseStalls();

  // A camera that keeps sending, too slowly or for too long, holds a request
  // no longer than its deadline (ReadAll included); a piecewise read is not bound.
  // One byte every 100 ms or every millisecond: either body would take far
  // longer than the deadline.
  for (auto [trickleMs, size] : {std::pair{100u, size_t{100}}, std::pair{1u, size_t{20000}}}) {
    SCOPED_TRACE(trickleMs);
    Rig trickling(
        {}, [&](const std::string&) { return HttpReply{.body = std::string(size, 'z'), .trickleMs = trickleMs}; }, 400);
    const auto start = Clock::now();
    trickling.Get("A");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
    EXPECT_LT(trickling.body.size(), size);
    ASSERT_TRUE(trickling.http.Send(Web::CHttpRequest("GET", trickling.Url("B"))));
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    EXPECT_GT(trickling.http.Read(trickling.body, 10, true), 0u);
    trickling.server.ReleaseStalls();
  }
}

// A long answer without a length, read piece by piece, comes whole; a body
// read at once is capped at 1 MiB.
TEST(HttpSender, BodyIsCappedAtOneMebibyteWithOrWithoutALengthAndReadsWholeInPieces) {
  std::string expected;
  for (int i = 0; i < 3000; ++i) expected += "MD=" + std::to_string(i) + "\r\n";
  Rig rig({}, [&](const std::string& uri) {
    if (uri.find("GET_CTRL_MSG") != std::string::npos) return HttpReply{.body = expected, .withLength = false};
    HttpReply reply;
    reply.body = "0123456789abcdef";
    reply.repeatBody = 2 * 1024 * 1024 / 16;
    // A length larger than the budget is no licence to read past it.
    reply.withLength = uri.find("LENGTH") != std::string::npos;
    if (reply.withLength) {
      reply.repeatBody = 1;
      for (int i = 0; i < 17; ++i) reply.body += reply.body;  // 2 MiB
    }
    return reply;
  });
  for (const char* item : {"A", "LENGTH"}) {
    SCOPED_TRACE(item);
    ASSERT_TRUE(rig.http.Send(Web::CHttpRequest("GET", rig.Url(item))));
    EXPECT_EQ(rig.http.GetContentLength(), std::string(item) == "A" ? 0u : 0x200000u);
    std::vector<char> body;
    EXPECT_EQ(rig.http.ReadAll(body), 0x100000u);
    EXPECT_EQ(std::string(body.begin(), body.begin() + 16), "0123456789abcdef");
  }
  ASSERT_TRUE(rig.http.Send(Web::CHttpRequest("GET", rig.Url("GET_CTRL_MSG=MD,3"))));
  std::vector<char> collected;
  for (int guard = 0; guard < 100000; ++guard) {
    const uint32_t available = rig.http.QueryDataAvailable();
    if (available == 0) break;
    std::vector<char> piece;
    const uint32_t got = rig.http.Read(piece, std::min<uint32_t>(available, 1000), true);
    ASSERT_GT(got, 0u);
    ASSERT_LE(got, 1000u);
    collected.insert(collected.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(std::string(collected.begin(), collected.end()), expected);
}

namespace H = HUtils;

TEST(AnswerText, LineEndsEmptyValuesListsCharactersParseIntChangeParamAndPasswordMasking) {
  // The value is kept as it stands.
  EXPECT_EQ(H::GetValue("Production ID = ACM8201 \r\n", "Production ID", " = ", "\r\n"), "ACM8201 ");
  // Last line without a line end.
  EXPECT_EQ(H::GetValue("A='1'\r\nB='2'", "B", "=", "\r\n"), "'2'");
  // Empty values are passed over and the search goes on.
  EXPECT_EQ(H::GetValue("K=\r\nK=\rK=\nK=last", "K", "=", "\r\n"), "last");
  EXPECT_EQ(H::GetValue("K=\r\n", "K", "=", "\r\n"), "");
  // CR alone and LF alone each end a line.
  EXPECT_EQ(H::GetValue("A=1\rB=2\nC=3", "B", "=", "\r\n"), "2");
  // A separator on a later line does not belong to the key's line.
  EXPECT_EQ(H::GetValue("KEY\r\nOTHER=1\r\nKEY=2", "KEY", "=", "\r\n"), "2");
  // Quoted values read with the quote as separator and line end.
  EXPECT_EQ(H::GetValue("VIDEO_STREAM='DUAL'\r\n", "VIDEO_STREAM", "='", " '\r\n"), "DUAL");
  EXPECT_EQ(H::GetValue("A=1", "", "=", "\r\n"), "");
  EXPECT_EQ(H::GetValue("A=1", "A", "", "\r\n"), "");
  EXPECT_EQ(H::GetValue("A=1", "A", "=", ""), "");
  EXPECT_EQ(H::GetValue("", "A", "=", "\r\n"), "");
  EXPECT_EQ(H::GetValue("A", "A", "=", "\r\n"), "");
  // A list of an absent key is empty (a present one is read by the hemispheric camera's identification).
  EXPECT_TRUE(H::GetValueList("X=1", "Y", "=", "\r\n", ",").empty());
  EXPECT_EQ(H::RemoveChars(" 'a b'\r\n", " '\r\n"), "ab");

  int value = 0;
  // Out-of-range numbers are held at the limit.
  for (const auto& [text, expected] : {std::pair{"12", 12}, {"-3", -3}, {"+7", 7}, {"99999999999", 2147483647}}) {
    EXPECT_TRUE(H::ParseInt(text, value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  value = 42;
  for (const char* bad : {"", "-", "+", "1a", " 1", "1 ", "--1", "0x10", "1.5", "(none)"}) {
    EXPECT_FALSE(H::ParseInt(bad, value)) << bad;
  }
  EXPECT_EQ(value, 42);
  // Only what differs is sent.
  const std::string answer = "VIDEO_ENCODER='H264'\r\nVIDEO_FPS_NUM='025'\r\nVIDEO_GOP=''\r\nERROR: VIDEO_X\r\n";
  EXPECT_EQ(H::ChangeParam(answer, "VIDEO_ENCODER", "H264"), "");
  EXPECT_EQ(H::ChangeParam(answer, "VIDEO_ENCODER", "MJPEG"), "&VIDEO_ENCODER=MJPEG");
  EXPECT_EQ(H::ChangeParam(answer, "VIDEO_X", "1"), "");
  EXPECT_EQ(H::ChangeParam(answer, "VIDEO_GOP", "0"), "&VIDEO_GOP=0");
  // Numbers compare by value.
  EXPECT_EQ(H::ChangeParamU(answer, "VIDEO_FPS_NUM", 25), "");
  EXPECT_EQ(H::ChangeParamU(answer, "VIDEO_FPS_NUM", 24), "&VIDEO_FPS_NUM=24");
  EXPECT_EQ(H::ChangeParamU(answer, "VIDEO_MISSING", 1), "");
  // A known password carrying "&" is masked whole in the results table.
  EXPECT_EQ(H::MaskPassword("/x?PWD=abc", "zzz"), "/x?PWD=***");
  EXPECT_EQ(H::MaskPassword("/x?PWD=&Q&PWD=b", ""), "/x?PWD=***&Q&PWD=***");
  EXPECT_EQ(H::MaskPassword("/x?USER=a", "a"), "/x?USER=a");
}

}  // namespace
}  // namespace orbisan::test
