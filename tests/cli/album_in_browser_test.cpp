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
#include "headless_pages.h"

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

// What a page holds: its images with their natural widths, and its links.
const char* const kPageContents =
    "images: Array.from(document.images).map(i => ({src: i.src, width: i.naturalWidth})),"
    "links: Array.from(document.links).map(a => a.href)";

TEST(AlbumInBrowser, EveryPictureLoadsAndEveryLinkResolves) {
    const char* names[] = {"Capital IMG.JPG", "海の写真.jpg",   "a & b.jpg", "no#1.jpg",
                           "100%.jpg",        "say \"hi\".jpg", "it's.jpg",  "q?x.jpeg"};
    for (const char* link : {"original", "created"}) {
        TempDir photos;
        TempDir profiles;
        for (const char* name : names)
            test::WriteFileBytes(photos.File(name), test::PhotoBytes(24, 16));
        std::ostringstream out, err;
        ASSERT_EQ(
            RunZenfoMake({"--quiet", "--show-names", "--link", link, photos.Path()}, out, err), 0)
            << err.str();

        test::HeadlessPages browser(profiles.Path());
        nlohmann::json index = browser.Load(photos.File("index.html"), kPageContents);
        ASSERT_EQ(index["images"].size(), std::size(names)) << link;
        ASSERT_EQ(index["links"].size(), std::size(names)) << link;
        for (const auto& image : index["images"]) {
            EXPECT_GT(image["width"].get<int>(), 0) << link << " " << image["src"];
        }
        for (const auto& href : index["links"]) {
            std::string url = href.get<std::string>();
            EXPECT_TRUE(FileExists(url)) << link << " " << url;
            nlohmann::json page = browser.Load(PercentDecode(url.substr(7)), kPageContents);
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
