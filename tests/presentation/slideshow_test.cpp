#include "presentation/slideshow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "presentation/fake_browser.h"

namespace zenfo {
namespace {

const std::string kFolder = "/photos/";
const std::string kIndex = "/photos/index.html";

// What one tick does: the navigation it makes ("" for none) and whether that navigation fails.
struct Tick {
    std::string navigation;
    bool fails = false;
};

struct Case {
    const char* name;
    std::vector<std::string> pages;
    bool started;
    std::int32_t position;
    std::map<std::string, int> failures;
    std::vector<Tick> ticks;
    std::int32_t finalPosition;
    bool finalActive;
};

TEST(SlideshowStep, FollowsThePagesThenTheIndexThenStops) {
    const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::vector<Case> cases = {
        {"three pages, then the index, then nothing",
         {"zenfo-p0000.html", "zenfo-p0001.html", "zenfo-p0002.html"},
         true,
         0,
         {},
         {{"/photos/zenfo-p0000.html"},
          {"/photos/zenfo-p0001.html"},
          {"/photos/zenfo-p0002.html"},
          {kIndex},
          {""},
          {""}},
         4,
         false},
        {"a run without pages shows the index on the first tick",
         {},
         true,
         0,
         {},
         {{kIndex}, {""}},
         1,
         false},
        {"an inactive tick changes nothing",
         {"zenfo-p0000.html"},
         false,
         3,
         {},
         {{""}, {""}},
         3,
         false},
        {"a failing page costs only that page",
         {"a.html", "b.html", "c.html"},
         true,
         0,
         {{"/photos/b.html", 1}},
         {{"/photos/a.html"}, {"/photos/b.html", true}, {"/photos/c.html"}, {kIndex}, {""}},
         4,
         false},
        {"a failing index keeps the slideshow running and is tried again on every tick",
         {"a.html"},
         true,
         0,
         {{kIndex, 2}},
         {{"/photos/a.html"}, {kIndex, true}, {kIndex, true}, {kIndex}, {""}},
         4,
         false},
        {"the position stops at the largest value instead of overflowing",
         {"a.html"},
         true,
         kMax - 1,
         {{kIndex, 2}},
         {{kIndex, true}, {kIndex, true}, {kIndex}, {""}},
         kMax,
         false},
        {"a position below the table shows the index",
         {"a.html"},
         true,
         -5,
         {},
         {{kIndex}, {""}},
         -4,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SlideshowState state;
        state.Pages = c.pages;
        state.Position = c.position;
        if (c.started) StartSlideshow(state);
        test::FakeBrowser browser;
        browser.Failures = c.failures;
        for (std::size_t i = 0; i < c.ticks.size(); ++i) {
            SCOPED_TRACE("tick " + std::to_string(i + 1));
            const std::size_t before = browser.Navigations.size();
            const std::int32_t positionBefore = state.Position;
            if (c.ticks[i].fails) {
                EXPECT_THROW(SlideshowStep(state, browser, kFolder), BrowserError);
                // The position moved before the failure, and only the end's success stops.
                EXPECT_TRUE(state.Active);
                EXPECT_EQ(state.Position, positionBefore == kMax ? kMax : positionBefore + 1);
            } else {
                SlideshowStep(state, browser, kFolder);
            }
            if (c.ticks[i].navigation.empty()) {
                EXPECT_EQ(browser.Navigations.size(), before);
            } else {
                ASSERT_EQ(browser.Navigations.size(), before + 1);
                EXPECT_EQ(browser.Navigations.back(), c.ticks[i].navigation);
            }
        }
        EXPECT_EQ(state.Position, c.finalPosition);
        EXPECT_EQ(state.Active, c.finalActive);
        EXPECT_EQ(state.Pages, c.pages);
    }
}

TEST(SlideshowStep, RunDuringTheSlideshowRestartsItAtTheFirstPageOfTheNewRun) {
    SlideshowState state;
    state.Pages = {"a.html", "b.html", "c.html"};
    StartSlideshow(state);
    test::FakeBrowser browser;
    SlideshowStep(state, browser, "/old/");
    SlideshowStep(state, browser, "/old/");
    // A new run in another folder: the table is replaced and the position reset; the slideshow
    // keeps running.
    state.Pages = {"x.html", "y.html"};
    state.Position = 0;
    for (int i = 0; i < 4; ++i) SlideshowStep(state, browser, "/new/");
    EXPECT_EQ(browser.Navigations,
              (std::vector<std::string>{"/old/a.html", "/old/b.html", "/new/x.html", "/new/y.html",
                                        "/new/index.html"}));
    EXPECT_FALSE(state.Active);
}

TEST(StartSlideshow, OnlyMarksTheSlideshowActive) {
    SlideshowState state;
    state.Pages = {"a.html"};
    state.Position = 7;
    StartSlideshow(state);
    EXPECT_TRUE(state.Active);
    EXPECT_EQ(state.Position, 7);
    StartSlideshow(state);
    EXPECT_TRUE(state.Active);
    EXPECT_EQ(state.Position, 7);
}

}  // namespace
}  // namespace zenfo
