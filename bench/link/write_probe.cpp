// Where the time of an upload goes under Wine: posts a body file (the exact
// bytes the program sends, captured by run-link.sh) to a URL in writes of a
// given size, through WinINet or through a bare socket, and prints the wall
// seconds of the whole request.
//   write_probe wininet|socket URL BODY CONTENT_TYPE WRITE_BYTES
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/protocol/url.h"

namespace {

bool ReadBody(const char* path, std::string& body) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (1LL << 31);
  if (ok) {
    body.resize(static_cast<size_t>(size.QuadPart));
    size_t got = 0;
    while (ok && got < body.size()) {
      DWORD n = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(body.size() - got, 1 << 24));
      ok = ReadFile(file, &body[got], want, &n, nullptr) && n > 0;
      got += n;
    }
  }
  CloseHandle(file);
  return ok;
}

bool PostWinInet(const quib::CUrlParts& url, const std::string& body, const std::string& type,
                 size_t chunk) {
  HINTERNET session = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  HINTERNET connection = InternetConnectA(session, url.host.c_str(), url.port, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 1);
  HINTERNET request = HttpOpenRequestA(connection, "POST", url.objectPath.c_str(), "HTTP/1.0",
                                       nullptr, nullptr, INTERNET_FLAG_EXISTING_CONNECT, 1);
  const std::string headers =
      "Content-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  bool ok = request &&
            HttpAddRequestHeadersA(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                                   HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  INTERNET_BUFFERSA buffers = {};
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = static_cast<DWORD>(body.size());
  ok = ok && HttpSendRequestExA(request, &buffers, nullptr, HSR_INITIATE, 1);
  for (size_t at = 0; ok && at < body.size(); at += chunk) {
    DWORD written = 0;
    const DWORD n = static_cast<DWORD>(std::min(chunk, body.size() - at));
    ok = InternetWriteFile(request, body.data() + at, n, &written) && written == n;
  }
  ok = ok && HttpEndRequestA(request, nullptr, 0, 1);
  char answer[1024];
  DWORD got = 0;
  while (ok && InternetReadFile(request, answer, sizeof answer, &got) && got > 0) {
  }
  InternetCloseHandle(request);
  InternetCloseHandle(connection);
  InternetCloseHandle(session);
  return ok;
}

bool PostSocket(const quib::CUrlParts& url, const std::string& body, const std::string& type,
                size_t chunk) {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(url.port);
  address.sin_addr.s_addr = inet_addr(url.host.c_str());
  bool ok =
      s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  const std::string head = "POST " + url.objectPath + " HTTP/1.0\r\nHost: " + url.host +
                           "\r\nContent-Type: " + type +
                           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  ok =
      ok && send(s, head.data(), static_cast<int>(head.size()), 0) == static_cast<int>(head.size());
  for (size_t at = 0; ok && at < body.size();) {
    const int n = send(s, body.data() + at, static_cast<int>(std::min(chunk, body.size() - at)), 0);
    ok = n > 0;
    if (ok) at += static_cast<size_t>(n);
  }
  char answer[1024];
  while (ok && recv(s, answer, sizeof answer, 0) > 0) {
  }
  if (s != INVALID_SOCKET) closesocket(s);
  WSACleanup();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: write_probe wininet|socket URL BODY CONTENT_TYPE WRITE_BYTES\n");
    return 2;
  }
  const std::string mode = argv[1];
  const quib::CUrlParts url = quib::ParseUrl(argv[2]);
  std::string body;
  if (!ReadBody(argv[3], body)) {
    std::fprintf(stderr, "write_probe: cannot read %s\n", argv[3]);
    return 2;
  }
  const size_t chunk = static_cast<size_t>(std::max(1, std::atoi(argv[5])));
  const auto start = std::chrono::steady_clock::now();
  const bool ok = mode == "socket" ? PostSocket(url, body, argv[4], chunk)
                                   : PostWinInet(url, body, argv[4], chunk);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!ok) {
    std::fprintf(stderr, "write_probe %s: the request failed (%lu)\n", mode.c_str(),
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  std::printf("%.3f\n", wall);
  return 0;
}
