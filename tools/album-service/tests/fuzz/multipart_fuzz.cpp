// libFuzzer target for the service's multipart parser. The input's first
// byte picks the block size; the rest is a request body (seeds are bodies as
// the uploader lays them out). The parser must never crash or read out of
// bounds, must hand out no more bytes than it was given, must pair every
// part's begin with an end, and must give the same parts and outcome
// whether the body comes whole or in blocks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/album-service/multipart_parser.h"

using namespace albumsvc;

namespace {

const std::string kBoundary = "---------------------------e2W7eajhJd09flh";

struct Record : IPartSink {
  std::vector<std::string> events;
  size_t dataBytes = 0;
  bool open = false;
  bool OnPartBegin(const PartHeader& h) override {
    if (open) std::abort();  // begin inside a part
    open = true;
    events.push_back("begin " + h.name + "|" + h.filename + "|" + (h.hasFilename ? "f" : "t") +
                     "|" + h.contentType);
    events.push_back("");
    return h.name != "refuse";  // lets the fuzzer reach the refusal paths too
  }
  bool OnPartData(const char* d, size_t n) override {
    if (!open || n == 0) std::abort();  // data outside a part, or empty calls
    dataBytes += n;
    events.back().append(d, n);
    return true;
  }
  bool OnPartEnd() override {
    if (!open) std::abort();
    open = false;
    events.push_back("end");
    return true;
  }
};

struct Outcome {
  Record record;
  bool fed = true, finished = false;
  std::string error;
};

void Run(const uint8_t* data, size_t size, size_t block, Outcome* out) {
  CMultipartParser parser(kBoundary, &out->record);
  for (size_t i = 0; i < size && out->fed; i += block)
    out->fed = parser.Feed(reinterpret_cast<const char*>(data) + i, std::min(block, size - i));
  out->finished = out->fed && parser.Finish();
  out->error = parser.Error();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t block = 1 + data[0] % 64;
  ++data;
  --size;
  Outcome whole, pieces;
  Run(data, size, size ? size : 1, &whole);
  Run(data, size, block, &pieces);
  if (whole.record.dataBytes > size || pieces.record.dataBytes > size) std::abort();
  if (whole.finished && whole.record.open) std::abort();  // a finished body has closed its parts
  if (whole.finished != pieces.finished || whole.record.events != pieces.record.events)
    std::abort();  // the outcome depends on how the body was cut
  if (!whole.finished && whole.fed && whole.error.empty()) std::abort();
  // Also the boundary parameter reader on the same bytes.
  MultipartBoundary(std::string(reinterpret_cast<const char*>(data), std::min<size_t>(size, 200)));
  return 0;
}
