// A raw HTTP server on 127.0.0.1 for the transport tests: it records every
// byte each connection sends and answers, stalls or hangs up as told.
#pragma once

#include <winsock2.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum LoopbackMode {
  LoopbackAnswer,       // read the whole request, send the answer, close
  LoopbackHangUp,       // read the head and hangUpAfter body bytes, then reset the connection
  LoopbackStallAnswer,  // read the whole request, then neither answer nor close
};

class CLoopbackServer {
 public:
  CLoopbackServer();
  ~CLoopbackServer();
  CLoopbackServer(const CLoopbackServer&) = delete;
  CLoopbackServer& operator=(const CLoopbackServer&) = delete;

  // Call before the client connects.
  void SetMode(LoopbackMode mode) { mode_ = mode; }
  void SetAnswer(const std::string& rawResponse) { answer_ = rawResponse; }
  void SetHangUpAfter(size_t bodyBytes) { hangUpAfter_ = bodyBytes; }
  // A complete HTTP/1.0 answer with the given status and body.
  static std::string Answer(int status, const std::string& body);

  uint16_t Port() const { return port_; }
  std::string BaseUrl() const;

  // Bytes received on each connection so far, in order of acceptance.
  std::vector<std::string> Requests();
  // Waits (hang guard only, 60 s) until n requests were read completely.
  bool WaitRequestsComplete(size_t n);

  // A port on which nothing listens.
  static uint16_t UnusedPort();

 private:
  void Serve();
  void Handle(SOCKET client, size_t index);
  void Append(size_t index, const char* data, size_t size);

  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  LoopbackMode mode_ = LoopbackAnswer;
  std::string answer_;
  size_t hangUpAfter_ = 0;
  bool stopping_ = false;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> requests_;
  std::vector<SOCKET> held_;         // connections kept open while stalling
  SOCKET serving_ = INVALID_SOCKET;  // the connection being read, closed by the destructor
  size_t complete_ = 0;
  std::thread thread_;
};

// The head of a recorded request (up to the blank line) and its body.
std::string RequestHead(const std::string& request);
std::string RequestBody(const std::string& request);
// The head's lines without their CR LF.
std::vector<std::string> RequestHeadLines(const std::string& request);
