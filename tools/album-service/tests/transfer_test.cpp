// Big and many transfers against the real program: a 2 GiB upload and
// download with the service's peak memory measured, oversized uploads at 2x
// and 100x the limit, and a bounded load test of 20 clients filling three
// accounts up to their quotas. Figures are printed and kept as test
// properties.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "tools/album-service/album_store.h"
#include "tools/album-service/tests/service_test_util.h"

using namespace albumsvc;
using namespace svctest;

namespace {

const size_t kMiB = 1 << 20;

// An upload body streamed from a data source, never held whole in memory.
class CStreamedUpload {
 public:
  using Source = std::function<void(uint64_t offset, char* out, size_t n)>;
  CStreamedUpload(const std::string& name, uint64_t size, Source source)
      : head_(TextParts(UploadFields("0", name, "video/mp4")) + FileHead(name)),
        tail_(Closing()),
        size_(size),
        source_(std::move(source)) {}
  uint64_t Length() const { return head_.size() + size_ + tail_.size(); }

  // Writes the body from offset; a hook sees how far the body got.
  bool Provide(size_t offset, size_t length, httplib::DataSink& sink) {
    std::vector<char> buf(std::min<size_t>(length, 256 * 1024));
    size_t n = 0;
    uint64_t fileEnd = head_.size() + size_;
    while (n < buf.size()) {
      uint64_t at = offset + n;
      size_t take;
      if (at < head_.size()) {
        take = std::min<size_t>(buf.size() - n, head_.size() - at);
        std::memcpy(buf.data() + n, head_.data() + at, take);
      } else if (at < fileEnd) {
        take = static_cast<size_t>(std::min<uint64_t>(buf.size() - n, fileEnd - at));
        source_(at - head_.size(), buf.data() + n, take);
        sha_.Update(buf.data() + n, take);
      } else {
        take = std::min<size_t>(buf.size() - n, tail_.size() - (at - fileEnd));
        std::memcpy(buf.data() + n, tail_.data() + (at - fileEnd), take);
      }
      n += take;
    }
    if (onProgress) onProgress(offset + n);
    return sink.write(buf.data(), n);
  }
  std::string Sha() { return sha_.FinishHex(); }
  std::function<void(uint64_t)> onProgress;

 private:
  std::string head_, tail_;
  uint64_t size_;
  Source source_;
  CSha256 sha_;
};

// 2 GiB of test data from one random MiB: block i is that MiB rotated by
// i * 7919 bytes, so every block differs and a misplaced one shows.
class CBigData {
 public:
  CBigData() : base_(kMiB) {
    std::mt19937_64 rng(20240601);
    for (size_t i = 0; i < kMiB; i += 8) {
      uint64_t v = rng();
      std::memcpy(&base_[i], &v, 8);
    }
  }
  void Fill(uint64_t offset, char* out, size_t n) const {
    while (n > 0) {
      uint64_t block = offset / kMiB, within = offset % kMiB;
      size_t start = static_cast<size_t>((within + block * 7919) % kMiB);
      size_t take = static_cast<size_t>(std::min<uint64_t>(n, kMiB - within));
      take = std::min(take, kMiB - start);
      std::memcpy(out, &base_[start], take);
      out += take;
      offset += take;
      n -= take;
    }
  }

 private:
  std::vector<char> base_;
};

// Small files of the load test: the bytes follow from the name alone.
std::string LoadFileBytes(uint64_t seed, size_t n) {
  std::string out(n, '\0');
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t i = 0; i < n; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(&out[i], &x, std::min<size_t>(8, n - i));
  }
  return out;
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("album-service-transfer");
    ASSERT_FALSE(dir_.empty());
    data_ = dir_ + "/data";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void AddAccount(const std::string& name, const std::string& quota) {
    int rc = -1;
    RunShell(ServiceBin() + " --password-iterations 1000 --data " + data_ + " add-account " + name +
                 " pw " + quota + " 2>&1",
             &rc);
    ASSERT_EQ(rc, 0);
  }
  static std::string SessionOf(httplib::Client& c, const std::string& user) {
    auto r =
        c.Post("/login.php", Body({{"Username", user}, {"Password", "pw"}}), kContentType.c_str());
    return r ? Lines(r->body)["SId"] : "";
  }
  static std::string CookieOf(httplib::Client& c, const std::string& user) {
    auto r =
        c.Post("/login", "username=" + user + "&password=pw", "application/x-www-form-urlencoded");
    std::string set = r ? r->get_header_value("Set-Cookie") : "";
    size_t eq = set.find('='), semi = set.find(';');
    return eq == std::string::npos ? "" : set.substr(eq + 1, semi - eq - 1);
  }
  static std::string Send(httplib::Client& c, const std::string& sid, CStreamedUpload& body) {
    auto r = c.Post(("/upload.php?" + sid).c_str(), static_cast<size_t>(body.Length()),
                    [&](size_t offset, size_t length, httplib::DataSink& sink) {
                      return body.Provide(offset, length, sink);
                    },
                    kContentType.c_str());
    return r ? r->body : "(no answer: " + httplib::to_string(r.error()) + ")";
  }
  static std::string TmpEntries(const std::string& data) {
    std::string out;
    for (auto& e : fs::directory_iterator(data + "/tmp")) out += e.path().string() + " ";
    return out;
  }

  std::string dir_, data_;
};

TEST_F(TransferTest, TwoGibibyteUploadAndDownloadStreamWithFlatMemory) {
  const uint64_t kSize = 2048ull * kMiB;
  AddAccount("anna", "0");
  CServiceProcess service(data_);
  std::string error;
  ASSERT_TRUE(service.Start({"--max-upload", "3G"}, &error)) << error;
  httplib::Client c("127.0.0.1", service.Port());
  c.set_read_timeout(600, 0);
  c.set_write_timeout(600, 0);
  std::string sid = SessionOf(c, "anna");
  CBigData big;
  auto source = [&](uint64_t offset, char* out, size_t n) { big.Fill(offset, out, n); };

  // A small transfer first: the memory any upload needs.
  CStreamedUpload small("small.mp4", 16 * kMiB, source);
  ASSERT_EQ(Send(c, sid, small).substr(0, 1), "0");
  long smallPeak = service.PeakRssKb();

  auto t0 = std::chrono::steady_clock::now();
  CStreamedUpload upload("big.mp4", kSize, source);
  ASSERT_EQ(Send(c, sid, upload), "0\r\nMediaId=2\r\n");
  auto t1 = std::chrono::steady_clock::now();
  long uploadPeak = service.PeakRssKb();
  std::string sentSha = upload.Sha();

  CAlbumStore store;
  ASSERT_TRUE(store.Open(data_, &error));
  Media m;
  ASSERT_TRUE(store.GetMedia(2, &m));
  EXPECT_EQ(m.size, static_cast<int64_t>(kSize));
  EXPECT_EQ(m.sha256, sentSha);
  EXPECT_EQ(fs::file_size(m.path), kSize);

  // Download it whole, then its last MiB as a range.
  std::string cookie = CookieOf(c, "anna");
  ASSERT_FALSE(cookie.empty());
  CSha256 got;
  uint64_t received = 0;
  auto res =
      c.Get("/media/2", {{"Cookie", "album_session=" + cookie}}, [&](const char* d, size_t n) {
        got.Update(d, n);
        received += n;
        return true;
      });
  auto t2 = std::chrono::steady_clock::now();
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(received, kSize);
  EXPECT_EQ(got.FinishHex(), sentSha);
  auto tail = c.Get("/media/2", {{"Cookie", "album_session=" + cookie},
                                 {"Range", "bytes=" + std::to_string(kSize - kMiB) + "-"}});
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->status, 206);
  std::string expected(kMiB, '\0');
  big.Fill(kSize - kMiB, &expected[0], kMiB);
  EXPECT_TRUE(tail->body == expected);
  long peak = service.PeakRssKb();

  double up = std::chrono::duration<double>(t1 - t0).count();
  double down = std::chrono::duration<double>(t2 - t1).count();
  std::printf(
      "2 GiB transfer: upload %.1f s (%.0f MiB/s), download %.1f s (%.0f MiB/s); service peak "
      "memory after 16 MiB %ld KiB, after the 2 GiB upload %ld KiB, after the download %ld "
      "KiB\n",
      up, 2048 / up, down, 2048 / down, smallPeak, uploadPeak, peak);
  RecordProperty("peak_rss_kib_16mib", static_cast<int>(smallPeak));
  RecordProperty("peak_rss_kib_2gib", static_cast<int>(peak));
  // Streaming: 2 GiB may not cost more memory than 16 MiB did, give or take
  // allocator noise (far below the size of the file).
  EXPECT_LT(peak - smallPeak, 64 * 1024) << "KiB more than for 16 MiB";
  EXPECT_TRUE(service.Stop());
}

TEST_F(TransferTest, OversizedUploadsGetTooBigWhateverTheirSizeAndKeepNothing) {
  AddAccount("anna", "0");
  CServiceProcess service(data_);
  std::string error;
  ASSERT_TRUE(service.Start({"--max-upload", "1M"}, &error)) << error;
  httplib::Client c("127.0.0.1", service.Port());
  c.set_read_timeout(300, 0);
  c.set_write_timeout(300, 0);
  std::string sid = SessionOf(c, "anna");
  CBigData big;
  auto source = [&](uint64_t offset, char* out, size_t n) { big.Fill(offset, out, n); };

  CStreamedUpload twice("twice.mp4", 2 * kMiB, source);
  EXPECT_EQ(Send(c, sid, twice), "3\r\nError=file too big\r\n");
  long before = service.PeakRssKb();

  // 100x: halfway through, nothing of the file is kept on disk any more.
  CStreamedUpload hundred("hundred.mp4", 100 * kMiB, source);
  std::mutex mutex;
  std::condition_variable cv;
  bool paused = false, resume = false;
  hundred.onProgress = [&](uint64_t sent) {
    if (sent < 50 * kMiB || resume) return;
    std::unique_lock<std::mutex> lock(mutex);
    paused = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(60), [&] { return resume; });
  };
  auto answer = std::async(std::launch::async, [&] { return Send(c, sid, hundred); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(120), [&] { return paused; }))
        << "the upload did not get to 50 MiB";
  }
  // The service has read what was sent (bounded wait for the last blocks).
  bool emptied = WaitFor([&] { return TmpEntries(data_).empty(); }, 10000);
  {
    std::lock_guard<std::mutex> lock(mutex);
    resume = true;
  }
  cv.notify_all();
  EXPECT_TRUE(emptied) << "kept while the rest streams in: " << TmpEntries(data_);
  EXPECT_EQ(answer.get(), "3\r\nError=file too big\r\n");
  long after = service.PeakRssKb();
  std::printf("oversized uploads: peak memory after 2 MiB %ld KiB, after 100 MiB %ld KiB\n", before,
              after);
  EXPECT_LT(after - before, 16 * 1024) << "KiB more for the 100 MiB body";

  // Nothing stored; a file at the limit still is.
  CStreamedUpload fits("fits.mp4", kMiB, source);
  EXPECT_EQ(Send(c, sid, fits), "0\r\nMediaId=1\r\n");
  EXPECT_TRUE(service.Stop());
  EXPECT_TRUE(TmpEntries(data_).empty());
  CAlbumStore store;
  ASSERT_TRUE(store.Open(data_, &error));
  EXPECT_EQ(store.ListMedia(std::string()).size(), 1u);
}

// 20 clients upload for a bounded time to three accounts near their quotas.
// A client that is refused for space tries a smaller file next, so the
// accounts fill up to the byte.
TEST_F(TransferTest, TwentyClientsFillThreeQuotasExactly) {
  const int kClients = 20, kAccounts = 3, kSeconds = 30;
  const int64_t kQuota = 24 * static_cast<int64_t>(kMiB);
  const size_t kMaxFile = 64 * 1024;
  for (int a = 0; a < kAccounts; ++a)
    AddAccount("load" + std::to_string(a), std::to_string(kQuota));
  CServiceProcess service(data_);
  std::string error;
  ASSERT_TRUE(service.Start({"--quiet"}, &error)) << error;

  struct Outcome {
    int account;
    uint64_t seed;
    size_t size;
    std::string answer;
  };
  std::mutex mutex;
  std::vector<Outcome> outcomes;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kSeconds);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      int account = i % kAccounts;
      httplib::Client c("127.0.0.1", service.Port());
      c.set_read_timeout(60, 0);
      c.set_write_timeout(60, 0);
      auto login = c.Post(
          "/login.php", Body({{"Username", "load" + std::to_string(account)}, {"Password", "pw"}}),
          kContentType.c_str());
      std::string sid = login ? Lines(login->body)["SId"] : "";
      if (sid.empty()) {
        std::lock_guard<std::mutex> lock(mutex);
        ADD_FAILURE() << "client " << i << " cannot log in: "
                      << (login ? login->body : httplib::to_string(login.error()));
        return;
      }
      std::mt19937 rng(1000 + i);
      size_t size = 1 + rng() % kMaxFile;
      for (uint64_t seq = 0; std::chrono::steady_clock::now() < end; ++seq) {
        uint64_t seed = static_cast<uint64_t>(i) << 32 | seq;
        std::string name = std::to_string(seed) + ".bin";
        std::string data = LoadFileBytes(seed, size);
        auto r = c.Post(("/upload.php?" + sid).c_str(),
                        Body(UploadFields("0", name, "image/jpeg"), name, data, true),
                        kContentType.c_str());
        std::string answer = r ? r->body : "no answer: " + httplib::to_string(r.error());
        {
          std::lock_guard<std::mutex> lock(mutex);
          outcomes.push_back({account, seed, size, answer});
        }
        if (answer.substr(0, 1) == "2")
          size = size > 1 ? size / 2 : 1 + rng() % kMaxFile;
        else
          size = 1 + rng() % kMaxFile;
      }
    });
  }
  for (std::thread& t : clients) t.join();
  long peak = service.PeakRssKb();
  ASSERT_TRUE(service.Stop());

  CAlbumStore store;
  ASSERT_TRUE(store.Open(data_, &error));
  std::vector<Media> media = store.ListMedia(std::string());
  std::map<std::string, const Media*> byName;
  for (const Media& m : media) byName[m.filename] = &m;
  int64_t accepted[kAccounts] = {}, used[kAccounts] = {};
  int stored = 0, refused = 0, other = 0;
  for (const Outcome& o : outcomes)
    if (o.answer.substr(0, 1) == "0") accepted[o.account] += static_cast<int64_t>(o.size);
  for (int a = 0; a < kAccounts; ++a) {
    Account acc;
    ASSERT_TRUE(store.FindAccount("load" + std::to_string(a), &acc));
    used[a] = acc.used;
  }
  for (const Outcome& o : outcomes) {
    std::string name = std::to_string(o.seed) + ".bin";
    if (o.answer.substr(0, 1) == "0") {
      ++stored;
      auto it = byName.find(name);
      if (it == byName.end()) {
        ADD_FAILURE() << name << " was answered 0 but is not stored";
        continue;
      }
      EXPECT_EQ(it->second->account, "load" + std::to_string(o.account));
      EXPECT_TRUE(ReadFile(it->second->path) == LoadFileBytes(o.seed, o.size))
          << name << " is not stored byte for byte";
    } else if (o.answer.substr(0, 1) == "2") {
      ++refused;
      // Used bytes only grow: a refusal was right only if the file does not
      // fit even now.
      EXPECT_GT(static_cast<int64_t>(o.size), kQuota - used[o.account]) << name;
      EXPECT_EQ(byName.count(name), 0u) << name << " refused but stored";
    } else {
      ++other;
      ADD_FAILURE() << name << ": " << o.answer;
    }
  }
  EXPECT_EQ(static_cast<int>(media.size()), stored) << "records without an accepted upload";
  int64_t total = 0;
  for (int a = 0; a < kAccounts; ++a) {
    EXPECT_EQ(used[a], accepted[a]) << "account " << a;
    EXPECT_LE(used[a], kQuota) << "account " << a;
    total += used[a];
  }
  // Nothing orphaned: one file per record, nothing left in tmp/.
  size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(data_ + "/media")) files += e.is_regular_file();
  EXPECT_EQ(files, media.size());
  EXPECT_EQ(TmpEntries(data_), "");
  std::printf(
      "load test: %d clients, %d s, %zu uploads (%.1f/s): %d stored (%.1f MiB), %d refused for "
      "space, %d other; quotas %lld bytes, used %lld / %lld / %lld; service peak memory %ld "
      "KiB\n",
      kClients, kSeconds, outcomes.size(), outcomes.size() / static_cast<double>(kSeconds), stored,
      total / double(kMiB), refused, other, static_cast<long long>(kQuota),
      static_cast<long long>(used[0]), static_cast<long long>(used[1]),
      static_cast<long long>(used[2]), peak);
  RecordProperty("uploads", static_cast<int>(outcomes.size()));
  RecordProperty("stored", stored);
  RecordProperty("refused", refused);
  EXPECT_GT(refused, 0) << "the quotas were never reached: make them smaller";
}

}  // namespace
