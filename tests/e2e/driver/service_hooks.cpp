#include "tests/e2e/driver/service_hooks.h"

#include <wininet.h>

#include <cctype>

namespace e2e {

std::string EnvVar(const char* name) {
  char buffer[2048] = {};
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::string UploadServiceUrl() {
  return EnvVar("QUIB_UPLOAD_SERVICE_URL");
}

std::string HttpGet(const std::string& url, bool* ok) {
  std::string body;
  bool good = false;
  HINTERNET session = InternetOpenA("quib-e2e", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (session) {
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request) {
      DWORD status = 0, size = sizeof status;
      HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                     nullptr);
      char buffer[16384];
      DWORD got = 0;
      while (InternetReadFile(request, buffer, sizeof buffer, &got) && got > 0)
        body.append(buffer, got);
      good = status == 200;
      InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
  }
  if (ok) *ok = good;
  return body;
}

std::string HookGet(const std::string& pathAndQuery, bool* ok) {
  return HttpGet(UploadServiceUrl() + pathAndQuery, ok);
}

std::vector<TsvRow> Tsv(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> cells;
    for (size_t c = start;;) {
      size_t tab = text.find('\t', c);
      if (tab == std::string::npos || tab > end) tab = end;
      cells.push_back(text.substr(c, tab - c));
      if (tab == end) break;
      c = tab + 1;
    }
    lines.push_back(cells);
    start = end + 1;
  }
  std::vector<TsvRow> rows;
  for (size_t i = 1; i < lines.size(); ++i) {
    TsvRow row;
    for (size_t j = 0; j < lines[0].size() && j < lines[i].size(); ++j)
      row[lines[0][j]] = lines[i][j];
    rows.push_back(row);
  }
  return rows;
}

std::string UrlEncode(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string NewAccount(const std::string& stem, const std::string& password,
                       const std::string& quota) {
  static int counter = 0;
  // Process ids repeat between runs of a kept Wine prefix; the time does not.
  const std::string name = stem + std::to_string(GetCurrentProcessId()) + "x" +
                           std::to_string(++counter) + "t" + std::to_string(GetTickCount());
  bool ok = false;
  HookGet("/test/account?name=" + name + "&password=" + UrlEncode(password) +
              (quota.empty() ? "" : "&quota=" + quota),
          &ok);
  return ok ? name : std::string();
}

std::vector<TsvRow> StoredAlbums(const std::string& account) {
  return Tsv(HookGet("/test/albums?account=" + account));
}

std::vector<TsvRow> StoredMedia(const std::string& account) {
  return Tsv(HookGet("/test/media?account=" + account));
}

}  // namespace e2e
