#include "core/protocol/multipart.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/unit/net_test_fakes.h"

using quib::CMultipartBody;
using quib::MultipartResult;
using quib_test::CMemFilePort;

namespace {

const std::string kDelim = "-----------------------------e2W7eajhJd09flh\r\n";
const std::string kClose = "-----------------------------e2W7eajhJd09flh--\r\n";

std::string TextPart(const std::string& name, const std::string& value) {
  return kDelim + "content-disposition: form-data; name=\"" + name +
         "\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + value + "\r\n";
}

std::string FileHeader(const std::string& name, const std::string& file, const std::string& type) {
  return kDelim + "content-disposition: form-data; name=\"" + name + "\"; filename=\"" + file +
         "\"\r\nContent-Type: " + type + "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
}

// Records every write and every progress event, in order.
struct Recorder : quib::IBodyOutput {
  bool Write(const char* data, size_t size, std::string& error) override {
    if (failAt >= 0 && static_cast<int>(writes.size()) == failAt) {
      error = "The connection with the server was reset";
      return false;
    }
    writes.emplace_back(data, size);
    log.push_back("W" + std::to_string(size));
    return true;
  }
  std::string Body() const {
    std::string all;
    for (const std::string& w : writes) all += w;
    return all;
  }
  std::vector<std::string> writes;
  std::vector<std::string> log;  // "W<size>" and "E<sent>/<total>" in order
  std::vector<std::pair<uint32_t, uint32_t>> events;
  int failAt = -1;
};

struct BodyRun {
  CMemFilePort files;
  CFormFields fields;
  Recorder out;
  std::atomic<bool> cancel{false};
  std::vector<std::string> typed;  // paths given to the media type lookup

  MultipartResult Send(uint64_t* length = nullptr) {
    CMultipartBody body(fields, files, [this](const std::string& p) {
      typed.push_back(p);
      return std::string("image/jpeg");
    });
    const uint64_t n = body.ComputeContentLength();
    if (length) *length = n;
    return body.Send(out, cancel, [this](uint32_t sent, uint32_t total) {
      out.events.emplace_back(sent, total);
      out.log.push_back("E" + std::to_string(sent) + "/" + std::to_string(total));
    });
  }
};

}  // namespace

TEST(MultipartFixedBytes, TemplatesAndHeaders) {
  EXPECT_EQ(quib::FormatTextPart("", "").size(), 132u);
  EXPECT_EQ(quib::FormatFilePartHeader("", "", "").size(), 153u);
  EXPECT_EQ(std::string(quib::MultipartBoundary).size(), 42u);
  EXPECT_EQ(std::string(quib::MultipartClosingDelimiter), kClose);
  EXPECT_EQ(std::string(quib::MultipartMediaType).size(), 85u);
  EXPECT_EQ(std::string(quib::ProgramIdentification).size(), 43u);
  EXPECT_EQ(quib::ContentTypeHeaderLine(),
            "Content-Type: multipart/form-data;charset=utf-8;"
            "boundary=---------------------------e2W7eajhJd09flh\r\n");
  EXPECT_EQ(quib::ContentLengthHeaderLine(48), "Content-Length: 48\r\n");
  EXPECT_EQ(quib::ContentLengthHeaderLine(0xFFFFFFFFu), "Content-Length: 4294967295\r\n");
  EXPECT_EQ(quib::UserAgentHeaderLine(),
            "User-Agent: quib-uploader for Windows (Version 1.1.0.4)\r\n");
}

TEST(MultipartBody, NoFieldsIsTheClosingDelimiter) {
  BodyRun r;
  uint64_t length = 0;
  EXPECT_EQ(r.Send(&length).outcome, quib::MultipartSent);
  EXPECT_EQ(length, 48u);
  EXPECT_EQ(r.out.Body(), kClose);
  EXPECT_EQ(r.out.log, (std::vector<std::string>{"W48", "E48/48"}));
}

TEST(MultipartBody, CreateDirAndLogInBodies) {
  for (const std::string& name :
       {std::string(), std::string("Urlaub"), std::string("Gr\xC3\xBC\xC3\x9F\x65 \"a\"\r\nb")}) {
    BodyRun r;
    r.fields.textFields["DirName"] = name;
    uint64_t length = 0;
    ASSERT_EQ(r.Send(&length).outcome, quib::MultipartSent);
    EXPECT_EQ(length, 132u + 7u + name.size() + 48u);
    EXPECT_EQ(r.out.Body(), TextPart("DirName", name) + kClose);
    EXPECT_EQ(r.out.events.back(), std::make_pair(uint32_t(length), uint32_t(length)));
  }

  BodyRun login;
  login.fields.textFields["Username"] = "ann";
  login.fields.textFields["Password"] = "pw";
  login.fields.textFields["Language"] = "DE";
  login.fields.textFields["Version"] = "1.0";
  ASSERT_EQ(login.Send().outcome, quib::MultipartSent);
  const std::string expected = TextPart("Password", "pw") + TextPart("Language", "DE") +
                               TextPart("Version", "1.0") + TextPart("Username", "ann") + kClose;
  EXPECT_EQ(login.out.Body(), expected);
  const uint32_t t = static_cast<uint32_t>(expected.size());
  const uint32_t p1 = 132 + 8 + 2, p2 = p1 + 132 + 8 + 2, p3 = p2 + 132 + 7 + 3;
  EXPECT_EQ(login.out.events, (std::vector<std::pair<uint32_t, uint32_t>>{
                                  {p1, t}, {p2, t}, {p3, t}, {t - 48, t}, {t, t}}));
}

TEST(MultipartBody, UploadWithFileChunks) {
  BodyRun r;
  for (const char* n : {"DirId", "Filename", "Keyword", "Desc", "MimeType"})
    r.fields.textFields[n] = "v";
  std::string content;
  for (int i = 0; i < 2500; ++i) content += static_cast<char>(i * 7);
  // The path in UTF-8, the name in the part header in the ANSI code page.
  r.files.Add("C:\\Bilder\\Gr\xC3\xBC\xC3\x9F\x65.jpg", content);
  r.fields.fileFields["ImageData"] = "C:\\Bilder\\Gr\xC3\xBC\xC3\x9F\x65.jpg";
  uint64_t length = 0;
  ASSERT_EQ(r.Send(&length).outcome, quib::MultipartSent);

  const std::string header = FileHeader("ImageData", "Gr\xFC\xDF\x65.jpg", "image/jpeg");
  std::string expected;
  for (const char* n : {"Desc", "DirId", "Filename", "MimeType", "Keyword"})
    expected += TextPart(n, "v");
  expected += header + content + "\r\n" + kClose;
  EXPECT_EQ(length, expected.size());
  EXPECT_EQ(r.out.Body(), expected);

  const std::string t = "/" + std::to_string(expected.size());
  size_t sent = 0;
  std::vector<std::string> log;
  for (const char* n : {"Desc", "DirId", "Filename", "MimeType", "Keyword"}) {
    const size_t size = 132 + std::string(n).size() + 1;
    sent += size;
    log.push_back("W" + std::to_string(size));
    log.push_back("E" + std::to_string(sent) + t);
  }
  sent += header.size();
  log.push_back("W" + std::to_string(header.size()));
  for (size_t chunk : {2500}) {
    sent += chunk;
    log.push_back("W" + std::to_string(chunk));
    log.push_back("E" + std::to_string(sent) + t);
  }
  log.insert(log.end(), {"W2", "W48", "E" + std::to_string(expected.size()) + t});
  EXPECT_EQ(r.out.log, log);
  EXPECT_EQ(r.files.openReaders, 0);
  // Typed once while laying out the body; the header is sent as laid out.
  EXPECT_EQ(r.typed, std::vector<std::string>{"C:\\Bilder\\Gr\xC3\xBC\xC3\x9F\x65.jpg"});
}

TEST(MultipartBody, EmptyFileAndFileNames) {
  BodyRun r;
  // A name the ANSI code page cannot spell: "?" for each such character,
  // never a look-alike (the photo emoji, CJK "写真").
  const std::string empty = "\xF0\x9F\x93\xB7 \xE5\x86\x99\xE7\x9C\x9F.mp3";
  r.files.Add(empty, "");
  r.files.Add("C:\\a\\b\\", "x");
  r.fields.fileFields["ImageData"] = empty;  // no backslash: the whole path
  r.fields.fileFields["Other"] = "C:\\a\\b\\";
  ASSERT_EQ(r.Send().outcome, quib::MultipartSent);
  // "ImageData" (bucket 10) comes before "Other".
  const std::string h1 = FileHeader("ImageData", "? ??.mp3", "image/jpeg");
  const std::string h2 = FileHeader("Other", "", "image/jpeg");
  EXPECT_EQ(r.out.Body(), h1 + "\r\n" + h2 + "x\r\n" + kClose);
  const uint32_t total = static_cast<uint32_t>(r.out.Body().size());
  EXPECT_EQ(r.out.log,
            (std::vector<std::string>{
                "W" + std::to_string(h1.size()), "W2", "W" + std::to_string(h2.size()), "W1",
                "E" + std::to_string(h1.size() + 2 + h2.size() + 1) + "/" + std::to_string(total),
                "W2", "W48", "E" + std::to_string(total) + "/" + std::to_string(total)}));
}

TEST(MultipartFileName, LastBackslashStepsOverDoubleByteCharacters) {
  EXPECT_EQ(quib::FileNameOfPath("C:\\Bilder\\Sch\xF6n.jpg"), "Sch\xF6n.jpg");
  EXPECT_EQ(quib::FileNameOfPath("plain.jpg"), "plain.jpg");
  EXPECT_EQ(quib::FileNameOfPath("C:/x/y.jpg"), "C:/x/y.jpg");
  // 0x95 0x5C is one Shift-JIS character whose trail byte is a backslash.
  auto sjis = [](unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); };
  EXPECT_EQ(quib::FileNameOfPath("C:\\d\\\x95\\x.jpg", sjis), "\x95\\x.jpg");
  EXPECT_EQ(quib::FileNameOfPath("C:\\d\\\x95\\x.jpg"), "x.jpg");
}

TEST(MultipartCancel, TestedBeforeTextPartsAndChunksOnly) {
  {  // Set before sending: the first text part is not written.
    BodyRun r;
    r.fields.textFields["DirName"] = "x";
    r.cancel = true;
    EXPECT_EQ(r.Send().outcome, quib::MultipartCancelled);
    EXPECT_TRUE(r.out.writes.empty());
  }
  {  // Without text fields the file header goes out before the first test.
    BodyRun r;
    r.files.Add("f.bin", std::string(3000, 'a'));
    r.fields.fileFields["ImageData"] = "f.bin";
    r.cancel = true;
    EXPECT_EQ(r.Send().outcome, quib::MultipartCancelled);
    EXPECT_EQ(r.out.writes.size(), 1u);
    EXPECT_EQ(r.files.openReaders, 0);
  }
  {  // No fields, or an empty file only: nothing to test, the body goes out whole.
    BodyRun r;
    r.files.Add("e.bin", "");
    r.fields.fileFields["ImageData"] = "e.bin";
    r.cancel = true;
    EXPECT_EQ(r.Send().outcome, quib::MultipartSent);
    EXPECT_EQ(r.out.log.back(), "E227/227");
  }
  {  // Cancelled after the first block: the second block is not written.
    BodyRun r;
    r.files.Add("f.bin", std::string(CMultipartBody::FileBlockSize + 3000, 'a'));
    r.fields.fileFields["ImageData"] = "f.bin";
    CMultipartBody body(r.fields, r.files, nullptr);
    body.ComputeContentLength();
    int events = 0;
    const MultipartResult result = body.Send(r.out, r.cancel, [&](uint32_t, uint32_t) {
      if (++events == 1) r.cancel = true;
    });
    EXPECT_EQ(result.outcome, quib::MultipartCancelled);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(r.out.log.size(), 2u);  // header and one block
  }
}

TEST(MultipartFailures, ReportedInsteadOfAWrongBody) {
  {  // 4 GiB and more: refused before anything is written.
    BodyRun r;
    r.files.Add("big.avi", "").sizeOverride = 0x100000000ull - 153 - 9 - 7 - 10 - 2 - 48;
    r.fields.fileFields["ImageData"] = "big.avi";
    uint64_t length = 0;
    const MultipartResult result = r.Send(&length);
    EXPECT_EQ(length, 0x100000000ull);
    EXPECT_FALSE(CMultipartBody::FitsContentLength(length));
    EXPECT_TRUE(CMultipartBody::FitsContentLength(length - 1));
    EXPECT_EQ(result.outcome, quib::MultipartFailed);
    EXPECT_EQ(result.error, quib::MultipartErrorTooLarge);
    EXPECT_TRUE(r.out.writes.empty());
    EXPECT_EQ(r.files.opens, 0);
  }
  {  // Vanished since the length was computed.
    BodyRun r;
    r.files.Add("gone.jpg", "abc").openable = false;
    r.fields.fileFields["ImageData"] = "gone.jpg";
    const MultipartResult result = r.Send();
    EXPECT_EQ(result.outcome, quib::MultipartFailed);
    EXPECT_EQ(result.error, quib::MultipartErrorCannotOpen("gone.jpg"));
  }
  {  // Grew: the bytes past the counted size are never written.
    BodyRun r;
    r.files.Add("grew.jpg", std::string(2000, 'g')).sizeOverride = 1500;
    r.fields.fileFields["ImageData"] = "grew.jpg";
    const MultipartResult result = r.Send();
    EXPECT_EQ(result.error, quib::MultipartErrorChanged("grew.jpg"));
    EXPECT_EQ(r.out.log.size(), 1u);  // the header: the first block is already too long
    EXPECT_EQ(r.files.openReaders, 0);
  }
  {  // Shrank: no CR LF and closing delimiter after too few bytes.
    BodyRun r;
    r.files.Add("shrank.jpg", std::string(10, 's')).sizeOverride = 11;
    r.fields.fileFields["ImageData"] = "shrank.jpg";
    EXPECT_EQ(r.Send().error, quib::MultipartErrorChanged("shrank.jpg"));
    EXPECT_EQ(r.out.writes.back(), std::string(10, 's'));
  }
  {  // Read error, and a path whose size cannot be queried (counted as 0).
    BodyRun r;
    r.files.Add("bad.jpg", "x").readFails = true;
    r.fields.fileFields["ImageData"] = "bad.jpg";
    EXPECT_EQ(r.Send().error, quib::MultipartErrorCannotRead("bad.jpg"));
    BodyRun q;
    q.fields.fileFields["ImageData"] = "missing.jpg";
    uint64_t length = 0;
    EXPECT_EQ(q.Send(&length).error, quib::MultipartErrorCannotOpen("missing.jpg"));
    EXPECT_EQ(length, 153u + 9 + 11 + 10 + 2 + 48);
  }
  {  // A failed write ends the body with the output's text.
    BodyRun r;
    r.fields.textFields["a"] = "1";
    r.fields.textFields["b"] = "2";
    r.out.failAt = 1;
    const MultipartResult result = r.Send();
    EXPECT_EQ(result.outcome, quib::MultipartFailed);
    EXPECT_EQ(result.error, "The connection with the server was reset");
    EXPECT_EQ(r.out.events.size(), 1u);
  }
}

TEST(MultipartBody, RealFilesThroughTheStandardPort) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("quib-mp-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "clip.bin").string();
  std::string content(2500, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 251);
  std::ofstream(path, std::ios::binary) << content;

  quib::CStdFilePort port;
  CFormFields fields;
  fields.fileFields["ImageData"] = path;  // no backslash: the whole path is the file name
  CMultipartBody body(fields, port, [](const std::string&) { return std::string("video/mp4"); });
  const uint64_t length = body.ComputeContentLength();
  Recorder out;
  std::atomic<bool> cancel{false};
  std::vector<uint32_t> sent;
  const MultipartResult result =
      body.Send(out, cancel, [&](uint32_t s, uint32_t) { sent.push_back(s); });
  std::filesystem::remove_all(dir);

  ASSERT_EQ(result.outcome, quib::MultipartSent) << result.error;
  const std::string header = FileHeader("ImageData", path, "video/mp4");
  EXPECT_EQ(out.Body(), header + content + "\r\n" + kClose);
  EXPECT_EQ(length, out.Body().size());
  const uint32_t h = static_cast<uint32_t>(header.size());
  EXPECT_EQ(sent, (std::vector<uint32_t>{h + 2500, uint32_t(length)}));
}
