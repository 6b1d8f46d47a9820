// Internet classes over WinINet: a session, an HTTP connection, an HTTP
// request, and the exception that carries the system's error text. Every
// handle is owned by exactly one object and closed with it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <memory>
#include <string>

// Owns one HINTERNET and closes it once. Close may come from another thread
// while a call blocks on the handle (that aborts the call), so the value is
// atomic.
class CInternetHandle {
 public:
  CInternetHandle() = default;
  explicit CInternetHandle(HINTERNET handle) : handle_(handle) {}
  ~CInternetHandle() { Close(); }
  CInternetHandle(const CInternetHandle&) = delete;
  CInternetHandle& operator=(const CInternetHandle&) = delete;

  HINTERNET Get() const { return handle_.load(); }
  explicit operator bool() const { return handle_.load() != nullptr; }
  void Reset(HINTERNET handle);
  void Close() { Reset(nullptr); }

 private:
  std::atomic<HINTERNET> handle_{nullptr};
};

// A failed WinINet call: the error code and the system's text for it.
class CInternetException {
 public:
  explicit CInternetException(DWORD error);

  DWORD m_dwError;
  // Copies the error text into buffer (at most maxChars - 1 characters and a
  // NUL). Returns FALSE when there is no room at all.
  BOOL GetErrorMessage(char* buffer, UINT maxChars) const;
  const std::string& GetErrorText() const { return text_; }

 private:
  std::string text_;
};

// The system's wording of a WinINet or system error code.
std::string InternetErrorText(DWORD error);

class CHttpFile;

class CHttpConnection {
 public:
  CHttpConnection(HINTERNET connection, DWORD_PTR context);
  ~CHttpConnection() = default;
  CHttpConnection(const CHttpConnection&) = delete;
  CHttpConnection& operator=(const CHttpConnection&) = delete;

  // Opens a request on this connection; throws CInternetException.
  std::unique_ptr<CHttpFile> OpenRequest(const char* verb, const char* objectName,
                                         const char* referer, DWORD_PTR context,
                                         const char** acceptTypes, const char* version,
                                         DWORD flags);
  void Close() { handle_.Close(); }
  HINTERNET GetHandle() const { return handle_.Get(); }

 private:
  CInternetHandle handle_;
  DWORD_PTR context_;
};

class CHttpFile {
 public:
  CHttpFile(HINTERNET request, DWORD_PTR context);
  ~CHttpFile() = default;
  CHttpFile(const CHttpFile&) = delete;
  CHttpFile& operator=(const CHttpFile&) = delete;

  // Each of these throws CInternetException when WinINet refuses.
  void AddRequestHeaders(const char* headers, DWORD flags);
  void SendRequestEx(DWORD totalLength, DWORD flags, DWORD_PTR context);
  void Write(const void* data, UINT count);
  void EndRequest(DWORD flags, DWORD_PTR context);
  void QueryInfoStatusCode(DWORD& statusCode);
  // Returns the number of bytes read, 0 at the end of the response.
  UINT Read(void* buffer, UINT count);
  // Bytes that can be read now without waiting; 0 when the query fails.
  DWORD QueryDataAvailable();
  // Closing the handle also aborts a call that blocks on it in another thread.
  void Close() { handle_.Close(); }
  HINTERNET GetHandle() const { return handle_.Get(); }

 private:
  CInternetHandle handle_;
  DWORD_PTR context_;
};

class CInternetSession {
 public:
  // Opens the session (InternetOpenA); throws CInternetException on failure.
  explicit CInternetSession(const char* agent = nullptr, DWORD_PTR context = 1,
                            DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG,
                            const char* proxyName = nullptr, const char* proxyBypass = nullptr,
                            DWORD flags = 0);
  virtual ~CInternetSession();
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;

  // Connects to an HTTP server (InternetConnectA); throws CInternetException.
  // flags may carry INTERNET_FLAG_SECURE for TLS.
  std::unique_ptr<CHttpConnection> GetHttpConnection(const char* server, DWORD flags,
                                                     INTERNET_PORT port,
                                                     const char* userName = nullptr,
                                                     const char* password = nullptr);
  std::unique_ptr<CHttpConnection> GetHttpConnection(const char* server, INTERNET_PORT port,
                                                     const char* userName = nullptr,
                                                     const char* password = nullptr) {
    return GetHttpConnection(server, 0, port, userName, password);
  }
  virtual void Close();
  virtual void OnStatusCallback(DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength);
  HINTERNET GetHandle() const { return session_.Get(); }

 private:
  CInternetHandle session_;
  DWORD_PTR context_;
};
