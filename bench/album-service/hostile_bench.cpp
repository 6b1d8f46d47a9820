// The album service under hostile clients, in figures: password checks per
// minute while guesses come in bursts, other clients' waits while 200 slow
// or silent sockets are open, and the service's memory under a header flood.
// The last two run the real program, and side by side another build of it
// when one is named (e.g. an older one), so that the table shows both.
//
//   album_service_bench [seconds per part] [other album-service binary]
//
// Build the service plainly for figures (see the README); QUIB_ALBUM_SERVICE_BIN
// names the program measured.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/album-service/album_server.h"
#include "tools/album-service/album_store.h"
#include "tools/album-service/tests/service_test_util.h"

using namespace albumsvc;
using namespace svctest;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string Source(int i) {
  return "127.0.1." + std::to_string(1 + i % 250);
}

// Bursts of 32 wrong logins every half second for `seconds`, against the
// service in this process with its defaults (600,000 iterations, 5 wrong
// logins a minute per account, 10 per address); the passwords checked.
int64_t PasswordChecks(const std::string& dir, int seconds, bool oneAccount) {
  CAlbumStore store;
  std::string error;
  if (!store.Open(dir + (oneAccount ? "/guess-account" : "/guess-address"), &error)) return -1;
  store.AddAccount("anna", "right", 0, &error);
  ServerOptions options;
  options.port = 0;
  options.logRequests = false;
  CAlbumServer server(&store, options);
  if (!server.Bind(&error)) return -1;
  std::thread runner([&] { server.Run(); });
  int64_t before = store.PasswordChecks();
  auto t0 = Clock::now();
  std::vector<std::thread> bursts;
  for (int round = 0; Since(t0) < seconds; ++round) {
    for (int i = 0; i < 32; ++i) {
      // One account from ever new addresses, or ever new names from one.
      std::string from = oneAccount ? Source(round * 32 + i) : "127.0.0.2";
      std::string user = oneAccount ? "anna" : "name" + std::to_string(round * 32 + i);
      bursts.emplace_back([&server, from, user] { RawLogIn(from, server.Port(), user, "guess"); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  for (std::thread& t : bursts) t.join();
  int64_t checks = store.PasswordChecks() - before;
  server.Stop();
  runner.join();
  return checks;
}

struct Waits {
  double worst = -1, median = -1;
  int failed = 0;
};

// 200 sockets that dribble a request line (HTTP) or say nothing (HTTPS),
// from one address or from 200, opened again whenever the service closes
// them; meanwhile a client on another address asks for the home page ten
// times a second on a new connection each time.
Waits OtherClientsWait(const std::string& bin, const std::string& dir, bool tls, bool spread,
                       int seconds) {
  Waits w;
  std::string cert, key;
  std::vector<std::string> extra = {"--quiet"};
  if (tls) {
    if (!MakeCertificate(dir, &cert, &key)) return w;
    extra.insert(extra.end(), {"--tls-cert", cert, "--tls-key", key});
  }
  setenv("QUIB_ALBUM_SERVICE_BIN", bin.c_str(), 1);
  CServiceProcess service(dir + "/slow-" + std::to_string(tls) + std::to_string(spread));
  std::string error;
  if (!service.Start(extra, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return w;
  }
  std::atomic<bool> done{false};
  std::thread hostile([&] {
    std::vector<std::unique_ptr<CRawSocket>> sockets(200);
    const std::string line = "GET /album/1 HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (size_t tick = 0; !done; ++tick) {
      for (size_t i = 0; i < sockets.size(); ++i) {
        if (!sockets[i] || sockets[i]->Closed())
          sockets[i] = std::make_unique<CRawSocket>(
              spread ? Source(static_cast<int>(i)) : "127.0.0.2", service.Port());
        if (!tls) sockets[i]->Send(line.substr(tick % line.size(), 1), 10);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(2));
  std::vector<double> waits;
  auto t0 = Clock::now();
  while (Since(t0) < seconds) {
    httplib::Client c(tls ? "https://127.0.0.1:" + std::to_string(service.Port())
                          : "http://127.0.0.1:" + std::to_string(service.Port()));
    if (tls) c.set_ca_cert_path(cert);
    c.set_connection_timeout(30, 0);
    c.set_read_timeout(30, 0);
    auto t = Clock::now();
    auto res = c.Get("/");
    if (res && res->status == 200)
      waits.push_back(Since(t));
    else
      ++w.failed;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  done = true;
  hostile.join();
  service.Stop();
  if (!waits.empty()) {
    std::sort(waits.begin(), waits.end());
    w.worst = waits.back();
    w.median = waits[waits.size() / 2];
  }
  return w;
}

// Peak memory of the program before and after four connections send 20 MB
// of tiny header fields each.
std::pair<long, long> FloodMemory(const std::string& bin, const std::string& dir) {
  setenv("QUIB_ALBUM_SERVICE_BIN", bin.c_str(), 1);
  CServiceProcess service(dir + "/flood");
  std::string error;
  if (!service.Start({"--quiet"}, &error)) return {-1, -1};
  long before = service.PeakRssKb();
  std::vector<std::thread> floods;
  for (int i = 0; i < 4; ++i)
    floods.emplace_back([&] {
      CRawSocket s("127.0.0.2", service.Port());
      std::string fields;
      while (fields.size() < (1 << 20)) fields += "a:b\r\n";
      s.Send("GET / HTTP/1.1\r\nHost: x\r\n");
      for (int mb = 0; mb < 20 && s.Send(fields, 5000); ++mb) {
      }
      s.ReadToEnd(5000);
    });
  for (std::thread& t : floods) t.join();
  long after = service.PeakRssKb();
  service.Stop();
  return {before, after};
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  std::string ours = ServiceBin(), other = argc > 2 ? argv[2] : "";
  std::string dir = MakeTempDir("album-service-bench");
  std::printf("album service under hostile clients, %d s per part\n", seconds);
  // A full bucket at the start, then the refill: limit * (1 + minutes).
  std::printf("passwords checked, 32 guesses every 0.5 s (%d s, %d guesses):\n", seconds,
              64 * seconds);
  std::printf("  %-42s %8s %8s\n", "", "checked", "allowed");
  std::printf("  %-42s %8lld %8.1f\n", "one account, guesses from 250 addresses",
              static_cast<long long>(PasswordChecks(dir, seconds, true)), 5 * (1 + seconds / 60.0));
  std::printf("  %-42s %8lld %8.1f\n", "one address, a new name each guess",
              static_cast<long long>(PasswordChecks(dir, seconds, false)),
              10 * (1 + seconds / 60.0));

  std::vector<std::string> bins = {ours};
  if (!other.empty()) bins.push_back(other);
  std::printf("\nother clients' waits (s) while 200 hostile sockets stay open:\n");
  std::printf("  %-34s %-10s %8s %8s %8s\n", "sockets", "build", "median", "worst", "failed");
  for (bool tls : {false, true})
    for (bool spread : {false, true})
      for (const std::string& bin : bins) {
        Waits w = OtherClientsWait(bin, dir, tls, spread, seconds);
        std::printf("  %-34s %-10s %8.3f %8.3f %8d\n",
                    (std::string(tls ? "silent HTTPS" : "dribbling HTTP") +
                     (spread ? ", 200 addresses" : ", one address"))
                        .c_str(),
                    bin == ours ? "measured" : "other", w.median, w.worst, w.failed);
      }

  std::printf("\nservice peak memory (KiB), 4 connections x 20 MB of header fields:\n");
  for (const std::string& bin : bins) {
    auto m = FloodMemory(bin, dir);
    std::printf("  %-10s before %9ld  after %9ld\n", bin == ours ? "measured" : "other", m.first,
                m.second);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
