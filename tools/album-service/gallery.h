// Plain server-rendered pages: the login form, the gallery, album pages and
// the contact page. The pages carry no script at all; their style sheet is
// served from /style.css so that the page policy can forbid inline code.
#pragma once

#include <string>
#include <vector>

#include "tools/album-service/album_store.h"

namespace albumsvc {

// Sent with every page: nothing but our own pictures, movies, sounds and
// style sheet, no script, no frames, forms only to us.
extern const char kPagePolicy[];
// Sent with every stored file: a file shown on its own runs nothing.
extern const char kMediaPolicy[];
extern const char kStyleSheet[];

// Who looks: the account logged in (empty in an open gallery).
struct PageViewer {
  std::string account;
  bool publicGallery = false;
};

std::string HtmlEscape(const std::string& text);
std::string RenderLogin(const std::string& message);
std::string RenderGallery(const PageViewer& viewer, const std::vector<Album>& albums,
                          const std::vector<Media>& media);
// albumId 0: the public inbox.
std::string RenderAlbum(const PageViewer& viewer, int64_t albumId, const std::string& title,
                        const std::vector<Media>& media);
std::string RenderNotFound(const PageViewer& viewer);
std::string RenderContact(const std::string& subject, const std::string& path);
// The type a stored file is served with: the one decided from its bytes.
std::string MediaContentType(const Media& media);

}  // namespace albumsvc
