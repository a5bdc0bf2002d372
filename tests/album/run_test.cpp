#include "album/run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "album/errors.h"
#include "album/scan.h"
#include "cp932_util.h"
#include "test_util.h"

namespace zenfo {
namespace {

using test::TempDir;

// Records what a run does to its window, one line a call.
class RecordingWindow : public RunWindow {
  public:
    explicit RecordingWindow(AlbumSettings settings) : settings_(std::move(settings)) {}
    AlbumSettings ReadAlbumSettings() override {
        calls.push_back("read");
        return settings_;
    }
    void Show(RunControl c) override { calls.push_back("show " + Name(c)); }
    void Hide(RunControl c) override { calls.push_back("hide " + Name(c)); }
    void Enable(RunControl c) override { calls.push_back("enable " + Name(c)); }
    void Disable(RunControl c) override { calls.push_back("disable " + Name(c)); }
    void SetText(RunControl c, const std::string& text) override {
        calls.push_back("text " + Name(c) + " " + text);
    }
    void Repaint() override { calls.push_back("repaint"); }
    void Progress(int number, int count) override {
        calls.push_back("progress " + std::to_string(number) + "/" + std::to_string(count));
    }
    void PreviewChanged(const LoadedPhoto& photo) override {
        calls.push_back("preview " + std::to_string(photo.Width()) + "x" +
                        std::to_string(photo.Height()));
    }
    void RunFailed() override { calls.push_back("failed"); }

    std::vector<std::string> calls;

  private:
    static std::string Name(RunControl c) {
        static const char* const kNames[] = {"Label1", "Label2", "Label4",       "Label5",
                                             "Memo1",  "Image1", "SelectFolder", "MakeThumbNail"};
        return kNames[static_cast<int>(c)];
    }
    AlbumSettings settings_;
};

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Every file of the folder, in byte order.
std::vector<std::string> FilesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Album {
    SlideshowState slideshow;
    LoadedPhoto photo;
    std::unique_ptr<RecordingWindow> window;

    // Scans dir and runs the album with settings.
    void Run(const TempDir& dir, const AlbumSettings& settings) { Run(dir.Path(), settings); }
    void Run(const std::string& folder, const AlbumSettings& settings) {
        Run(ScanPhotoFolder(folder), settings);
    }
    void Run(const ScannedFolder& scanned, const AlbumSettings& settings) {
        window = std::make_unique<RecordingWindow>(settings);
        RunAlbum({scanned.PhotoFolder, scanned.Photos, photo, slideshow}, *window);
    }
};

std::string IndexOf(const TempDir& dir) {
    return test::ReadFileBytes(dir.File("index.html"));
}

TEST(RunAlbum, NoPhotoToWorkOnStillWritesTheIndex) {
    for (bool allSkipped : {false, true}) {
        TempDir dir;
        if (allSkipped) {
            test::WriteFileBytes(dir.File("s_a.jpg"), test::PhotoBytes(8, 8));
            test::WriteFileBytes(dir.File("S_B.JPG"), "not a photo");
        }
        Album album;
        album.slideshow.Pages = {"old.html"};
        album.slideshow.Position = 5;
        album.Run(dir, AlbumSettings{});
        std::string index = IndexOf(dir);
        EXPECT_NE(index.find("<font size=1>\r\n</table>\r\n</font>\r\n</body>\r\n</html>\r\n"),
                  std::string::npos);
        EXPECT_EQ(FilesIn(dir).size(), allSkipped ? 3u : 1u);
        EXPECT_TRUE(album.slideshow.Pages.empty());
        EXPECT_EQ(album.slideshow.Position, 0);
        EXPECT_EQ(album.window->calls.back(), "show Memo1");
    }
}

TEST(RunAlbum, NumbersEveryEntryAndSkipsSUnderscoreNames) {
    TempDir dir;
    for (const char* name : {"a.jpg", "s_b.jpg", "t.jpg"}) {
        test::WriteFileBytes(dir.File(name), test::PhotoBytes(40, 30));
    }
    AlbumSettings settings;
    settings.LinkTarget = LinkChoice::CreatedFile;
    Album album;
    album.Run(dir, settings);
    EXPECT_EQ(FilesIn(dir),
              (std::vector<std::string>{"a.jpg", "index.html", "s_b.jpg", "t.jpg",
                                        "zenfo-photo0000.html", "zenfo-photo0000.jpg",
                                        "zenfo-photo0002.html", "zenfo-photo0002.jpg",
                                        "zenfo-s-photo0000.jpg", "zenfo-s-photo0002.jpg"}));
    EXPECT_EQ(album.slideshow.Pages,
              (std::vector<std::string>{"zenfo-photo0000.html", "zenfo-photo0002.html"}));
    EXPECT_NE(test::ReadFileBytes(dir.File("zenfo-photo0002.html"))
                  .find("<img src=\"zenfo-photo0002.jpg\" border=\"0\">"),
              std::string::npos);
    // 40 x 30 in the 512 box: 512 x 384.
    EXPECT_EQ(album.photo.Width(), 40);
}

TEST(RunAlbum, OnlyAnSUnderscoreAtTheStartSkips) {
    TempDir dir;
    for (const char* name : {"sx_1.jpg", "_s_.jpg", "S_x.JPG"}) {
        test::WriteFileBytes(dir.File(name), test::PhotoBytes(8, 8));
    }
    Album album;
    album.Run(dir, AlbumSettings{});
    // Album order: _s_.jpg, s_x.jpg (skipped), sx_1.jpg.
    EXPECT_EQ(album.slideshow.Pages,
              (std::vector<std::string>{"zenfo-photo0000.html", "zenfo-photo0002.html"}));
    EXPECT_NE(test::ReadFileBytes(dir.File("zenfo-photo0002.html")).find("src=\"sx_1.jpg\""),
              std::string::npos);
}

TEST(RunAlbum, PrefixesShapeTheNames) {
    struct Case {
        std::string prefix;
        std::vector<std::string> outputs;
    } cases[] = {
        {"", {"zenfo-0000.html", "zenfo-0001.html", "zenfo-s-0000.jpg", "zenfo-s-0001.jpg"}},
        // Every photo gets the same names; the last photo's files remain.
        {"a.b", {"zenfo-a.html", "zenfo-s-a.jpg"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        test::WriteFileBytes(dir.File("p1.jpg"), test::PhotoBytes(20, 10));
        test::WriteFileBytes(dir.File("p2.jpg"), test::PhotoBytes(10, 20));
        AlbumSettings settings;
        settings.NamePrefix = c.prefix;
        Album album;
        album.Run(dir, settings);
        std::vector<std::string> expected = {"index.html", "p1.jpg", "p2.jpg"};
        expected.insert(expected.end(), c.outputs.begin(), c.outputs.end());
        EXPECT_EQ(FilesIn(dir), expected) << c.prefix;
        if (c.prefix == "a.b") {
            EXPECT_NE(test::ReadFileBytes(dir.File("zenfo-a.html")).find("src=\"p2.jpg\""),
                      std::string::npos);
            LoadedPhoto thumb;
            thumb.LoadPhoto(dir.File("zenfo-s-a.jpg"));
            EXPECT_EQ(thumb.Width(), 64);  // the portrait p2 in the 128 box
            EXPECT_EQ(thumb.Height(), 128);
        }
    }
}

TEST(RunAlbum, ReplacesOutputsButLeavesOldEnlargedPicturesWithOriginalLinks) {
    TempDir dir;
    test::WriteFileBytes(dir.File("a.jpg"), test::PhotoBytes(16, 16));
    // Files an earlier run left, which the list scanned before them does not hold.
    ScannedFolder scanned = ScanPhotoFolder(dir.File("a.jpg"));
    test::WriteFileBytes(dir.File("zenfo-s-photo0000.jpg"), "old thumbnail");
    test::WriteFileBytes(dir.File("zenfo-photo0000.jpg"), "old enlarged picture");
    test::WriteFileBytes(dir.File("index.html"), std::string(100000, 'x'));
    Album album;
    album.Run(scanned, AlbumSettings{});
    EXPECT_EQ(test::ReadFileBytes(dir.File("zenfo-s-photo0000.jpg")).substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(test::ReadFileBytes(dir.File("zenfo-photo0000.jpg")), "old enlarged picture");
    EXPECT_LT(IndexOf(dir).size(), 100000u);
    // The photo page shows the photo itself by its name on disk.
    EXPECT_NE(test::ReadFileBytes(dir.File("zenfo-photo0000.html")).find("src=\"a.jpg\""),
              std::string::npos);
}

TEST(RunAlbum, ARunOverItsOwnOutputsTakesThemAsPhotos) {
    TempDir dir;
    test::WriteFileBytes(dir.File("a.jpg"), test::PhotoBytes(16, 12));
    Album album;
    album.Run(dir, AlbumSettings{});
    album.Run(dir, AlbumSettings{});
    // a.jpg and zenfo-s-photo0000.jpg are the photos of the second run.
    EXPECT_EQ(album.slideshow.Pages,
              (std::vector<std::string>{"zenfo-photo0000.html", "zenfo-photo0001.html"}));
    EXPECT_TRUE(Exists(dir.File("zenfo-s-photo0001.jpg")));
}

TEST(RunAlbum, MissingFolderFailsAtTheIndex) {
    TempDir dir;
    Album album;
    try {
        album.Run(dir.File("gone/"), AlbumSettings{});
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "ファイル名の指定が間違っています");
    }
    EXPECT_EQ(album.window->calls.back(), "failed");
}

TEST(RunAlbum, AFailureEndsTheRunWhereItHappens) {
    TempDir dir;
    test::WriteFileBytes(dir.File("a.jpg"), test::PhotoBytes(16, 12));
    test::WriteFileBytes(dir.File("b.jpg"), "just text");
    test::WriteFileBytes(dir.File("c.jpg"), test::PhotoBytes(16, 12));
    AlbumSettings settings;
    settings.LinkTarget = LinkChoice::CreatedFile;
    Album album;
    album.slideshow.Position = 3;
    try {
        album.Run(dir, settings);
        FAIL() << "no error";
    } catch (const EJPEG& e) {
        EXPECT_STREQ(e.what(), "JPEG エラー #53");
    }
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg", "index.html",
                                                      "zenfo-photo0000.html", "zenfo-photo0000.jpg",
                                                      "zenfo-s-photo0000.jpg"}));
    std::string index = IndexOf(dir);
    EXPECT_NE(index.find("zenfo-photo0000.html"), std::string::npos);
    EXPECT_EQ(index.find("</table>"), std::string::npos);
    EXPECT_EQ(album.slideshow.Pages, std::vector<std::string>{"zenfo-photo0000.html"});
    EXPECT_EQ(album.slideshow.Position, 0);
    // The loaded photo is still the last one that loaded.
    EXPECT_EQ(album.photo.Width(), 16);

    // The window is restored but keeps the failing photo's progress text, then is told.
    const std::vector<std::string>& calls = album.window->calls;
    std::vector<std::string> tail(calls.end() - 11, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "text Label5 b.jpgを処理しています", "repaint", "show SelectFolder",
                        "enable MakeThumbNail", "hide MakeThumbNail", "hide Image1",
                        "text Label1 　写真のあるフォルダを指定してください→",
                        "text Label2 " + dir.Path(), "show Label4", "show Memo1", "failed"}));
}

TEST(RunAlbum, WindowCallsOfATwoPhotoRunInOrder) {
    TempDir dir;
    test::WriteFileBytes(dir.File("a.jpg"), test::PhotoBytes(30, 20));
    test::WriteFileBytes(dir.File("b.jpg"), test::PhotoBytes(20, 30));
    Album album;
    album.Run(dir, AlbumSettings{});
    EXPECT_EQ(album.window->calls,
              (std::vector<std::string>{"hide Label4",
                                        "hide Memo1",
                                        "read",
                                        "hide SelectFolder",
                                        "disable MakeThumbNail",
                                        "show Image1",
                                        "show Label5",
                                        "progress 0/2",
                                        "text Label5 a.jpgを処理しています",
                                        "repaint",
                                        "preview 30x20",
                                        "progress 1/2",
                                        "text Label5 b.jpgを処理しています",
                                        "repaint",
                                        "preview 20x30",
                                        "show SelectFolder",
                                        "enable MakeThumbNail",
                                        "hide MakeThumbNail",
                                        "hide Image1",
                                        "text Label5  サムネイルの作成が終了しました。",
                                        "text Label1 　写真のあるフォルダを指定してください→",
                                        "text Label2 " + dir.Path(),
                                        "show Label4",
                                        "show Memo1"}));
}

}  // namespace
}  // namespace zenfo
