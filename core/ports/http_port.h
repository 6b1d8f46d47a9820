// The platform operations an HTTP request needs: a session that opens
// connections, a connection that opens requests, and the request's calls in
// the order of one POST. WinINet implements them on Windows; tests use fakes.
// No operation throws: failures come back as false with the platform's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/ports/file_port.h"

// WinINet's values, so that a recording fake shows what the platform gets.
constexpr uint32_t HttpRequestFlagExistingConnect = 0x20000000;  // INTERNET_FLAG_EXISTING_CONNECT
constexpr uint32_t HttpRequestFlagSecure = 0x00800000;           // INTERNET_FLAG_SECURE
constexpr uint32_t HttpHeaderFlagAddReplace = 0xA0000000;        // HTTP_ADDREQ_FLAG_ADD | _REPLACE

class IHttpRequestPort {
 public:
  virtual ~IHttpRequestPort() = default;
  virtual bool AddRequestHeaders(const std::string& line, uint32_t flags, std::string& error) = 0;
  // Sends the request line and headers of a body of totalLength bytes.
  virtual bool SendRequestEx(uint32_t totalLength, std::string& error) = 0;
  // Sends all size bytes or fails.
  virtual bool Write(const char* data, size_t size, std::string& error) = 0;
  virtual bool EndRequest(std::string& error) = 0;
  virtual bool QueryStatusCode(uint32_t& status, std::string& error) = 0;
  // got is 0 at the end of the response.
  virtual bool Read(char* buffer, size_t size, size_t& got, std::string& error) = 0;
  // Bytes readable now without waiting; 0 when the query fails.
  virtual uint32_t QueryDataAvailable() = 0;
  // The Content-Length the answer announced; false when it announced none.
  virtual bool QueryContentLength(uint64_t& length) {
    (void)length;
    return false;
  }
  // The one call allowed from another thread, at any time: a call blocked on
  // the request returns with a failure, and every later call fails at once.
  virtual void Abort() = 0;
};

class IHttpConnectionPort {
 public:
  virtual ~IHttpConnectionPort() = default;
  // nullptr with an empty error when the platform yields no request object.
  virtual std::unique_ptr<IHttpRequestPort> OpenRequest(const std::string& verb,
                                                        const std::string& objectPath,
                                                        const std::string& version, uint32_t flags,
                                                        std::string& error) = 0;
};

class IHttpPort {
 public:
  virtual ~IHttpPort() = default;
  // nullptr with an empty error when the platform yields no connection object.
  virtual std::unique_ptr<IHttpConnectionPort> GetHttpConnection(const std::string& host,
                                                                 uint16_t port, bool secure,
                                                                 std::string& error) = 0;
  // Closes the session; no request may run afterwards.
  virtual void Close() = 0;
  // File access and media types for the file parts of a body.
  virtual quib::IFilePort& Files() = 0;
  virtual std::string MediaTypeOf(const std::string& path) = 0;
};

// A new session of the installed platform (WinINet on Windows); nullptr
// where there is none (native builds).
std::unique_ptr<IHttpPort> MakeSystemHttpPort();
