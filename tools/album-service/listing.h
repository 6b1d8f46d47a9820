// Machine-readable listings of the stored accounts, albums and media, shared
// by the management commands and the test endpoints.
#pragma once

#include <string>
#include <vector>

#include "tools/album-service/album_store.h"

namespace albumsvc {

// TSV: one header line, then one line per record. Backslash, tab, CR and LF
// inside a value are written as \\, \t, \r and \n; other bytes are unchanged.
std::string AlbumsTsv(const std::vector<Album>& albums);
std::string MediaTsv(const std::vector<Media>& media);
std::string AccountsTsv(const std::vector<Account>& accounts);

// JSON arrays of objects. Text that is not valid UTF-8 (file names in a file
// part arrive in the sender's code page) is written byte by byte as \u00XX.
std::string AlbumsJson(const std::vector<Album>& albums);
std::string MediaJson(const std::vector<Media>& media);
std::string AccountsJson(const std::vector<Account>& accounts);

std::string TsvEscape(const std::string& value);
std::string JsonString(const std::string& value);

}  // namespace albumsvc
