// Stored password hashes: PBKDF2-HMAC-SHA256 with a random salt, and the
// single salted SHA-256 of older data folders, which still verifies so that
// those accounts can log in once and be rehashed.
#pragma once

#include <string>

namespace albumsvc {

// Iterations for new hashes unless the service is told otherwise.
const int kDefaultPasswordIterations = 600000;
// Stored counts outside this range are treated as damaged records.
const int kMinPasswordIterations = 1000;
const int kMaxPasswordIterations = 10000000;

// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>" with a 16-byte salt.
std::string HashPassword(const std::string& password, int iterations);

enum PasswordCheck { PasswordWrong, PasswordOk, PasswordOkRehash };

// Checks a password against a stored hash in constant time. legacySalt is
// the separate salt column that old hashes (hex SHA-256 of salt + password)
// use. An old hash, or fewer iterations than wanted, asks for a rehash.
// Every check, also of an empty or damaged record (an unknown name), costs
// at least wantIterations.
PasswordCheck CheckPassword(const std::string& stored, const std::string& legacySalt,
                            const std::string& password, int wantIterations);

// Random bytes from OpenSSL as lower-case hex.
std::string RandomHex(size_t bytes);

}  // namespace albumsvc
