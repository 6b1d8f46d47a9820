#include "tools/album-service/gallery.h"

#include <map>

namespace albumsvc {

namespace {

const char kStyle[] =
    "<style>body{font-family:sans-serif;margin:2em;background:#f6f6f2;color:#222}"
    "h1{margin-bottom:0.2em}nav a{margin-right:1em}section{margin:1.5em 0}"
    ".grid{display:flex;flex-wrap:wrap;gap:1em}"
    ".card{background:#fff;border:1px solid #ccc;border-radius:6px;padding:0.6em;width:220px}"
    ".card img{max-width:220px;max-height:160px;display:block;margin-bottom:0.4em}"
    ".tags{color:#686;font-size:0.9em}.desc{font-size:0.9em}.empty{color:#888}"
    ".kind{display:block;height:120px;line-height:120px;text-align:center;background:#ddd;"
    "margin-bottom:0.4em}</style>";

bool LooksLikeType(const std::string& t) {
  size_t slash = t.find('/');
  return slash != std::string::npos && slash > 0 && slash + 1 < t.size() &&
         t.find_first_of(" \t\r\n;\"") == std::string::npos;
}

std::string Card(const Media& m) {
  std::string type = MediaContentType(m);
  std::string href = "/media/" + std::to_string(m.id);
  std::string out = "<div class=\"card\">";
  if (type.compare(0, 6, "image/") == 0)
    out += "<a href=\"" + href + "\"><img src=\"" + href + "\" alt=\"" + HtmlEscape(m.filename) +
           "\"></a>";
  else
    out += "<a class=\"kind\" href=\"" + href + "\">" + HtmlEscape(type) + "</a>";
  out += "<b class=\"name\">" + HtmlEscape(m.filename) + "</b>";
  if (!m.keyword.empty()) out += "<div class=\"tags\">Tags: " + HtmlEscape(m.keyword) + "</div>";
  if (!m.desc.empty()) out += "<div class=\"desc\">" + HtmlEscape(m.desc) + "</div>";
  out += "<div class=\"tags\">" + std::to_string(m.size) + " bytes</div></div>";
  return out;
}

std::string Section(const std::string& title, const std::vector<const Media*>& items) {
  std::string out = "<section><h2>" + title + "</h2>";
  if (items.empty()) out += "<p class=\"empty\">No pictures yet.</p>";
  out += "<div class=\"grid\">";
  for (const Media* m : items) out += Card(*m);
  return out + "</div></section>";
}

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
         "</title>" + kStyle + "</head><body><h1>" + HtmlEscape(title) +
         "</h1><nav><a href=\"/\">Gallery</a><a "
         "href=\"/contact.php?Subject=pcuploader&amp;Path=contact\">Contact</a></nav>" +
         body + "</body></html>\n";
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string MediaContentType(const Media& media) {
  if (LooksLikeType(media.mimeType) && media.mimeType != "unknown/*") return media.mimeType;
  if (LooksLikeType(media.partType) && media.partType != "unknown/*") return media.partType;
  return "application/octet-stream";
}

std::string RenderGallery(const std::vector<Album>& albums, const std::vector<Media>& media) {
  std::map<int64_t, std::vector<const Media*>> byAlbum;
  for (const Media& m : media) byAlbum[m.dirId].push_back(&m);
  std::string body = "<p>" + std::to_string(albums.size()) + " album(s), " +
                     std::to_string(media.size()) + " file(s).</p>";
  for (const Album& a : albums)
    body += Section(HtmlEscape(a.name) + " <small>(" + HtmlEscape(a.account) + ")</small>",
                    byAlbum[a.id]);
  body += Section("Public inbox", byAlbum[0]);
  return Page("quib album service", body);
}

std::string RenderContact(const std::string& subject, const std::string& path) {
  std::string body =
      "<section><h2>Contact</h2><p>Questions about the album service or the uploader? "
      "Write to the operator of this service.</p>"
      "<p>Subject: <b class=\"subject\">" +
      HtmlEscape(subject) + "</b><br>Page: " + HtmlEscape(path) +
      "</p>"
      "<form method=\"get\" action=\"/contact.php\"><input type=\"hidden\" name=\"Subject\" "
      "value=\"" +
      HtmlEscape(subject) +
      "\"><textarea rows=\"6\" cols=\"60\" "
      "placeholder=\"Your message\"></textarea></form></section>";
  return Page("Contact - quib album service", body);
}

}  // namespace albumsvc
