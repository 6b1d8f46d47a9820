// Posts one Upload-shaped request with a large file to a loopback server and
// prints wall time, CPU time and peak memory of this process:
//   http_bench upload URL FILE   the whole CHttpUpload path
//   http_bench bare URL FILE     a bare WinINet loop with the same body and
//                                the same writes (the floor)
// bench/run-http.sh runs both and curl side by side.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "adapters/windows_platform.h"
#include "core/protocol/http_upload.h"
#include "core/protocol/multipart.h"
#include "core/protocol/url.h"

namespace {

const char* const kFields[][2] = {{"Desc", "benchmark"},
                                  {"DirId", "1"},
                                  {"Filename", "bench"},
                                  {"MimeType", "image/jpeg"},
                                  {"Keyword", "bench"}};

class CDone : public IHttpListener {
 public:
  void OnHttpEvent(const HttpEvent& e) override {
    if (e.type == HttpEventSent || e.type == HttpEventReceived) return;
    std::lock_guard<std::mutex> guard(lock_);
    type_ = e.type;
    text_ = e.text;
    done_ = true;
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return done_; });
  }
  int type_ = 0;
  std::string text_;

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool done_ = false;
};

bool RunUpload(const std::string& url, const std::string& file, std::string& error) {
  CHttpUpload upload;
  CDone done;
  upload.AddListener(&done);
  for (const auto& field : kFields) upload.AddField(field[0], field[1]);
  upload.AddFile("ImageData", file.c_str());
  upload.Start(url, "Upload");
  done.Wait();
  if (done.type_ != HttpEventDone) error = done.text_;
  return done.type_ == HttpEventDone;
}

// The same request without our classes: the body is laid out in the same
// order and sent in the same writes.
bool RunBare(const std::string& url, const std::string& file, std::string& error) {
  const quib::CUrlParts parts = quib::ParseUrl(url);
  std::string texts;
  // Wire order of these names in the field map.
  for (const char* name : {"Desc", "DirId", "Filename", "MimeType", "Keyword"}) {
    for (const auto& field : kFields) {
      if (std::strcmp(field[0], name) == 0) texts += quib::FormatTextPart(field[0], field[1]);
    }
  }
  const std::string header =
      quib::FormatFilePartHeader("ImageData", quib::FileNameOfPath(file), "image/jpeg");
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &info)) {
    error = "no file";
    return false;
  }
  const DWORD total = static_cast<DWORD>(texts.size() + header.size() + info.nFileSizeLow + 2 +
                                         std::strlen(quib::MultipartClosingDelimiter));
  HINTERNET session = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  HINTERNET connection = InternetConnectA(session, parts.host.c_str(), parts.port, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 1);
  HINTERNET request = HttpOpenRequestA(connection, "POST", parts.objectPath.c_str(), "HTTP/1.0",
                                       nullptr, nullptr, INTERNET_FLAG_EXISTING_CONNECT, 1);
  bool ok = request != nullptr;
  for (const std::string& line :
       {quib::ContentTypeHeaderLine(), quib::ContentLengthHeaderLine(total),
        quib::UserAgentHeaderLine()}) {
    ok = ok && HttpAddRequestHeadersA(request, line.c_str(), static_cast<DWORD>(line.size()),
                                      HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  }
  INTERNET_BUFFERSA buffers = {};
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = total;
  ok = ok && HttpSendRequestExA(request, &buffers, nullptr, HSR_INITIATE, 1);
  DWORD written = 0;
  auto write = [&](const void* data, DWORD size) {
    ok = ok && InternetWriteFile(request, data, size, &written);
  };
  write(texts.data(), static_cast<DWORD>(texts.size()));
  write(header.data(), static_cast<DWORD>(header.size()));
  HANDLE f = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::vector<char> chunk(quib::CMultipartBody::FileBlockSize);
  DWORD got = 0;
  while (ok && ReadFile(f, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) &&
         got > 0)
    write(chunk.data(), got);
  CloseHandle(f);
  write("\r\n", 2);
  write(quib::MultipartClosingDelimiter,
        static_cast<DWORD>(std::strlen(quib::MultipartClosingDelimiter)));
  ok = ok && HttpEndRequestA(request, nullptr, 0, 1);
  DWORD status = 0, size = sizeof status;
  ok = ok &&
       HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr) &&
       status == 200;
  std::string answer;
  char block[1024];
  while (ok && InternetReadFile(request, block, 1023, &got) && got > 0) answer.append(block, got);
  if (!ok) error = "bare request failed: " + std::to_string(GetLastError());
  InternetCloseHandle(request);
  InternetCloseHandle(connection);
  InternetCloseHandle(session);
  return ok;
}

double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace

int main(int argc, char** argv) {
  quib::InstallWindowsPlatform();
  if (argc != 4) {
    std::fprintf(stderr, "usage: http_bench upload|bare URL FILE\n");
    return 2;
  }
  const std::string mode = argv[1];
  const double cpuBefore = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  const bool ok =
      mode == "bare" ? RunBare(argv[2], argv[3], error) : RunUpload(argv[2], argv[3], error);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = CpuSeconds() - cpuBefore;
  PROCESS_MEMORY_COUNTERS memory = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  if (!ok) {
    std::fprintf(stderr, "%s: %s\n", mode.c_str(), error.c_str());
    return 1;
  }
  // wall seconds, CPU seconds, peak working set in KiB
  std::printf("%.3f %.3f %lu\n", wall, cpu,
              static_cast<unsigned long>(memory.PeakWorkingSetSize / 1024));
  std::fflush(stdout);
  return 0;
}
