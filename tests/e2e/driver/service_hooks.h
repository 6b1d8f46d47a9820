// The album service's test hooks, as the end-to-end tests call them: plain
// GETs that create accounts, set limits and list what the service stored
// (TSV with a header line).
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace e2e {

// An environment variable's value; empty when it is not set.
std::string EnvVar(const char* name);

// The album service of scripts/test.d/20-upload-service.sh (empty when the
// tests run without it).
std::string UploadServiceUrl();

// GET of a URL: the body (also of an error answer), empty when it fails.
// *ok tells whether the answer was 200.
std::string HttpGet(const std::string& url, bool* ok = nullptr);
// GET of a test hook ("/test/...") of the upload service.
std::string HookGet(const std::string& pathAndQuery, bool* ok = nullptr);

// Rows of a TSV listing as column name -> value.
using TsvRow = std::map<std::string, std::string>;
std::vector<TsvRow> Tsv(const std::string& text);

// Percent-encoding of a query value.
std::string UrlEncode(const std::string& text);

// A new account of the upload service, unique for this run (and for later
// runs in a kept Wine prefix); quota in bytes, or the service's default when
// empty. Empty on failure.
std::string NewAccount(const std::string& stem, const std::string& password,
                       const std::string& quota = std::string());
// The account's albums and its stored media, oldest first.
std::vector<TsvRow> StoredAlbums(const std::string& account);
std::vector<TsvRow> StoredMedia(const std::string& account);

}  // namespace e2e
