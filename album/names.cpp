#include "album/names.h"

#include <cstdio>

namespace zenfo {

std::string PhotoStem(std::string_view namePrefix, int photoNumber) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", photoNumber);
    return std::string(namePrefix) + digits;
}

std::string WithExtension(std::string_view stem, std::string_view ext) {
    // No byte of a multi-byte UTF-8 character is ASCII, so a plain byte search never finds a
    // separator inside a character.
    std::size_t last = stem.find_last_of("./\\:");
    std::string out(stem);
    if (last != std::string_view::npos && stem[last] == '.') out.resize(last);
    out += ext;
    return out;
}

std::string ThumbFileName(std::string_view stem) {
    return WithExtension("zenfo-s-" + std::string(stem), ".jpg");
}

std::string BodyFileName(std::string_view stem) {
    return WithExtension("zenfo-" + std::string(stem), ".jpg");
}

std::string PageFileName(std::string_view stem) {
    return WithExtension("zenfo-" + std::string(stem), ".html");
}

}  // namespace zenfo
