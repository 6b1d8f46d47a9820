#include "adapters/internet.h"

#include <cstdio>
#include <cstring>

void CInternetHandle::Reset(HINTERNET handle) {
  HINTERNET old = handle_.exchange(handle);
  if (old != nullptr) InternetCloseHandle(old);
}

std::string InternetErrorText(DWORD error) {
  char buffer[1024] = {};
  DWORD length = 0;
  // WinINet's own codes are worded in its module, the rest by the system.
  if (error >= INTERNET_ERROR_BASE && error <= INTERNET_ERROR_LAST) {
    length =
        FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                       GetModuleHandleA("wininet.dll"), error, 0, buffer, sizeof buffer, nullptr);
  }
  if (length == 0) {
    length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                            error, 0, buffer, sizeof buffer, nullptr);
  }
  std::string text(buffer, length);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  if (error == ERROR_INTERNET_EXTENDED_ERROR) {
    DWORD code = 0;
    DWORD size = sizeof buffer;
    if (InternetGetLastResponseInfoA(&code, buffer, &size) && size > 0) {
      text.assign(buffer, size);
    }
  }
  if (text.empty()) {
    std::snprintf(buffer, sizeof buffer, "Internet error %lu", static_cast<unsigned long>(error));
    text = buffer;
  }
  return text;
}

CInternetException::CInternetException(DWORD error)
    : m_dwError(error), text_(InternetErrorText(error)) {}

BOOL CInternetException::GetErrorMessage(char* buffer, UINT maxChars) const {
  if (buffer == nullptr || maxChars == 0) return FALSE;
  size_t n = text_.size();
  if (n > maxChars - 1) n = maxChars - 1;
  std::memcpy(buffer, text_.data(), n);
  buffer[n] = '\0';
  return TRUE;
}

static void ThrowLastError() {
  throw CInternetException(GetLastError());
}

CInternetSession::CInternetSession(const char* agent, DWORD_PTR context, DWORD accessType,
                                   const char* proxyName, const char* proxyBypass, DWORD flags)
    : context_(context) {
  session_.Reset(InternetOpenA(agent, accessType, proxyName, proxyBypass, flags));
  if (!session_) ThrowLastError();
}

CInternetSession::~CInternetSession() {
  session_.Close();
}

void CInternetSession::Close() {
  session_.Close();
}

void CInternetSession::OnStatusCallback(DWORD_PTR, DWORD, LPVOID, DWORD) {}

std::unique_ptr<CHttpConnection> CInternetSession::GetHttpConnection(const char* server,
                                                                     DWORD flags,
                                                                     INTERNET_PORT port,
                                                                     const char* userName,
                                                                     const char* password) {
  if (!session_) throw CInternetException(ERROR_INVALID_HANDLE);
  HINTERNET connection = InternetConnectA(session_.Get(), server, port, userName, password,
                                          INTERNET_SERVICE_HTTP, flags, context_);
  if (connection == nullptr) ThrowLastError();
  return std::make_unique<CHttpConnection>(connection, context_);
}

CHttpConnection::CHttpConnection(HINTERNET connection, DWORD_PTR context)
    : handle_(connection), context_(context) {}

std::unique_ptr<CHttpFile> CHttpConnection::OpenRequest(const char* verb, const char* objectName,
                                                        const char* referer, DWORD_PTR context,
                                                        const char** acceptTypes,
                                                        const char* version, DWORD flags) {
  HINTERNET request = HttpOpenRequestA(handle_.Get(), verb, objectName, version, referer,
                                       acceptTypes, flags, context);
  if (request == nullptr) ThrowLastError();
  return std::make_unique<CHttpFile>(request, context);
}

CHttpFile::CHttpFile(HINTERNET request, DWORD_PTR context) : handle_(request), context_(context) {}

void CHttpFile::AddRequestHeaders(const char* headers, DWORD flags) {
  if (!HttpAddRequestHeadersA(handle_.Get(), headers, static_cast<DWORD>(std::strlen(headers)),
                              flags)) {
    ThrowLastError();
  }
}

void CHttpFile::SendRequestEx(DWORD totalLength, DWORD flags, DWORD_PTR context) {
  INTERNET_BUFFERSA buffers = {};
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = totalLength;
  if (!HttpSendRequestExA(handle_.Get(), &buffers, nullptr, flags, context)) ThrowLastError();
}

void CHttpFile::Write(const void* data, UINT count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    DWORD written = 0;
    if (!InternetWriteFile(handle_.Get(), p, count, &written)) ThrowLastError();
    if (written == 0) throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED);
    p += written;
    count -= written;
  }
}

void CHttpFile::EndRequest(DWORD flags, DWORD_PTR context) {
  if (!HttpEndRequestA(handle_.Get(), nullptr, flags, context)) ThrowLastError();
}

void CHttpFile::QueryInfoStatusCode(DWORD& statusCode) {
  DWORD size = sizeof statusCode;
  if (!HttpQueryInfoA(handle_.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &statusCode,
                      &size, nullptr)) {
    ThrowLastError();
  }
}

UINT CHttpFile::Read(void* buffer, UINT count) {
  DWORD read = 0;
  if (!InternetReadFile(handle_.Get(), buffer, count, &read)) ThrowLastError();
  return read;
}

DWORD CHttpFile::QueryDataAvailable() {
  DWORD available = 0;
  if (!InternetQueryDataAvailable(handle_.Get(), &available, 0, 0)) return 0;
  return available;
}
