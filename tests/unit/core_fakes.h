// Fakes of the core's ports for native tests: a window queue that runs when
// the test says so, picture work without an imaging library, media types by
// file name, and temporary files in a folder of the test's own.
#pragma once

#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/ports/code_page.h"
#include "core/ports/picture_work.h"
#include "core/ports/platform.h"
#include "core/protocol/media_type.h"

namespace quib_test {

// The window thread's queue, run by hand. Every queue made shares one list,
// so a test sees all that was posted, in order.
class CManualQueues {
 public:
  quib::WindowQueueFactory Factory() {
    return [state = state_] { return std::make_unique<CQueue>(state); };
  }
  // Runs the oldest piece of work; false when none waits.
  bool RunOne() {
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(state_->lock);
      if (state_->work.empty()) return false;
      work = std::move(state_->work.front());
      state_->work.pop_front();
    }
    work();
    return true;
  }
  void RunAll() {
    while (RunOne()) {
    }
  }
  size_t Waiting() const {
    std::lock_guard<std::mutex> lock(state_->lock);
    return state_->work.size();
  }
  // Waits (bounded) until n pieces of work wait.
  bool WaitFor(size_t n, int timeoutMs = 10000) const {
    for (int waited = 0; Waiting() < n; waited += 5) {
      if (waited >= timeoutMs) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  struct CState {
    std::mutex lock;
    // Each entry belongs to a live queue; a queue's destruction drops its own.
    std::deque<std::function<void()>> work;
  };
  class CQueue : public quib::IWindowQueue {
   public:
    explicit CQueue(std::shared_ptr<CState> state)
        : state_(std::move(state)), alive_(std::make_shared<bool>(true)) {}
    ~CQueue() override {
      std::lock_guard<std::mutex> lock(state_->lock);
      *alive_ = false;
    }
    void Post(std::function<void()> work) override { MakePoster()(std::move(work)); }
    Poster MakePoster() override {
      return [state = state_, alive = alive_](std::function<void()> work) {
        std::lock_guard<std::mutex> lock(state->lock);
        if (!*alive) return;
        state->work.push_back([alive, work = std::move(work)] {
          if (*alive) work();
        });
      };
    }

   private:
    std::shared_ptr<CState> state_;
    std::shared_ptr<bool> alive_;
  };
  std::shared_ptr<CState> state_ = std::make_shared<CState>();
};

// Pictures whose name holds "broken" cannot be read; those holding "stuck"
// cannot be turned or shrunk. Copies are real files in the folder given.
class CFakePictures : public quib::IPictureWork {
 public:
  explicit CFakePictures(std::string folder) : folder_(std::move(folder)) {}
  void MakeThumbnail(const std::string& path, quib::ThumbnailResult& result) override {
    result.readable = path.find("broken") == std::string::npos;
    result.width = result.readable ? 640 : 0;
    result.height = result.readable ? 480 : 0;
    result.data = quib::ThumbnailData();
    result.data.bytes = result.readable ? "thumbnail of " + path : "";
  }
  bool MeasurePicture(const std::string&, int& width, int& height) override {
    width = 640;
    height = 480;
    return true;
  }
  bool Rotate(const std::string& path, quib::PictureCopy& copy) override {
    if (!Copy(path, copy)) return false;
    copy.width = 480;
    copy.height = 640;
    copy.thumbnail.bytes = "turned " + path;
    return true;
  }
  bool Shrink(const std::string& path, int box, quib::PictureCopy& copy) override {
    if (!Copy(path, copy)) return false;
    copy.width = box;
    copy.height = box * 3 / 4;
    return true;
  }

 private:
  bool Copy(const std::string& path, quib::PictureCopy& copy) {
    if (path.find("stuck") != std::string::npos) return false;
    copy.path = folder_ + "/NEW" + std::to_string(++copies_) + ".tmp";
    std::ofstream(copy.path) << "copy of " << path;
    return true;
  }
  std::string folder_;
  int copies_ = 0;
};

// Types by the name's extension, as the system registers them.
class CTypesByName : public quib::IMediaTypeQuery {
 public:
  bool QueryByName(const std::string& path, std::string& type) override {
    const std::string ext = path.substr(path.rfind('.') + 1);
    if (ext == "jpg" || ext == "png")
      type = "image/" + std::string(ext == "jpg" ? "jpeg" : "png");
    else if (ext == "mpg")
      type = "video/mpeg";
    else
      return false;
    return true;
  }
  bool QueryByContent(const unsigned char*, size_t, std::string&) override { return false; }
};

// A few characters of code page 932 (Shift-JIS), enough for names whose
// trail byte is 0x5C, the backslash: 表 95 5C, ソ 83 5C, 能 94 5C, 発 94 AD.
class CShiftJisSample : public quib::ICodePage {
 public:
  std::string ToUtf8(const std::string& ansi) override {
    std::string out;
    for (size_t i = 0; i < ansi.size(); ++i) {
      const unsigned char b = static_cast<unsigned char>(ansi[i]);
      if (!IsLeadByte(b) || i + 1 == ansi.size()) {
        out += static_cast<char>(b < 0x80 ? b : '?');
        continue;
      }
      const std::string pair = ansi.substr(i++, 2);
      bool known = false;
      for (const auto& c : kChars) {
        if (pair == c.sjis) out += c.utf8, known = true;
      }
      if (!known) out += "?";
    }
    return out;
  }
  std::string FromUtf8(const std::string& utf8) override {
    std::string out = utf8;
    for (const auto& c : kChars) {
      for (size_t at; (at = out.find(c.utf8)) != std::string::npos;) out.replace(at, 3, c.sjis);
    }
    return out;
  }
  bool IsLeadByte(unsigned char b) override {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  }
  static bool Lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

 private:
  struct CChar {
    const char* sjis;
    const char* utf8;
  };
  static constexpr CChar kChars[] = {{"\x95\x5C", "\xE8\xA1\xA8"},
                                     {"\x83\x5C", "\xE3\x82\xBD"},
                                     {"\x94\x5C", "\xE8\x83\xBD"},
                                     {"\x94\xAD", "\xE7\x99\xBA"}};
};

// A fresh folder below the system's temporary folder, removed at the end.
class CTempFolder {
 public:
  explicit CTempFolder(const std::string& name)
      : path_((std::filesystem::temp_directory_path() /
               ("quib-" + name + "-" + std::to_string(std::rand())))
                  .string()) {
    std::filesystem::create_directories(path_);
  }
  ~CTempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name, const std::string& bytes = "bytes") const {
    const std::string path = path_ + "/" + name;
    std::ofstream(path) << bytes;
    return path;
  }
  // Files whose name starts with "NEW" (the copies).
  int Copies() const {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      n += entry.path().filename().string().rfind("NEW", 0) == 0;
    }
    return n;
  }

 private:
  std::string path_;
};

}  // namespace quib_test
