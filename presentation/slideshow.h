// The slideshow: one photo page per timer tick in the browser window, then the index page.
#pragma once

#include <string>

#include "album/slideshow_state.h"
#include "presentation/browser.h"

namespace zenfo {

// Marks the slideshow as running and does nothing else; the next step shows the next page.
void StartSlideshow(SlideshowState& state);

// One timer tick. Does nothing unless the slideshow is running. Otherwise advances the position
// first, then makes exactly one navigation: photoFolder + the entry at the new position, or, when
// that entry is empty, photoFolder + "index.html", after which (once that navigation has
// returned) the slideshow stops. A failed navigation leaves with the position already advanced,
// so a failed page is not retried and a failed index is tried again on the next tick. The
// position stops at the largest 32-bit value instead of overflowing; every entry there is empty.
void SlideshowStep(SlideshowState& state, Browser& browser, const std::string& photoFolder);

}  // namespace zenfo
