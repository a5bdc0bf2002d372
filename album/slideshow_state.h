// The slideshow's table and position: the album run fills the table, the slideshow reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zenfo {

struct SlideshowState {
    // Page names of the latest run; entry k (counting from 1) is Pages[k - 1], and every entry
    // past the end is empty.
    std::vector<std::string> Pages;
    // The entry the slideshow read last; 0 before the first step and after every run's start.
    std::int32_t Position = 0;
    // Whether a slideshow is running.
    bool Active = false;

    // Entry k, or an empty string past the end or below 1.
    const std::string& Entry(std::int64_t k) const;
};

// The process-wide slideshow state shared by the window's run, its timer and zenfo-make.
SlideshowState& ProcessSlideshow();

}  // namespace zenfo
