// album-service: a substitute for the web album service the uploader talks
// to, for development, tests and demonstrations. Without a command it serves
// HTTP; the commands manage the data folder.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/album-service/album_server.h"
#include "tools/album-service/album_store.h"
#include "tools/album-service/durable_io.h"
#include "tools/album-service/listing.h"
#include "tools/album-service/password_hash.h"

using namespace albumsvc;

namespace {

const char kUsage[] =
    "Usage: album-service [options] [command [arguments]]\n"
    "\n"
    "Without a command (or with \"serve\") the service answers HTTP requests:\n"
    "/login.php, /dirlist.php, /createdir.php and /upload.php for the uploader,\n"
    "the gallery at / (log in to see your own albums) and the contact page at\n"
    "/contact.php. Only one service may serve a data folder at a time.\n"
    "\n"
    "Options:\n"
    "  --data DIR           data folder: database and uploaded files (created when\n"
    "                       missing; default ./album-data)\n"
    "  --address A          address to listen on (default 127.0.0.1)\n"
    "  --port N             port to listen on (default 8642; 0 picks a free port)\n"
    "  --port-file FILE     write the port to FILE once listening\n"
    "  --public-url URL     root of the command URLs given in login answers, and the\n"
    "                       origin of the gallery's forms (default: http:// or\n"
    "                       https:// and the listening address; needed with an\n"
    "                       address such as 0.0.0.0)\n"
    "  --tls-cert FILE      serve HTTPS with this PEM certificate (chain) ...\n"
    "  --tls-key FILE       ... and this PEM private key (no pass phrase)\n"
    "  --public-gallery     show every album and file to everybody without a\n"
    "                       login (the gallery is private by default)\n"
    "  --max-upload BYTES   per-upload file size limit; larger files are answered\n"
    "                       \"3\" whatever their size (default 100M; 0 for none)\n"
    "  --max-body BYTES     body limit of requests other than uploads, answered\n"
    "                       with HTTP 413 (default 1M)\n"
    "  --login-limit N      wrong logins allowed per minute and account; an\n"
    "                       address gets 2N (default 5; 0 for no limit)\n"
    "  --max-albums N       albums one account may have (default 1000; 0 for no\n"
    "                       limit)\n"
    "  --max-connections-per-address N\n"
    "                       connections one client address may open at once\n"
    "                       (default 32; 0 for no cap, behind a proxy)\n"
    "  --password-iterations N\n"
    "                       PBKDF2-HMAC-SHA256 iterations for new and rehashed\n"
    "                       passwords (default 600000, at least 1000)\n"
    "  --demo               create the account demo (password demo) and the sample\n"
    "                       albums Holidays, Family and Garden, unless another\n"
    "                       service serves the data folder\n"
    "  --quiet              do not log requests to stderr\n"
    "  --help               show this text\n"
    "\n"
    "Test hooks (for automated tests only; never needed otherwise):\n"
    "  --test-hooks         enable /test/media, /test/albums, /test/accounts (TSV\n"
    "                       listings, ?account=A for one account),\n"
    "                       /test/account?name=A&password=P&quota=N (new account),\n"
    "                       /test/stall?mode=M and\n"
    "                       /test/limits?max-upload=N&account=A&quota=N\n"
    "  --test-stall-uploads MODE\n"
    "                       make uploads hang without answering: before-body or\n"
    "                       before-answer, until /test/stall?mode=off or a stop\n"
    "  --test-read-rate BYTES\n"
    "                       read each request at most this fast (suffix K, M or\n"
    "                       G), as over a user's link\n"
    "  --test-crash-at STEP end the process at once (SIGKILL) when an upload\n"
    "                       reaches STEP: receiving, temp-written,\n"
    "                       record-inserted, file-moved, folder-synced, committed\n"
    "\n"
    "Commands:\n"
    "  serve                                serve HTTP (the default)\n"
    "  add-account NAME PASSWORD [QUOTA]    create an account; QUOTA in bytes\n"
    "                                       (suffix K, M or G; 0 or none: no limit)\n"
    "  set-quota NAME QUOTA                 change an account's quota\n"
    "  add-album ACCOUNT NAME               create an album\n"
    "  list-accounts [--json]               accounts with quota and used bytes\n"
    "  list-albums [ACCOUNT] [--json]       albums (of one account)\n"
    "  list-media [ACCOUNT] [--json]        stored files with their fields and paths\n"
    "\n"
    "Listings are TSV with a header line (\\t, \\n, \\r and \\\\ escaped inside\n"
    "values) or, with --json, a JSON array.\n";

bool ParseBytes(const std::string& text, int64_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || v < 0) return false;
  std::string suffix = end;
  if (suffix == "K" || suffix == "k")
    v <<= 10;
  else if (suffix == "M" || suffix == "m")
    v <<= 20;
  else if (suffix == "G" || suffix == "g")
    v <<= 30;
  else if (!suffix.empty())
    return false;
  *value = v;
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "album-service: %s\n", message.c_str());
  return 2;
}

void SeedDemo(CAlbumStore& store) {
  std::string error;
  Account account;
  if (!store.FindAccount("demo", &account)) {
    store.AddAccount("demo", "demo", 0, &error);
    store.FindAccount("demo", &account);
  }
  int64_t id = 0;
  for (const char* name : {"Holidays", "Family", "Garden"})
    store.CreateAlbum(account.id, name, &id);
}

int Serve(CAlbumStore& store, ServerOptions options, const std::string& portFile, bool demo) {
  // Before anything in the folder is touched: a second service would take
  // the first one's temporary files for leftovers, and --demo would give
  // the first one's folder an account anybody can log in to.
  CFolderLock lock;
  std::string error;
  if (!lock.Acquire(store.DataDir(), &error)) return Fail(error);
  if (demo) SeedDemo(store);
  RecoverReport report;
  if (!store.Recover(&report, &error)) return Fail(error);
  if (report.tempFilesRemoved || report.orphanFilesRemoved || report.recordsWithoutFileRemoved)
    std::fprintf(stderr,
                 "album-service: cleaned up after an interrupted run: %d temporary file(s), %d "
                 "file(s) without a record, %d record(s) without a file\n",
                 report.tempFilesRemoved, report.orphanFilesRemoved,
                 report.recordsWithoutFileRemoved);

  // As many connections as the process may open descriptors, less some for
  // files and the database: a few clients cannot take every place.
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    getrlimit(RLIMIT_NOFILE, &files);
    int64_t descriptors = static_cast<int64_t>(std::min<rlim_t>(files.rlim_cur, 10256));
    options.maxConnections = static_cast<int>(std::max<int64_t>(64, descriptors - 256));
  }

  // Signals are taken by a thread of their own so that stopping is an
  // ordinary call, not work inside a signal handler.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);

  CAlbumServer server(&store, options);
  if (!server.Bind(&error)) return Fail(error);
  if (!portFile.empty()) {
    std::string tmp = portFile + ".tmp";
    std::ofstream(tmp) << server.Port() << "\n";
    std::rename(tmp.c_str(), portFile.c_str());
  }
  std::fprintf(stderr, "album-service: serving %s://%s:%d/ from %s\n",
               options.tlsCert.empty() ? "http" : "https", options.address.c_str(), server.Port(),
               store.DataDir().c_str());
  std::mutex mutex;
  std::condition_variable changed;
  bool ended = false;
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&set, &sig);
    // A signal that comes before the server loop has started would find
    // nothing to stop; ask again until serving has ended.
    std::unique_lock<std::mutex> lock(mutex);
    while (!ended) {
      server.Stop();
      changed.wait_for(lock, std::chrono::milliseconds(50));
    }
  });
  bool ok = server.Run();
  {
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
  }
  changed.notify_all();
  // Wake the signal thread if serving ended for another reason.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  std::fprintf(stderr, "album-service: stopped\n");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  ServerOptions options;
  std::string dataDir = "album-data", portFile;
  bool demo = false, json = false;
  int64_t iterations = kDefaultPasswordIterations;
  int maxAlbums = kDefaultMaxAlbums;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--data") {
      if (!value(&dataDir)) return Fail("--data needs a folder");
    } else if (a == "--address") {
      if (!value(&options.address)) return Fail("--address needs an address");
    } else if (a == "--port") {
      int64_t port = 0;
      if (!value(&v) || !ParseBytes(v, &port) || port > 65535)
        return Fail("--port needs 0 to 65535");
      options.port = static_cast<int>(port);
    } else if (a == "--port-file") {
      if (!value(&portFile)) return Fail("--port-file needs a file");
    } else if (a == "--public-url") {
      if (!value(&options.publicUrl)) return Fail("--public-url needs a URL");
      while (!options.publicUrl.empty() && options.publicUrl.back() == '/')
        options.publicUrl.pop_back();
    } else if (a == "--max-upload") {
      if (!value(&v) || !ParseBytes(v, &options.maxUpload))
        return Fail("--max-upload needs a byte count");
    } else if (a == "--max-body") {
      if (!value(&v) || !ParseBytes(v, &options.maxBody))
        return Fail("--max-body needs a byte count");
    } else if (a == "--public-gallery") {
      options.publicGallery = true;
    } else if (a == "--tls-cert") {
      if (!value(&options.tlsCert)) return Fail("--tls-cert needs a PEM file");
    } else if (a == "--tls-key") {
      if (!value(&options.tlsKey)) return Fail("--tls-key needs a PEM file");
    } else if (a == "--login-limit") {
      int64_t n = 0;
      if (!value(&v) || !ParseBytes(v, &n) || n > 1000000)
        return Fail("--login-limit needs a count (0 for no limit)");
      options.loginFailuresPerMinute = static_cast<int>(n);
    } else if (a == "--max-albums") {
      int64_t n = 0;
      if (!value(&v) || !ParseBytes(v, &n) || n > 1000000000)
        return Fail("--max-albums needs a count (0 for no limit)");
      maxAlbums = static_cast<int>(n);
    } else if (a == "--max-connections-per-address") {
      int64_t n = 0;
      if (!value(&v) || !ParseBytes(v, &n) || n > 1000000)
        return Fail("--max-connections-per-address needs a count (0 for no cap)");
      options.maxConnectionsPerAddress = static_cast<int>(n);
    } else if (a == "--password-iterations") {
      if (!value(&v) || !ParseBytes(v, &iterations) || iterations < kMinPasswordIterations ||
          iterations > kMaxPasswordIterations)
        return Fail("--password-iterations needs 1000 to 10000000");
    } else if (a == "--test-crash-at") {
      if (!value(&v) || !IsCrashStep(v))
        return Fail(
            "--test-crash-at needs receiving, temp-written, record-inserted, file-moved, "
            "folder-synced or committed");
      SetCrashStep(v);
    } else if (a == "--demo") {
      demo = true;
    } else if (a == "--quiet") {
      options.logRequests = false;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--test-hooks") {
      options.testHooks = true;
    } else if (a == "--test-read-rate") {
      if (!value(&v) || !ParseBytes(v, &options.testReadRate))
        return Fail("--test-read-rate needs bytes per second");
    } else if (a == "--test-stall-uploads") {
      if (!value(&v) || !ParseStallMode(v, &options.stall))
        return Fail("--test-stall-uploads needs before-body, before-answer or off");
    } else if (a.size() > 1 && a[0] == '-') {
      return Fail("unknown option " + a + " (see --help)");
    } else {
      args.push_back(a);
    }
  }
  if (options.tlsCert.empty() != options.tlsKey.empty())
    return Fail("--tls-cert and --tls-key go together");

  CAlbumStore store;
  std::string error;
  store.SetPasswordIterations(static_cast<int>(iterations));
  store.SetMaxAlbums(maxAlbums);
  if (!store.Open(dataDir, &error)) return Fail(error);

  std::string command = args.empty() ? "serve" : args[0];
  size_t n = args.size();
  if (command == "serve" && n <= 1) return Serve(store, options, portFile, demo);
  if (demo) {
    // Held only while seeding: other commands work beside a running service.
    CFolderLock lock;
    if (!lock.Acquire(store.DataDir(), &error)) return Fail(error + "; --demo changed nothing");
    SeedDemo(store);
  }
  if (command == "add-account" && (n == 3 || n == 4)) {
    int64_t quota = 0;
    if (n == 4 && !ParseBytes(args[3], &quota)) return Fail("QUOTA must be a byte count");
    if (!store.AddAccount(args[1], args[2], quota, &error)) return Fail(error);
    return 0;
  }
  if (command == "set-quota" && n == 3) {
    int64_t quota = 0;
    if (!ParseBytes(args[2], &quota)) return Fail("QUOTA must be a byte count");
    if (!store.SetQuota(args[1], quota)) return Fail("no account " + args[1]);
    return 0;
  }
  if (command == "add-album" && n == 3) {
    Account account;
    int64_t id = 0;
    if (!store.FindAccount(args[1], &account)) return Fail("no account " + args[1]);
    CreateAlbumResult created = store.CreateAlbum(account.id, args[2], &id);
    if (created == CreateAlbumTooMany)
      return Fail("album not created: " + args[1] + " has as many albums as it may have");
    if (created != CreateAlbumOk)
      return Fail("album not created (empty, invalid or existing name)");
    std::printf("%lld\n", static_cast<long long>(id));
    return 0;
  }
  std::string account = n >= 2 ? args[1] : "";
  if (command == "list-accounts" && n == 1) {
    std::vector<Account> list = store.ListAccounts();
    std::fputs((json ? AccountsJson(list) : AccountsTsv(list)).c_str(), stdout);
    return 0;
  }
  if (command == "list-albums" && n <= 2) {
    std::vector<Album> list = store.ListAlbums(account);
    std::fputs((json ? AlbumsJson(list) : AlbumsTsv(list)).c_str(), stdout);
    return 0;
  }
  if (command == "list-media" && n <= 2) {
    std::vector<Media> list = store.ListMedia(account);
    std::fputs((json ? MediaJson(list) : MediaTsv(list)).c_str(), stdout);
    return 0;
  }
  return Fail("unknown command or wrong arguments: " + command + " (see --help)");
}
