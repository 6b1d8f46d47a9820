#include "tools/album-service/password_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <cstdio>
#include <vector>

namespace albumsvc {

namespace {

const char kPrefix[] = "pbkdf2-sha256$";
const size_t kSaltBytes = 16;
const size_t kHashBytes = 32;

std::string ToHex(const unsigned char* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromHex(const std::string& hex, std::vector<unsigned char>* out) {
  if (hex.size() % 2) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<unsigned char>(hi * 16 + lo));
  }
  return true;
}

bool Pbkdf2(const std::string& password, const std::vector<unsigned char>& salt, int iterations,
            unsigned char* out) {
  return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                           static_cast<int>(salt.size()), iterations, EVP_sha256(),
                           static_cast<int>(kHashBytes), out) == 1;
}

bool SameBytes(const unsigned char* a, const std::vector<unsigned char>& b) {
  return b.size() == kHashBytes && CRYPTO_memcmp(a, b.data(), kHashBytes) == 0;
}

}  // namespace

std::string RandomHex(size_t bytes) {
  std::vector<unsigned char> buf(bytes);
  // Session keys and salts must not be guessable; without randomness the
  // service cannot run safely at all.
  if (RAND_bytes(buf.data(), static_cast<int>(bytes)) != 1) {
    std::fputs("album-service: no random numbers from OpenSSL\n", stderr);
    std::abort();
  }
  return ToHex(buf.data(), bytes);
}

std::string HashPassword(const std::string& password, int iterations) {
  std::vector<unsigned char> salt;
  FromHex(RandomHex(kSaltBytes), &salt);
  unsigned char hash[kHashBytes];
  if (!Pbkdf2(password, salt, iterations, hash)) return std::string();
  return kPrefix + std::to_string(iterations) + "$" + ToHex(salt.data(), salt.size()) + "$" +
         ToHex(hash, kHashBytes);
}

namespace {

PasswordCheck Check(const std::string& stored, const std::string& legacySalt,
                    const std::string& password, int wantIterations, int* spent) {
  unsigned char hash[kHashBytes];
  std::vector<unsigned char> expected;
  if (stored.compare(0, sizeof kPrefix - 1, kPrefix) == 0) {
    size_t a = sizeof kPrefix - 1;
    size_t b = stored.find('$', a);
    size_t c = b == std::string::npos ? b : stored.find('$', b + 1);
    if (c == std::string::npos || b == a || b - a > 8) return PasswordWrong;
    int iterations = std::atoi(stored.substr(a, b - a).c_str());
    std::vector<unsigned char> salt;
    if (iterations < kMinPasswordIterations || iterations > kMaxPasswordIterations ||
        !FromHex(stored.substr(b + 1, c - b - 1), &salt) || salt.empty() ||
        !FromHex(stored.substr(c + 1), &expected) || !Pbkdf2(password, salt, iterations, hash))
      return PasswordWrong;
    *spent = iterations;
    if (!SameBytes(hash, expected)) return PasswordWrong;
    return iterations < wantIterations ? PasswordOkRehash : PasswordOk;
  }
  // Older data folders: hex SHA-256 of the salt column followed by the password.
  if (!FromHex(stored, &expected)) return PasswordWrong;
  std::string salted = legacySalt + password;
  unsigned int n = 0;
  if (EVP_Digest(salted.data(), salted.size(), hash, &n, EVP_sha256(), nullptr) != 1 ||
      n != kHashBytes || !SameBytes(hash, expected))
    return PasswordWrong;
  return PasswordOkRehash;
}

}  // namespace

PasswordCheck CheckPassword(const std::string& stored, const std::string& legacySalt,
                            const std::string& password, int wantIterations) {
  int spent = 0;
  PasswordCheck result = Check(stored, legacySalt, password, wantIterations, &spent);
  // Every check costs at least what a current hash costs: how long an answer
  // takes must not tell an old, weak, damaged or missing record from a good one.
  if (spent < wantIterations) {
    static const std::vector<unsigned char> kPadSalt(kSaltBytes, 0x5a);
    unsigned char pad[kHashBytes];
    Pbkdf2(password, kPadSalt, wantIterations - spent, pad);
  }
  return result;
}

}  // namespace albumsvc
