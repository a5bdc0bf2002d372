#include "album/slideshow_state.h"

namespace zenfo {

const std::string& SlideshowState::Entry(std::int64_t k) const {
    static const std::string kEmpty;
    if (k < 1 || k > static_cast<std::int64_t>(Pages.size())) return kEmpty;
    return Pages[static_cast<std::size_t>(k - 1)];
}

SlideshowState& ProcessSlideshow() {
    static SlideshowState state;
    return state;
}

}  // namespace zenfo
