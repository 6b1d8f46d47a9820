// A picture's pixel size read from the head of its file, without decoding
// it: the frame header of a JPEG (turned by its EXIF orientation), the
// header of a PNG or a BMP. Lets the shrink rule and the dialogs know the
// size of a camera picture long before its thumbnail is made. Portable.
#pragma once

#include <string>

namespace quib {

// Width and height of the picture as shown upright. False when the bytes
// are of another format, too short, or the header is damaged; the caller
// then asks the imaging library.
bool ReadPictureSize(const std::string& head, int& width, int& height);

}  // namespace quib
