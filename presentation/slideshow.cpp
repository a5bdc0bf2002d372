#include "presentation/slideshow.h"

#include <limits>

namespace zenfo {

void StartSlideshow(SlideshowState& state) {
    state.Active = true;
}

void SlideshowStep(SlideshowState& state, Browser& browser, const std::string& photoFolder) {
    if (!state.Active) return;
    if (state.Position < std::numeric_limits<std::int32_t>::max()) ++state.Position;
    // A copy: the navigation must not depend on the table staying untouched meanwhile.
    const std::string entry = state.Entry(state.Position);
    if (!entry.empty()) {
        OpenInBrowser(browser, photoFolder + entry);
        return;
    }
    OpenInBrowser(browser, photoFolder + "index.html");
    state.Active = false;
}

}  // namespace zenfo
