// Passwords and logins: slow salted hashes, old single-SHA-256 accounts that
// still log in and get a new hash on the way, and limits on wrong logins per
// account and per address that answer exactly like a wrong password.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/album-service/login_limiter.h"
#include "tools/album-service/password_hash.h"
#include "tools/album-service/tests/service_fixture.h"

using namespace albumsvc;
using namespace svctest;

namespace {

const std::string kWrongAnswer = "2\r\nError=wrong user name or password\r\n";

TEST(PasswordHash, SaltedPbkdf2ThatAsksForARehashWhenWeak) {
  std::string a = HashPassword("correct horse", 1000), b = HashPassword("correct horse", 1000);
  EXPECT_EQ(a.compare(0, 19, "pbkdf2-sha256$1000$"), 0) << a;
  EXPECT_EQ(a.size(), 19 + 32 + 1 + 64u);
  EXPECT_NE(a, b) << "each hash has its own salt";
  EXPECT_EQ(CheckPassword(a, "", "correct horse", 1000), PasswordOk);
  EXPECT_EQ(CheckPassword(a, "", "correct horse!", 1000), PasswordWrong);
  EXPECT_EQ(CheckPassword(a, "", "", 1000), PasswordWrong);
  EXPECT_EQ(CheckPassword(a, "", "correct horse", 2000), PasswordOkRehash);
  // Damaged records never let anybody in.
  for (std::string bad : {a.substr(0, a.size() - 2), std::string("pbkdf2-sha256$1$00$00"),
                          std::string("pbkdf2-sha256$99999999999$00$00"),
                          std::string("pbkdf2-sha256$1000$zz$") + a.substr(a.size() - 64),
                          std::string(""), std::string("nonsense")})
    EXPECT_EQ(CheckPassword(bad, "", "correct horse", 1000), PasswordWrong) << bad;
  // Old data folders: hex SHA-256 of a salt column followed by the password.
  const std::string salt = "0123456789abcdef";
  const std::string old = Sha256Hex(salt + "old secret");
  EXPECT_EQ(CheckPassword(old, salt, "old secret", 1000), PasswordOkRehash);
  EXPECT_EQ(CheckPassword(old, salt, "old secreT", 1000), PasswordWrong);
  EXPECT_EQ(CheckPassword(old, "", "old secret", 1000), PasswordWrong);
}

TEST(LoginLimiter, CountsFailuresPerAccountAndPerAddressAndRefills) {
  CLoginLimiter limiter(3, 5);
  int64_t t = 1000000;
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(limiter.Allowed("anna", "10.0.0.1", t)) << i;
    limiter.Failed("anna", "10.0.0.1", t);
  }
  EXPECT_FALSE(limiter.Allowed("anna", "10.0.0.1", t));
  // The account is held from every address; other accounts are not.
  EXPECT_FALSE(limiter.Allowed("anna", "10.0.0.2", t));
  EXPECT_TRUE(limiter.Allowed("ben", "10.0.0.1", t));
  // A third of a minute gives one attempt back (3 per minute).
  EXPECT_FALSE(limiter.Allowed("anna", "10.0.0.2", t + 19000));
  EXPECT_TRUE(limiter.Allowed("anna", "10.0.0.2", t + 20000));
  // After a minute everything is back.
  EXPECT_TRUE(limiter.Allowed("anna", "10.0.0.1", t + 80000));

  // One address trying many names uses up its own five.
  CLoginLimiter spray(3, 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(spray.Allowed("name" + std::to_string(i), "10.0.0.1", t)) << i;
    spray.Failed("name" + std::to_string(i), "10.0.0.1", t);
  }
  EXPECT_FALSE(spray.Allowed("dora", "10.0.0.1", t));
  EXPECT_TRUE(spray.Allowed("dora", "10.0.0.9", t));

  CLoginLimiter off(0, 0);
  for (int i = 0; i < 100; ++i) off.Failed("anna", "10.0.0.1", t);
  EXPECT_TRUE(off.Allowed("anna", "10.0.0.1", t));

  // The tables stay small under a flood of names; the latest keys remain.
  CLoginLimiter bounded(1, 1000, 4);
  for (int i = 0; i < 50; ++i) bounded.Failed("flood" + std::to_string(i), "a", t - 1 + i);
  EXPECT_TRUE(bounded.Allowed("flood10", "b", t + 20));
  EXPECT_FALSE(bounded.Allowed("flood49", "b", t + 49));
}

class LoginTest : public AlbumServiceTest {
 protected:
  std::string StoredHash(const std::string& name, std::string* salt = nullptr) {
    sqlite3* db = nullptr;
    std::string hash;
    if (sqlite3_open((dataDir_ + "/album-service.db").c_str(), &db) == SQLITE_OK) {
      sqlite3_stmt* st = nullptr;
      sqlite3_prepare_v2(db, "SELECT pwhash, salt FROM accounts WHERE name=?", -1, &st, nullptr);
      sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(st) == SQLITE_ROW) {
        hash = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        if (salt) *salt = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
      }
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return hash;
  }
  // An account as older versions of the service stored it.
  void AddOldAccount(const std::string& name, const std::string& password) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dataDir_ + "/album-service.db").c_str(), &db), SQLITE_OK);
    std::string salt = "a1b2c3d4e5f60718";
    std::string sql = "INSERT INTO accounts(name, salt, pwhash, quota, created) VALUES('" + name +
                      "','" + salt + "','" + Sha256Hex(salt + password) + "',0,0)";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  std::string LogInText(const std::string& user, const std::string& pw) {
    return Post(
               "/login.php",
               Body({{"Password", pw}, {"Language", "DE"}, {"Version", "1.0"}, {"Username", user}}))
        .text;
  }
  int WebLogInStatus(const std::string& user, const std::string& pw) {
    auto res = client_->Post("/login", "username=" + user + "&password=" + pw,
                             "application/x-www-form-urlencoded");
    return res ? res->status : 0;
  }
};

TEST_F(LoginTest, NewAccountsGetSlowSaltedHashes) {
  EXPECT_EQ(StoredHash("alice").compare(0, 19, "pbkdf2-sha256$1000$"), 0);
  // The service's own default when nobody sets one.
  CAlbumStore fresh;
  std::string error;
  ASSERT_TRUE(fresh.Open(dir_ + "/other", &error)) << error;
  ASSERT_TRUE(fresh.AddAccount("carol", "pw", 0, &error));
  std::vector<Account> all = fresh.ListAccounts();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, "carol");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ + "/other/album-service.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT pwhash FROM accounts", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))).substr(0, 21),
            "pbkdf2-sha256$600000$");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

TEST_F(LoginTest, OldHashAccountsLogInAndAreRehashed) {
  AddOldAccount("olga", "old secret");
  std::string salt;
  ASSERT_EQ(StoredHash("olga", &salt).size(), 64u);
  EXPECT_EQ(LogInText("olga", "wrong"), kWrongAnswer);
  EXPECT_EQ(StoredHash("olga").size(), 64u) << "a wrong password changes nothing";

  EXPECT_EQ(LogInText("olga", "old secret").substr(0, 5), "0\r\nSI");
  std::string fresh = StoredHash("olga", &salt);
  EXPECT_EQ(fresh.compare(0, 19, "pbkdf2-sha256$1000$"), 0) << fresh;
  EXPECT_EQ(salt, "");
  EXPECT_EQ(CheckPassword(fresh, "", "old secret", kTestIterations), PasswordOk);
  // It goes on working, through the uploader and the gallery alike.
  EXPECT_EQ(LogInText("olga", "old secret").substr(0, 1), "0");
  EXPECT_EQ(WebLogInStatus("olga", "old secret"), 303);
  EXPECT_EQ(StoredHash("olga"), fresh);
  EXPECT_EQ(LogInText("olga", "wrong"), kWrongAnswer);

  // Raising the iteration count upgrades each account at its next login.
  store_->SetPasswordIterations(2000);
  EXPECT_EQ(LogInText("olga", "old secret").substr(0, 1), "0");
  EXPECT_EQ(StoredHash("olga").compare(0, 19, "pbkdf2-sha256$2000$"), 0);
}

TEST_F(LoginTest, WrongLoginsAreLimitedPerAccountAndPerAddress) {
  ServerOptions limited = options_;
  limited.loginFailuresPerMinute = 3;  // 6 per address
  Restart(limited);
  AddOldAccount("olga", "pw");
  // Right passwords never count.
  for (int i = 0; i < 5; ++i) EXPECT_EQ(LogInText("alice", "secret").substr(0, 1), "0");
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(LogInText("alice", "guess" + std::to_string(i)), kWrongAnswer);
  // Now even the right password gets exactly the wrong-password answer,
  // through the uploader's login and the gallery's.
  EXPECT_EQ(LogInText("alice", "secret"), kWrongAnswer);
  EXPECT_EQ(WebLogInStatus("alice", "secret"), 200);
  // Another account from the same address still works...
  EXPECT_EQ(LogInText("bob", "pw").substr(0, 1), "0");
  // ...until the address has used up its six failures.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(LogInText("nobody" + std::to_string(i), "x"), kWrongAnswer);
  EXPECT_EQ(LogInText("bob", "pw"), kWrongAnswer);
  EXPECT_EQ(LogInText("olga", "pw"), kWrongAnswer);
  // A limited old account is not rehashed: its password was not looked at.
  EXPECT_EQ(StoredHash("olga").size(), 64u);
}

// A wrong login costs the same whether the name is unknown or its hash is
// old or weaker than the service's, so answer times tell nobody which
// names exist. Logins past the limit answer at once, for every name alike.
// Costs are CPU time of this process, where the service runs: load beside
// the test does not stretch it as it stretches answer times.
TEST_F(LoginTest, AnswerTimesTellNoAccountsApart) {
  ServerOptions unlimited = options_;
  unlimited.loginFailuresPerMinute = 0;
  Restart(unlimited);
  const int kIterations = 200000;  // about 0.2 s a check
  store_->SetPasswordIterations(kIterations);
  std::string error;
  ASSERT_TRUE(store_->AddAccount("strong", "pw", 0, &error));
  AddOldAccount("olga", "pw");
  auto cost = [&](const std::string& user) {
    timespec a, b;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    EXPECT_EQ(LogInText(user, "wrong"), kWrongAnswer) << user;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    return (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
  };
  // The least of three rounds, the kinds taken in turn.
  const std::vector<std::string> users = {"strong", "alice", "olga", "nobody"};
  std::map<std::string, double> least;
  for (int round = 0; round < 3; ++round)
    for (const std::string& user : users) {
      double c = cost(user);
      least[user] = round == 0 ? c : std::min(least[user], c);
    }
  std::printf(
      "wrong login costs: %.3f s current hash, %.3f s weaker hash, %.3f s old hash, "
      "%.3f s unknown name\n",
      least["strong"], least["alice"], least["olga"], least["nobody"]);
  for (const char* user : {"alice", "olga", "nobody"})
    EXPECT_GT(least[user], least["strong"] / 2) << user;

  ServerOptions limited = options_;
  limited.loginFailuresPerMinute = 1;
  Restart(limited);
  store_->SetPasswordIterations(kIterations);
  EXPECT_EQ(LogInText("strong", "wrong"), kWrongAnswer);
  EXPECT_EQ(LogInText("ghost", "wrong"), kWrongAnswer);
  // Both the account and the address are now past their limits.
  for (const char* user : {"strong", "ghost"}) EXPECT_LT(cost(user), least["strong"] / 4) << user;
}

}  // namespace
