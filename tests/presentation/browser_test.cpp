#include "presentation/browser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "presentation/fake_browser.h"

namespace zenfo {
namespace {

TEST(OpenIndexPage, NavigatesTwiceToTheIndexAndStopsAtTheFirstFailure) {
    test::FakeBrowser browser;
    OpenIndexPage(browser, "/photos/");
    EXPECT_EQ(browser.Navigations,
              (std::vector<std::string>{"/photos/index.html", "/photos/index.html"}));

    test::FakeBrowser failing;
    failing.Failures["/photos/index.html"] = 1;
    EXPECT_THROW(OpenIndexPage(failing, "/photos/"), BrowserError);
    EXPECT_EQ(failing.Navigations, (std::vector<std::string>{"/photos/index.html"}));
}

TEST(FileUrl, EncodesEveryByteThatCouldChangeWhichFileIsMeant) {
    struct Case {
        std::string path;
        std::string url;
    };
    const std::vector<Case> cases = {
        {"/photos/index.html", "file:///photos/index.html"},
        {"/a b/#1?x=%.html", "file:///a%20b/%231%3Fx%3D%25.html"},
        {"/写真/海.html", "file:///%E5%86%99%E7%9C%9F/%E6%B5%B7.html"},
        {"/old/\x8a\x43.html", "file:///old/%8AC.html"},  // Shift-JIS bytes on disk
        {"/q/\"<>&';\\\n.html", "file:///q/%22%3C%3E%26%27%3B%5C%0A.html"},
        {"/keep/A-z_0.9~/", "file:///keep/A-z_0.9~/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileUrl(c.path), c.url) << c.path;
    }
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(FileUrl("rel.html"), FileUrl(std::string(cwd) + "/rel.html"));
}

}  // namespace
}  // namespace zenfo
