#include "tools/album-service/listing.h"

#include <cstdio>

namespace albumsvc {

std::string TsvEscape(const std::string& value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string JsonString(const std::string& value) {
  bool utf8 = IsValidUtf8(value);
  std::string out = "\"";
  for (char ch : value) {
    unsigned char c = static_cast<unsigned char>(ch);
    char buf[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || (c >= 0x80 && !utf8)) {
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

namespace {

std::string Num(int64_t v) {
  return std::to_string(v);
}

template <typename T, typename F>
std::string JsonArray(const std::vector<T>& items, F fields) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    std::vector<std::pair<std::string, std::string>> kv = fields(items[i]);
    out += i ? ",\n {" : "\n {";
    for (size_t k = 0; k < kv.size(); ++k)
      out += (k ? ", " : "") + JsonString(kv[k].first) + ": " + kv[k].second;
    out += "}";
  }
  return out + (items.empty() ? "]\n" : "\n]\n");
}

}  // namespace

std::string AlbumsTsv(const std::vector<Album>& albums) {
  std::string out = "id\taccount\tname\tmedia_count\n";
  for (const Album& a : albums)
    out += Num(a.id) + "\t" + TsvEscape(a.account) + "\t" + TsvEscape(a.name) + "\t" +
           Num(a.mediaCount) + "\n";
  return out;
}

std::string MediaTsv(const std::vector<Media>& media) {
  std::string out =
      "id\taccount\tdir_id\tfilename\tkeyword\tdesc\tmime_type\tpart_name\tpart_type\tsize\t"
      "sha256\tpath\tcreated\n";
  for (const Media& m : media)
    out += Num(m.id) + "\t" + TsvEscape(m.account) + "\t" + Num(m.dirId) + "\t" +
           TsvEscape(m.filename) + "\t" + TsvEscape(m.keyword) + "\t" + TsvEscape(m.desc) + "\t" +
           TsvEscape(m.mimeType) + "\t" + TsvEscape(m.partName) + "\t" + TsvEscape(m.partType) +
           "\t" + Num(m.size) + "\t" + m.sha256 + "\t" + TsvEscape(m.path) + "\t" + Num(m.created) +
           "\n";
  return out;
}

std::string AccountsTsv(const std::vector<Account>& accounts) {
  std::string out = "id\tname\tquota\tused\n";
  for (const Account& a : accounts)
    out += Num(a.id) + "\t" + TsvEscape(a.name) + "\t" + Num(a.quota) + "\t" + Num(a.used) + "\n";
  return out;
}

std::string AlbumsJson(const std::vector<Album>& albums) {
  return JsonArray(albums, [](const Album& a) {
    return std::vector<std::pair<std::string, std::string>>{{"id", Num(a.id)},
                                                            {"account", JsonString(a.account)},
                                                            {"name", JsonString(a.name)},
                                                            {"media_count", Num(a.mediaCount)}};
  });
}

std::string MediaJson(const std::vector<Media>& media) {
  return JsonArray(media, [](const Media& m) {
    return std::vector<std::pair<std::string, std::string>>{{"id", Num(m.id)},
                                                            {"account", JsonString(m.account)},
                                                            {"dir_id", Num(m.dirId)},
                                                            {"filename", JsonString(m.filename)},
                                                            {"keyword", JsonString(m.keyword)},
                                                            {"desc", JsonString(m.desc)},
                                                            {"mime_type", JsonString(m.mimeType)},
                                                            {"part_name", JsonString(m.partName)},
                                                            {"part_type", JsonString(m.partType)},
                                                            {"size", Num(m.size)},
                                                            {"sha256", JsonString(m.sha256)},
                                                            {"path", JsonString(m.path)},
                                                            {"created", Num(m.created)}};
  });
}

std::string AccountsJson(const std::vector<Account>& accounts) {
  return JsonArray(accounts, [](const Account& a) {
    return std::vector<std::pair<std::string, std::string>>{{"id", Num(a.id)},
                                                            {"name", JsonString(a.name)},
                                                            {"quota", Num(a.quota)},
                                                            {"used", Num(a.used)}};
  });
}

}  // namespace albumsvc
