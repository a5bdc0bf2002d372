// Bad photos through a whole album run: each fails with its exact message or still gets its
// copies, the process stays small, and nothing is lost. Inputs that once made the fuzzer fail
// are kept in fuzz_regressions/ and run the same way.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "album/picture.h"
#include "child_process.h"
#include "jpeg_fixtures.h"
#include "nothing_lost.h"
#include "quiet_run.h"
#include "test_util.h"

namespace zenfo {
namespace {

namespace fs = std::filesystem;
using test::ChildOutcome;
using test::TempDir;

// A photo with something to see: a gradient with a checker pattern.
std::string GoodPhoto(int width = 64, int height = 48, int components = 3) {
    test::JpegRecipe recipe;
    recipe.Width = width;
    recipe.Height = height;
    recipe.Components = components;
    recipe.Quality = 90;
    recipe.Pixel = [&](int x, int y, std::uint8_t* s) {
        for (int c = 0; c < components; ++c) {
            s[c] = static_cast<std::uint8_t>((x * 4 + y * 2 + c * 60 + ((x / 8 + y / 8) % 2) * 50) %
                                             256);
        }
    };
    return test::MakeJpeg(recipe);
}

test::Marker MarkerOf(const std::vector<test::Marker>& markers, int code) {
    auto it = std::find_if(markers.begin(), markers.end(),
                           [&](const test::Marker& m) { return m.Code == code; });
    if (it == markers.end()) throw std::runtime_error("no marker " + std::to_string(code));
    return *it;
}

std::vector<test::Marker> Markers(const std::string& jpeg) {
    auto markers = test::ParseMarkers(jpeg);
    if (!markers) throw std::runtime_error("the photo does not parse");
    return *markers;
}

// Where the scan data begin: just after the SOS marker segment.
std::size_t ScanDataStart(const std::string& jpeg) {
    const test::Marker sos = MarkerOf(Markers(jpeg), 0xDA);
    return sos.Offset + 4 + sos.Payload.size();
}

std::string WithoutHuffmanTables(const std::string& jpeg) {
    std::string out = jpeg;
    auto markers = Markers(jpeg);
    std::reverse(markers.begin(), markers.end());
    for (const test::Marker& m : markers) {
        if (m.Code == 0xC4) out.erase(m.Offset, 4 + m.Payload.size());
    }
    return out;
}

// The scan's first component takes its tables from slot 2, which the file never fills.
std::string ScanUsingAnUndefinedHuffmanTable(const std::string& jpeg) {
    std::string out = jpeg;
    const test::Marker sos = MarkerOf(Markers(jpeg), 0xDA);
    out[sos.Offset + 4 + 2] = static_cast<char>(0x22);  // Td = 2, Ta = 2 of component 1
    return out;
}

std::string WithFrame(const std::string& jpeg, int precision, int width, int height) {
    std::string out = jpeg;
    const test::Marker sof = MarkerOf(Markers(jpeg), 0xC0);
    const std::size_t at = sof.Offset + 4;
    out[at] = static_cast<char>(precision);
    out[at + 1] = static_cast<char>(height >> 8);
    out[at + 2] = static_cast<char>(height & 0xFF);
    out[at + 3] = static_cast<char>(width >> 8);
    out[at + 4] = static_cast<char>(width & 0xFF);
    return out;
}

// The same photo with arithmetic coding, by jpegtran (libjpeg-turbo-progs).
std::string Arithmetic(const std::string& jpeg) {
    TempDir dir;
    test::WriteFileBytes(dir.File("in.jpg"), jpeg);
    const std::string command =
        "jpegtran -arithmetic -outfile '" + dir.File("out.jpg") + "' '" + dir.File("in.jpg") + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("jpegtran failed");
    return test::ReadFileBytes(dir.File("out.jpg"));
}

std::string PngFile() {
    // The signature and an IHDR chunk of a 1 x 1 RGB picture.
    return std::string(
        "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0\x90\x77\x53\xde", 33);
}

// An album run over one photo folder inside a root folder of its own, in a child process so
// that its peak memory can be measured and a crash cannot take the test with it.
struct AlbumOutcome {
    ChildOutcome child;
    std::string message;  // the error that ended the run, empty when it finished
};

AlbumOutcome RunAlbumInChild(const std::string& photoFolder,
                             std::chrono::milliseconds timeLimit = std::chrono::seconds(120)) {
    AlbumSettings settings;
    settings.LinkTarget = LinkChoice::CreatedFile;  // thumbnail (128) and enlarged copy (512)
    settings.AfterRun = AfterRunChoice::NoAction;
    test::ChildSetup setup;
    setup.TimeLimit = timeLimit;
    AlbumOutcome outcome;
    outcome.child =
        test::RunInChild([&] { return test::RunAlbumQuietly(photoFolder, settings); }, setup);
    if (outcome.child.Exited && outcome.child.ExitCode == 0) {
        outcome.message = outcome.child.Output;
    }
    return outcome;
}

// The size of a written copy, or nullopt when it is missing or not a sound JPEG file.
std::optional<std::pair<int, int>> CopySize(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    auto image = test::DecodeForTest(test::ReadFileBytes(path));
    if (!image) return std::nullopt;
    return std::make_pair(image->Width, image->Height);
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Several times what a run over one small photo needs, sanitizers included (about 25 MB); a
// hundredth of the 12 GB raster of 65500 x 65500 pixels.
constexpr long kSmallProcessKb = 128 * 1024;

TEST(BadPhotosTest, EachFailsWithItsMessageOrStillGetsItsCopies) {
    const std::string good = GoodPhoto();
    const std::size_t scan = ScanDataStart(good);
    const bool hugeFitsInMemory =
        65500ull * 65500 * 3 <= static_cast<std::uint64_t>(::sysconf(_SC_PHYS_PAGES)) *
                                    static_cast<std::uint64_t>(::sysconf(_SC_PAGE_SIZE)) / 2;

    struct Row {
        const char* what;
        const char* fileName;
        std::string bytes;
        std::string message;  // empty: the copies are written
        int width = 0;        // the photo's size, when its copies are written
        int height = 0;
    };
    const std::vector<Row> rows = {
        {"truncated after the header (warning only)", "cut-header.jpg", good.substr(0, scan), "",
         64, 48},
        {"truncated in the middle of the scan data (warning only)", "cut-scan.jpg",
         good.substr(0, scan + (good.size() - scan) / 2), "", 64, 48},
        {"garbage after SOI", "garbage.jpg",
         std::string("\xFF\xD8", 2) + "no marker follows, only words", "JPEG エラー #51"},
        // libjpeg-turbo falls back on the standard tables of Annex K, which the file used.
        {"no Huffman table at all", "no-dht.jpg", WithoutHuffmanTables(good), "", 64, 48},
        {"a scan using a Huffman table the file never defines", "undefined-dht.jpg",
         ScanUsingAnUndefinedHuffmanTable(good), "JPEG エラー #50"},
        // Debian's libjpeg-turbo decodes arithmetic coding.
        {"arithmetic coding", "arith.jpg", Arithmetic(good), "", 64, 48},
        {"12-bit samples", "twelve.jpg", WithFrame(good, 12, 64, 48), "JPEG エラー #15"},
        // Refused before anything is allocated, where half of the memory is less than 12 GB.
        {"a header claiming 65500 x 65500", "huge.jpg", WithFrame(good, 8, 65500, 65500),
         "システム リソースが足りません"},
        {"length 0", "empty.jpg", "", "JPEG エラー #42"},
        {"1 x 1", "dot.jpg", GoodPhoto(1, 1), "", 1, 1},
        {"CMYK", "cmyk.jpg", GoodPhoto(40, 30, 4), "", 40, 30},
        {"a text file", "text.jpg", "This is a note, not a photo.\n", "JPEG エラー #53"},
        {"a PNG named .jpg", "picture.jpg", PngFile(), "JPEG エラー #53"},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (std::string(row.fileName) == "huge.jpg" && hugeFitsInMemory) {
            std::printf("[ SKIPPED  ] %s: this machine has memory for a 65500 x 65500 raster\n",
                        row.what);
            continue;
        }
        TempDir root;
        const std::string photos = root.Path() + "photos/";
        fs::create_directory(photos);
        test::WriteFileBytes(photos + row.fileName, row.bytes);
        const test::NothingLost guard(root.Path(), photos);

        const AlbumOutcome outcome = RunAlbumInChild(photos);
        ASSERT_TRUE(outcome.child.Exited && outcome.child.ExitCode == 0)
            << outcome.child.Describe();
        EXPECT_EQ(outcome.message, row.message);
        EXPECT_LT(outcome.child.PeakRssKb, kSmallProcessKb);
        EXPECT_TRUE(guard.Check());

        const auto thumb = CopySize(photos + "zenfo-s-photo0000.jpg");
        const auto body = CopySize(photos + "zenfo-photo0000.jpg");
        if (row.message.empty()) {
            const BoxSize thumbSize = FitToBox(row.width, row.height, 128);
            const BoxSize bodySize = FitToBox(row.width, row.height, 512);
            EXPECT_EQ(thumb, std::make_pair(thumbSize.Width, thumbSize.Height));
            EXPECT_EQ(body, std::make_pair(bodySize.Width, bodySize.Height));
            EXPECT_TRUE(Exists(photos + "zenfo-photo0000.html"));
            EXPECT_NE(test::ReadFileBytes(photos + "index.html").find("</html>"),
                      std::string::npos);
        } else {
            // A failing photo gets no copy and no page; the index stays without its tail.
            EXPECT_FALSE(Exists(photos + "zenfo-s-photo0000.jpg"));
            EXPECT_FALSE(Exists(photos + "zenfo-photo0000.jpg"));
            EXPECT_FALSE(Exists(photos + "zenfo-photo0000.html"));
            EXPECT_EQ(test::ReadFileBytes(photos + "index.html").find("</html>"),
                      std::string::npos);
        }
    }
}

// Every input the fuzzer ever failed on, run as a photo of an album: it fails with one of the
// album's own messages or gets its copies, within a bounded time, without a sanitizer report.
TEST(BadPhotosTest, FuzzFindingsFailCleanlyOrGetTheirCopies) {
    const fs::path folder = fs::path(__FILE__).parent_path() / "fuzz_regressions";
    std::vector<fs::path> inputs;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().filename() != "README") {
            inputs.push_back(entry.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    ASSERT_FALSE(inputs.empty()) << folder;
    for (const fs::path& input : inputs) {
        SCOPED_TRACE(input.filename().string());
        TempDir root;
        const std::string photos = root.Path() + "photos/";
        fs::create_directory(photos);
        test::WriteFileBytes(photos + "photo.jpg", test::ReadFileBytes(input.string()));
        const test::NothingLost guard(root.Path(), photos);

        const AlbumOutcome outcome = RunAlbumInChild(photos, std::chrono::seconds(60));
        ASSERT_TRUE(outcome.child.Exited && outcome.child.ExitCode == 0)
            << outcome.child.Describe();
        if (outcome.message.empty()) {
            EXPECT_TRUE(CopySize(photos + "zenfo-s-photo0000.jpg").has_value() ||
                        test::ReadFileBytes(photos + "zenfo-s-photo0000.jpg").empty());
            EXPECT_TRUE(Exists(photos + "zenfo-photo0000.html"));
        } else {
            const bool known = outcome.message.rfind("JPEG エラー #", 0) == 0 ||
                               outcome.message == "システム リソースが足りません";
            EXPECT_TRUE(known) << outcome.message;
        }
        EXPECT_TRUE(guard.Check());
    }
}

// A photo that has become a FIFO between the folder scan and the run (the window scans when the
// folder is chosen and runs later) is read as what it holds now, nothing, instead of waiting
// for a writer forever.
TEST(BadPhotosTest, APhotoTurnedIntoAFifoAfterTheScanFailsWithoutHanging) {
    TempDir root;
    const std::string photos = root.Path() + "photos/";
    fs::create_directory(photos);
    test::WriteFileBytes(photos + "photo.jpg", GoodPhoto());
    const ScannedFolder scanned = ScanPhotoFolder(photos);
    ASSERT_EQ(scanned.Photos.size(), 1u);
    fs::remove(photos + "photo.jpg");
    ASSERT_EQ(::mkfifo((photos + "photo.jpg").c_str(), 0644), 0);
    const test::NothingLost guard(root.Path(), photos);

    test::ChildSetup setup;
    setup.TimeLimit = std::chrono::seconds(20);
    const test::ChildOutcome outcome = test::RunInChild(
        [&]() -> std::string {
            LoadedPhoto photo;
            SlideshowState slideshow;
            AlbumSettings settings;
            test::QuietWindow window(settings);
            try {
                RunAlbum({scanned.PhotoFolder, scanned.Photos, photo, slideshow}, window);
            } catch (const ZenfoError& e) {
                return e.what();
            }
            return {};
        },
        setup);
    ASSERT_FALSE(outcome.TimedOut) << "the run waits for a writer of the FIFO";
    ASSERT_TRUE(outcome.Exited && outcome.ExitCode == 0) << outcome.Describe();
    EXPECT_EQ(outcome.Output, "JPEG エラー #42");
    EXPECT_TRUE(guard.Check());
}

}  // namespace
}  // namespace zenfo
