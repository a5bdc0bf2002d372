// An album made by zenfo-make, loaded in a real headless Chromium: every picture loads and every
// link reaches a file, whatever characters the photos' names hold.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "../album/test_util.h"
#include "album/picture.h"
#include "cli/zenfo_make.h"
#include "presentation/chromium_browser.h"

namespace zenfo {
namespace {

using test::TempDir;

std::string PercentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool FileExists(const std::string& fileUrl) {
    const std::string scheme = "file://";
    if (fileUrl.rfind(scheme, 0) != 0) return false;
    std::string path = PercentDecode(fileUrl.substr(scheme.size()));
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Headless browser for the test; killed at the end.
class TestBrowser {
  public:
    explicit TestBrowser(const std::string& profileRoot) : browser_(Options(profileRoot)) {}
    ~TestBrowser() {
        if (pid_t pid = browser_.ProcessId()) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Shows path and returns what the loaded page holds: its images and its links.
    nlohmann::json Load(const std::string& path) {
        browser_.Navigate(path);
        const std::string script =
            "new Promise(resolve => { const done = () => resolve(JSON.stringify({"
            "href: location.href,"
            "images: Array.from(document.images).map(i => ({src: i.src, width: i.naturalWidth})),"
            "links: Array.from(document.links).map(a => a.href)}));"
            "if (document.readyState === 'complete') done();"
            "else window.addEventListener('load', done); })";
        nlohmann::json params = {
            {"expression", script}, {"awaitPromise", true}, {"returnByValue", true}};
        for (int attempt = 0; attempt < 50; ++attempt) {
            try {
                nlohmann::json answer =
                    nlohmann::json::parse(browser_.Call("Runtime.evaluate", params.dump(), true));
                nlohmann::json page =
                    nlohmann::json::parse(answer.at("result").at("value").get<std::string>());
                if (page.at("href") == FileUrl(path)) return page;
            } catch (const std::exception&) {
                // The page may still be changing; ask again.
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "page never loaded: " << path;
        return nlohmann::json::object(
            {{"images", nlohmann::json::array()}, {"links", nlohmann::json::array()}});
    }

  private:
    static ChromiumOptions Options(const std::string& profileRoot) {
        ChromiumOptions o;
        o.ExtraArgs = {"--headless=new", "--disable-gpu", "--allow-file-access-from-files"};
        o.ProfileRoot = profileRoot;
        o.TimeoutMs = 10000;
        o.StartTimeoutMs = 30000;
        return o;
    }
    ChromiumBrowser browser_;
};

TEST(AlbumInBrowser, EveryPictureLoadsAndEveryLinkResolves) {
    const char* names[] = {"Capital IMG.JPG", "海の写真.jpg",   "a & b.jpg", "no#1.jpg",
                           "100%.jpg",        "say \"hi\".jpg", "it's.jpg",  "q?x.jpeg"};
    for (const char* link : {"original", "created"}) {
        TempDir photos;
        TempDir profiles;
        for (const char* name : names) test::WriteFileBytes(photos.File(name), test::PhotoBytes(24, 16));
        std::ostringstream out, err;
        ASSERT_EQ(
            RunZenfoMake({"--quiet", "--show-names", "--link", link, photos.Path()}, out, err), 0)
            << err.str();

        TestBrowser browser(profiles.Path());
        nlohmann::json index = browser.Load(photos.File("index.html"));
        ASSERT_EQ(index["images"].size(), std::size(names)) << link;
        ASSERT_EQ(index["links"].size(), std::size(names)) << link;
        for (const auto& image : index["images"]) {
            EXPECT_GT(image["width"].get<int>(), 0) << link << " " << image["src"];
        }
        for (const auto& href : index["links"]) {
            std::string url = href.get<std::string>();
            EXPECT_TRUE(FileExists(url)) << link << " " << url;
            nlohmann::json page = browser.Load(PercentDecode(url.substr(7)));
            ASSERT_EQ(page["images"].size(), 1u) << url;
            EXPECT_GT(page["images"][0]["width"].get<int>(), 0)
                << link << " " << page["images"][0]["src"];
            ASSERT_EQ(page["links"].size(), 1u) << url;
            EXPECT_TRUE(FileExists(page["links"][0].get<std::string>())) << url;
        }
    }
}

}  // namespace
}  // namespace zenfo
