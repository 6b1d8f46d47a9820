// Texts of the media details dialog that do not need a window: the summary
// painted beside the thumbnail and the tags appended to the other items.
#pragma once

#include <string>

namespace quib {

// "name\n<size/1024> kb\n<w>x<h> pix\nUpload as: <type>" for a picture; movies
// and audio files have no dimensions line. A size of -1 (file gone) reads as
// 0 kb, since the division truncates toward zero.
std::string MediaSummary(const std::string& name, int fileSize, bool isPicture, int width,
                         int height, const std::string& mimeType);

// The tags of another item after the typed tags were added to it: its own,
// one blank, the typed ones, with blanks, tabs and line breaks trimmed from
// both ends.
std::string AppendTags(const std::string& existing, const std::string& typed);

}  // namespace quib
