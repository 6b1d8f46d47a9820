// Plain server-rendered pages: the gallery at "/" and the contact page.
#pragma once

#include <string>
#include <vector>

#include "tools/album-service/album_store.h"

namespace albumsvc {

std::string HtmlEscape(const std::string& text);
std::string RenderGallery(const std::vector<Album>& albums, const std::vector<Media>& media);
std::string RenderContact(const std::string& subject, const std::string& path);
// The type a stored file is served with: the sender's "MimeType" when it
// looks like a media type, else that of the file part, else octet-stream.
std::string MediaContentType(const Media& media);

}  // namespace albumsvc
