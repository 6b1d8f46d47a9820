// Fuzz target for the readers of the service's answers: line splitting (with
// and without double-byte stepping), the LogIn, DirList and CreateDir readers,
// the command URL rule, file names of paths and the code page converters.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/protocol/multipart.h"
#include "core/protocol/response_doc.h"

namespace {

bool SjisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool dbcs = data[0] & 1;
  const quib::LeadByteTest lead = dbcs ? SjisLead : quib::IsAnsiLeadByte;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  size_t bytes = 0;
  for (const quib::ResponseLine& line : quib::ParseResponseLines(text, lead)) {
    Check(line.name.find('=') == std::string::npos || dbcs);
    // CR and LF end a line in every code page.
    Check(line.name.find_first_of("\r\n") == std::string::npos);
    Check(line.value.find_first_of("\r\n") == std::string::npos);
    bytes += line.name.size() + line.value.size();
  }
  Check(bytes <= text.size());

  CResponseDoc doc;
  quib::ReadLogInResponse(text, doc, lead);
  quib::ReadLogInResponse(text, doc, lead);  // a second login with the same names adds nothing
  Check(doc.GetCount() <= text.size());
  const std::string url = quib::MakeCommandUrl(doc, "UploadURL");
  Check(url.find('?') != std::string::npos);

  const auto albums = quib::ReadDirListAlbums(text, lead);
  Check(albums.size() <= text.size());
  int id = 0;
  quib::ReadCreateDirId(text, id, lead);
  quib::ReadDecimal(text);

  const std::string name = quib::FileNameOfPath(text, lead);
  Check(name.size() <= text.size());
  Check(text.compare(text.size() - name.size(), name.size(), name) == 0);

  // Code page 1252 round-trips every byte through UTF-8.
  Check(Utf8ToAnsi(AnsiToUtf8(text)) == text);
  Utf8ToAnsi(text);
  return 0;
}
