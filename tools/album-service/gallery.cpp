#include "tools/album-service/gallery.h"

#include <map>

namespace albumsvc {

const char kPagePolicy[] =
    "default-src 'none'; img-src 'self'; media-src 'self'; style-src 'self'; "
    "form-action 'self'; frame-ancestors 'none'; base-uri 'none'";
const char kMediaPolicy[] = "default-src 'none'; img-src 'self'; media-src 'self'; sandbox";

const char kStyleSheet[] =
    "body{font-family:sans-serif;margin:2em;background:#f6f6f2;color:#222}\n"
    "h1{margin-bottom:0.2em}nav{display:flex;gap:1em;align-items:center}\n"
    "nav{margin-bottom:1em}nav form{margin:0}section{margin:1.5em 0}h2 a{color:inherit}\n"
    ".grid{display:flex;flex-wrap:wrap;gap:1em}\n"
    ".card{background:#fff;border:1px solid #ccc;border-radius:6px;padding:0.6em;width:220px}\n"
    ".card img,.card video{max-width:220px;max-height:160px;display:block;margin-bottom:0.4em}\n"
    ".card audio{width:220px;margin-bottom:0.4em}\n"
    ".album .card{width:480px}.album .card img,.album .card video{max-width:480px;"
    "max-height:360px}.album .card audio{width:480px}\n"
    ".tags{color:#686;font-size:0.9em}.desc{font-size:0.9em}.empty{color:#888}\n"
    ".kind{display:block;height:120px;line-height:120px;text-align:center;background:#ddd;"
    "margin-bottom:0.4em}\n"
    ".login{background:#fff;border:1px solid #ccc;border-radius:6px;padding:1.2em;"
    "max-width:320px}.login label{display:block;margin:0.6em 0 0.2em}\n"
    ".login input{width:100%;box-sizing:border-box;padding:0.3em}"
    ".login button{margin-top:1em;padding:0.4em 1.2em}.error{color:#b00020}\n";

namespace {

std::string Card(const Media& m) {
  std::string type = MediaContentType(m);
  std::string href = "/media/" + std::to_string(m.id);
  std::string name = HtmlEscape(m.filename);
  std::string out = "<div class=\"card\">";
  if (type.compare(0, 6, "image/") == 0)
    out += "<a href=\"" + href + "\"><img src=\"" + href + "\" alt=\"" + name + "\"></a>";
  else if (type.compare(0, 6, "video/") == 0)
    out +=
        "<video controls preload=\"metadata\" src=\"" + href + "\" title=\"" + name + "\"></video>";
  else if (type.compare(0, 6, "audio/") == 0)
    out += "<audio controls preload=\"none\" src=\"" + href + "\" title=\"" + name + "\"></audio>";
  else
    out += "<a class=\"kind\" href=\"" + href + "\">" + HtmlEscape(type) + "</a>";
  out += "<b class=\"name\">" + name + "</b>";
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

std::string Nav(const PageViewer& viewer) {
  std::string out =
      "<nav><a href=\"/\">Gallery</a><a "
      "href=\"/contact.php?Subject=pcuploader&amp;Path=contact\">Contact</a>";
  if (!viewer.account.empty())
    out += "<span class=\"who\">Logged in as <b>" + HtmlEscape(viewer.account) +
           "</b></span><form method=\"post\" action=\"/logout\"><button type=\"submit\" "
           "id=\"logout\">Log out</button></form>";
  return out + "</nav>";
}

std::string Page(const std::string& title, const std::string& nav, const std::string& body) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
         "</title><link rel=\"stylesheet\" href=\"/style.css\"></head><body><h1>" +
         HtmlEscape(title) + "</h1>" + nav + body + "</body></html>\n";
}

std::string AlbumLink(int64_t id, const std::string& text) {
  return "<a href=\"/album/" + std::to_string(id) + "\">" + text + "</a>";
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
  return media.contentType.empty() ? "application/octet-stream" : media.contentType;
}

std::string RenderLogin(const std::string& message) {
  std::string body = "<form class=\"login\" method=\"post\" action=\"/login\">";
  if (!message.empty()) body += "<p class=\"error\">" + HtmlEscape(message) + "</p>";
  body +=
      "<label for=\"username\">User name</label><input id=\"username\" name=\"username\" "
      "autocomplete=\"username\" required autofocus><label for=\"password\">Password</label>"
      "<input id=\"password\" name=\"password\" type=\"password\" "
      "autocomplete=\"current-password\" required><button type=\"submit\" id=\"login\">Log "
      "in</button></form>";
  return Page("quib album service", Nav(PageViewer()), body);
}

std::string RenderGallery(const PageViewer& viewer, const std::vector<Album>& albums,
                          const std::vector<Media>& media) {
  std::map<int64_t, std::vector<const Media*>> byAlbum;
  for (const Media& m : media) byAlbum[m.dirId].push_back(&m);
  std::string body = "<p>" + std::to_string(albums.size()) + " album(s), " +
                     std::to_string(media.size()) + " file(s).</p>";
  for (const Album& a : albums) {
    std::string title = AlbumLink(a.id, HtmlEscape(a.name));
    if (viewer.publicGallery) title += " <small>(" + HtmlEscape(a.account) + ")</small>";
    body += Section(title, byAlbum[a.id]);
  }
  body += Section(AlbumLink(0, "Public inbox"), byAlbum[0]);
  return Page("quib album service", Nav(viewer), body);
}

std::string RenderAlbum(const PageViewer& viewer, int64_t albumId, const std::string& title,
                        const std::vector<Media>& media) {
  std::vector<const Media*> items;
  for (const Media& m : media)
    if (m.dirId == albumId) items.push_back(&m);
  std::string body = "<div class=\"album\">" + Section(HtmlEscape(title), items) + "</div>";
  return Page(title + " - quib album service", Nav(viewer), body);
}

std::string RenderNotFound(const PageViewer& viewer) {
  return Page("Not found", Nav(viewer), "<p>There is no such album or file.</p>");
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
  return Page("Contact - quib album service", Nav(PageViewer()), body);
}

}  // namespace albumsvc
