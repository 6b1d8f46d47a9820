// The gallery in headless Chromium (tests/browser_check.py drives it over the
// DevTools protocol): the login form, the gallery and an album page, a movie
// that plays and seeks through byte ranges, log out. Screenshots are kept in
// the artifacts folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tools/album-service/tests/service_test_util.h"

using namespace svctest;

namespace {

TEST(AlbumServiceBrowser, LogInSeeAlbumsPlayAMovieAndLogOut) {
  std::string dir = MakeTempDir("album-service-browser");
  ASSERT_FALSE(dir.empty());
  const char* artifacts = std::getenv("QUIB_ARTIFACTS");
  std::string out =
      artifacts && *artifacts ? artifacts : std::string(QUIB_SOURCE_DIR) + "/artifacts";
  fs::create_directories(out);
  const char* shots[] = {"album-service-login.png", "album-service-gallery.png",
                         "album-service-album.png", "album-service-movie.png",
                         "album-service-contact.png"};
  for (const char* shot : shots) fs::remove(out + "/" + shot);

  std::string data = dir + "/data";
  int rc = -1;
  RunShell(ServiceBin() + " --password-iterations 1000 --data " + data +
               " add-account family 'sunny day' 2>&1",
           &rc);
  ASSERT_EQ(rc, 0);
  CServiceProcess service(data);
  std::string error;
  ASSERT_TRUE(service.Start({}, &error)) << error;

  std::string root = "http://127.0.0.1:" + std::to_string(service.Port());
  // The script bounds each of its waits; timeout ends it should it hang anyway.
  std::string seen = RunShell("timeout 240 python3 " + std::string(QUIB_SOURCE_DIR) +
                                  "/tools/album-service/tests/browser_check.py " + root +
                                  " family 'sunny day' '" + out + "' '" + dir + "/profile'",
                              &rc);
  std::string log = service.Log();
  EXPECT_TRUE(service.Stop());
  ASSERT_EQ(rc, 0) << seen << "\n" << log;

  EXPECT_NE(seen.find("\"login_form\": true"), std::string::npos) << seen;
  EXPECT_NE(seen.find("\"before_login_has_album\": false"), std::string::npos) << seen;
  EXPECT_NE(seen.find("Logged in as family"), std::string::npos) << seen;
  EXPECT_NE(seen.find("Summer by the lake"), std::string::npos) << seen;
  // HttpOnly: the page's scripts never see the session.
  EXPECT_NE(seen.find("\"cookie_visible_to_scripts\": \"\""), std::string::npos) << seen;
  EXPECT_NE(seen.find("\"album_images\": [[\"/media/1\", 480], [\"/media/2\", 480]]"),
            std::string::npos)
      << seen;
  EXPECT_NE(seen.find("\"after_seek\": 0.5"), std::string::npos) << seen;
  EXPECT_NE(seen.find("\"width\": 480, \"height\": 320, \"error\": null"), std::string::npos)
      << seen;
  EXPECT_NE(seen.find("\"after_logout_path\": \"/\""), std::string::npos) << seen;
  // The movie came in pieces, as the player asked for them.
  EXPECT_NE(log.find("GET /media/3 206"), std::string::npos) << log;
  EXPECT_NE(log.find("POST /logout 303"), std::string::npos) << log;
  for (const char* shot : shots) {
    ASSERT_TRUE(fs::exists(out + "/" + shot)) << shot;
    EXPECT_GT(fs::file_size(out + "/" + shot), 10000u) << shot;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
