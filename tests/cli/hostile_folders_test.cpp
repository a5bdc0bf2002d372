// zenfo-make over hostile folders: odd and malicious file names, links that loop, photos and
// outputs that cannot be read or written, a full disk, FIFOs. Each gives its exact error or its
// album; nothing is lost; and every page written loads in a real headless Chromium without
// running anything a file name carries.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "../album/child_process.h"
#include "../album/nothing_lost.h"
#include "../album/test_util.h"
#include "album/picture.h"
#include "cli/zenfo_make.h"
#include "headless_pages.h"
#include "presentation/chromium_browser.h"

namespace zenfo {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::TempDir;

std::string Photo(int width, int height, bool noisy = false) {
    RgbRaster raster;
    raster.Width = width;
    raster.Height = height;
    raster.Pixels.resize(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < raster.Pixels.size(); ++i) {
        seed = seed * 1103515245 + 12345;
        raster.Pixels[i] = static_cast<std::uint8_t>(noisy ? seed >> 16 : i * 5);
    }
    const std::vector<std::uint8_t> bytes = EncodeJpeg(raster);
    return std::string(bytes.begin(), bytes.end());
}

bool BrowserInstalled() {
    for (const char* path :
         {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"}) {
        if (::access(path, X_OK) == 0) return true;
    }
    return false;
}

struct Folder {
    std::string root;    // the test's own folder, ending with "/"
    std::string photos;  // root + "photos/"
};

struct Row {
    const char* what;
    std::function<void(const Folder&)> setup;
    // The message zenfo-make reports (as the window would show it), or empty for an album.
    std::function<std::string(const Folder&)> error;
    // The names row of an album, in any order.
    std::vector<std::string> names;
    test::ChildSetup child;
};

void Put(const Folder& f, const std::string& name, const std::string& bytes) {
    test::WriteFileBytes(f.photos + name, bytes);
}

// Lets the unprivileged child (when the test runs as root) reach and write the photo folder.
void OpenToEveryone(const Folder& f) {
    ::chmod(f.root.c_str(), 0755);
    ::chmod(f.photos.c_str(), 0777);
}

test::ChildSetup Unprivileged() {
    test::ChildSetup setup;
    setup.Unprivileged = true;
    return setup;
}

std::string Report(const std::string& message) {
    return "zenfo-make: " + ErrorReportText(message);
}

TEST(HostileFoldersTest, EachGivesItsErrorOrItsAlbumAndNoPageRunsAFileName) {
    const std::string photo = Photo(24, 16);
    const std::string longName = std::string(251, 'a') + ".jpg";
    ASSERT_EQ(longName.size(), 255u);

    test::ChildSetup fileSizeLimit;
    fileSizeLimit.FileSizeLimit = 2048;

    const std::vector<Row> rows = {
        {"names with quotes",
         [&](const Folder& f) {
             Put(f, "say \"hi\".jpg", photo);
             Put(f, "it's.jpg", photo);
             Put(f, "\"'\"'.jpg", photo);
         },
         nullptr,
         {"say \"hi\".jpg", "it's.jpg", "\"'\"'.jpg"},
         {}},
        {"names that are markup",
         [&](const Folder& f) {
             Put(f, "<script>.jpg", photo);
             Put(f, "<img src=x onerror=zenfo_injected=1>.jpg", photo);
             Put(f, "\"><svg onload=zenfo_injected=2>.jpg", photo);
             Put(f, "x' onmouseover='zenfo_injected=3.jpg", photo);
             Put(f, "&amp;&lt;.jpg", photo);
         },
         nullptr,
         {"<script>.jpg", "<img src=x onerror=zenfo_injected=1>.jpg",
          "\"><svg onload=zenfo_injected=2>.jpg", "x' onmouseover='zenfo_injected=3.jpg",
          "&amp;&lt;.jpg"},
         {}},
        {"a newline in a name",
         [&](const Folder& f) { Put(f, "line\nbreak.jpg", photo); },
         nullptr,
         {"line\nbreak.jpg"},
         {}},
        {"names that are not UTF-8",
         [&](const Folder& f) {
             Put(f, "\xFF\xFE\xFD.jpg", photo);
             Put(f, "\x8E\xCA\x90\x5E.jpg", photo);  // 写真 in Shift-JIS
         },
         nullptr,
         {"\uFFFD\uFFFD\uFFFD.jpg", "写真.jpg"},
         {}},
        {"a name of 255 bytes",
         [&](const Folder& f) { Put(f, longName, photo); },
         nullptr,
         {longName},
         {}},
        {"symbolic links that loop",
         [&](const Folder& f) {
             Put(f, "real.jpg", photo);
             fs::create_symlink("self.jpg", f.photos + "self.jpg");
             fs::create_symlink("b.jpg", f.photos + "a.jpg");
             fs::create_symlink("a.jpg", f.photos + "b.jpg");
             fs::create_directory_symlink(".", f.photos + "again.jpg");
         },
         nullptr,
         {"real.jpg"},
         {}},
        {"an unreadable photo",
         [&](const Folder& f) {
             Put(f, "locked.jpg", photo);
             ::chmod((f.photos + "locked.jpg").c_str(), 0);
             OpenToEveryone(f);
         },
         [](const Folder& f) {
             return Report("ファイル \"" + f.photos + "locked.jpg\". " + std::strerror(EACCES) +
                           " は開けません");
         },
         {},
         Unprivileged()},
        {"a read-only output file",
         [&](const Folder& f) {
             Put(f, "photo.jpg", photo);
             Put(f, "zenfo-s-photo0000.jpg", "an earlier thumbnail, kept read-only");
             ::chmod((f.photos + "zenfo-s-photo0000.jpg").c_str(), 0444);
             OpenToEveryone(f);
         },
         [](const Folder& f) {
             return Report("ファイル \"" + f.photos + "zenfo-s-photo0000.jpg\". " +
                           std::strerror(EACCES) + " を作成できません");
         },
         {},
         Unprivileged()},
        {"an output folder made read-only",
         [&](const Folder& f) {
             Put(f, "photo.jpg", photo);
             ::chmod(f.root.c_str(), 0755);
             ::chmod(f.photos.c_str(), 0555);
         },
         [](const Folder&) { return Report("ファイルへのアクセスが拒否されました"); },
         {},
         Unprivileged()},
        {"a full disk (file-size limit)",
         [&](const Folder& f) { Put(f, "photo.jpg", Photo(200, 150, true)); },
         [](const Folder&) { return Report("I/O エラー (" + std::to_string(EFBIG) + ")"); },
         {},
         fileSizeLimit},
        {"a full disk (/dev/full)",
         [&](const Folder& f) {
             Put(f, "photo.jpg", photo);
             fs::create_symlink("/dev/full", f.photos + "zenfo-s-photo0000.jpg");
         },
         [](const Folder&) { return Report("I/O エラー (" + std::to_string(ENOSPC) + ")"); },
         {},
         {}},
        {"a FIFO named x.jpg",
         [&](const Folder& f) {
             Put(f, "photo.jpg", photo);
             ASSERT_EQ(::mkfifo((f.photos + "x.jpg").c_str(), 0644), 0);
         },
         nullptr,
         {"photo.jpg"},
         {}},
        {"a FIFO where index.html goes",
         [&](const Folder& f) {
             Put(f, "photo.jpg", photo);
             ASSERT_EQ(::mkfifo((f.photos + "index.html").c_str(), 0644), 0);
         },
         [](const Folder&) { return Report("I/O エラー (" + std::to_string(ENXIO) + ")"); },
         {},
         {}},
    };

    const bool withBrowser = BrowserInstalled();
    if (!withBrowser) std::printf("[ SKIPPED  ] the page checks: chromium is not installed\n");
    TempDir profiles;
    std::unique_ptr<test::HeadlessPages> pages;
    if (withBrowser) pages = std::make_unique<test::HeadlessPages>(profiles.Path());

    for (Row row : rows) {
        SCOPED_TRACE(row.what);
        TempDir root;
        const Folder folder{root.Path(), root.Path() + "photos/"};
        fs::create_directory(folder.photos);
        row.setup(folder);
        const test::NothingLost guard(folder.root, folder.photos);

        row.child.TimeLimit = std::chrono::seconds(60);
        const test::ChildOutcome outcome = test::RunInChild(
            [&] {
                std::ostringstream out, err;
                const int status = RunZenfoMake(
                    {"--quiet", "--show-names", "--link", "original", folder.photos}, out, err);
                return std::to_string(status) + "\n" + err.str();
            },
            row.child);
        ASSERT_TRUE(outcome.Exited && outcome.ExitCode == 0) << outcome.Describe();
        const std::size_t newline = outcome.Output.find('\n');
        const std::string status = outcome.Output.substr(0, newline);
        std::string err = outcome.Output.substr(newline + 1);
        if (!err.empty() && err.back() == '\n') err.pop_back();
        if (row.error) {
            EXPECT_EQ(status, "1");
            EXPECT_EQ(err, row.error(folder));
        } else {
            EXPECT_EQ(status, "0") << err;
            EXPECT_EQ(err, "");
        }
        EXPECT_TRUE(guard.Check());

        if (!pages) continue;
        // Every page the run wrote, whole or not.
        std::vector<std::string> written;
        for (const auto& entry : fs::directory_iterator(folder.photos)) {
            const std::string name = entry.path().filename().string();
            std::error_code ec;  // links that loop have no status
            if (entry.is_regular_file(ec) && name.size() > 5 &&
                name.compare(name.size() - 5, 5, ".html") == 0) {
                written.push_back(entry.path().string());
            }
        }
        std::sort(written.begin(), written.end());
        if (!row.error) {
            ASSERT_EQ(written.size(), row.names.size() + 1);  // the index and one page each
        }
        for (const std::string& page : written) {
            SCOPED_TRACE(page);
            const Json shown = pages->Load(
                page,
                // What ran and what shows: the global an injected handler would set, scripts
                // and event-handler attributes, the natural width of every image, and the text
                // of every cell without an image (the names row).
                "injected: typeof window.zenfo_injected,"
                "scripts: document.scripts.length,"
                "handlers: Array.from(document.querySelectorAll('*')).filter(e =>"
                "  Array.from(e.attributes).some(a => a.name.startsWith('on'))).length,"
                "images: Array.from(document.images).map(i => i.naturalWidth),"
                "names: Array.from(document.querySelectorAll('td')).filter(td => !td.querySelector("
                "  'img')).map(td => td.textContent).filter(t => t.trim() !== '')");
            EXPECT_EQ(shown.value("injected", ""), "undefined");
            EXPECT_EQ(shown.value("scripts", -1), 0);
            EXPECT_EQ(shown.value("handlers", -1), 0);
            for (const Json& width : shown.value("images", Json::array())) {
                EXPECT_GT(width.get<int>(), 0) << "an image did not load";
            }
            if (!row.error && fs::path(page).filename() == "index.html") {
                std::vector<std::string> names = shown.value("names", std::vector<std::string>{});
                std::vector<std::string> expected = row.names;
                std::sort(names.begin(), names.end());
                std::sort(expected.begin(), expected.end());
                EXPECT_EQ(names, expected);
                EXPECT_EQ(shown.value("images", Json::array()).size(), row.names.size());
            }
        }
    }
}

}  // namespace
}  // namespace zenfo
