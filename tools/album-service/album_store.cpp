#include "tools/album-service/album_store.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <system_error>

#include "tools/album-service/content_sniff.h"
#include "tools/album-service/durable_io.h"
#include "tools/album-service/password_hash.h"

namespace fs = std::filesystem;

namespace albumsvc {

namespace {

const int64_t kSessionSeconds = 24 * 60 * 60;
const int64_t kWebSessionSeconds = 7 * 24 * 60 * 60;

// FULL: a commit is on the disk before it returns, also in WAL mode.
const char* const kSchema =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=FULL;"
    "CREATE TABLE IF NOT EXISTS accounts("
    "  id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, salt TEXT NOT NULL,"
    "  pwhash TEXT NOT NULL, quota INTEGER NOT NULL DEFAULT 0, created INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS sessions("
    "  key TEXT PRIMARY KEY, account_id INTEGER NOT NULL, created INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS albums("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT, account_id INTEGER NOT NULL, name TEXT NOT NULL,"
    "  created INTEGER NOT NULL, UNIQUE(account_id, name));"
    "CREATE TABLE IF NOT EXISTS media("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT, account_id INTEGER NOT NULL,"
    "  dir_id INTEGER NOT NULL, filename TEXT NOT NULL, keyword TEXT NOT NULL,"
    "  descr TEXT NOT NULL, mime_type TEXT NOT NULL, part_name TEXT NOT NULL,"
    "  part_type TEXT NOT NULL, size INTEGER NOT NULL, sha256 TEXT NOT NULL,"
    "  path TEXT NOT NULL, created INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS web_sessions("
    "  key_hash TEXT PRIMARY KEY, account_id INTEGER NOT NULL, created INTEGER NOT NULL);";

int64_t Now() {
  return static_cast<int64_t>(std::time(nullptr));
}

// Owns one prepared statement.
class CStatement {
 public:
  CStatement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~CStatement() { sqlite3_finalize(stmt_); }
  CStatement(const CStatement&) = delete;
  CStatement& operator=(const CStatement&) = delete;
  bool Ok() const { return stmt_ != nullptr; }
  void Bind(int i, const std::string& s) {
    sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  }
  void Bind(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  std::string Text(int i) {
    const unsigned char* p = sqlite3_column_text(stmt_, i);
    int n = sqlite3_column_bytes(stmt_, i);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : "";
  }
  int64_t Int(int i) { return sqlite3_column_int64(stmt_, i); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Extension for the stored copy: from the upload name, else from the name in
// the file part; only short alphanumeric extensions are kept.
std::string SafeExtension(const std::string& a, const std::string& b) {
  for (const std::string* name : {&a, &b}) {
    size_t dot = name->find_last_of('.');
    if (dot == std::string::npos) continue;
    std::string ext = name->substr(dot + 1);
    if (ext.empty() || ext.size() > 8) continue;
    bool ok = true;
    for (char c : ext)
      ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
    if (ok) return "." + ext;
  }
  return ".bin";
}

}  // namespace

std::string Sha256Hex(const std::string& data) {
  CSha256 sha;
  sha.Update(data.data(), data.size());
  return sha.FinishHex();
}

CSha256::CSha256() : ctx_(EVP_MD_CTX_new()) {
  EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_sha256(), nullptr);
}
CSha256::~CSha256() {
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
}
void CSha256::Update(const char* data, size_t size) {
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size);
}
std::string CSha256::FinishHex() {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), md, &n);
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < n; ++i) {
    out += digits[md[i] >> 4];
    out += digits[md[i] & 15];
  }
  return out;
}

bool IsValidUtf8(const std::string& text) {
  size_t i = 0, n = text.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len >= n) return false;
    for (size_t k = 1; k <= len; ++k) {
      unsigned char b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (len == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return false;
    if (len == 3 && (cp < 0x10000 || cp > 0x10FFFF)) return false;
    i += len + 1;
  }
  return true;
}

namespace {

// Decodes valid UTF-8 (checked before) one code point at a time.
uint32_t NextCodePoint(const std::string& text, size_t* i) {
  unsigned char c = static_cast<unsigned char>(text[*i]);
  size_t len = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
  uint32_t cp = len == 0 ? c : c & (0x3F >> len);
  for (size_t k = 1; k <= len; ++k)
    cp = (cp << 6) | (static_cast<unsigned char>(text[*i + k]) & 0x3F);
  *i += len + 1;
  return cp;
}

// Controls, line breaks and marks that change the writing direction.
bool IsControl(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// Spaces of every width and characters that show nothing by themselves.
bool IsBlank(uint32_t cp) {
  return cp == 0x20 || cp == 0xA0 || cp == 0xAD || cp == 0x034F || cp == 0x115F || cp == 0x1160 ||
         cp == 0x1680 || cp == 0x180E || (cp >= 0x2000 && cp <= 0x200D) || cp == 0x202F ||
         (cp >= 0x205F && cp <= 0x2064) || cp == 0x3000 || cp == 0x3164 ||
         (cp >= 0xFE00 && cp <= 0xFE0F) || cp == 0xFEFF || cp == 0xFFA0 ||
         (cp >= 0xE0000 && cp <= 0xE0FFF);
}

}  // namespace

bool IsShowableName(const std::string& text) {
  if (!IsValidUtf8(text)) return false;
  bool visible = false;
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = NextCodePoint(text, &i);
    if (IsControl(cp)) return false;
    visible = visible || !IsBlank(cp);
  }
  return visible;
}

CAlbumStore::~CAlbumStore() {
  if (db_) sqlite3_close(db_);
}

bool CAlbumStore::Exec(const char* sql, std::string* error) {
  char* msg = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
    if (error) *error = msg ? msg : "database error";
    sqlite3_free(msg);
    return false;
  }
  return true;
}

bool CAlbumStore::HasColumn(const char* table, const char* column) {
  CStatement st(db_, (std::string("PRAGMA table_info(") + table + ")").c_str());
  while (st.Step() == SQLITE_ROW)
    if (st.Text(1) == column) return true;
  return false;
}

bool CAlbumStore::Open(const std::string& dataDir, std::string* error) {
  std::error_code ec;
  fs::create_directories(fs::path(dataDir) / "media", ec);
  fs::create_directories(fs::path(dataDir) / "tmp", ec);
  if (ec || !fs::is_directory(dataDir)) {
    *error = "cannot create data folder " + dataDir;
    return false;
  }
  dataDir_ = fs::absolute(dataDir).lexically_normal().string();
  std::string dbPath = (fs::path(dataDir_) / "album-service.db").string();
  if (sqlite3_open_v2(dbPath.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    *error = "cannot open database " + dbPath;
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  if (!Exec(kSchema, error)) return false;
  // Data folders of earlier versions lack the served type of each file;
  // Recover fills it in.
  if (!HasColumn("media", "content_type") &&
      !Exec("ALTER TABLE media ADD COLUMN content_type TEXT NOT NULL DEFAULT ''", error))
    return false;
  return true;
}

bool CAlbumStore::Recover(RecoverReport* report, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::error_code ec;
  // Uploads that a stop or crash interrupted never got a record.
  for (const auto& entry : fs::directory_iterator(fs::path(dataDir_) / "tmp", ec)) {
    fs::remove_all(entry.path(), ec);
    ++report->tempFilesRemoved;
  }
  // Records whose file is gone, e.g. lost by hand: nothing to show or serve.
  std::set<std::string> known;
  std::vector<int64_t> lost;
  std::vector<std::pair<int64_t, std::string>> untyped;
  {
    CStatement st(db_, "SELECT id, path, content_type FROM media");
    while (st.Step() == SQLITE_ROW) {
      std::string rel = st.Text(1);
      fs::path abs = fs::path(dataDir_) / rel;
      if (rel.empty() || !fs::is_regular_file(abs, ec)) {
        lost.push_back(st.Int(0));
        continue;
      }
      known.insert(abs.lexically_normal().string());
      if (st.Text(2).empty()) untyped.emplace_back(st.Int(0), abs.string());
    }
  }
  // Many missing files rather mean a disk that is not there (unmounted,
  // moved) than files lost one by one: then nothing is removed.
  size_t total = known.size() + lost.size();
  if (lost.size() > 1 && lost.size() * 2 > total) {
    *error = std::to_string(lost.size()) + " of the " + std::to_string(total) +
             " stored files are missing from " + dataDir_ +
             "/media; is the disk there? Nothing was removed.";
    return false;
  }
  for (int64_t id : lost) {
    CStatement del(db_, "DELETE FROM media WHERE id=?");
    del.Bind(1, id);
    if (del.Step() != SQLITE_DONE) {
      *error = "cannot remove the record of lost media " + std::to_string(id);
      return false;
    }
    std::fprintf(stderr, "album-service: removed record %lld: its file is missing\n",
                 static_cast<long long>(id));
    ++report->recordsWithoutFileRemoved;
  }
  for (const auto& t : untyped) {
    CStatement upd(db_, "UPDATE media SET content_type=? WHERE id=?");
    upd.Bind(1, SniffFileContentType(t.second));
    upd.Bind(2, t.first);
    upd.Step();
    ++report->contentTypesFilled;
  }
  // Files that never got their record committed (a crash between moving a
  // file into place and the commit).
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(dataDir_) / "media", ec)) {
    if (!entry.is_regular_file(ec)) continue;
    if (known.count(entry.path().lexically_normal().string())) continue;
    std::fprintf(stderr, "album-service: removed %s: no record refers to it\n",
                 entry.path().c_str());
    fs::remove(entry.path(), ec);
    ++report->orphanFilesRemoved;
  }
  return true;
}

bool CAlbumStore::AddAccount(const std::string& name, const std::string& password, int64_t quota,
                             std::string* error) {
  if (name.empty() || !IsValidUtf8(name) || name.find_first_of("\t\r\n") != std::string::npos) {
    *error = "invalid account name";
    return false;
  }
  std::string hash = HashPassword(password, iterations_);
  std::lock_guard<std::mutex> lock(mutex_);
  CStatement st(db_, "INSERT INTO accounts(name, salt, pwhash, quota, created) VALUES(?,'',?,?,?)");
  st.Bind(1, name);
  st.Bind(2, hash);
  st.Bind(3, quota < 0 ? 0 : quota);
  st.Bind(4, Now());
  if (hash.empty() || st.Step() != SQLITE_DONE) {
    *error = "account " + name + " exists already";
    return false;
  }
  return true;
}

bool CAlbumStore::SetQuota(const std::string& name, int64_t quota) {
  std::lock_guard<std::mutex> lock(mutex_);
  CStatement st(db_, "UPDATE accounts SET quota=? WHERE name=?");
  st.Bind(1, quota < 0 ? 0 : quota);
  st.Bind(2, name);
  return st.Step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

bool CAlbumStore::LoadAccount(const char* sql, const std::string& key, Account* account) {
  CStatement st(db_, sql);
  st.Bind(1, key);
  if (st.Step() != SQLITE_ROW) return false;
  account->id = st.Int(0);
  account->name = st.Text(1);
  account->quota = st.Int(2);
  CStatement used(db_, "SELECT COALESCE(SUM(size),0) FROM media WHERE account_id=?");
  used.Bind(1, account->id);
  account->used = used.Step() == SQLITE_ROW ? used.Int(0) : 0;
  return true;
}

bool CAlbumStore::FindAccount(const std::string& name, Account* account) {
  std::lock_guard<std::mutex> lock(mutex_);
  return LoadAccount("SELECT id, name, quota FROM accounts WHERE name=?", name, account);
}

std::vector<Account> CAlbumStore::ListAccounts() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Account> out;
  CStatement st(db_,
                "SELECT a.id, a.name, a.quota, (SELECT COALESCE(SUM(size),0) FROM media m "
                "WHERE m.account_id = a.id) FROM accounts a ORDER BY a.id");
  while (st.Step() == SQLITE_ROW) {
    Account a;
    a.id = st.Int(0);
    a.name = st.Text(1);
    a.quota = st.Int(2);
    a.used = st.Int(3);
    out.push_back(a);
  }
  return out;
}

bool CAlbumStore::CheckLogin(const std::string& name, const std::string& password,
                             Account* account) {
  ++passwordChecks_;
  std::string salt, stored;
  bool found = false;
  int iterations;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    iterations = iterations_;
    CStatement st(db_, "SELECT salt, pwhash FROM accounts WHERE name=?");
    st.Bind(1, name);
    if (st.Step() == SQLITE_ROW) {
      found = true;
      salt = st.Text(0);
      stored = st.Text(1);
    }
  }
  // The slow part runs unlocked, so one login does not hold up the others.
  // An unknown name costs as much as a known one.
  PasswordCheck check = CheckPassword(stored, salt, password, iterations);
  if (!found || check == PasswordWrong) return false;
  std::string fresh = check == PasswordOkRehash ? HashPassword(password, iterations) : "";
  std::lock_guard<std::mutex> lock(mutex_);
  if (!fresh.empty()) {
    // Only if nobody changed the hash meanwhile.
    CStatement upd(db_, "UPDATE accounts SET salt='', pwhash=? WHERE name=? AND pwhash=?");
    upd.Bind(1, fresh);
    upd.Bind(2, name);
    upd.Bind(3, stored);
    upd.Step();
  }
  return LoadAccount("SELECT id, name, quota FROM accounts WHERE name=?", name, account);
}

std::string CAlbumStore::CreateSession(int64_t accountId) {
  std::lock_guard<std::mutex> lock(mutex_);
  CStatement purge(db_, "DELETE FROM sessions WHERE created < ?");
  purge.Bind(1, Now() - kSessionSeconds);
  purge.Step();
  std::string key = RandomHex(16);
  CStatement st(db_, "INSERT INTO sessions(key, account_id, created) VALUES(?,?,?)");
  st.Bind(1, key);
  st.Bind(2, accountId);
  st.Bind(3, Now());
  return st.Step() == SQLITE_DONE ? key : std::string();
}

bool CAlbumStore::FindSession(const std::string& key, Account* account) {
  if (key.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  CStatement st(db_,
                "SELECT a.name, s.created FROM sessions s JOIN accounts a "
                "ON a.id = s.account_id WHERE s.key=?");
  st.Bind(1, key);
  if (st.Step() != SQLITE_ROW || st.Int(1) < Now() - kSessionSeconds) return false;
  return LoadAccount("SELECT id, name, quota FROM accounts WHERE name=?", st.Text(0), account);
}

std::string CAlbumStore::CreateWebSession(int64_t accountId) {
  std::lock_guard<std::mutex> lock(mutex_);
  CStatement purge(db_, "DELETE FROM web_sessions WHERE created < ?");
  purge.Bind(1, Now() - kWebSessionSeconds);
  purge.Step();
  std::string key = RandomHex(32);
  CStatement st(db_, "INSERT INTO web_sessions(key_hash, account_id, created) VALUES(?,?,?)");
  st.Bind(1, Sha256Hex(key));
  st.Bind(2, accountId);
  st.Bind(3, Now());
  return st.Step() == SQLITE_DONE ? key : std::string();
}

bool CAlbumStore::FindWebSession(const std::string& key, Account* account) {
  if (key.size() != 64) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  CStatement st(db_,
                "SELECT a.name, s.created FROM web_sessions s JOIN accounts a "
                "ON a.id = s.account_id WHERE s.key_hash=?");
  st.Bind(1, Sha256Hex(key));
  if (st.Step() != SQLITE_ROW || st.Int(1) < Now() - kWebSessionSeconds) return false;
  return LoadAccount("SELECT id, name, quota FROM accounts WHERE name=?", st.Text(0), account);
}

void CAlbumStore::DeleteWebSession(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  CStatement st(db_, "DELETE FROM web_sessions WHERE key_hash=?");
  st.Bind(1, Sha256Hex(key));
  st.Step();
}

std::vector<Album> CAlbumStore::QueryAlbums(const char* sql, const std::string& textKey,
                                            int64_t intKey) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Album> out;
  CStatement st(db_, sql);
  if (intKey >= 0)
    st.Bind(1, intKey);
  else if (!textKey.empty())
    st.Bind(1, textKey);
  while (st.Step() == SQLITE_ROW) {
    Album a;
    a.id = st.Int(0);
    a.account = st.Text(1);
    a.name = st.Text(2);
    a.mediaCount = st.Int(3);
    out.push_back(a);
  }
  return out;
}

#define ALBUM_COLUMNS                                                                      \
  "SELECT al.id, ac.name, al.name, (SELECT COUNT(*) FROM media m WHERE m.dir_id = al.id) " \
  "FROM albums al JOIN accounts ac ON ac.id = al.account_id "

std::vector<Album> CAlbumStore::ListAlbums(const std::string& accountName) {
  if (accountName.empty()) return QueryAlbums(ALBUM_COLUMNS "ORDER BY al.id", "", -1);
  return QueryAlbums(ALBUM_COLUMNS "WHERE ac.name=? ORDER BY al.id", accountName, -1);
}

std::vector<Album> CAlbumStore::ListAlbums(int64_t accountId) {
  return QueryAlbums(ALBUM_COLUMNS "WHERE al.account_id=? ORDER BY al.id", "", accountId);
}

CreateAlbumResult CAlbumStore::CreateAlbum(int64_t accountId, const std::string& name,
                                           int64_t* albumId) {
  *albumId = 0;
  if (name.size() > 200 || !IsShowableName(name)) return CreateAlbumInvalidName;
  std::lock_guard<std::mutex> lock(mutex_);
  if (maxAlbums_ > 0) {
    CStatement count(db_, "SELECT COUNT(*) FROM albums WHERE account_id=?");
    count.Bind(1, accountId);
    if (count.Step() != SQLITE_ROW) return CreateAlbumFailed;
    if (count.Int(0) >= maxAlbums_) return CreateAlbumTooMany;
  }
  CStatement st(db_, "INSERT INTO albums(account_id, name, created) VALUES(?,?,?)");
  st.Bind(1, accountId);
  st.Bind(2, name);
  st.Bind(3, Now());
  int rc = st.Step();
  if (rc == SQLITE_CONSTRAINT) return CreateAlbumDuplicate;
  if (rc != SQLITE_DONE) return CreateAlbumFailed;
  *albumId = sqlite3_last_insert_rowid(db_);
  return CreateAlbumOk;
}

bool CAlbumStore::GetAlbum(int64_t id, Album* album) {
  std::vector<Album> found = QueryAlbums(ALBUM_COLUMNS "WHERE al.id=?", "", id);
  if (found.empty()) return false;
  *album = found[0];
  return true;
}

std::string CAlbumStore::NewTempPath() {
  std::lock_guard<std::mutex> lock(mutex_);
  return (fs::path(dataDir_) / "tmp" /
          ("upload-" + std::to_string(++tempCounter_) + "-" + RandomHex(4)))
      .string();
}

// The steps of storing a file, in this order, each one a point where the test
// hook can end the process: the flushed temporary file is there
// ("temp-written", in the server); the record is inserted but not committed
// ("record-inserted"); the file is renamed into media/ ("file-moved"); the
// folder is flushed ("folder-synced"); the record is committed ("committed").
// A crash before the commit leaves at most a file without a record, which
// Recover removes; after it, the file is on the disk.
StoreMediaResult CAlbumStore::StoreMedia(int64_t accountId, Media* media,
                                         const std::string& tempPath) {
  std::error_code ec;
  StoreMediaResult result = StoreMediaFailed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string dummy;
    if (media->dirId != 0) {
      CStatement own(db_, "SELECT 1 FROM albums WHERE id=? AND account_id=?");
      own.Bind(1, media->dirId);
      own.Bind(2, accountId);
      if (own.Step() != SQLITE_ROW) {
        fs::remove(tempPath, ec);
        return StoreMediaUnknownAlbum;
      }
    }
    // Checked and recorded under one lock, so concurrent uploads cannot
    // together go past the quota.
    CStatement q(db_,
                 "SELECT quota, (SELECT COALESCE(SUM(size),0) FROM media "
                 "WHERE account_id=?1) FROM accounts WHERE id=?1");
    q.Bind(1, accountId);
    if (q.Step() != SQLITE_ROW) {
      fs::remove(tempPath, ec);
      return StoreMediaFailed;
    }
    int64_t quota = q.Int(0), used = q.Int(1);
    if (quota > 0 && used + media->size > quota) {
      fs::remove(tempPath, ec);
      return StoreMediaNoSpace;
    }
    if (!Exec("BEGIN IMMEDIATE", &dummy)) {
      fs::remove(tempPath, ec);
      return StoreMediaFailed;
    }
    CStatement ins(db_,
                   "INSERT INTO media(account_id, dir_id, filename, keyword, descr,"
                   " mime_type, part_name, part_type, size, sha256, path, created, content_type)"
                   " VALUES(?,?,?,?,?,?,?,?,?,?,'',?,?)");
    ins.Bind(1, accountId);
    ins.Bind(2, media->dirId);
    ins.Bind(3, media->filename);
    ins.Bind(4, media->keyword);
    ins.Bind(5, media->desc);
    ins.Bind(6, media->mimeType);
    ins.Bind(7, media->partName);
    ins.Bind(8, media->partType);
    ins.Bind(9, media->size);
    ins.Bind(10, media->sha256);
    media->created = Now();
    ins.Bind(11, media->created);
    ins.Bind(12, media->contentType);
    if (ins.Step() == SQLITE_DONE) {
      media->id = sqlite3_last_insert_rowid(db_);
      fs::path rel = fs::path("media") / std::to_string(accountId) /
                     (std::to_string(media->id) + SafeExtension(media->filename, media->partName));
      fs::path abs = fs::path(dataDir_) / rel;
      bool newFolder = !fs::is_directory(abs.parent_path(), ec);
      fs::create_directories(abs.parent_path(), ec);
      // A new account folder must itself be recorded in media/.
      if (!ec && newFolder && !SyncFolder((fs::path(dataDir_) / "media").string()))
        ec = std::make_error_code(std::errc::io_error);
      CStatement upd(db_, "UPDATE media SET path=? WHERE id=?");
      upd.Bind(1, rel.string());
      upd.Bind(2, media->id);
      if (!ec && upd.Step() == SQLITE_DONE) {
        CrashPoint("record-inserted");
        fs::rename(tempPath, abs, ec);
        if (!ec) {
          CrashPoint("file-moved");
          if (SyncFolder(abs.parent_path().string())) {
            CrashPoint("folder-synced");
            if (Exec("COMMIT", &dummy)) {
              CrashPoint("committed");
              media->path = abs.string();
              result = StoreMediaOk;
            }
          }
          if (result != StoreMediaOk) fs::remove(abs, ec);
        }
      }
    }
    if (result != StoreMediaOk) Exec("ROLLBACK", &dummy);
  }
  fs::remove(tempPath, ec);
  return result;
}

std::vector<Media> CAlbumStore::QueryMedia(const std::string& where, const std::string& textKey,
                                           int64_t intKey) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Media> out;
  std::string sql =
      "SELECT m.id, a.name, m.dir_id, m.filename, m.keyword, m.descr, m.mime_type, m.part_name,"
      " m.part_type, m.size, m.sha256, m.path, m.created, m.content_type FROM media m"
      " JOIN accounts a ON a.id = m.account_id " +
      where + " ORDER BY m.id";
  CStatement st(db_, sql.c_str());
  if (intKey >= 0)
    st.Bind(1, intKey);
  else if (!textKey.empty())
    st.Bind(1, textKey);
  while (st.Step() == SQLITE_ROW) {
    Media m;
    m.id = st.Int(0);
    m.account = st.Text(1);
    m.dirId = st.Int(2);
    m.filename = st.Text(3);
    m.keyword = st.Text(4);
    m.desc = st.Text(5);
    m.mimeType = st.Text(6);
    m.partName = st.Text(7);
    m.partType = st.Text(8);
    m.size = st.Int(9);
    m.sha256 = st.Text(10);
    m.path = (fs::path(dataDir_) / st.Text(11)).string();
    m.created = st.Int(12);
    m.contentType = st.Text(13);
    out.push_back(m);
  }
  return out;
}

std::vector<Media> CAlbumStore::ListMedia(const std::string& accountName) {
  if (accountName.empty()) return QueryMedia("", "", -1);
  return QueryMedia("WHERE a.name=?", accountName, -1);
}

std::vector<Media> CAlbumStore::ListMedia(int64_t accountId) {
  return QueryMedia("WHERE m.account_id=?", "", accountId);
}

bool CAlbumStore::GetMedia(int64_t id, Media* media) {
  std::vector<Media> found = QueryMedia("WHERE m.id=?", "", id);
  if (found.empty()) return false;
  *media = found[0];
  return true;
}

}  // namespace albumsvc
