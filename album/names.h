// Output file names of a photo, all bare names inside the photo folder.
#pragma once

#include <string>
#include <string_view>

namespace zenfo {

// NamePrefix followed by the photo number, zero-filled to at least four digits.
std::string PhotoStem(std::string_view namePrefix, int photoNumber);

// stem with ext put on: a "." after the stem's last "/", "\" or ":" cuts the stem there.
std::string WithExtension(std::string_view stem, std::string_view ext);

// "zenfo-s-" + stem with ".jpg".
std::string ThumbFileName(std::string_view stem);
// "zenfo-" + stem with ".jpg".
std::string BodyFileName(std::string_view stem);
// "zenfo-" + stem with ".html".
std::string PageFileName(std::string_view stem);

}  // namespace zenfo
