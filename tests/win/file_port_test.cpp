// The files a request body is read from, as the upload list holds them:
// names longer than MAX_PATH included.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapters/long_path.h"
#include "core/ports/file_port.h"
#include "core/ports/platform.h"

namespace {

// A folder chain under the temp folder whose file path is well over 260
// characters; removed again at the end.
class LongPathFile : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    root_ = std::string(temp) + "quib-long-" + std::to_string(GetCurrentProcessId());
    std::string dir = root_;
    ASSERT_TRUE(CreateDirectoryW(quib::LongWidePath(dir).c_str(), nullptr));
    dirs_.push_back(dir);
    while (dir.size() < 300) {
      dir += "\\" + std::string(60, 'd');
      ASSERT_TRUE(CreateDirectoryW(quib::LongWidePath(dir).c_str(), nullptr)) << dir;
      dirs_.push_back(dir);
    }
    path_ = dir + "\\picture with a long name.jpg";
    HANDLE f = CreateFileW(quib::LongWidePath(path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    for (int i = 0; i < 70000; ++i) content_ += static_cast<char>('a' + i % 23);
    DWORD wrote = 0;
    ASSERT_TRUE(
        WriteFile(f, content_.data(), static_cast<DWORD>(content_.size()), &wrote, nullptr));
    CloseHandle(f);
  }
  void TearDown() override {
    if (!path_.empty()) DeleteFileW(quib::LongWidePath(path_).c_str());
    for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) {
      RemoveDirectoryW(quib::LongWidePath(*it).c_str());
    }
  }

  std::string root_, path_, content_;
  std::vector<std::string> dirs_;
};

TEST_F(LongPathFile, IsSizedAndReadWhole) {
  ASSERT_GT(path_.size(), 300u);
  quib::IFilePort& port = quib::Files();
  uint64_t size = 0;
  ASSERT_TRUE(port.QuerySize(path_, size));
  EXPECT_EQ(size, content_.size());
  std::unique_ptr<quib::IFileReader> reader = port.OpenRead(path_);
  ASSERT_TRUE(reader);
  std::string read;
  char buffer[16384];
  size_t got = 0;
  while (reader->Read(buffer, sizeof buffer, got) && got > 0) read.append(buffer, got);
  EXPECT_EQ(read, content_);
  // A missing file still fails plainly.
  EXPECT_FALSE(port.QuerySize(path_ + ".missing", size));
  EXPECT_FALSE(port.OpenRead(path_ + ".missing"));
}

}  // namespace
