// Persistent storage of the album service: accounts, sessions, albums and
// media records in one SQLite database inside the data folder, uploaded files
// beside it under media/. Every operation is safe to call from the server's
// worker threads.
//
// A stored file survives a crash or power cut once its upload was answered:
// the file is flushed, moved into media/, its folder flushed, and only then
// is the record committed. Recover, run at start by the one service that
// holds the folder, removes what an interrupted upload left behind.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace albumsvc {

struct Account {
  int64_t id = 0;
  std::string name;
  int64_t quota = 0;  // bytes; 0 means no limit
  int64_t used = 0;   // bytes of stored media
};

struct Album {
  int64_t id = 0;
  std::string account;
  std::string name;
  int64_t mediaCount = 0;
};

struct Media {
  int64_t id = 0;
  std::string account;
  int64_t dirId = 0;     // 0 is the public inbox
  std::string filename;  // "Filename" field (UTF-8 upload name)
  std::string keyword;   // "Keyword"
  std::string desc;      // "Desc"
  std::string mimeType;  // "MimeType" field
  std::string partName;  // file name inside the file part, as sent
  std::string partType;  // Content-Type of the file part
  int64_t size = 0;
  std::string sha256;       // hex digest of the stored bytes
  std::string path;         // absolute path of the stored file
  int64_t created = 0;      // seconds since the epoch
  std::string contentType;  // decided from the stored bytes
};

// What Recover found and put right.
struct RecoverReport {
  int tempFilesRemoved = 0;
  int orphanFilesRemoved = 0;
  int recordsWithoutFileRemoved = 0;
  int contentTypesFilled = 0;
};

enum CreateAlbumResult {
  CreateAlbumOk,
  CreateAlbumInvalidName,
  CreateAlbumDuplicate,
  CreateAlbumTooMany,
  CreateAlbumFailed
};
const int kDefaultMaxAlbums = 1000;
enum StoreMediaResult { StoreMediaOk, StoreMediaNoSpace, StoreMediaUnknownAlbum, StoreMediaFailed };

class CAlbumStore {
 public:
  CAlbumStore() = default;
  ~CAlbumStore();
  CAlbumStore(const CAlbumStore&) = delete;
  CAlbumStore& operator=(const CAlbumStore&) = delete;

  // Creates the folder, the database and its tables when missing.
  bool Open(const std::string& dataDir, std::string* error);
  const std::string& DataDir() const { return dataDir_; }
  // Only for the service that holds the folder's lock: removes temporary
  // files, files without a record and records without a file.
  bool Recover(RecoverReport* report, std::string* error);

  // PBKDF2 iterations for new and rehashed passwords.
  void SetPasswordIterations(int iterations) { iterations_ = iterations; }
  // Albums one account may have; 0: no limit.
  void SetMaxAlbums(int count) { maxAlbums_ = count; }

  bool AddAccount(const std::string& name, const std::string& password, int64_t quota,
                  std::string* error);
  bool SetQuota(const std::string& name, int64_t quota);
  bool FindAccount(const std::string& name, Account* account);
  std::vector<Account> ListAccounts();
  // Checks the password (slowly, without holding the store); an account
  // with an old or weaker hash gets a new one on the way.
  bool CheckLogin(const std::string& name, const std::string& password, Account* account);
  // Passwords looked at since the store was opened.
  int64_t PasswordChecks() const { return passwordChecks_; }

  // Sessions of the uploader last until they are a day old; they survive a
  // restart.
  std::string CreateSession(int64_t accountId);
  bool FindSession(const std::string& key, Account* account);
  // Sessions of the gallery (cookie), kept as hashes of their keys.
  std::string CreateWebSession(int64_t accountId);
  bool FindWebSession(const std::string& key, Account* account);
  void DeleteWebSession(const std::string& key);

  // accountName empty: albums of every account.
  std::vector<Album> ListAlbums(const std::string& accountName);
  std::vector<Album> ListAlbums(int64_t accountId);
  CreateAlbumResult CreateAlbum(int64_t accountId, const std::string& name, int64_t* albumId);

  // A fresh path in the data folder's temporary area for an incoming file.
  std::string NewTempPath();
  // Moves the finished (already flushed) temporary file into the media area
  // and records it, unless the album is not the account's or the quota would
  // be exceeded; the temporary file is removed in every case.
  StoreMediaResult StoreMedia(int64_t accountId, Media* media, const std::string& tempPath);

  std::vector<Media> ListMedia(const std::string& accountName);
  std::vector<Media> ListMedia(int64_t accountId);
  bool GetMedia(int64_t id, Media* media);
  bool GetAlbum(int64_t id, Album* album);

 private:
  bool Exec(const char* sql, std::string* error);
  bool LoadAccount(const char* sql, const std::string& key, Account* account);
  std::vector<Album> QueryAlbums(const char* sql, const std::string& textKey, int64_t intKey);
  std::vector<Media> QueryMedia(const std::string& where, const std::string& textKey,
                                int64_t intKey);
  bool HasColumn(const char* table, const char* column);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::string dataDir_;
  uint64_t tempCounter_ = 0;
  std::atomic<int> iterations_{600000};
  std::atomic<int64_t> passwordChecks_{0};
  std::atomic<int> maxAlbums_{kDefaultMaxAlbums};
};

// Hex SHA-256 of a byte string.
std::string Sha256Hex(const std::string& data);
// Incremental SHA-256 for uploaded files.
class CSha256 {
 public:
  CSha256();
  ~CSha256();
  CSha256(const CSha256&) = delete;
  CSha256& operator=(const CSha256&) = delete;
  void Update(const char* data, size_t size);
  std::string FinishHex();

 private:
  void* ctx_;
};

bool IsValidUtf8(const std::string& text);
// A name that shows as what it is in a list: valid UTF-8 on one line,
// something visible in it, no control characters and no changes of the
// writing direction.
bool IsShowableName(const std::string& text);

}  // namespace albumsvc
