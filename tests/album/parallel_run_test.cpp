// The run with worker threads against the run on one thread: the same files byte for byte, the
// same window calls, slideshow table, preview photo and error, whatever the folder holds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "album/errors.h"
#include "album/run.h"
#include "album/scan.h"
#include "jpeg_fixtures.h"
#include "test_util.h"

namespace zenfo {
namespace {

using test::JpegRecipe;
using test::MakeJpeg;
using test::TempDir;

// Writes every call as a line, with the photo folder written as "<dir>/" so that runs in
// different folders compare.
class RecordingWindow : public RunWindow {
  public:
    RecordingWindow(AlbumSettings settings, std::string folder, bool showsPreview)
        : settings_(std::move(settings)), folder_(std::move(folder)), showsPreview_(showsPreview) {}
    AlbumSettings ReadAlbumSettings() override {
        calls.push_back("read");
        return settings_;
    }
    void Show(RunControl c) override { Add("show", c); }
    void Hide(RunControl c) override { Add("hide", c); }
    void Enable(RunControl c) override { Add("enable", c); }
    void Disable(RunControl c) override { Add("disable", c); }
    void SetText(RunControl c, const std::string& text) override {
        Add("text", c);
        calls.back() += " " + Neutral(text);
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
    bool ShowsPreview() const override { return showsPreview_; }

    std::string Neutral(std::string text) const {
        for (std::size_t at; (at = text.find(folder_)) != std::string::npos;) {
            text.replace(at, folder_.size(), "<dir>/");
        }
        return text;
    }

    std::vector<std::string> calls;

  private:
    void Add(const char* what, RunControl c) {
        calls.push_back(std::string(what) + " " + std::to_string(static_cast<int>(c)));
    }
    AlbumSettings settings_;
    std::string folder_;
    bool showsPreview_;
};

// Everything a run leaves that can be seen.
struct Outcome {
    std::map<std::string, std::string> files;  // name -> bytes (links read through)
    std::vector<std::string> calls;
    std::vector<std::string> pages;
    std::string error;  // "" when the run finished
    int previewWidth = -1;
    int previewHeight = -1;
    bool previewDecoded = false;
    std::vector<std::uint8_t> previewPixels;
};

using FolderMaker = std::function<void(const TempDir&)>;

Outcome RunWithJobs(const FolderMaker& make, const AlbumSettings& settings, int jobs,
                    bool showsPreview = true) {
    TempDir dir;
    make(dir);
    const ScannedFolder scanned = ScanPhotoFolder(dir.Path());
    LoadedPhoto photo;
    SlideshowState slideshow;
    RecordingWindow window(settings, dir.Path(), showsPreview);
    Outcome outcome;
    try {
        RunAlbum({scanned.PhotoFolder, scanned.Photos, photo, slideshow, jobs}, window);
    } catch (const ZenfoError& e) {
        outcome.error = std::string(typeid(e).name()) + ": " + window.Neutral(e.what());
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        const std::string name = entry.path().filename().string();
        outcome.files[name] =
            entry.is_regular_file() ? test::ReadFileBytes(entry.path().string()) : "(not a file)";
    }
    outcome.calls = window.calls;
    outcome.pages = slideshow.Pages;
    if (photo.IsLoaded()) {
        outcome.previewWidth = photo.Width();
        outcome.previewHeight = photo.Height();
        if (const DecodedRaster* raster = photo.DecodedIfReady()) {
            outcome.previewDecoded = true;
            outcome.previewPixels = raster->Pixels;
        }
    }
    return outcome;
}

// Runs on one thread and with 2, 3 and 8 workers, for a window that shows the preview and for
// one that does not, and expects the same outcome from each. Returns the one-thread outcome.
Outcome ExpectSameWithEveryJobCount(const std::string& label, const FolderMaker& make,
                                    const AlbumSettings& settings) {
    const Outcome one = RunWithJobs(make, settings, 1);
    for (bool showsPreview : {true, false}) {
        for (int jobs : {2, 3, 8}) {
            const Outcome many = RunWithJobs(make, settings, jobs, showsPreview);
            SCOPED_TRACE(label + ", " + std::to_string(jobs) + " jobs" +
                         (showsPreview ? "" : ", no preview"));
            EXPECT_EQ(many.error, one.error);
            // Names first, for a readable failure; then every file's bytes.
            std::vector<std::string> oneNames, manyNames;
            for (const auto& [name, bytes] : one.files) oneNames.push_back(name);
            for (const auto& [name, bytes] : many.files) manyNames.push_back(name);
            EXPECT_EQ(manyNames, oneNames);
            for (const auto& [name, bytes] : one.files) {
                auto it = many.files.find(name);
                if (it != many.files.end()) {
                    EXPECT_TRUE(it->second == bytes) << name << " differs";
                }
            }
            EXPECT_EQ(many.calls, one.calls);
            EXPECT_EQ(many.pages, one.pages);
            EXPECT_EQ(many.previewWidth, one.previewWidth);
            EXPECT_EQ(many.previewHeight, one.previewHeight);
            // The one-thread run decodes the photo in hand when it draws its thumbnail; the
            // preview of the parallel run holds the same raster when the window shows it.
            if (showsPreview) {
                EXPECT_EQ(many.previewDecoded, one.previewDecoded);
                EXPECT_TRUE(many.previewPixels == one.previewPixels) << "preview raster differs";
            }
        }
    }
    return one;
}

// A photo of busy pixels whose pattern depends on seed, so that every photo is different.
std::string Photo(int width, int height, int seed, int components = 3, bool progressive = false,
                  bool fullChroma = false) {
    JpegRecipe recipe;
    recipe.Width = width;
    recipe.Height = height;
    recipe.Components = components;
    recipe.Progressive = progressive;
    recipe.FullChroma = fullChroma;
    recipe.Pixel = [=](int x, int y, std::uint8_t* s) {
        for (int c = 0; c < components; ++c) {
            s[c] = static_cast<std::uint8_t>((x * (3 + seed) + y * (5 + c) + seed * 40) ^ (x * y));
        }
    };
    return MakeJpeg(recipe);
}

void Put(const TempDir& dir, const std::string& name, const std::string& bytes) {
    test::WriteFileBytes(dir.File(name), bytes);
}

void Link(const TempDir& dir, const std::string& name, const std::string& target) {
    ASSERT_EQ(::symlink(target.c_str(), dir.File(name).c_str()), 0) << name;
}

// Photos of every kind the run meets, and one it passes over.
void MixedFolder(const TempDir& dir) {
    Put(dir, "a-wide.jpg", Photo(300, 200, 1));
    Put(dir, "b-tall.jpg", Photo(120, 250, 2));
    Put(dir, "c-grey.jpg", Photo(90, 70, 3, 1));
    Put(dir, "d-progressive.jpg", Photo(200, 150, 4, 3, true));
    Put(dir, "e-tiny.jpg", Photo(5, 3, 5));
    Put(dir, "f-flat.jpg", Photo(1000, 15, 6));  // a thumbnail of no height: an empty file
    Put(dir, "s_skipped.jpg", "not even a photo");
    Put(dir, "g-cmyk.jpg", Photo(64, 48, 7, 4));
    Put(dir, "h-grey-progressive.jpg", Photo(40, 80, 8, 1, true));
    Put(dir, "i-last.jpg", Photo(33, 33, 9));
    // Turned by its Exif orientation: its decoded rows are not its upright rows.
    JpegRecipe turned;
    turned.Width = 40;
    turned.Height = 24;
    turned.Markers = {{0xE1, test::ExifOrientationPayload(6, true)}};
    turned.Pixel = [](int x, int y, std::uint8_t* s) {
        s[0] = static_cast<std::uint8_t>(x * 6);
        s[1] = static_cast<std::uint8_t>(y * 10);
        s[2] = static_cast<std::uint8_t>(x * y);
    };
    Put(dir, "j-turned.jpg", MakeJpeg(turned));
}

TEST(ParallelRun, MixedFolderGivesTheSameAlbum) {
    struct Case {
        const char* label;
        LinkChoice link;
        std::string prefix;
    } cases[] = {
        {"enlarged copies", LinkChoice::CreatedFile, "photo"},
        {"original files", LinkChoice::OriginalFile, ""},
    };
    for (const Case& c : cases) {
        AlbumSettings settings;
        settings.LinkTarget = c.link;
        settings.NamePrefix = c.prefix;
        settings.ShowNames = true;
        const Outcome one = ExpectSameWithEveryJobCount(c.label, MixedFolder, settings);
        EXPECT_EQ(one.error, "") << c.label;
        EXPECT_EQ(one.pages.size(), 10u) << c.label;
    }
}

// Photos large enough that two of them may not be decoded at once (a progressive 3000 x 2000
// photo without chroma subsampling needs its raster and twice as much again for the library):
// the workers put some aside, start the large ones early and still give the album of the
// one-thread run.
TEST(ParallelRun, LargePhotosThatWaitForMemoryKeepTheirPlace) {
    static const std::string big1 = Photo(3000, 2000, 1, 3, true, true);
    static const std::string big2 = Photo(2000, 3000, 2, 3, true, true);
    static const std::string big3 = Photo(3000, 2000, 3, 3, true, true);
    auto make = [](const TempDir& dir) {
        Put(dir, "a.jpg", Photo(64, 48, 4));
        Put(dir, "b-big.jpg", big1);
        Put(dir, "c.jpg", Photo(48, 64, 5));
        Put(dir, "d-big.jpg", big2);
        Put(dir, "e-big.jpg", big3);
        Put(dir, "f.jpg", Photo(30, 30, 6, 3, true));
        Put(dir, "g.jpg", Photo(90, 20, 7));
    };
    AlbumSettings settings;
    settings.LinkTarget = LinkChoice::CreatedFile;
    const Outcome one = ExpectSameWithEveryJobCount("large photos", make, settings);
    EXPECT_EQ(one.error, "");
    EXPECT_EQ(one.pages.size(), 7u);
}

// Later photos that earlier photos of the same run overwrite must be read after those writes, as
// the one-thread run reads them. Each folder holds, under such a name, a photo that differs from
// what the run writes there.
TEST(ParallelRun, APhotoThatAnEarlierPhotoOverwritesIsReadAfterTheWrite) {
    struct Case {
        const char* label;
        std::string prefix;
        LinkChoice link;
        FolderMaker make;
    } cases[] = {
        {"a later photo named as an earlier photo's thumbnail", "photo", LinkChoice::OriginalFile,
         [](const TempDir& dir) {
             Put(dir, "a.jpg", Photo(200, 100, 1));
             Put(dir, "b.jpg", Photo(50, 60, 2));
             Put(dir, "zenfo-s-photo0000.jpg", Photo(77, 33, 3));
         }},
        {"every photo writes the same names", "a.b", LinkChoice::CreatedFile,
         [](const TempDir& dir) {
             Put(dir, "p1.jpg", Photo(90, 60, 1));
             Put(dir, "p2.jpg", Photo(60, 90, 2));
             Put(dir, "p3.jpg", Photo(70, 70, 3));
             Put(dir, "zenfo-a.jpg", Photo(20, 10, 4));
             Put(dir, "zenfo-s-a.jpg", Photo(10, 20, 5));
         }},
        {"links to an earlier photo's enlarged picture", "photo", LinkChoice::CreatedFile,
         [](const TempDir& dir) {
             Put(dir, "a.jpg", Photo(64, 64, 1));
             Put(dir, "b.jpg", Photo(48, 64, 2));
             Put(dir, "zenfo-photo0001.jpg", Photo(30, 30, 3));
             Link(dir, "c.jpg", "zenfo-photo0001.jpg");
             ASSERT_EQ(::link(dir.File("zenfo-photo0001.jpg").c_str(), dir.File("d.jpg").c_str()),
                       0);
         }},
    };
    for (const Case& c : cases) {
        AlbumSettings settings;
        settings.NamePrefix = c.prefix;
        settings.LinkTarget = c.link;
        const Outcome one = ExpectSameWithEveryJobCount(c.label, c.make, settings);
        EXPECT_EQ(one.error, "") << c.label;
    }
    // The first case in detail: the later photo is the thumbnail of a.jpg, 128 x 64, whose own
    // thumbnail (photo 1 in a 128 box) is 128 x 64 again, not the 128 x 54 of the old file.
    const Outcome one = RunWithJobs(cases[0].make, AlbumSettings{}, 8);
    auto image = test::DecodeForTest(one.files.at("zenfo-s-photo0002.jpg"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width, 128);
    EXPECT_EQ(image->Height, 64);
}

// A photo the library rejects after a sound header: its second scan names a component the frame
// lacks.
std::string DamagedBehindItsHeader() {
    std::string damaged = Photo(48, 32, 11, 3, true);
    const auto markers = test::ParseMarkers(damaged);
    if (!markers) throw std::runtime_error("fixture does not parse");
    int scans = 0;
    for (const auto& m : *markers) {
        if (m.Code == 0xDA && ++scans == 2) damaged[m.Offset + 5] = 9;
    }
    return damaged;
}

// Every way a photo in the middle of the list can end the run; the photos after it must leave no
// trace, and the error, window, table and preview must be those of the one-thread run.
TEST(ParallelRun, AFailureInTheMiddleEndsTheRunWhereTheOneThreadRunEnds) {
    struct Case {
        const char* label;
        std::function<void(const TempDir&)> breakPhotoC;
        const char* error;  // the start of the expected message
    } cases[] = {
        {"not a JPEG file", [](const TempDir& d) { Put(d, "c.jpg", "plain text"); },
         "JPEG エラー #53"},
        {"an empty file", [](const TempDir& d) { Put(d, "c.jpg", ""); }, "JPEG エラー #42"},
        {"damaged behind a sound header",
         [](const TempDir& d) { Put(d, "c.jpg", DamagedBehindItsHeader()); }, "JPEG エラー #"},
        {"its thumbnail cannot be created",
         [](const TempDir& d) {
             ASSERT_EQ(::mkdir(d.File("zenfo-s-photo0002.jpg").c_str(), 0755), 0);
         },
         "ファイル \""},
        {"its enlarged picture cannot be created",
         [](const TempDir& d) {
             ASSERT_EQ(::mkdir(d.File("zenfo-photo0002.jpg").c_str(), 0755), 0);
         },
         "ファイル \""},
        {"its page cannot be created",
         [](const TempDir& d) {
             ASSERT_EQ(::mkdir(d.File("zenfo-photo0002.html").c_str(), 0755), 0);
         },
         ""},
    };
    for (const Case& c : cases) {
        FolderMaker make = [&](const TempDir& dir) {
            Put(dir, "a.jpg", Photo(80, 60, 1));
            Put(dir, "b.jpg", Photo(60, 80, 2, 1));
            Put(dir, "c.jpg", Photo(70, 50, 3));
            c.breakPhotoC(dir);
            Put(dir, "d.jpg", Photo(50, 50, 4, 3, true));
            Put(dir, "e.jpg", Photo(40, 30, 5));
            Put(dir, "f.jpg", Photo(30, 40, 6));
        };
        AlbumSettings settings;
        settings.LinkTarget = LinkChoice::CreatedFile;
        const Outcome one = ExpectSameWithEveryJobCount(c.label, make, settings);
        EXPECT_NE(one.error, "") << c.label;
        EXPECT_NE(one.error.find(c.error), std::string::npos) << c.label << ": " << one.error;
        EXPECT_EQ(one.files.count("zenfo-s-photo0003.jpg"), 0u) << c.label;
        EXPECT_EQ(one.calls.back(), "failed") << c.label;
    }
}

}  // namespace
}  // namespace zenfo
