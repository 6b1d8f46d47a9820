// The album service in the test process: a store on a fresh data folder
// with the accounts alice/secret and bob/pw, the server on a free loopback
// port, and a client with the uploader's commands.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <thread>

#include "tools/album-service/album_server.h"
#include "tools/album-service/album_store.h"
#include "tools/album-service/tests/service_test_util.h"

namespace svctest {

using albumsvc::CAlbumServer;
using albumsvc::CAlbumStore;
using albumsvc::ServerOptions;

struct Reply {
  int status = 0;
  std::string text;
};

class AlbumServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("album-service-test");
    ASSERT_FALSE(dir_.empty());
    dataDir_ = dir_ + "/data";  // created by the service
    options_.port = 0;
    options_.logRequests = false;
    Start();
    std::string error;
    ASSERT_TRUE(store_->AddAccount("alice", "secret", 0, &error)) << error;
    ASSERT_TRUE(store_->AddAccount("bob", "pw", 0, &error)) << error;
  }
  void TearDown() override {
    Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // Starts again with other options.
  void Restart(const ServerOptions& options) {
    Stop();
    options_ = options;
    Start();
  }

  void Start() {
    store_ = std::make_unique<CAlbumStore>();
    store_->SetPasswordIterations(kTestIterations);
    std::string error;
    ASSERT_TRUE(store_->Open(dataDir_, &error)) << error;
    server_ = std::make_unique<CAlbumServer>(store_.get(), options_);
    ASSERT_TRUE(server_->Bind(&error)) << error;
    runner_ = std::thread([this] { server_->Run(); });
    if (options_.tlsCert.empty()) {
      client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
    } else {
      client_ =
          std::make_unique<httplib::Client>("https://127.0.0.1:" + std::to_string(server_->Port()));
      client_->set_ca_cert_path(options_.tlsCert);
    }
    client_->set_read_timeout(30, 0);
    for (int i = 0; i < 200 && !client_->Get("/"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  void Stop() {
    if (!server_) return;
    server_->Stop();
    runner_.join();
    client_.reset();
    server_.reset();
    store_.reset();
  }

  Reply Post(const std::string& target, const std::string& body,
             const std::string& type = kContentType) {
    auto res = client_->Post(target.c_str(), body, type.c_str());
    Reply r;
    if (res) {
      r.status = res->status;
      r.text = res->body;
    }
    return r;
  }
  std::map<std::string, std::string> LogIn(const std::string& user = "alice",
                                           const std::string& pw = "secret") {
    Reply r =
        Post("/login.php",
             Body({{"Password", pw}, {"Language", "DE"}, {"Version", "1.0"}, {"Username", user}}));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.text.substr(0, 1), "0") << r.text;
    return Lines(r.text);
  }
  Reply Command(std::map<std::string, std::string>& login, const char* urlName,
                const std::string& body) {
    return Post(Target(login[urlName]) + "?" + login["SId"], body);
  }
  Reply Upload(std::map<std::string, std::string>& login, const std::string& dirId,
               const std::string& name, const std::string& data) {
    return Command(login, "UploadURL",
                   Body({{"Desc", "desc of " + name},
                         {"DirId", dirId},
                         {"Filename", name},
                         {"MimeType", "image/jpeg"},
                         {"Keyword", "tag"}},
                        name, data, true));
  }

  std::string dir_, dataDir_;
  ServerOptions options_;
  std::unique_ptr<CAlbumStore> store_;
  std::unique_ptr<CAlbumServer> server_;
  std::unique_ptr<httplib::Client> client_;
  std::thread runner_;
};

}  // namespace svctest
