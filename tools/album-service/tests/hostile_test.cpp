// The service under clients that mean harm, as bounded load tests: many
// password guesses at once, sockets that send their request a byte at a
// time or nothing at all, floods of header fields and heads that would
// forge the log. Every wait is bounded; the figures are printed.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/album-service/tests/service_fixture.h"

using namespace albumsvc;
using namespace svctest;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

class HostileTest : public AlbumServiceTest {
 protected:
  // Sends n wrong logins at once from one address; the answers' status
  // digits come later.
  std::future<std::string> Burst(const std::string& from, int n,
                                 const std::function<std::string(int)>& user) {
    auto sockets = std::make_shared<std::vector<std::unique_ptr<CRawSocket>>>();
    for (int i = 0; i < n; ++i) {
      std::string body = Body({{"Username", user(i)}, {"Password", "guess" + std::to_string(i)}});
      sockets->push_back(std::make_unique<CRawSocket>(from, server_->Port()));
      sockets->back()->Send("POST /login.php HTTP/1.0\r\nContent-Type: " + kContentType +
                            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                            body);
    }
    return std::async(std::launch::async, [sockets] {
      std::string digits;
      for (auto& s : *sockets) {
        std::string answer = s->ReadToEnd(60000);
        size_t head = answer.find("\r\n\r\n");
        digits += head == std::string::npos ? "-" : answer.substr(head + 4, 1);
      }
      return digits;
    });
  }
  // A GET of the home page from 127.0.0.1: seconds until its answer, -1
  // without one.
  double TimeHomePage(httplib::Client& client) {
    auto t0 = Clock::now();
    auto res = client.Get("/");
    return res && res->status == 200 ? Since(t0) : -1;
  }
};

// Tries are taken before the password is looked at: guesses sent at once
// get no more checks than guesses sent one after another, and a burst from
// one address leaves the service to everybody else.
TEST_F(HostileTest, GuessesSentAtOnceGetNoMoreChecksThanTheLimit) {
  ServerOptions limited = options_;
  limited.loginFailuresPerMinute = 5;  // 10 for one address
  Restart(limited);
  store_->SetPasswordIterations(400000);  // about 0.4 s a check
  std::string error;
  ASSERT_TRUE(store_->AddAccount("carol", "right", 0, &error)) << error;

  // The full bucket, and what refills while the burst lasts (on a loaded
  // machine it may take a while).
  auto allowed = [](int perMinute, Clock::time_point t0) {
    return perMinute + static_cast<int64_t>(Since(t0) * perMinute / 60) + 1;
  };
  // 32 guesses at carol's password at once.
  int64_t before = store_->PasswordChecks();
  auto t0 = Clock::now();
  std::string answers = Burst("127.0.0.3", 32, [](int) { return std::string("carol"); }).get();
  int64_t accountChecks = store_->PasswordChecks() - before;
  EXPECT_EQ(answers, std::string(32, '2'));
  EXPECT_LE(accountChecks, allowed(5, t0));
  EXPECT_EQ(RawLogIn("127.0.0.4", server_->Port(), "carol", "right").substr(0, 1), "2");

  // 32 names at once from another address, while somebody else looks at
  // the gallery.
  before = store_->PasswordChecks();
  t0 = Clock::now();
  auto burst = Burst("127.0.0.2", 32, [](int i) { return "name" + std::to_string(i); });
  ASSERT_TRUE(WaitFor([&] { return store_->PasswordChecks() > before; }, 30000))
      << "no check began";
  httplib::Client other("127.0.0.1", server_->Port());
  other.set_read_timeout(20, 0);
  double wait = TimeHomePage(other);
  EXPECT_EQ(burst.get(), std::string(32, '2'));
  int64_t addressChecks = store_->PasswordChecks() - before;
  EXPECT_LE(addressChecks, allowed(10, t0));
  EXPECT_GE(wait, 0) << "no answer to another client";
  EXPECT_LT(wait, 3.0) << "seconds another client waited";
  std::printf(
      "32 guesses at once: %lld checks for one account, %lld for one address; another "
      "client waited %.2f s\n",
      static_cast<long long>(accountChecks), static_cast<long long>(addressChecks), wait);
}

// Sockets that dribble a request line or never say anything, over HTTP and
// HTTPS: beyond the per-address cap they are closed at once, the others at
// the head deadline, and meanwhile another client is served.
TEST_F(HostileTest, SlowAndSilentSocketsLeaveOtherClientsServed) {
  const int kSockets = 40;
  std::string cert, key;
  ASSERT_TRUE(MakeCertificate(dir_, &cert, &key));
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "HTTPS, silent sockets" : "HTTP, a byte every second");
    ServerOptions options = options_;
    options.tlsCert = tls ? cert : "";
    options.tlsKey = tls ? key : "";
    Restart(options);
    std::vector<std::unique_ptr<CRawSocket>> hostile;
    for (int i = 0; i < kSockets; ++i) {
      hostile.push_back(std::make_unique<CRawSocket>("127.0.0.2", server_->Port()));
      ASSERT_TRUE(hostile.back()->Ok());
    }
    std::atomic<bool> done{false};
    std::thread dribble([&] {
      const std::string line = "GET /album/1 HTTP/1.1\r\nHost: 127.0.0.1\r\n";
      for (size_t at = 0; !tls && !done && at < line.size(); ++at) {
        for (auto& s : hostile) s->Send(line.substr(at, 1), 100);
        for (int i = 0; i < 10 && !done; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
    auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    std::unique_ptr<httplib::Client> other =
        tls ? std::make_unique<httplib::Client>("https://127.0.0.1:" +
                                                std::to_string(server_->Port()))
            : std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
    if (tls) other->set_ca_cert_path(cert);
    other->set_connection_timeout(20, 0);
    other->set_read_timeout(20, 0);
    double wait = TimeHomePage(*other);
    int closedEarly = 0;
    for (auto& s : hostile) closedEarly += s->Closed();
    double early = Since(t0);
    bool allClosed = WaitFor(
        [&] {
          for (auto& s : hostile)
            if (!s->Closed()) return false;
          return true;
        },
        40000);
    double deadline = Since(t0);
    done = true;
    dribble.join();

    EXPECT_GE(wait, 0) << "no answer to another client";
    EXPECT_LT(wait, 3.0) << "seconds another client waited";
    EXPECT_GE(closedEarly, kSockets - 32) << "closed within " << early << " s";
    EXPECT_TRUE(allClosed) << "sockets still open after " << deadline << " s";
    std::printf(
        "%d %s sockets from one address: another client waited %.2f s; %d closed at "
        "once, all within %.1f s\n",
        kSockets, tls ? "silent HTTPS" : "dribbling HTTP", wait, closedEarly, deadline);
  }
  // When silent sockets from many addresses hold every place, the one that
  // has waited longest makes way for a newcomer.
  ServerOptions few = options_;
  few.tlsCert = few.tlsKey = "";
  few.maxConnections = 8;
  Restart(few);
  std::vector<std::unique_ptr<CRawSocket>> silent;
  for (int i = 0; i < 8; ++i)
    silent.push_back(
        std::make_unique<CRawSocket>("127.0.1." + std::to_string(i + 1), server_->Port()));
  httplib::Client other("127.0.0.1", server_->Port());
  other.set_read_timeout(20, 0);
  double wait = TimeHomePage(other);
  EXPECT_GE(wait, 0) << "no answer while every place was taken";
  EXPECT_TRUE(silent[0]->Closed(5000)) << "the oldest silent socket is still open";
}

// The real program: header floods, heads past the limits, two lengths and
// paths that would forge log lines. Memory stays flat.
TEST(HostileHeads, AreRefusedWithFlatMemoryAndLogHarmlessly) {
  std::string dir = MakeTempDir("album-service-heads");
  ASSERT_FALSE(dir.empty());
  CServiceProcess service(dir + "/data");
  std::string error;
  ASSERT_TRUE(service.Start({}, &error)) << error;
  const int port = service.Port();
  long before = service.PeakRssKb();

  // Four connections with 20 MB of tiny header fields each.
  std::vector<std::future<std::string>> floods;
  for (int i = 0; i < 4; ++i)
    floods.push_back(std::async(std::launch::async, [port] {
      CRawSocket s("127.0.0.2", port);
      s.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");
      std::string fields;
      while (fields.size() < (1 << 20)) fields += "a:b\r\n";
      for (int mb = 0; mb < 20 && s.Send(fields, 5000); ++mb) {
      }
      bool closed = false;
      std::string answer = s.ReadToEnd(30000, &closed);
      return closed ? answer.substr(0, 12) : "still open";
    }));
  for (auto& f : floods) {
    std::string answer = f.get();
    EXPECT_TRUE(answer.empty() || answer == "HTTP/1.1 431") << answer;
  }
  long after = service.PeakRssKb();
  std::printf("header flood, 4 x 20 MB: service peak memory %ld KiB before, %ld KiB after\n",
              before, after);
  EXPECT_LT(after - before, 32 * 1024) << "KiB more after the flood";

  // Too many fields, a head too long, two different lengths.
  std::string many = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  for (int i = 0; i < 200; ++i) many += "X-F" + std::to_string(i) + ": v\r\n";
  EXPECT_EQ(RawRequest("127.0.0.1", port, many + "\r\n").substr(0, 12), "HTTP/1.1 431");
  EXPECT_EQ(RawRequest("127.0.0.1", port,
                       "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + std::string(100000, 'c') +
                           "\r\n\r\n")
                .substr(0, 12),
            "HTTP/1.1 431");
  std::string body = Body({{"Username", "anna"}, {"Password", "pw"}});
  EXPECT_EQ(RawRequest("127.0.0.1", port,
                       "POST /login.php HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " +
                           kContentType + "\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\nContent-Length: 5\r\n\r\n" + body)
                .substr(0, 12),
            "HTTP/1.1 400");

  // Paths that would write lines or terminal controls into the log.
  RawRequest("127.0.0.1", port,
             "GET /a%0Aalbum-service:%20GET%20/forged%20200 HTTP/1.1\r\nHost: x\r\n"
             "Connection: close\r\n\r\n");
  RawRequest("127.0.0.1", port,
             "GET /%1B]0;owned%07%1B[2J HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  RawRequest("127.0.0.1", port, "GET /\x1b[2J HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  // The service still answers.
  httplib::Client c("127.0.0.1", port);
  auto home = c.Get("/");
  ASSERT_TRUE(home);
  EXPECT_EQ(home->status, 200);
  EXPECT_TRUE(service.Stop());
  std::string log = service.Log();
  EXPECT_EQ(log.find("\nalbum-service: GET /forged"), std::string::npos) << log;
  EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;
  EXPECT_EQ(log.find('\x07'), std::string::npos) << log;
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
