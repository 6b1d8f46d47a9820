// The gallery as a browser sees it: private by default (login form, session
// cookie, each account its own albums and files, log out), the open gallery
// on request, stored files served with the type of their bytes and never as
// a page, byte ranges, and HTTPS.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <string>

#include "tools/album-service/content_sniff.h"
#include "tools/album-service/tests/service_fixture.h"

using namespace albumsvc;
using namespace svctest;

namespace {

const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11) + "jpeg body";
const std::string kPng = std::string("\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR", 16) + "png body";

struct WebAnswer {
  int status = 0;
  std::string setCookie, location, body;
};

class WebTest : public AlbumServiceTest {
 protected:
  // Logs in through the form; the session cookie's value, empty on failure.
  std::string WebLogIn(const std::string& user, const std::string& pw, WebAnswer* out = nullptr) {
    auto res = client_->Post("/login", "username=" + user + "&password=" + pw,
                             "application/x-www-form-urlencoded");
    std::string cookie;
    WebAnswer answer;
    if (res) {
      answer.status = res->status;
      answer.setCookie = res->get_header_value("Set-Cookie");
      answer.location = res->get_header_value("Location");
      answer.body = res->body;
    }
    size_t eq = answer.setCookie.find('='), semi = answer.setCookie.find(';');
    if (answer.status == 303 && answer.setCookie.compare(0, 14, "album_session=") == 0)
      cookie = answer.setCookie.substr(eq + 1, semi - eq - 1);
    if (out) *out = answer;
    return cookie;
  }
  httplib::Result Get(const std::string& path, const std::string& cookie,
                      const httplib::Headers& more = {}) {
    httplib::Headers headers = more;
    if (!cookie.empty()) headers.emplace("Cookie", "album_session=" + cookie);
    return client_->Get(path.c_str(), headers);
  }
  std::string AlbumId(std::map<std::string, std::string>& login, const std::string& name) {
    return Lines(Command(login, "CreateDirURL", Body({{"DirName", name}})).text)["DirId"];
  }
  std::string UploadAs(std::map<std::string, std::string>& login, const std::string& dirId,
                       const std::string& name, const std::string& mime, const std::string& data) {
    return Lines(
        Command(login, "UploadURL", Body(UploadFields(dirId, name, mime), name, data, true))
            .text)["MediaId"];
  }
};

TEST_F(WebTest, GalleryNeedsALoginAndShowsEachAccountOnlyItsOwnMedia) {
  auto alice = LogIn("alice", "secret");
  std::string aliceAlbum = AlbumId(alice, "Alice Garden");
  std::string aliceFile = UploadAs(alice, aliceAlbum, "rose.jpg", "image/jpeg", kJpeg);
  std::string aliceInbox = UploadAs(alice, "0", "alice-inbox.jpg", "image/jpeg", kJpeg);
  auto bob = LogIn("bob", "pw");
  std::string bobAlbum = AlbumId(bob, "Bob Trip");
  std::string bobFile = UploadAs(bob, "0", "bob-inbox.png", "image/png", kPng);
  ASSERT_FALSE(aliceFile.empty());
  ASSERT_FALSE(bobFile.empty());

  // Nobody logged in: the login form, nothing stored, no downloads.
  auto home = Get("/", "");
  ASSERT_TRUE(home);
  EXPECT_NE(home->body.find("action=\"/login\""), std::string::npos);
  EXPECT_EQ(home->body.find("Alice Garden"), std::string::npos);
  EXPECT_EQ(Get("/media/" + aliceFile, "")->status, 404);
  EXPECT_EQ(Get("/album/" + aliceAlbum, "")->status, 303);
  EXPECT_EQ(Get("/album/0", "")->status, 303);

  // A wrong password gets the form again with a message and no cookie.
  WebAnswer wrong;
  EXPECT_EQ(WebLogIn("bob", "nope", &wrong), "");
  EXPECT_EQ(wrong.status, 200);
  EXPECT_NE(wrong.body.find("Wrong user name or password."), std::string::npos);
  EXPECT_EQ(wrong.setCookie, "");

  WebAnswer ok;
  std::string bobCookie = WebLogIn("bob", "pw", &ok);
  ASSERT_EQ(bobCookie.size(), 64u);
  std::string set = ok.setCookie;
  EXPECT_NE(set.find("; HttpOnly"), std::string::npos) << set;
  EXPECT_NE(set.find("; SameSite=Lax"), std::string::npos) << set;
  EXPECT_NE(set.find("; Path=/"), std::string::npos) << set;
  EXPECT_NE(set.find("; Max-Age=604800"), std::string::npos) << set;
  EXPECT_EQ(set.find("Secure"), std::string::npos) << "plain HTTP: " << set;
  EXPECT_EQ(ok.location, "/");

  // Bob sees his album and his inbox, nothing of Alice's.
  auto bobHome = Get("/", bobCookie);
  EXPECT_NE(bobHome->body.find("Bob Trip"), std::string::npos);
  EXPECT_NE(bobHome->body.find("bob-inbox.png"), std::string::npos);
  EXPECT_NE(bobHome->body.find("Log out"), std::string::npos);
  for (const char* hidden : {"Alice Garden", "rose.jpg", "alice-inbox.jpg", "alice"})
    EXPECT_EQ(bobHome->body.find(hidden), std::string::npos) << hidden;
  auto inbox = Get("/album/0", bobCookie);
  EXPECT_NE(inbox->body.find("bob-inbox.png"), std::string::npos);
  EXPECT_EQ(inbox->body.find("alice-inbox.jpg"), std::string::npos);
  EXPECT_EQ(Get("/album/" + bobAlbum, bobCookie)->status, 200);
  // Alice's album and files are "not found" for him, not "forbidden".
  auto foreign = Get("/media/" + aliceFile, bobCookie);
  EXPECT_EQ(foreign->status, 404);
  EXPECT_EQ(foreign->body.find("jpeg body"), std::string::npos);
  EXPECT_EQ(Get("/media/" + aliceInbox, bobCookie)->status, 404);
  EXPECT_EQ(Get("/album/" + aliceAlbum, bobCookie)->status, 404);
  EXPECT_EQ(Get("/media/" + bobFile, bobCookie)->body, kPng);

  std::string aliceCookie = WebLogIn("alice", "secret");
  EXPECT_EQ(Get("/media/" + aliceFile, aliceCookie)->body, kJpeg);
  EXPECT_EQ(Get("/media/" + bobFile, aliceCookie)->status, 404);
  EXPECT_NE(Get("/album/" + aliceAlbum, aliceCookie)->body.find("rose.jpg"), std::string::npos);

  // Log out ends that session only; the cookie is cleared.
  auto out = client_->Post("/logout", httplib::Headers{{"Cookie", "album_session=" + bobCookie}},
                           "", "application/x-www-form-urlencoded");
  ASSERT_TRUE(out);
  EXPECT_EQ(out->status, 303);
  EXPECT_EQ(out->get_header_value("Set-Cookie").compare(0, 24, "album_session=; Path=/; "), 0);
  EXPECT_NE(Get("/", bobCookie)->body.find("action=\"/login\""), std::string::npos);
  EXPECT_EQ(Get("/media/" + bobFile, bobCookie)->status, 404);
  EXPECT_EQ(Get("/media/" + aliceFile, aliceCookie)->status, 200);
  // Made-up and malformed cookies are nobody.
  EXPECT_EQ(Get("/media/" + aliceFile, std::string(64, 'a'))->status, 404);
  EXPECT_EQ(Get("/media/" + aliceFile, "x; album_session=")->status, 404);
}

TEST_F(WebTest, FormsFromOtherSitesAreRefused) {
  auto res = client_->Post("/login", httplib::Headers{{"Origin", "http://evil.example"}},
                           "username=bob&password=pw", "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 403);
  EXPECT_FALSE(res->has_header("Set-Cookie"));
  std::string own = "http://127.0.0.1:" + std::to_string(server_->Port());
  res = client_->Post("/login", httplib::Headers{{"Origin", own}}, "username=bob&password=pw",
                      "application/x-www-form-urlencoded");
  EXPECT_EQ(res->status, 303);
  // A form body longer than any login is not read as one.
  EXPECT_EQ(WebLogIn("bob", "pw&x=" + std::string(20000, 'x')), "");

  // Behind an HTTPS proxy the browser's origin is the public root, and the
  // cookie is for HTTPS only.
  ServerOptions proxied = options_;
  proxied.publicUrl = "https://albums.example.net";
  Restart(proxied);
  res = client_->Post("/login", httplib::Headers{{"Origin", "https://albums.example.net"}},
                      "username=bob&password=pw", "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 303);
  EXPECT_NE(res->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);
  EXPECT_EQ(LogIn("bob", "pw")["UploadURL"], "https://albums.example.net/upload.php");
}

// A page elsewhere cannot use a visitor's browser to guess passwords or to
// lock the owner out, through the gallery's form or the uploader's login.
TEST_F(WebTest, LoginsFromOtherSitesNeitherCountNorLockAnybodyOut) {
  ServerOptions limited = options_;
  limited.loginFailuresPerMinute = 3;
  Restart(limited);
  const std::string form = Body({{"Username", "alice"}, {"Password", "guess"}});
  for (const httplib::Headers& foreign :
       {httplib::Headers{{"Origin", "http://evil.example"}}, httplib::Headers{{"Origin", "null"}},
        httplib::Headers{{"Sec-Fetch-Site", "cross-site"}}}) {
    for (int i = 0; i < 4; ++i) {
      auto res = client_->Post("/login.php", foreign, form, kContentType.c_str());
      ASSERT_TRUE(res);
      EXPECT_EQ(res->status, 403);
      EXPECT_EQ(res->body.substr(0, 8), "1\r\nError");
      res = client_->Post("/login", foreign, "username=alice&password=guess",
                          "application/x-www-form-urlencoded");
      EXPECT_EQ(res->status, 403);
    }
  }
  EXPECT_EQ(LogIn("alice", "secret")["SId"].size(), 32u);
  EXPECT_EQ(WebLogIn("alice", "secret").size(), 64u);
  // The service's own pages and the uploader (no Origin) still log in.
  std::string own = "http://127.0.0.1:" + std::to_string(server_->Port());
  auto res =
      client_->Post("/login.php", httplib::Headers{{"Origin", own}},
                    Body({{"Username", "alice"}, {"Password", "secret"}}), kContentType.c_str());
  EXPECT_EQ(res->body.substr(0, 5), "0\r\nSI");
}

TEST_F(WebTest, OpenGalleryShowsEveryAccountWithoutALogin) {
  auto alice = LogIn("alice", "secret");
  std::string file = UploadAs(alice, AlbumId(alice, "Shared"), "a.jpg", "image/jpeg", kJpeg);
  EXPECT_EQ(Get("/media/" + file, "")->status, 404);
  ServerOptions open = options_;
  open.publicGallery = true;
  Restart(open);
  auto home = Get("/", "");
  EXPECT_NE(home->body.find("Shared"), std::string::npos);
  EXPECT_NE(home->body.find("(alice)"), std::string::npos);
  EXPECT_EQ(home->body.find("action=\"/login\""), std::string::npos);
  EXPECT_EQ(Get("/media/" + file, "")->body, kJpeg);
  EXPECT_NE(Get("/album/0", "")->body.find("Public inbox"), std::string::npos);
}

TEST_F(WebTest, StoredFilesAreServedWithTheTypeOfTheirBytesAndNeverAsAPage) {
  auto alice = LogIn("alice", "secret");
  const std::string html = "<html><body><script>alert(document.cookie)</script></body></html>";
  struct Case {
    const char* name;
    const char* claimed;
    std::string data;
    const char* served;
  } cases[] = {
      {"page.html", "text/html", html, "application/octet-stream"},
      {"svg.svg", "image/svg+xml", "<svg xmlns=\"http://www.w3.org/2000/svg\"><script/></svg>",
       "application/octet-stream"},
      {"photo.jpg", "text/html", kJpeg, "image/jpeg"},
      {"shot.png", "application/javascript", kPng, "image/png"},
      {"clip.mp4", "unknown/*",
       std::string("\0\0\0\x18"
                   "ftypisom\0\0\0\0",
                   16),
       "video/mp4"},
  };
  std::string cookie = WebLogIn("alice", "secret");
  for (const Case& c : cases) {
    std::string id = UploadAs(alice, "0", c.name, c.claimed, c.data);
    auto res = Get("/media/" + id, cookie);
    ASSERT_TRUE(res) << c.name;
    EXPECT_EQ(res->body, c.data) << c.name;
    EXPECT_EQ(res->get_header_value("Content-Type"), c.served) << c.name;
    EXPECT_EQ(res->get_header_value("X-Content-Type-Options"), "nosniff") << c.name;
    EXPECT_NE(res->get_header_value("Content-Security-Policy").find("sandbox"), std::string::npos);
    EXPECT_EQ(res->has_header("Content-Disposition"),
              std::string(c.served) == "application/octet-stream")
        << c.name;
  }
  // Pages allow no script at all, from uploads or anywhere else.
  for (const std::string& page :
       {std::string("/"), std::string("/album/0"), std::string("/contact.php?Subject=a&Path=b")}) {
    auto res = Get(page, cookie);
    std::string csp = res->get_header_value("Content-Security-Policy");
    EXPECT_EQ(csp.compare(0, 18, "default-src 'none'"), 0) << page << ": " << csp;
    EXPECT_EQ(csp.find("script"), std::string::npos) << page;
    EXPECT_EQ(res->get_header_value("X-Content-Type-Options"), "nosniff") << page;
    EXPECT_EQ(res->body.find("<script"), std::string::npos) << page;
  }
  EXPECT_EQ(Get("/", "")
                ->get_header_value("Content-Security-Policy")
                .compare(0, 18, "default-src 'none'"),
            0);
  // Nor do refusals that name the path asked for.
  auto unknown = Get("/%3Chtml%3E%3Cscript%3Ex()%3C/script%3E%0D%0ASId=1", cookie);
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
  EXPECT_EQ(unknown->get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(std::count(unknown->body.begin(), unknown->body.end(), '\n'), 2) << unknown->body;
}

TEST(ContentSniff, KnowsTheUploaderFormatsAndNothingElse) {
  struct Case {
    std::string head;
    const char* type;
  } cases[] = {
      {"\xFF\xD8\xFF\xE1", "image/jpeg"},
      {"\x89PNG\r\n\x1A\n", "image/png"},
      {"GIF89a..", "image/gif"},
      {"GIF87a..", "image/gif"},
      {std::string("BM\x36\x00\x0C\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28", 15) +
           std::string(11, '\0'),
       "image/bmp"},
      {"BM but not a bitmap header at all", "application/octet-stream"},
      {std::string("RIFF\x10\0\0\0AVI LIST", 16), "video/x-msvideo"},
      {std::string("RIFF\x10\0\0\0WAVEfmt ", 16), "audio/wav"},
      {std::string("\0\0\x01\xBA\x44", 5), "video/mpeg"},
      {std::string("\0\0\0\x14"
                   "ftypqt  ",
                   12),
       "video/quicktime"},
      {std::string("\0\0\0\x20"
                   "ftypM4A ",
                   12),
       "audio/mp4"},
      {std::string("\0\0\0\x14"
                   "ftyp3gp4",
                   12),
       "video/3gpp"},
      {std::string("\0\0\0\x14"
                   "ftypisom",
                   12),
       "video/mp4"},
      {std::string("\0\0\x10\0moov", 8), "video/quicktime"},
      {"FLV\x01\x05", "video/x-flv"},
      {"ID3\x04", "audio/mpeg"},
      {"\xFF\xFB\x90\x00", "audio/mpeg"},
      {std::string("OggS\0\x02", 6) + std::string(22, '\0') + "\x01vorbis", "audio/ogg"},
      {std::string("OggS\0\x02", 6) + std::string(22, '\0') + "\x80theora", "video/ogg"},
      {"<!DOCTYPE html>", "application/octet-stream"},
      {"%PDF-1.7", "application/octet-stream"},
      {"", "application/octet-stream"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(
        SniffContentType(reinterpret_cast<const unsigned char*>(c.head.data()), c.head.size()),
        c.type)
        << c.head;
  // Windows Media: the type of its streams decides.
  std::string asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
  std::string video("\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);
  std::string wma = asf + std::string(100, 'x'), wmv = wma + video;
  EXPECT_EQ(SniffContentType(reinterpret_cast<const unsigned char*>(wma.data()), wma.size()),
            "audio/x-ms-wma");
  EXPECT_EQ(SniffContentType(reinterpret_cast<const unsigned char*>(wmv.data()), wmv.size()),
            "video/x-ms-wmv");
}

TEST_F(WebTest, DownloadsAnswerByteRanges) {
  auto alice = LogIn("alice", "secret");
  std::string data = std::string(
      "\0\0\0\x18"
      "ftypisom",
      12);
  for (int i = 0; data.size() < 100000; ++i) data += static_cast<char>(i * 31 + i / 97);
  std::string id = UploadAs(alice, "0", "movie.mp4", "video/mp4", data);
  std::string cookie = WebLogIn("alice", "secret");
  std::string path = "/media/" + id;

  auto whole = Get(path, cookie);
  EXPECT_EQ(whole->status, 200);
  EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
  EXPECT_EQ(whole->body, data);
  struct Case {
    const char* range;
    int status;
    const char* contentRange;
    size_t first, length;
  } cases[] = {
      {"bytes=0-99", 206, "bytes 0-99/100000", 0, 100},
      {"bytes=99990-", 206, "bytes 99990-99999/100000", 99990, 10},
      {"bytes=-16", 206, "bytes 99984-99999/100000", 99984, 16},
      {"bytes=50000-200000", 206, "bytes 50000-99999/100000", 50000, 50000},
      {"bytes=100000-", 416, "bytes */100000", 0, 0},
      {"bytes=-0", 416, "bytes */100000", 0, 0},
      {"bytes=0-1,5-6", 200, "", 0, 100000},
      // Unusable ranges are ignored; an end past the file is its end.
      {"bytes=5-3", 200, "", 0, 100000},
      {"items=0-5", 200, "", 0, 100000},
      {"bytes=x-5", 200, "", 0, 100000},
      {"Bytes=0-5", 206, "bytes 0-5/100000", 0, 6},
      {"bytes=0-9999999999999999999", 206, "bytes 0-99999/100000", 0, 100000},
      {"bytes=-9999999999999999999", 206, "bytes 0-99999/100000", 0, 100000},
  };
  for (const Case& c : cases) {
    auto res = Get(path, cookie, {{"Range", c.range}});
    ASSERT_TRUE(res) << c.range;
    EXPECT_EQ(res->status, c.status) << c.range;
    EXPECT_EQ(res->get_header_value("Content-Range"), c.contentRange) << c.range;
    EXPECT_EQ(res->body, data.substr(c.first, c.length)) << c.range;
  }
  // Ranges of someone else's file are as unknown as the file.
  EXPECT_EQ(Get(path, WebLogIn("bob", "pw"), {{"Range", "bytes=0-9"}})->status, 404);
  // Other requests ignore a Range.
  auto post =
      client_->Post("/login.php", httplib::Headers{{"Range", "bytes=5-3"}},
                    Body({{"Username", "alice"}, {"Password", "secret"}}), kContentType.c_str());
  ASSERT_TRUE(post);
  EXPECT_EQ(post->body.substr(0, 5), "0\r\nSI");
}

TEST_F(WebTest, HttpsServesTheCommandsWithHttpsUrlsAndSecureCookies) {
  std::string cert, key;
  ASSERT_TRUE(MakeCertificate(dir_, &cert, &key));
  ServerOptions tls = options_;
  tls.tlsCert = cert;
  tls.tlsKey = key;
  Restart(tls);  // the client checks the certificate against cert.pem

  auto login = LogIn("alice", "secret");
  std::string base = "https://127.0.0.1:" + std::to_string(server_->Port());
  EXPECT_EQ(login["UploadURL"], base + "/upload.php");
  EXPECT_EQ(login["DirListURL"], base + "/dirlist.php");
  EXPECT_EQ(login["CreateDirURL"], base + "/createdir.php");
  std::string id = UploadAs(login, "0", "tls.jpg", "image/jpeg", kJpeg);
  WebAnswer ok;
  std::string cookie = WebLogIn("alice", "secret", &ok);
  ASSERT_FALSE(cookie.empty());
  EXPECT_NE(ok.setCookie.find("; Secure"), std::string::npos);
  EXPECT_EQ(Get("/media/" + id, cookie)->body, kJpeg);

  // Plain HTTP on the same port gets nothing.
  httplib::Client plain("127.0.0.1", server_->Port());
  plain.set_read_timeout(5, 0);
  EXPECT_FALSE(plain.Get("/"));

  // Files that are no certificate stop the service before it listens.
  ServerOptions bad = options_;
  bad.tlsCert = key;
  bad.tlsKey = cert;
  CAlbumServer broken(store_.get(), bad);
  std::string error;
  EXPECT_FALSE(broken.Bind(&error));
  EXPECT_NE(error.find("cannot use the TLS certificate"), std::string::npos) << error;
}

}  // namespace
