#include "tools/album-service/album_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>

#include "tools/album-service/content_sniff.h"
#include "tools/album-service/durable_io.h"
#include "tools/album-service/gallery.h"
#include "tools/album-service/http_front.h"
#include "tools/album-service/listing.h"
#include "tools/album-service/multipart_parser.h"
#include "tools/album-service/request_head.h"

namespace albumsvc {

namespace {

const size_t kMaxTextValue = 64 * 1024;
const int kMaxParts = 32;
const char kTextType[] = "text/plain; charset=utf-8";

// Collects the parts of one request: text fields in memory, the "ImageData"
// file part streamed into a temporary file and flushed to the disk. A file
// that grows past the upload limit is dropped at once; the rest of it is
// only counted.
class CFormSink : public IPartSink {
 public:
  CFormSink(std::string tempPath, int64_t maxFile)
      : tempPath_(std::move(tempPath)), maxFile_(maxFile) {}
  // A refused request leaves no file behind (a stored one has moved away).
  ~CFormSink() override {
    file_.Discard();
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  }

  bool OnPartBegin(const PartHeader& header) override {
    if (fields_.count(header.name) || (header.hasFilename && haveFile_))
      return Refuse("form field \"" + header.name + "\" sent twice");
    if (static_cast<int>(fields_.size()) >= kMaxParts) return Refuse("too many form parts");
    current_ = header;
    if (!header.hasFilename) {
      fields_[header.name];
      return true;
    }
    if (header.name != "ImageData") return Refuse("unexpected file part \"" + header.name + "\"");
    haveFile_ = true;
    filePart_ = header;
    if (!tempPath_.empty() && !file_.Create(tempPath_)) return Refuse("cannot store the file");
    return true;
  }

  bool OnPartData(const char* data, size_t size) override {
    if (!current_.hasFilename) {
      std::string& value = fields_[current_.name];
      if (value.size() + size > kMaxTextValue)
        return Refuse("form field \"" + current_.name + "\" too long");
      value.append(data, size);
      return true;
    }
    fileSize_ += static_cast<int64_t>(size);
    if (tooBig_) return true;
    if (maxFile_ > 0 && fileSize_ > maxFile_) {
      // Nothing of a file that will be refused is kept, in memory or on disk.
      tooBig_ = true;
      file_.Discard();
      head_.clear();
      head_.shrink_to_fit();
      return true;
    }
    if (head_.size() < kSniffBytes) head_.append(data, std::min(size, kSniffBytes - head_.size()));
    if (file_.IsOpen()) {
      sha_.Update(data, size);
      if (!file_.Write(data, size)) return Refuse("cannot store the file");
      if (!receiving_) {
        receiving_ = true;
        CrashPoint("receiving");
      }
    }
    return true;
  }

  bool OnPartEnd() override {
    if (current_.hasFilename && file_.IsOpen() && !file_.SyncAndClose())
      return Refuse("cannot store the file");
    return true;
  }

  bool Refuse(const std::string& why) {
    refusal_ = why;
    return false;
  }

  const std::string* Field(const char* name) const {
    auto it = fields_.find(name);
    return it == fields_.end() ? nullptr : &it->second;
  }

  std::string ContentType() const {
    return SniffContentType(reinterpret_cast<const unsigned char*>(head_.data()), head_.size());
  }

  std::map<std::string, std::string> fields_;
  PartHeader current_, filePart_;
  std::string refusal_;
  std::string tempPath_;
  int64_t maxFile_;
  CDurableFile file_;  // removes an unfinished file when the request ends
  std::string head_;   // the first bytes, to decide the served type
  CSha256 sha_;
  bool haveFile_ = false;
  bool tooBig_ = false;
  bool receiving_ = false;
  int64_t fileSize_ = 0;
};

void Answer(httplib::Response& res, const std::string& text, int status = 200) {
  res.status = status;
  res.set_content(text, kTextType);
}

// Every refusal carries a status digit the uploader does not treat as a
// result of its own, so it ends as a plain failure, and a readable reason.
void Refuse(httplib::Response& res, int status, const std::string& why) {
  Answer(res, "1\r\nError=" + why + "\r\n", status);
}

// Reads the whole request body with our own multipart parser. The HTTP
// library would parse multipart bodies itself and hand out only the parts;
// hiding the media type from it makes it pass the raw bytes through. A body
// longer than maxBody (0: any length) is read to its end but not parsed, so
// the client still gets to read the answer.
bool ReadForm(const httplib::Request& req, httplib::Response& res,
              const httplib::ContentReader& reader, CFormSink* sink, int64_t maxBody) {
  std::string boundary = MultipartBoundary(req.get_header_value("Content-Type"));
  auto& headers = const_cast<httplib::Request&>(req).headers;
  headers.erase("Content-Type");
  if (boundary.empty()) {
    reader([](const char*, size_t) { return true; });
    Refuse(res, 400, "request body is not multipart/form-data with a boundary");
    return false;
  }
  CMultipartParser parser(boundary, sink);
  int64_t total = 0;
  bool complete = reader([&](const char* data, size_t size) {
    total += static_cast<int64_t>(size);
    if (maxBody <= 0 || total <= maxBody) parser.Feed(data, size);  // after a failure only drained
    return true;
  });
  if (!complete) {
    Refuse(res, 400, "request body incomplete");
    return false;
  }
  if (maxBody > 0 && total > maxBody) {
    Refuse(res, 413, "request body too large");
    return false;
  }
  if (!parser.Finish()) {
    Refuse(res, 400,
           sink->refusal_.empty() ? "malformed multipart body: " + parser.Error() : sink->refusal_);
    return false;
  }
  return true;
}

std::string SessionKey(const httplib::Request& req) {
  size_t q = req.target.find('?');
  return q == std::string::npos ? std::string() : req.target.substr(q + 1);
}

bool ParseDecimal(const std::string& text, uint64_t max, int64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > max) return false;
  *value = static_cast<int64_t>(v);
  return true;
}

}  // namespace

bool ParseStallMode(const std::string& text, StallMode* mode) {
  if (text == "off")
    *mode = StallOff;
  else if (text == "before-body")
    *mode = StallBeforeBody;
  else if (text == "before-answer")
    *mode = StallBeforeAnswer;
  else
    return false;
  return true;
}

CAlbumServer::CAlbumServer(CAlbumStore* store, const ServerOptions& options)
    : store_(store),
      options_(options),
      limiter_(options.loginFailuresPerMinute, 2 * options.loginFailuresPerMinute),
      maxUpload_(options.maxUpload),
      stall_(options.stall) {
  FrontOptions front;
  front.address = options_.address;
  front.port = options_.port;
  front.tlsCert = options_.tlsCert;
  front.tlsKey = options_.tlsKey;
  front.workers = std::max(4, options_.threads);
  front.maxConnectionsPerAddress = options_.maxConnectionsPerAddress;
  front.maxConnections = options_.maxConnections;
  front.readBytesPerSecond = options_.testReadRate;
  http_.reset(new CHttpFront(front));
  tls_ = !options_.tlsCert.empty() || !options_.tlsKey.empty();
  Routes();
  WebRoutes();
}

CAlbumServer::~CAlbumServer() {
  Stop();
}

bool CAlbumServer::Valid(std::string* error) const {
  if (http_->is_valid()) return true;
  *error = "cannot use the TLS certificate " + options_.tlsCert + " with the key " +
           options_.tlsKey + " (PEM files, the key without a pass phrase)";
  return false;
}

bool CAlbumServer::Bind(std::string* error) {
  if (!Valid(error)) return false;
  // Clients on other machines cannot use an address that stands for all of
  // this machine's: the service must be told the one they use.
  in6_addr any6;
  in_addr any4;
  bool everywhere =
      (inet_pton(AF_INET, options_.address.c_str(), &any4) == 1 &&
       any4.s_addr == htonl(INADDR_ANY)) ||
      (inet_pton(AF_INET6, options_.address.c_str(), &any6) == 1 && IN6_IS_ADDR_UNSPECIFIED(&any6));
  if (everywhere && options_.publicUrl.empty()) {
    *error = "--address " + options_.address +
             " listens on every address of this machine; give --public-url with the root "
             "that the uploader and browsers use (e.g. https://albums.home.arpa:8642)";
    return false;
  }
  if (!http_->Bind()) {
    *error = "cannot listen on " + options_.address +
             (options_.port ? ":" + std::to_string(options_.port) : std::string());
    return false;
  }
  port_ = http_->Port();
  const std::string scheme = tls_ ? "https://" : "http://";
  const std::string port = ":" + std::to_string(port_);
  if (!options_.publicUrl.empty()) {
    root_ = options_.publicUrl;
  } else {
    bool v6 = options_.address.find(':') != std::string::npos;
    root_ = scheme + (v6 ? "[" + options_.address + "]" : options_.address) + port;
    // A browser on this machine may call a loopback service by its name.
    bool loopback =
        (inet_pton(AF_INET, options_.address.c_str(), &any4) == 1 &&
         (ntohl(any4.s_addr) >> 24) == 127) ||
        (inet_pton(AF_INET6, options_.address.c_str(), &any6) == 1 && IN6_IS_ADDR_LOOPBACK(&any6));
    if (loopback) localOrigin_ = scheme + "localhost" + port;
  }
  size_t scheme_end = root_.find("://");
  origin_ = root_.substr(0, root_.find('/', scheme_end == std::string::npos ? 0 : scheme_end + 3));
  return true;
}

bool CAlbumServer::Run() {
  return http_->Run();
}

void CAlbumServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(stallMutex_);
    stopping_ = true;
  }
  stallChanged_.notify_all();
  limiter_.Stop();
  http_->Stop();
}

void CAlbumServer::SetStall(StallMode mode) {
  {
    std::lock_guard<std::mutex> lock(stallMutex_);
    stall_ = mode;
  }
  stallChanged_.notify_all();
}

void CAlbumServer::WaitWhileStalled(StallMode at) {
  std::unique_lock<std::mutex> lock(stallMutex_);
  stallChanged_.wait(lock, [&] { return stopping_ || stall_ != at; });
}

void CAlbumServer::Log(const httplib::Request& req, const httplib::Response& res) const {
  if (!options_.logRequests) return;
  // The path without the query: the session key stays out of the log.
  std::fprintf(stderr, "album-service: %s %s %d\n", LogSafe(req.method).c_str(),
               LogSafe(req.path).c_str(), res.status);
}

void CAlbumServer::Routes() {
  // Upload bodies of any size are read (and what is too much dropped);
  // other requests are held to options_.maxBody by their handlers.
  http_->set_payload_max_length(std::numeric_limits<size_t>::max());
  // No answer is ever read as another type than it says, refusals that name
  // the path asked for included.
  http_->set_default_headers({{"X-Content-Type-Options", "nosniff"}});
  http_->set_logger(
      [this](const httplib::Request& req, const httplib::Response& res) { Log(req, res); });
  // Wrong methods and unknown paths still get a readable answer.
  http_->set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty() || res.content_provider_ || res.has_header("Content-Range")) return;
    if (res.status == 416)
      Refuse(res, 416, "unreadable Range header");
    else
      Refuse(res, res.status, "no " + LogSafe(req.method) + " service at " + LogSafe(req.path));
  });
  http_->set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                  std::exception_ptr) { Refuse(res, 500, "internal error"); });

  using namespace std::placeholders;
  http_->Post("/login.php",
              [this](const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader) { HandleLogIn(req, res, reader); });
  http_->Post("/dirlist.php",
              [this](const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader) { HandleDirList(req, res, reader); });
  http_->Post("/createdir.php",
              [this](const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader) { HandleCreateDir(req, res, reader); });
  http_->Post("/upload.php",
              [this](const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader) { HandleUpload(req, res, reader); });

  if (options_.testHooks) {
    auto test = [this](const httplib::Request& req, httplib::Response& res) {
      HandleTest(req, res);
    };
    http_->Get(R"(/test/(\w+))", test);
    // The uploader's transport can only POST multipart bodies; the body of
    // a test call carries nothing and is drained unread.
    http_->Post(R"(/test/(\w+))", [this](const httplib::Request& req, httplib::Response& res,
                                         const httplib::ContentReader& reader) {
      const_cast<httplib::Request&>(req).headers.erase("Content-Type");
      reader([](const char*, size_t) { return true; });
      HandleTest(req, res);
    });
  }
}

// A login while the account or the address has used up its wrong attempts
// fails like a wrong password, at once and without the name or the password
// being looked at. The try is taken before the check, so that logins sent
// at once get no more checks than logins sent one after another.
bool CAlbumServer::LogInLimited(const std::string& name, const std::string& password,
                                const std::string& address, Account* account) {
  const std::string group = AddressGroup(address);
  if (!limiter_.Begin(name, group)) return false;
  bool right = store_->CheckLogin(name, password, account);
  limiter_.End(name, group, right, CLoginLimiter::NowMs());
  return right;
}

void CAlbumServer::HandleLogIn(const httplib::Request& req, httplib::Response& res,
                               const httplib::ContentReader& reader) {
  CFormSink form("", 0);
  if (!ReadForm(req, res, reader, &form, options_.maxBody)) return;
  // The uploader sends no Origin; a page elsewhere must not guess
  // passwords, or lock their owners out, through its visitors' browsers.
  if (!SameOrigin(req)) return Refuse(res, 403, "log in from this site's own pages");
  const std::string* user = form.Field("Username");
  const std::string* password = form.Field("Password");
  if (!user || !password) return Refuse(res, 400, "Username and Password are required");
  Account account;
  if (!LogInLimited(*user, *password, req.remote_addr, &account))
    return Answer(res, "2\r\nError=wrong user name or password\r\n");
  std::string key = store_->CreateSession(account.id);
  if (key.empty()) return Refuse(res, 500, "cannot create a session");
  // The client appends the session key right after "?", so each URL ends
  // just before the query.
  const std::string& base = root_;
  Answer(res, "0\r\nSId=" + key + "\r\nDirListURL=" + base +
                  "/dirlist.php\r\nCreateDirURL=" + base + "/createdir.php\r\nUploadURL=" + base +
                  "/upload.php\r\nUser=" + account.name + "\r\n");
}

void CAlbumServer::HandleDirList(const httplib::Request& req, httplib::Response& res,
                                 const httplib::ContentReader& reader) {
  CFormSink form("", 0);
  if (!ReadForm(req, res, reader, &form, options_.maxBody)) return;
  Account account;
  if (!store_->FindSession(SessionKey(req), &account))
    return Refuse(res, 403, "unknown or expired session");
  std::vector<Album> albums = store_->ListAlbums(account.id);
  // Two lines the uploader skips, then one id line and one name line per album.
  std::string text =
      "0\r\nCount=" + std::to_string(albums.size()) + "\r\nUser=" + account.name + "\r\n";
  for (const Album& a : albums)
    text += "id=" + std::to_string(a.id) + "\r\nname=" + a.name + "\r\n";
  Answer(res, text);
}

void CAlbumServer::HandleCreateDir(const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) {
  CFormSink form("", 0);
  if (!ReadForm(req, res, reader, &form, options_.maxBody)) return;
  Account account;
  if (!store_->FindSession(SessionKey(req), &account))
    return Refuse(res, 403, "unknown or expired session");
  const std::string* name = form.Field("DirName");
  if (!name) return Refuse(res, 400, "DirName is required");
  int64_t id = 0;
  switch (store_->CreateAlbum(account.id, *name, &id)) {
    case CreateAlbumOk:
      return Answer(res, "0\r\nDirId=" + std::to_string(id) + "\r\n");
    case CreateAlbumInvalidName:
      return Answer(res, "2\r\nError=album name is empty, too long or not valid UTF-8\r\n");
    case CreateAlbumDuplicate:
      return Answer(res, "2\r\nError=an album of that name exists already\r\n");
    case CreateAlbumTooMany:
      return Answer(res, "2\r\nError=this account has as many albums as it may have\r\n");
    case CreateAlbumFailed:
      return Answer(res, "2\r\nError=album not created\r\n");
  }
}

void CAlbumServer::HandleUpload(const httplib::Request& req, httplib::Response& res,
                                const httplib::ContentReader& reader) {
  WaitWhileStalled(StallBeforeBody);
  Account account;
  bool known = store_->FindSession(SessionKey(req), &account);
  CFormSink form(known ? store_->NewTempPath() : std::string(), maxUpload_.load());
  if (!ReadForm(req, res, reader, &form, 0)) return;
  WaitWhileStalled(StallBeforeAnswer);
  if (!known) return Refuse(res, 403, "unknown or expired session");
  static const char* const kFields[] = {"DirId", "Filename", "Keyword", "Desc", "MimeType"};
  for (const char* f : kFields)
    if (!form.Field(f)) return Refuse(res, 400, std::string(f) + " is required");
  if (!form.haveFile_) return Refuse(res, 400, "the file part ImageData is missing");
  Media media;
  if (!ParseDecimal(*form.Field("DirId"), 0xFFFFFFFFu, &media.dirId))
    return Refuse(res, 400, "DirId is not a decimal album id");
  if (form.tooBig_) return Answer(res, "3\r\nError=file too big\r\n");
  media.filename = *form.Field("Filename");
  media.keyword = *form.Field("Keyword");
  media.desc = *form.Field("Desc");
  media.mimeType = *form.Field("MimeType");
  media.partName = form.filePart_.filename;
  media.partType = form.filePart_.contentType;
  media.size = form.fileSize_;
  media.sha256 = form.sha_.FinishHex();
  media.contentType = form.ContentType();
  CrashPoint("temp-written");
  switch (store_->StoreMedia(account.id, &media, form.tempPath_)) {
    case StoreMediaOk:
      return Answer(res, "0\r\nMediaId=" + std::to_string(media.id) + "\r\n");
    case StoreMediaNoSpace:
      return Answer(res, "2\r\nError=no space left in this account\r\n");
    case StoreMediaUnknownAlbum:
      return Answer(res, "1\r\nError=unknown album\r\n");
    case StoreMediaFailed:
      return Refuse(res, 500, "the file could not be stored");
  }
}

// Test hooks: read back what was stored and change limits while running.
void CAlbumServer::HandleTest(const httplib::Request& req, httplib::Response& res) {
  const std::string what = req.matches[1];
  const std::string account = req.get_param_value("account");
  if (what == "media") return res.set_content(MediaTsv(store_->ListMedia(account)), kTextType);
  if (what == "albums") return res.set_content(AlbumsTsv(store_->ListAlbums(account)), kTextType);
  if (what == "accounts") return res.set_content(AccountsTsv(store_->ListAccounts()), kTextType);
  if (what == "account") {
    int64_t quota = 0;
    std::string error;
    if (req.has_param("quota") && !ParseDecimal(req.get_param_value("quota"), INT64_MAX, &quota))
      return Refuse(res, 400, "quota is a byte count");
    if (!req.has_param("password") ||
        !store_->AddAccount(req.get_param_value("name"), req.get_param_value("password"), quota,
                            &error))
      return Refuse(res, 400, error.empty() ? "name and password are required" : error);
    return res.set_content("ok\n", kTextType);
  }
  if (what == "stall") {
    StallMode mode;
    if (!ParseStallMode(req.get_param_value("mode"), &mode))
      return Refuse(res, 400, "mode is off, before-body or before-answer");
    SetStall(mode);
    return res.set_content("ok\n", kTextType);
  }
  if (what == "limits") {
    int64_t v = 0;
    if (req.has_param("max-upload")) {
      if (!ParseDecimal(req.get_param_value("max-upload"), INT64_MAX, &v))
        return Refuse(res, 400, "max-upload is a byte count");
      SetMaxUpload(v);
    }
    if (req.has_param("quota")) {
      if (!ParseDecimal(req.get_param_value("quota"), INT64_MAX, &v) ||
          !store_->SetQuota(account, v))
        return Refuse(res, 400, "quota needs a byte count and an existing account");
    }
    return res.set_content("ok\n", kTextType);
  }
  res.status = 404;
  res.set_content("unknown test endpoint\n", kTextType);
}

}  // namespace albumsvc
