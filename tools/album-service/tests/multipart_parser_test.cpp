// The service's own multipart reader against bodies laid out the way the
// uploader writes them, fed whole and byte by byte, and against broken ones.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tools/album-service/multipart_parser.h"

using namespace albumsvc;

namespace {

const std::string kBoundary = "---------------------------e2W7eajhJd09flh";
const std::string kDelim = "--" + kBoundary;

std::string TextPart(const std::string& name, const std::string& value) {
  return kDelim + "\r\ncontent-disposition: form-data; name=\"" + name +
         "\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + value + "\r\n";
}
std::string FilePart(const std::string& name, const std::string& file, const std::string& type,
                     const std::string& data) {
  return kDelim + "\r\ncontent-disposition: form-data; name=\"" + name + "\"; filename=\"" + file +
         "\"\r\nContent-Type: " + type + "\r\nContent-Transfer-Encoding: binary\r\n\r\n" + data +
         "\r\n";
}
std::string Close() {
  return kDelim + "--\r\n";
}

struct Part {
  PartHeader header;
  std::string data;
  bool ended = false;
};

class CRecorder : public IPartSink {
 public:
  bool OnPartBegin(const PartHeader& h) override {
    parts.push_back({h, "", false});
    return true;
  }
  bool OnPartData(const char* d, size_t n) override {
    parts.back().data.append(d, n);
    return true;
  }
  bool OnPartEnd() override {
    parts.back().ended = true;
    return true;
  }
  std::vector<Part> parts;
};

bool ParseInSteps(const std::string& body, size_t step, CRecorder* rec, std::string* error) {
  CMultipartParser parser(kBoundary, rec);
  for (size_t i = 0; i < body.size(); i += step)
    parser.Feed(body.data() + i, std::min(step, body.size() - i));
  bool ok = parser.Finish();
  *error = parser.Error();
  return ok;
}

}  // namespace

TEST(MultipartBoundary, ReadsTheUploaderContentType) {
  EXPECT_EQ(MultipartBoundary("multipart/form-data;charset=utf-8;boundary=" + kBoundary),
            kBoundary);
  EXPECT_EQ(MultipartBoundary("Multipart/Form-Data; boundary=\"abc\""), "abc");
  EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=abc; charset=x"), "abc");
  EXPECT_EQ(MultipartBoundary("text/plain; boundary=abc"), "");
  EXPECT_EQ(MultipartBoundary("multipart/form-data"), "");
  EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=" + std::string(71, 'x')), "");
}

TEST(MultipartParser, UploadBodyGivesEveryPartInOrderWhateverTheBlockSize) {
  // File content that looks like the start of a delimiter must pass through.
  std::string file = std::string("\xff\xd8\r\n--") + kBoundary.substr(0, 10) + "\r\n-" +
                     std::string(3000, '\0') + "end\r\n";
  std::string body = TextPart("Desc", "a \"quoted\" text") + TextPart("DirId", "7") +
                     TextPart("Filename",
                              "Gr\xc3\xbc\xc3\x9f"
                              "e.jpg") +
                     TextPart("MimeType", "image/jpeg") + TextPart("Keyword", "") +
                     FilePart("ImageData", "f\xfc.jpg", "image/jpeg", file) + Close();
  for (size_t step : {body.size(), size_t(1), size_t(7), size_t(1024)}) {
    CRecorder rec;
    std::string error;
    ASSERT_TRUE(ParseInSteps(body, step, &rec, &error)) << step << ": " << error;
    ASSERT_EQ(rec.parts.size(), 6u);
    EXPECT_EQ(rec.parts[0].header.name, "Desc");
    EXPECT_EQ(rec.parts[0].data, "a \"quoted\" text");
    EXPECT_EQ(rec.parts[2].data,
              "Gr\xc3\xbc\xc3\x9f"
              "e.jpg");
    EXPECT_EQ(rec.parts[4].data, "");
    EXPECT_FALSE(rec.parts[4].header.hasFilename);
    EXPECT_TRUE(rec.parts[5].header.hasFilename);
    EXPECT_EQ(rec.parts[5].header.filename, "f\xfc.jpg");
    EXPECT_EQ(rec.parts[5].header.contentType, "image/jpeg");
    EXPECT_EQ(rec.parts[5].data, file);
    for (const Part& p : rec.parts) EXPECT_TRUE(p.ended);
  }
}

TEST(MultipartParser, ClosingDelimiterAloneIsAnEmptyForm) {
  CRecorder rec;
  std::string error;
  EXPECT_TRUE(ParseInSteps(Close(), 1, &rec, &error)) << error;
  EXPECT_TRUE(rec.parts.empty());
  // Without the final CR LF it is still complete.
  CRecorder rec2;
  EXPECT_TRUE(ParseInSteps(kDelim + "--", 5, &rec2, &error)) << error;
}

TEST(MultipartParser, EmptyFileGivesAnEmptyPart) {
  CRecorder rec;
  std::string error;
  ASSERT_TRUE(
      ParseInSteps(FilePart("ImageData", "e.jpg", "image/jpeg", "") + Close(), 3, &rec, &error));
  ASSERT_EQ(rec.parts.size(), 1u);
  EXPECT_EQ(rec.parts[0].data, "");
}

TEST(MultipartParser, RefusesBrokenBodies) {
  struct Case {
    const char* what;
    std::string body;
  } cases[] = {
      {"preamble", "x" + TextPart("a", "b") + Close()},
      {"no closing delimiter", TextPart("a", "b")},
      {"cut in the middle of a value", TextPart("a", "bcd").substr(0, 150)},
      {"garbage after closing", TextPart("a", "b") + Close() + "more"},
      {"delimiter followed by junk", kDelim + "xx"},
      {"no disposition", kDelim + "\r\nContent-Type: text/plain\r\n\r\nv\r\n" + Close()},
      {"not form-data",
       kDelim + "\r\ncontent-disposition: attachment; name=\"a\"\r\n\r\nv\r\n" + Close()},
      {"no name",
       kDelim + "\r\ncontent-disposition: form-data; filename=\"a\"\r\n\r\nv\r\n" + Close()},
      {"open quote",
       kDelim + "\r\ncontent-disposition: form-data; name=\"a\r\n\r\nv\r\n" + Close()},
      {"header without colon",
       kDelim + "\r\ncontent-disposition: form-data; name=\"a\"\r\nbad\r\n\r\nv\r\n" + Close()},
      {"no headers", kDelim + "\r\n\r\nv\r\n" + Close()},
      {"endless headers", kDelim + "\r\nX: " + std::string(10000, 'h')},
      {"empty body", ""},
  };
  for (const Case& c : cases) {
    CRecorder rec;
    std::string error;
    EXPECT_FALSE(ParseInSteps(c.body, 4, &rec, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

TEST(MultipartParser, StopsWhenTheSinkRefuses) {
  struct CRefuser : CRecorder {
    bool OnPartData(const char*, size_t) override { return false; }
  } rec;
  CMultipartParser parser(kBoundary, &rec);
  std::string body = TextPart("a", "value") + Close();
  EXPECT_FALSE(parser.Feed(body.data(), body.size()));
  EXPECT_FALSE(parser.Feed(body.data(), body.size()));
  EXPECT_FALSE(parser.Finish());
}

// Mutated bodies: never a crash, and the outcome does not depend on how the
// body is cut into blocks.
TEST(MultipartParser, MutatedBodiesGiveTheSameOutcomeWhateverTheBlocks) {
  const std::string base = TextPart("Desc", "d") + TextPart("DirId", "0") +
                           FilePart("ImageData", "a.jpg", "image/jpeg", std::string(300, 'z')) +
                           Close();
  std::mt19937 gen(12345);
  for (int round = 0; round < 400; ++round) {
    std::string body = base;
    for (int m = 0, n = 1 + static_cast<int>(gen() % 4); m < n; ++m) {
      size_t at = gen() % body.size();
      switch (gen() % 3) {
        case 0:
          body[at] = static_cast<char>(gen());
          break;
        case 1:
          body.erase(at, 1 + gen() % 20);
          break;
        default:
          body.insert(at, base.substr(gen() % base.size(), 1 + gen() % 60));
          break;
      }
    }
    CRecorder whole, pieces;
    std::string e1, e2;
    bool ok1 = ParseInSteps(body, body.size() + 1, &whole, &e1);
    bool ok2 = ParseInSteps(body, 1 + gen() % 50, &pieces, &e2);
    ASSERT_EQ(ok1, ok2) << round << ": " << e1 << " / " << e2;
    ASSERT_EQ(whole.parts.size(), pieces.parts.size()) << round;
    for (size_t i = 0; i < whole.parts.size(); ++i) {
      EXPECT_EQ(whole.parts[i].header.name, pieces.parts[i].header.name);
      EXPECT_EQ(whole.parts[i].data, pieces.parts[i].data);
    }
  }
}
