// The album service over HTTP: every command with its answers and refusals,
// storage that survives a restart, bad requests, the test hooks, the pages
// (rendered by headless Chromium) and the command line.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "tools/album-service/album_server.h"
#include "tools/album-service/album_store.h"
#include "tools/album-service/tests/service_fixture.h"

namespace fs = std::filesystem;
using namespace albumsvc;
using namespace svctest;

namespace {

std::vector<std::pair<std::string, std::string>> ManyFields(int n) {
  std::vector<std::pair<std::string, std::string>> out;
  for (int i = 0; i < n; ++i) out.emplace_back("x" + std::to_string(i), "y");
  return out;
}

// An upload body with two file parts.
std::string TwoFiles() {
  std::string one = Body({{"DirId", "0"}}, "a.jpg", "aaa", true);
  std::string two = Body({}, "b.jpg", "bbb", true);
  return one.substr(0, one.size() - kBoundary.size() - 6) + two;
}

TEST_F(AlbumServiceTest, LogInAnswersSessionAndCommandUrlsOrRefuses) {
  auto login = LogIn();
  ASSERT_EQ(login["SId"].size(), 32u);
  std::string base = "http://127.0.0.1:" + std::to_string(server_->Port());
  EXPECT_EQ(login["DirListURL"], base + "/dirlist.php");
  EXPECT_EQ(login["CreateDirURL"], base + "/createdir.php");
  EXPECT_EQ(login["UploadURL"], base + "/upload.php");
  EXPECT_NE(LogIn()["SId"], login["SId"]);

  EXPECT_EQ(
      Post("/login.php", Body({{"Username", "alice"}, {"Password", "wrong"}})).text.substr(0, 1),
      "2");
  EXPECT_EQ(
      Post("/login.php", Body({{"Username", "nobody"}, {"Password", "secret"}})).text.substr(0, 1),
      "2");
  EXPECT_EQ(
      Post("/login.php", Body({{"Username", "ALICE"}, {"Password", "secret"}})).text.substr(0, 1),
      "2");
  // The URLs are the service's own, whatever Host a client names.
  auto forged =
      client_->Post("/login.php", httplib::Headers{{"Host", "evil.example:81"}},
                    Body({{"Username", "alice"}, {"Password", "secret"}}), kContentType.c_str());
  ASSERT_TRUE(forged);
  EXPECT_EQ(Lines(forged->body)["UploadURL"], base + "/upload.php");
  Reply missing = Post("/login.php", Body({{"Username", "alice"}}));
  EXPECT_EQ(missing.status, 400);
  EXPECT_NE(missing.text.find("Password"), std::string::npos);
}

// The uploader reads these answers; every byte of them stays as it is.
TEST_F(AlbumServiceTest, CommandAnswersAreByteExact) {
  const std::string base = "http://127.0.0.1:" + std::to_string(server_->Port());
  auto ok = client_->Post(
      "/login.php",
      Body({{"Password", "secret"}, {"Language", "DE"}, {"Version", "1.0"}, {"Username", "alice"}}),
      kContentType.c_str());
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  EXPECT_EQ(ok->get_header_value("Content-Type"), "text/plain; charset=utf-8");
  auto login = Lines(ok->body);
  EXPECT_EQ(ok->body, "0\r\nSId=" + login["SId"] + "\r\nDirListURL=" + base +
                          "/dirlist.php\r\nCreateDirURL=" + base +
                          "/createdir.php\r\nUploadURL=" + base + "/upload.php\r\nUser=alice\r\n");
  EXPECT_EQ(Post("/login.php", Body({{"Username", "alice"}, {"Password", "nope"}})).text,
            "2\r\nError=wrong user name or password\r\n");
  EXPECT_EQ(Command(login, "DirListURL", Body({})).text, "0\r\nCount=0\r\nUser=alice\r\n");
  EXPECT_EQ(Command(login, "CreateDirURL", Body({{"DirName", "A"}})).text, "0\r\nDirId=1\r\n");
  EXPECT_EQ(Command(login, "CreateDirURL", Body({{"DirName", "A"}})).text,
            "2\r\nError=an album of that name exists already\r\n");
  EXPECT_EQ(Command(login, "CreateDirURL", Body({{"DirName", " "}})).text,
            "2\r\nError=album name is empty, too long or not valid UTF-8\r\n");
  EXPECT_EQ(Upload(login, "1", "a.jpg", "abc").text, "0\r\nMediaId=1\r\n");
  server_->SetMaxUpload(2);
  EXPECT_EQ(Upload(login, "1", "b.jpg", "abc").text, "3\r\nError=file too big\r\n");
  server_->SetMaxUpload(0);
  ASSERT_TRUE(store_->SetQuota("alice", 4));
  EXPECT_EQ(Upload(login, "0", "c.jpg", "ab").text, "2\r\nError=no space left in this account\r\n");
  EXPECT_EQ(Upload(login, "7", "d.jpg", "a").text, "1\r\nError=unknown album\r\n");
}

TEST_F(AlbumServiceTest, DirListAndCreateDirKeepUtf8NamesInCreationOrder) {
  auto login = LogIn();
  Reply empty = Command(login, "DirListURL", Body({}));
  EXPECT_EQ(empty.text, "0\r\nCount=0\r\nUser=alice\r\n");

  const std::string umlaut =
      "Gr\xc3\xbc\xc3\x9f"
      "e";
  Reply a = Command(login, "CreateDirURL", Body({{"DirName", "Holiday"}}));
  Reply b = Command(login, "CreateDirURL", Body({{"DirName", umlaut}}));
  ASSERT_EQ(a.text.substr(0, 1), "0");
  ASSERT_EQ(b.text.substr(0, 1), "0");
  std::string idA = Lines(a.text)["DirId"], idB = Lines(b.text)["DirId"];
  EXPECT_NE(idA, idB);
  EXPECT_GT(std::atoi(idA.c_str()), 0);

  // Refusals: duplicate, empty, blank, two lines, not UTF-8, nothing
  // visible (NUL, zero-width or non-breaking spaces), terminal escapes and
  // right-to-left overrides.
  for (std::string bad :
       {std::string("Holiday"), std::string(), std::string("  "), std::string("a\r\nb"),
        std::string("caf\xe9"), std::string(201, 'x'), std::string(3, '\0'),
        std::string("\xe2\x80\x8b\xe2\x80\x8c"), std::string("\xc2\xa0\xc2\xa0"),
        std::string("\xef\xbb\xbf \xe3\x80\x80"), std::string("red\x1b[31m"),
        std::string("gpj.\xe2\x80\xae"
                    "exe")})
    EXPECT_EQ(Command(login, "CreateDirURL", Body({{"DirName", bad}})).text.substr(0, 1), "2")
        << bad;
  EXPECT_EQ(Command(login, "CreateDirURL", Body({})).status, 400);

  // Another account sees none of them and may use the same name.
  auto bob = LogIn("bob", "pw");
  EXPECT_EQ(Command(bob, "DirListURL", Body({})).text, "0\r\nCount=0\r\nUser=bob\r\n");
  EXPECT_EQ(Command(bob, "CreateDirURL", Body({{"DirName", "Holiday"}})).text.substr(0, 1), "0");

  EXPECT_EQ(Command(login, "DirListURL", Body({})).text, "0\r\nCount=2\r\nUser=alice\r\nid=" + idA +
                                                             "\r\nname=Holiday\r\nid=" + idB +
                                                             "\r\nname=" + umlaut + "\r\n");

  // Accents and spaces inside a name are fine; an account holds a bounded
  // number of albums.
  EXPECT_EQ(Command(login, "CreateDirURL", Body({{"DirName", "Caf\xc3\xa9\xc2\xa0Paris"}}))
                .text.substr(0, 1),
            "0");
  store_->SetMaxAlbums(3);
  EXPECT_EQ(Command(login, "CreateDirURL", Body({{"DirName", "Fourth"}})).text,
            "2\r\nError=this account has as many albums as it may have\r\n");
  EXPECT_EQ(Command(bob, "CreateDirURL", Body({{"DirName", "Second"}})).text.substr(0, 1), "0");
}

TEST_F(AlbumServiceTest, UploadStoresFileAndFieldsOrAnswersLimits) {
  auto login = LogIn();
  std::string album = Lines(Command(login, "CreateDirURL", Body({{"DirName", "A"}})).text)["DirId"];
  std::string data;
  for (int i = 0; i < 70000; ++i) data += static_cast<char>(i * 7 + i / 256);
  data += "\r\n--" + kBoundary.substr(0, 20);  // delimiter-like tail stays data

  Reply r = Command(login, "UploadURL",
                    Body({{"Desc", "Sunset \xc3\xa0 la plage"},
                          {"DirId", album},
                          {"Filename", "Sonne.jpg"},
                          {"MimeType", "image/jpeg"},
                          {"Keyword", "sun, sea"}},
                         "C:\\Pics\\sonne\xe9.jpg", data, true));
  ASSERT_EQ(r.text.substr(0, 1), "0") << r.text;
  ASSERT_EQ(Upload(login, "0", "inbox.jpg", "tiny").text.substr(0, 1), "0");

  std::vector<Media> media = store_->ListMedia("alice");
  ASSERT_EQ(media.size(), 2u);
  EXPECT_EQ(media[0].dirId, std::atoi(album.c_str()));
  EXPECT_EQ(media[0].filename, "Sonne.jpg");
  EXPECT_EQ(media[0].keyword, "sun, sea");
  EXPECT_EQ(media[0].desc, "Sunset \xc3\xa0 la plage");
  EXPECT_EQ(media[0].mimeType, "image/jpeg");
  EXPECT_EQ(media[0].partName, "C:\\Pics\\sonne\xe9.jpg");
  EXPECT_EQ(media[0].size, static_cast<int64_t>(data.size()));
  EXPECT_EQ(media[0].sha256, Sha256Hex(data));
  EXPECT_EQ(ReadFile(media[0].path), data);
  EXPECT_EQ(media[1].dirId, 0);
  EXPECT_EQ(ReadFile(media[1].path), "tiny");

  // Albums of other accounts and unknown albums are not targets.
  auto bob = LogIn("bob", "pw");
  EXPECT_EQ(Upload(bob, album, "x.jpg", "x").text.substr(0, 1), "1");
  EXPECT_EQ(Upload(login, "999", "x.jpg", "x").text.substr(0, 1), "1");

  // Per-upload limit answers "3", the quota "2"; neither leaves a file behind.
  server_->SetMaxUpload(1000);
  EXPECT_EQ(Upload(login, "0", "big.jpg", std::string(1001, 'b')).text.substr(0, 1), "3");
  EXPECT_EQ(Upload(login, "0", "fits.jpg", std::string(1000, 'f')).text.substr(0, 1), "0");
  ASSERT_TRUE(store_->SetQuota("alice", static_cast<int64_t>(data.size()) + 4 + 1000 + 10));
  EXPECT_EQ(Upload(login, "0", "ten.jpg", std::string(10, 't')).text.substr(0, 1), "0");
  EXPECT_EQ(Upload(login, "0", "one.jpg", "1").text.substr(0, 1), "2");
  EXPECT_EQ(store_->ListMedia("alice").size(), 4u);
  EXPECT_TRUE(fs::is_empty(dataDir_ + "/tmp"));
  size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(dataDir_ + "/media"))
    files += e.is_regular_file();
  EXPECT_EQ(files, 4u);

  // The file part's own name and type are kept, whatever parts follow it.
  ASSERT_EQ(Command(bob, "UploadURL",
                    FileHead("first.png", "image/png") + "png\r\n" +
                        Body(UploadFields("0", "first.png", "image/png")))
                .text.substr(0, 1),
            "0");
  Media first = store_->ListMedia("bob").at(0);
  EXPECT_EQ(first.partName, "first.png");
  EXPECT_EQ(first.partType, "image/png");
  EXPECT_EQ(ReadFile(first.path), "png");
}

TEST_F(AlbumServiceTest, BadRequestsGetClearAnswersAndLeaveStorageIntact) {
  auto login = LogIn();
  ASSERT_EQ(Upload(login, "0", "keep.jpg", "keep").text.substr(0, 1), "0");
  std::string upload = Target(login["UploadURL"]) + "?" + login["SId"];
  const std::string full = Body({{"Desc", "d"},
                                 {"DirId", "0"},
                                 {"Filename", "f.jpg"},
                                 {"MimeType", "image/jpeg"},
                                 {"Keyword", "k"}},
                                "f.jpg", "data", true);
  struct Case {
    const char* what;
    std::string target, body, type;
    int status;
  } cases[] = {
      {"not multipart", upload, "DirId=0", "application/x-www-form-urlencoded", 400},
      {"no boundary", upload, full, "multipart/form-data", 400},
      {"garbage", upload, "garbage", kContentType, 400},
      {"truncated", upload, full.substr(0, full.size() - 30), kContentType, 400},
      {"trailing junk", upload, full + "junk", kContentType, 400},
      {"no file", upload,
       Body(
           {{"Desc", "d"}, {"DirId", "0"}, {"Filename", "f"}, {"MimeType", "m"}, {"Keyword", "k"}}),
       kContentType, 400},
      {"no DirId", upload,
       Body({{"Desc", "d"}, {"Filename", "f"}, {"MimeType", "m"}, {"Keyword", "k"}}, "f", "x",
            true),
       kContentType, 400},
      {"DirId not decimal", upload,
       Body(
           {{"Desc", "d"}, {"DirId", "-1"}, {"Filename", "f"}, {"MimeType", "m"}, {"Keyword", "k"}},
           "f", "x", true),
       kContentType, 400},
      {"field twice", upload, Body({{"DirId", "0"}, {"DirId", "0"}}), kContentType, 400},
      {"value too long", upload, Body({{"Desc", std::string(70000, 'd')}}), kContentType, 400},
      {"too many parts", upload, Body(ManyFields(40)), kContentType, 400},
      {"second file", upload, TwoFiles(), kContentType, 400},
      {"unknown session", Target(login["UploadURL"]) + "?nosuchkey", full, kContentType, 403},
      {"no session", Target(login["UploadURL"]), full, kContentType, 403},
      {"dirlist unknown session", Target(login["DirListURL"]) + "?x", Body({}), kContentType, 403},
      {"createdir unknown session", Target(login["CreateDirURL"]) + "?x", Body({{"DirName", "n"}}),
       kContentType, 403},
      {"login garbage", "/login.php", "\x01\x02", kContentType, 400},
  };
  for (const Case& c : cases) {
    Reply r = Post(c.target, c.body, c.type);
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.text;
    EXPECT_EQ(r.text.substr(0, 8), "1\r\nError") << c.what;
  }
  // Requests other than uploads are held to --max-body; an upload over the
  // upload limit gets "3" however large its body is.
  ServerOptions small = options_;
  small.maxUpload = 100;
  small.maxBody = 4096;
  Restart(small);
  login = LogIn();
  Reply long_name = Command(login, "CreateDirURL", Body({{"DirName", std::string(5000, 'n')}}));
  EXPECT_EQ(long_name.status, 413);
  EXPECT_EQ(long_name.text, "1\r\nError=request body too large\r\n");
  EXPECT_EQ(Upload(login, "0", "huge.jpg", std::string(8192, 'h')).text,
            "3\r\nError=file too big\r\n");
  EXPECT_EQ(Upload(login, "0", "big.jpg", std::string(2000, 'h')).text.substr(0, 1), "3");

  std::vector<Media> media = store_->ListMedia("");
  ASSERT_EQ(media.size(), 1u);
  EXPECT_EQ(ReadFile(media[0].path), "keep");
  EXPECT_TRUE(fs::is_empty(dataDir_ + "/tmp"));
}

TEST_F(AlbumServiceTest, EverythingSurvivesARestart) {
  auto login = LogIn();
  std::string id = Lines(Command(login, "CreateDirURL", Body({{"DirName", "Kept"}})).text)["DirId"];
  ASSERT_EQ(Upload(login, id, "kept.jpg", "bytes").text.substr(0, 1), "0");
  Stop();
  Start();
  // The old session still works, and so do the account, album and file.
  EXPECT_EQ(Command(login, "DirListURL", Body({})).text,
            "0\r\nCount=1\r\nUser=alice\r\nid=" + id + "\r\nname=Kept\r\n");
  EXPECT_EQ(Command(login, "CreateDirURL", Body({{"DirName", "Kept"}})).text.substr(0, 1), "2");
  LogIn();
  std::vector<Media> media = store_->ListMedia("alice");
  ASSERT_EQ(media.size(), 1u);
  EXPECT_EQ(media[0].filename, "kept.jpg");
  EXPECT_EQ(ReadFile(media[0].path), "bytes");
}

TEST_F(AlbumServiceTest, TestHooksAreOffByDefaultAndStallUploadsWhenOn) {
  EXPECT_EQ(client_->Get("/test/media")->status, 404);
  EXPECT_EQ(client_->Get("/test/media")->body, "1\r\nError=no GET service at /test/media\r\n");
  EXPECT_EQ(client_->Get("/login.php")->status, 404);
  Stop();
  options_.testHooks = true;
  Start();
  auto login = LogIn();
  ASSERT_EQ(client_->Get("/test/stall?mode=before-answer")->status, 200);
  auto pending = std::async(std::launch::async, [&] {
    httplib::Client c("127.0.0.1", server_->Port());
    c.set_read_timeout(30, 0);
    auto r = c.Post((Target(login["UploadURL"]) + "?" + login["SId"]).c_str(),
                    Body({{"Desc", ""},
                          {"DirId", "0"},
                          {"Filename", "s.jpg"},
                          {"MimeType", "image/jpeg"},
                          {"Keyword", ""}},
                         "s.jpg", "stalled", true),
                    kContentType.c_str());
    return r ? r->body : std::string("no answer");
  });
  EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(700)), std::future_status::timeout);
  EXPECT_TRUE(store_->ListMedia("").empty());
  ASSERT_EQ(client_->Get("/test/stall?mode=off")->status, 200);
  EXPECT_EQ(pending.get().substr(0, 1), "0");

  ASSERT_EQ(client_->Get("/test/limits?account=alice&quota=1")->status, 200);
  EXPECT_EQ(Upload(login, "0", "q.jpg", "xx").text.substr(0, 1), "2");
  ASSERT_EQ(client_->Get("/test/limits?account=alice&quota=0&max-upload=3")->status, 200);
  EXPECT_EQ(Upload(login, "0", "q.jpg", "four").text.substr(0, 1), "3");
  EXPECT_EQ(client_->Get("/test/limits?account=nobody&quota=1")->status, 400);
  EXPECT_EQ(client_->Get("/test/stall?mode=sometimes")->status, 400);
  // Test calls also come as POSTs with an empty multipart form.
  ASSERT_EQ(Post("/test/account?name=dave&password=pw&quota=5", Body({})).text, "ok\n");
  EXPECT_EQ(client_->Get("/test/account?name=dave&password=pw")->status, 400);
  ASSERT_EQ(client_->Get("/test/limits?max-upload=0")->status, 200);
  auto dave = LogIn("dave", "pw");
  EXPECT_EQ(Upload(dave, "0", "d.jpg", "123456").text.substr(0, 1), "2");

  auto tsv = client_->Get("/test/media");
  ASSERT_TRUE(tsv);
  EXPECT_EQ(tsv->body.substr(0, tsv->body.find('\n')),
            "id\taccount\tdir_id\tfilename\tkeyword\tdesc\tmime_type\tpart_name\tpart_type\tsize\t"
            "sha256\tpath\tcreated");
  EXPECT_NE(
      tsv->body.find("\ts.jpg\t\t\timage/jpeg\ts.jpg\timage/jpeg\t7\t" + Sha256Hex("stalled")),
      std::string::npos);

  // A stop releases a stalled upload instead of hanging.
  server_->SetStall(StallBeforeBody);
  auto hanging = std::async(std::launch::async, [&] {
    httplib::Client c("127.0.0.1", server_->Port());
    return static_cast<bool>(c.Post((Target(login["UploadURL"]) + "?" + login["SId"]).c_str(),
                                    Body({}), kContentType.c_str()));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Stop();
  hanging.get();
}

TEST_F(AlbumServiceTest, OpenGalleryAndContactPageShowStoredTextsEscaped) {
  ServerOptions open = options_;
  open.publicGallery = true;
  Restart(open);
  auto login = LogIn();
  std::string id =
      Lines(Command(login, "CreateDirURL", Body({{"DirName", "Ferien <2024>"}})).text)["DirId"];
  ASSERT_EQ(Command(login, "UploadURL",
                    Body({{"Desc",
                           "Blick \xc3\xbc"
                           "ber & See"},
                          {"DirId", id},
                          {"Filename", "See.jpg"},
                          {"MimeType", "image/jpeg"},
                          {"Keyword", "<b>see</b>"}},
                         "See.jpg", "\xff\xd8\xff\xe0", true))
                .text.substr(0, 1),
            "0");
  auto page = client_->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Ferien &lt;2024&gt;"), std::string::npos);
  EXPECT_NE(page->body.find("See.jpg"), std::string::npos);
  EXPECT_NE(page->body.find("Blick \xc3\xbc"
                            "ber &amp; See"),
            std::string::npos);
  EXPECT_NE(page->body.find("&lt;b&gt;see&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(page->body.find("<b>see"), std::string::npos);
  auto img = client_->Get("/media/1");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->body, "\xff\xd8\xff\xe0");
  EXPECT_EQ(img->get_header_value("Content-Type"), "image/jpeg");
  EXPECT_EQ(client_->Get("/media/77")->status, 404);
  auto contact = client_->Get("/contact.php?Subject=pcuploader&Path=contact");
  ASSERT_TRUE(contact);
  EXPECT_NE(contact->body.find("<b class=\"subject\">pcuploader</b>"), std::string::npos);
}

// --- the program itself ------------------------------------------------------

std::string RunShell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

TEST(AlbumServiceProgram, HelpListsEveryOptionAndCommandsManageTheData) {
  const std::string bin = ServiceBin();
  std::string help = RunShell(bin + " --help");
  for (const char* opt : {"--data",
                          "--address",
                          "--port",
                          "--port-file",
                          "--public-url",
                          "--max-upload",
                          "--max-body",
                          "--demo",
                          "--quiet",
                          "--help",
                          "--test-hooks",
                          "--test-stall-uploads",
                          "--public-gallery",
                          "--tls-cert",
                          "--tls-key",
                          "--login-limit",
                          "--password-iterations",
                          "--test-crash-at",
                          "add-account",
                          "set-quota",
                          "add-album",
                          "list-accounts",
                          "list-albums",
                          "list-media",
                          "--json"})
    EXPECT_NE(help.find(opt), std::string::npos) << opt;

  char tmpl[] = "/tmp/album-service-cli.XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string data = std::string(tmpl) + "/new/data";
  std::string base = bin + " --password-iterations 1000 --data " + data + " ";
  int rc = -1;
  RunShell(base + "add-account carol pw 2M", &rc);
  EXPECT_EQ(rc, 0);
  RunShell(base + "add-account carol pw 2M 2>/dev/null", &rc);
  EXPECT_NE(rc, 0);
  EXPECT_EQ(RunShell(base + "add-album carol Trip", &rc), "1\n");
  RunShell(base + "--demo list-albums", &rc);
  EXPECT_EQ(RunShell(base + "list-accounts"),
            "id\tname\tquota\tused\n1\tcarol\t2097152\t0\n2\tdemo\t0\t0\n");
  EXPECT_EQ(RunShell(base + "list-albums demo --json"),
            "[\n {\"id\": 2, \"account\": \"demo\", \"name\": \"Holidays\", \"media_count\": 0},\n"
            " {\"id\": 3, \"account\": \"demo\", \"name\": \"Family\", \"media_count\": 0},\n"
            " {\"id\": 4, \"account\": \"demo\", \"name\": \"Garden\", \"media_count\": 0}\n]\n");
  RunShell(base + "set-quota carol 5K", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(RunShell(base + "list-accounts --json").find("\"quota\": 5120"), std::string::npos);
  RunShell(base + "bogus 2>/dev/null", &rc);
  EXPECT_EQ(rc, 2);
  EXPECT_EQ(RunShell(base + "list-media"),
            "id\taccount\tdir_id\tfilename\tkeyword\tdesc\tmime_type\tpart_name\t"
            "part_type\tsize\tsha256\tpath\tcreated\n");
  std::error_code ec;
  fs::remove_all(tmpl, ec);
}

}  // namespace
