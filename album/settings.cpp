#include "album/settings.h"

#include "album/text.h"

namespace zenfo {

namespace {
int SideOf(SizeChoice choice, int small, int medium, int large) {
    switch (choice) {
        case SizeChoice::Small:
            return small;
        case SizeChoice::Medium:
            return medium;
        case SizeChoice::Large:
            return large;
    }
    return large;
}
}  // namespace

int ThumbSide(const AlbumSettings& settings) {
    return SideOf(settings.ThumbSize, 64, 80, 128);
}
int BodySide(const AlbumSettings& settings) {
    return SideOf(settings.BodySize, 320, 512, 800);
}

std::vector<std::string> SplitDescription(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (true) {
        std::size_t end = text.find_first_of("\r\n", start);
        std::string_view line = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (end == std::string_view::npos) {
            // The part after the last break is a line unless it is empty.
            if (!line.empty()) lines.push_back(CutToCp932Bytes(line, kMaxDescriptionLineBytes));
            break;
        }
        lines.push_back(CutToCp932Bytes(line, kMaxDescriptionLineBytes));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

}  // namespace zenfo
