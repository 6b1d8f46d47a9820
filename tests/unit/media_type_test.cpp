#include "core/protocol/media_type.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "tests/unit/net_test_fakes.h"

using quib_test::CMemFilePort;

namespace {

// The system's lookups: a table of registered extensions and a fixed sniffer.
struct FakeQuery : quib::IMediaTypeQuery {
  bool QueryByName(const std::string& path, std::string& type) override {
    const size_t dot = path.rfind('.');
    auto it = registered.find(dot == std::string::npos ? "" : path.substr(dot));
    if (it == registered.end()) return false;
    type = it->second;
    return true;
  }
  bool QueryByContent(const unsigned char* window, size_t size, std::string& type) override {
    ++contentQueries;
    seen.assign(reinterpret_cast<const char*>(window), size);
    if (!contentAnswers) return false;
    type = sniffed;
    return true;
  }
  std::map<std::string, std::string> registered = {
      {".jpg", "image/jpeg"}, {".txt", "text/plain"}, {".mp3", "audio/mpeg"}};
  std::string sniffed = "application/octet-stream";
  bool contentAnswers = true;
  int contentQueries = 0;
  std::string seen;
};

std::string At(size_t offset, const std::string& bytes, size_t size = 1024) {
  std::string s(size, 'x');
  s.replace(offset, bytes.size(), bytes);
  return s;
}

}  // namespace

TEST(MediaType, RegisteredNamesSettleWithoutOpening) {
  FakeQuery q;
  CMemFilePort files;
  files.Add("C:\\a.jpg", "FLV but a picture by name");
  EXPECT_EQ(quib::DetectMediaTypeWith("C:\\a.jpg", q, files), "image/jpeg");
  EXPECT_EQ(quib::DetectMediaTypeWith("C:\\missing.mp3", q, files), "audio/mpeg");
  EXPECT_EQ(files.opens, 0);
  EXPECT_EQ(q.contentQueries, 0);
  // A registered type that is not a picture, movie or audio leads to the content.
  files.Add("notes.txt", "FLV");
  EXPECT_EQ(quib::DetectMediaTypeWith("notes.txt", q, files), "video/x-flv");
  EXPECT_EQ(files.opens, 1);
}

TEST(MediaType, UnopenableFilesAndFailedSniffing) {
  FakeQuery q;
  CMemFilePort files;
  EXPECT_EQ(quib::DetectMediaTypeWith("C:\\gone.xyz", q, files), "unknown/*");
  files.Add("locked.xyz", "FLV").openable = false;
  EXPECT_EQ(quib::DetectMediaTypeWith("locked.xyz", q, files), "unknown/*");
  EXPECT_EQ(q.contentQueries, 0);
  files.Add("plain.xyz", "hello");
  EXPECT_EQ(quib::DetectMediaTypeWith("plain.xyz", q, files), "application/octet-stream");
  q.contentAnswers = false;
  EXPECT_EQ(quib::DetectMediaTypeWith("plain.xyz", q, files), "unknown/*");
  // A signature still wins over a failed sniff.
  files.Add("clip.xyz", "RIFF....AVI ");
  EXPECT_EQ(quib::DetectMediaTypeWith("clip.xyz", q, files), "audio/x-wav");
}

TEST(MediaType, WindowIsTheFirst1024BytesZeroFilled) {
  FakeQuery q;
  CMemFilePort files;
  files.Add("short.xyz", "abc");
  quib::DetectMediaTypeWith("short.xyz", q, files);
  EXPECT_EQ(q.seen, std::string("abc") + std::string(1021, '\0'));
  files.Add("long.xyz", std::string(5000, 'L'));
  files.bytesRead = 0;
  quib::DetectMediaTypeWith("long.xyz", q, files);
  EXPECT_EQ(q.seen, std::string(1024, 'L'));
  EXPECT_EQ(files.bytesRead, 1024u);
  EXPECT_EQ(files.openReaders, 0);
}

const char* Match(const std::string& window) {
  return quib::MatchMediaSignature(reinterpret_cast<const unsigned char*>(window.data()));
}

// Every row and the row order are tested under Wine with real files
// (tests/win/media_type_test.cpp); here the exactness of the tests themselves.
TEST(MediaSignatures, StartAndCaseAreExact) {
  EXPECT_EQ(Match(At(1, "FLV")), nullptr);
  EXPECT_EQ(Match(At(5, "ID3")), nullptr);  // ID3 only later is no MP3 tag
  EXPECT_EQ(Match(At(2, "RIFF")), nullptr);
  EXPECT_EQ(Match(At(0, "flv")), nullptr);
  EXPECT_EQ(Match(At(0, "ogg")), nullptr);
  EXPECT_EQ(Match(At(0, "MOOV")), nullptr);
  EXPECT_EQ(Match(At(0, "Microsoft")), nullptr);
  EXPECT_EQ(Match(At(0, "\xFF\xFC")), nullptr);
}

TEST(MediaSignatures, TextViewEdges) {
  // Zero bytes do not end the text view.
  EXPECT_STREQ(Match(std::string(700, '\0') + At(0, "moov", 324)), "video/quicktime");
  // The view holds the first 1023 bytes: "moov" at 1019 ends at 1022, at 1020 it
  // reaches the dropped last byte.
  EXPECT_STREQ(Match(At(1019, "moov")), "video/quicktime");
  EXPECT_EQ(Match(At(1020, "moov")), nullptr);
  EXPECT_STREQ(Match(At(1014, "microsoft")), "audio/x-ms-wma");
  EXPECT_EQ(Match(At(1015, "microsoft")), nullptr);
}
