#include "album/picture.h"

#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "album/errors.h"
#include "album/jpeg_fixtures.h"
#include "album/jpeg_internal.h"
#include "album/test_util.h"

namespace zenfo {
namespace {

using test::AsBytes;
using test::AsString;
using test::DecodeForTest;
using test::JpegRecipe;
using test::MakeJpeg;
using test::ParseMarkers;
using test::TempDir;

// A busy colour pattern, so that decoding details show in the pixels.
void Busy(int x, int y, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(x * 37 + y * 11);
    p[1] = static_cast<std::uint8_t>((x ^ y) * 23);
    p[2] = static_cast<std::uint8_t>(x * y + 90);
}

std::string Photo(int width, int height, int components = 3) {
    JpegRecipe recipe;
    recipe.Width = width;
    recipe.Height = height;
    recipe.Components = components;
    recipe.Pixel = [components](int x, int y, std::uint8_t* p) {
        if (components == 3) {
            Busy(x, y, p);
        } else {
            p[0] = static_cast<std::uint8_t>(x * 255 / 47 ^ (y & 4) * 8);
        }
    };
    return MakeJpeg(recipe);
}

// Runs action and returns the message of the exception of type E it throws.
template <class E>
std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const E& e) {
        return e.what();
    }
    ADD_FAILURE() << "no exception of the expected type";
    return "<nothing thrown>";
}

// ---- FitToBox ---------------------------------------------------------------------------------

TEST(FitToBoxTest, EveryExample) {
    struct Case {
        int w, h, side, outW, outH;
    };
    const Case cases[] = {
        {800, 600, 64, 64, 48},      {600, 800, 128, 96, 128},    {1024, 1024, 80, 80, 80},
        {3000, 2000, 320, 320, 213}, {2000, 3000, 320, 213, 320}, {641, 480, 64, 64, 47},
        {100, 75, 512, 512, 384},    {1000, 15, 64, 64, 0},       {15, 1000, 64, 0, 64},
        {1000, 20, 64, 64, 1},       {1, 1, 800, 800, 800},       {65500, 65500, 800, 800, 800},
        {65500, 1, 800, 800, 0},     {65500, 2, 800, 800, 0},     {2, 65500, 800, 0, 800},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FitToBox(c.w, c.h, c.side), (BoxSize{c.outW, c.outH}))
            << c.w << "x" << c.h << " in " << c.side;
    }
}

// ---- The form of a written copy ---------------------------------------------------------------

// Natural (row by row) position of each zig-zag index, as DQT stores the tables.
constexpr int kZigzagToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// ITU-T T.81 Annex K tables in natural order.
constexpr int kLuminance[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};
constexpr int kChrominance[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                  24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

std::vector<int> NaturalTable(const std::string& dqtPayload) {
    std::vector<int> table(64);
    for (int i = 0; i < 64; ++i) {
        table[kZigzagToNatural[i]] = static_cast<unsigned char>(dqtPayload[1 + i]);
    }
    return table;
}

std::vector<int> ScaledForQuality90(const int (&annexK)[64]) {
    std::vector<int> table(64);
    for (int i = 0; i < 64; ++i) table[i] = std::clamp((annexK[i] * 20 + 50) / 100, 1, 255);
    return table;
}

std::vector<int> Ints(const std::string& bytes) {
    return {bytes.begin(), bytes.end()};  // char values; callers compare small ones only
}

// Expects jpeg to be exactly the album's copy form for a picture of w x h.
void ExpectCopyForm(const std::string& jpeg, int w, int h) {
    const auto markers = ParseMarkers(jpeg);
    ASSERT_TRUE(markers) << "not a well-formed JPEG file";
    std::vector<int> codes;
    for (const auto& m : *markers) codes.push_back(m.Code);
    ASSERT_EQ(codes,
              (std::vector<int>{0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9}));
    const auto& m = *markers;
    // JFIF 1.01, density unit 0, density 1 x 1, no thumbnail.
    EXPECT_EQ(m[1].Payload, std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));

    ASSERT_EQ(m[2].Payload.size(), 65u);
    ASSERT_EQ(m[3].Payload.size(), 65u);
    EXPECT_EQ(m[2].Payload[0], 0);  // 8-bit table 0
    EXPECT_EQ(m[3].Payload[0], 1);  // 8-bit table 1
    const std::vector<int> luminance = NaturalTable(m[2].Payload);
    const std::vector<int> chrominance = NaturalTable(m[3].Payload);
    EXPECT_EQ(std::vector<int>(luminance.begin(), luminance.begin() + 8),
              (std::vector<int>{3, 2, 2, 3, 5, 8, 10, 12}));
    EXPECT_EQ(std::vector<int>(chrominance.begin(), chrominance.begin() + 8),
              (std::vector<int>{3, 4, 5, 9, 20, 20, 20, 20}));
    EXPECT_EQ(luminance, ScaledForQuality90(kLuminance));
    EXPECT_EQ(chrominance, ScaledForQuality90(kChrominance));

    // Baseline frame: 8-bit samples, h, w, components 1 (2x2, table 0), 2 and 3 (1x1, table 1).
    EXPECT_EQ(m[4].Payload, std::string({8, static_cast<char>(h >> 8), static_cast<char>(h & 0xFF),
                                         static_cast<char>(w >> 8), static_cast<char>(w & 0xFF), 3,
                                         1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}));

    // The four standard Huffman tables of Annex K.3 (their code-length counts identify them).
    const std::map<int, std::vector<int>> standardCounts = {
        {0x00, {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}},
        {0x01, {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}},
        {0x10, {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d}},
        {0x11, {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77}},
    };
    std::set<int> seen;
    for (int i = 5; i <= 8; ++i) {
        const std::string& p = m[i].Payload;
        ASSERT_GE(p.size(), 17u);
        const int id = p[0];
        ASSERT_TRUE(standardCounts.count(id)) << "table class/id " << id;
        seen.insert(id);
        EXPECT_EQ(Ints(p.substr(1, 16)), standardCounts.at(id)) << "table " << id;
        EXPECT_EQ(p.size(), (id & 0x10) ? 1u + 16 + 162 : 1u + 16 + 12) << "table " << id;
    }
    EXPECT_EQ(seen.size(), 4u);

    // One interleaved scan of the three components, full spectral range.
    EXPECT_EQ(m[9].Payload, std::string({3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));

    const auto decoded = DecodeForTest(jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->Width, w);
    EXPECT_EQ(decoded->Height, h);
    EXPECT_EQ(decoded->Components, 3);
}

class PictureTest : public ::testing::Test {
  protected:
    // Writes bytes as a photo file and returns its path.
    std::string PhotoFile(const std::string& name, const std::string& bytes) {
        const std::string path = dir_.File(name);
        test::WriteFileBytes(path, bytes);
        return path;
    }

    // Loads the photo in bytes and writes its copy in a box of side; returns the copy.
    std::string CopyOf(const std::string& bytes, int side, DepthChoice depth = DepthChoice::Depth24,
                       int displayDepth = kDefaultDisplayDepth) {
        LoadedPhoto photo(displayDepth);
        photo.LoadPhoto(PhotoFile("photo.jpg", bytes));
        RgbRaster bitmap;
        JpegObject jpeg(depth);
        const std::string out = dir_.File("copy.jpg");
        WriteScaledJpeg(photo, bitmap, jpeg, side, out);
        return test::ReadFileBytes(out);
    }

    TempDir dir_;
};

TEST_F(PictureTest, CopyHasExactlyTheBaselineJfifForm) {
    ExpectCopyForm(CopyOf(Photo(800, 600), 64), 64, 48);
    // Enlarged: a 100 x 75 photo in a 512 box.
    ExpectCopyForm(CopyOf(Photo(100, 75), 512), 512, 384);
}

TEST_F(PictureTest, ProgressivePhotoWithExifAndCommentGivesPlainBaselineCopy) {
    JpegRecipe recipe;
    recipe.Width = 120;
    recipe.Height = 90;
    recipe.Progressive = true;
    recipe.Pixel = Busy;
    recipe.Markers = {{JPEG_APP0 + 1, test::ExifOrientationPayload(1, true)},
                      {JPEG_COM, "a comment"},
                      {JPEG_APP0 + 2, "ICC_PROFILE"}};
    const std::string input = MakeJpeg(recipe);
    const auto inputMarkers = ParseMarkers(input);
    ASSERT_TRUE(inputMarkers);
    std::set<int> inputCodes;
    for (const auto& m : *inputMarkers) inputCodes.insert(m.Code);
    ASSERT_TRUE(inputCodes.count(0xC2) && inputCodes.count(0xE1) && inputCodes.count(0xFE) &&
                inputCodes.count(0xE2));

    ExpectCopyForm(CopyOf(input, 80), 80, 60);
}

TEST_F(PictureTest, Depth8AndDepth24WriteIdenticalBytes) {
    const std::string input = Photo(200, 150);
    const std::string copy8 = CopyOf(input, 128, DepthChoice::Depth8);
    const std::string copy24 = CopyOf(input, 128, DepthChoice::Depth24);
    EXPECT_FALSE(copy8.empty());
    EXPECT_EQ(copy8, copy24);
}

TEST_F(PictureTest, GrayscalePhotoGivesGreyThreeComponentCopy) {
    const std::string copy = CopyOf(Photo(48, 40, 1), 96);
    ExpectCopyForm(copy, 96, 80);
    const auto decoded = DecodeForTest(copy);
    ASSERT_TRUE(decoded);
    std::set<int> levels;
    for (int y = 0; y < decoded->Height; ++y) {
        for (int x = 0; x < decoded->Width; ++x) {
            const std::uint8_t* p = decoded->At(x, y);
            ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << "pixel " << x << "," << y;
            levels.insert(p[0]);
        }
    }
    EXPECT_GT(levels.size(), 10u);  // a picture, not a flat grey
}

TEST_F(PictureTest, TooFlatCopyIsAnEmptyFileButThePhotoIsDecoded) {
    for (auto [w, h] : {std::pair{1000, 15}, std::pair{15, 1000}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        LoadedPhoto photo;
        photo.LoadPhoto(PhotoFile("flat.jpg", Photo(w, h)));
        const std::string out = dir_.File("flat-copy.jpg");
        test::WriteFileBytes(out, "old content to be replaced");
        RgbRaster bitmap;
        JpegObject jpeg;
        WriteScaledJpeg(photo, bitmap, jpeg, 64, out);
        EXPECT_EQ(test::ReadFileBytes(out), "");
        EXPECT_TRUE(jpeg.Compressed().empty());
        ASSERT_NE(photo.DecodedIfReady(), nullptr);
        EXPECT_EQ(photo.DecodedIfReady()->Width, w);
    }
}

TEST_F(PictureTest, OnePixelHighCopyIsValid) {
    ExpectCopyForm(CopyOf(Photo(1000, 20), 64), 64, 1);
    // A photo that is itself one pixel high.
    ExpectCopyForm(CopyOf(Photo(37, 1), 64), 64, 1);
}

// A busy 37 x 23 photo whose album decode differs from the library's default decode, so
// that comparing against a decode with the album's settings tells the settings apart.
TEST_F(PictureTest, DecodesWithTheAlbumSettings) {
    JpegRecipe colour;
    colour.Width = 37;
    colour.Height = 23;
    colour.Pixel = Busy;
    const std::string rgb = MakeJpeg(colour);
    colour.Progressive = true;
    const std::string progressive = MakeJpeg(colour);
    const std::string grey = Photo(37, 23, 1);

    const auto byDefault = DecodeForTest(rgb);
    const auto album = DecodeForTest(rgb, {.AlbumSettings = true});
    ASSERT_TRUE(byDefault && album);
    ASSERT_NE(byDefault->Pixels, album->Pixels) << "fixture does not tell the settings apart";

    struct Case {
        const char* name;
        const std::string* jpeg;
        int displayDepth;
        bool indexed;
    };
    const Case cases[] = {
        {"colour, 24-bit display", &rgb, 24, false},
        {"colour, 16-bit display", &rgb, 16, false},
        {"progressive, 24-bit display", &progressive, 24, false},
        {"colour, 8-bit display", &rgb, 8, true},
        {"grey, 24-bit display", &grey, 24, true},
        {"grey, 8-bit display", &grey, 8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodedRaster raster = DecodeJpeg(AsBytes(*c.jpeg), c.displayDepth);
        std::vector<std::array<std::uint8_t, 3>> map;
        const auto expected =
            DecodeForTest(*c.jpeg, {.AlbumSettings = true, .Quantize = c.indexed}, &map);
        ASSERT_TRUE(expected);
        EXPECT_EQ(raster.Width, 37);
        EXPECT_EQ(raster.Height, 23);
        EXPECT_EQ(raster.Indexed, c.indexed);
        EXPECT_EQ(raster.Pixels, expected->Pixels);
        if (c.indexed) {
            EXPECT_EQ(raster.ColourMap, map);
            EXPECT_LE(raster.ColourMap.size(), 236u);
        } else {
            EXPECT_TRUE(raster.ColourMap.empty());
        }
    }

    // A grayscale file's map is 236 grey levels evenly spread from 0 to 255.
    const DecodedRaster greyRaster = DecodeJpeg(AsBytes(grey), 24);
    ASSERT_EQ(greyRaster.ColourMap.size(), 236u);
    for (std::size_t i = 0; i < 236; ++i) {
        const auto& c = greyRaster.ColourMap[i];
        ASSERT_TRUE(c[0] == c[1] && c[1] == c[2]) << i;
        EXPECT_EQ(c[0], (i * 255 + 117) / 235) << i;
    }
}

TEST(EncodeJpegTest, EncodesAtQuality90WithTheFloatingPointDct) {
    RgbRaster raster;
    raster.Width = 45;
    raster.Height = 29;
    for (int y = 0; y < raster.Height; ++y) {
        for (int x = 0; x < raster.Width; ++x) {
            std::uint8_t p[3];
            Busy(x, y, p);
            raster.Pixels.insert(raster.Pixels.end(), p, p + 3);
        }
    }
    JpegRecipe recipe;
    recipe.Width = raster.Width;
    recipe.Height = raster.Height;
    recipe.Quality = 90;
    recipe.Pixel = Busy;
    const std::string integerDct = MakeJpeg(recipe);
    recipe.FloatDct = true;
    const std::string floatDct = MakeJpeg(recipe);
    ASSERT_NE(integerDct, floatDct) << "fixture does not tell the DCT methods apart";
    EXPECT_EQ(AsString(EncodeJpeg(raster)), floatDct);

    raster.Height = 0;
    EXPECT_TRUE(EncodeJpeg(raster).empty());
}

// ---- Pixel selection --------------------------------------------------------------------------

TEST(DrawScaledTest, SelectsSourcePixelsWithoutMixing) {
    // Every source pixel has its own colour.
    DecodedRaster rgb;
    rgb.Width = 7;
    rgb.Height = 5;
    for (int i = 0; i < 35; ++i) {
        rgb.Pixels.insert(rgb.Pixels.end(),
                          {static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(200 - i),
                           static_cast<std::uint8_t>(i * 3 + 1)});
    }
    // The same picture as an indexed raster: index i has the colour of pixel i.
    DecodedRaster indexed;
    indexed.Width = 7;
    indexed.Height = 5;
    indexed.Indexed = true;
    for (int i = 0; i < 35; ++i) {
        indexed.Pixels.push_back(static_cast<std::uint8_t>(i));
        indexed.ColourMap.push_back(
            {rgb.Pixels[i * 3], rgb.Pixels[i * 3 + 1], rgb.Pixels[i * 3 + 2]});
    }
    const std::pair<int, int> sizes[] = {{3, 2}, {7, 5}, {1, 1}, {17, 11}, {64, 1}, {2, 40}};
    for (const DecodedRaster* source : {&rgb, &indexed}) {
        for (auto [w, h] : sizes) {
            SCOPED_TRACE((source->Indexed ? "indexed " : "rgb ") + std::to_string(w) + "x" +
                         std::to_string(h));
            RgbRaster target;
            target.Width = w;
            target.Height = h;
            target.Pixels.assign(static_cast<std::size_t>(w) * h * 3, 0xEE);
            DrawScaled(*source, target);
            ASSERT_EQ(target.Pixels.size(), static_cast<std::size_t>(w) * h * 3);
            std::set<int> used;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const int sx = x * 7 / w;
                    const int sy = y * 5 / h;
                    const int i = sy * 7 + sx;
                    const std::uint8_t* p =
                        &target.Pixels[(static_cast<std::size_t>(y) * w + x) * 3];
                    ASSERT_EQ(std::vector<int>(p, p + 3),
                              std::vector<int>(&rgb.Pixels[i * 3], &rgb.Pixels[i * 3 + 3]))
                        << "at " << x << "," << y;
                    used.insert(i);
                }
            }
            // Enlarging in both directions repeats every source pixel, leaving none out.
            if (w >= 7 && h >= 5) {
                EXPECT_EQ(used.size(), 35u);
            }
        }
    }
}

// ---- Failures ---------------------------------------------------------------------------------

// Opens files as an unprivileged user for its lifetime when running as root, whom file modes do
// not stop.
class AsOrdinaryUser {
  public:
    AsOrdinaryUser() : active_(::geteuid() == 0) {
        if (active_) ::setfsuid(65534);
    }
    ~AsOrdinaryUser() {
        if (active_) ::setfsuid(0);
    }

  private:
    bool active_;
};

TEST_F(PictureTest, EveryFailureWithItsMessage) {
    LoadedPhoto photo;
    RgbRaster bitmap;
    JpegObject jpeg;
    const std::string out = dir_.File("out.jpg");

    // A photo that cannot be opened.
    const std::string missing = dir_.File("無い写真.jpg");
    EXPECT_EQ(MessageOf<EFOpenError>([&] { photo.LoadPhoto(missing); }),
              "ファイル \"" + missing + "\". " + std::strerror(ENOENT) + " は開けません");
    std::filesystem::create_directory(dir_.File("folder.jpg"));
    EXPECT_EQ(
        MessageOf<EFOpenError>([&] { photo.LoadPhoto(dir_.File("folder.jpg")); }),
        "ファイル \"" + dir_.File("folder.jpg") + "\". " + std::strerror(EISDIR) + " は開けません");

    // Not a JPEG stream: the library's code for a missing start-of-image marker.
    EXPECT_EQ(MessageOf<EJPEG>([&] { photo.LoadPhoto(PhotoFile("text.jpg", "just text\r\n")); }),
              "JPEG エラー #53");
    EXPECT_FALSE(photo.IsLoaded());

    // A file of length 0 loads as 0 x 0 and fails at its first copy; no file is written.
    photo.LoadPhoto(PhotoFile("empty.jpg", ""));
    EXPECT_TRUE(photo.IsLoaded());
    EXPECT_EQ(photo.Width(), 0);
    EXPECT_EQ(photo.Height(), 0);
    EXPECT_EQ(MessageOf<EJPEG>([&] { WriteScaledJpeg(photo, bitmap, jpeg, 64, out); }),
              "JPEG エラー #42");
    EXPECT_FALSE(std::filesystem::exists(out));

    // Image data behind a sound header: the second scan names a component the frame lacks.
    JpegRecipe recipe;
    recipe.Progressive = true;
    recipe.Pixel = Busy;
    std::string damaged = MakeJpeg(recipe);
    const auto markers = ParseMarkers(damaged);
    ASSERT_TRUE(markers);
    int scans = 0;
    for (const auto& m : *markers) {
        if (m.Code == 0xDA && ++scans == 2) damaged[m.Offset + 5] = 9;  // first selector
    }
    ASSERT_GE(scans, 2);
    photo.LoadPhoto(PhotoFile("damaged.jpg", damaged));
    EXPECT_EQ(photo.Width(), 16);
    EXPECT_EQ(MessageOf<EJPEG>([&] { WriteScaledJpeg(photo, bitmap, jpeg, 64, out); }),
              "JPEG エラー #" + std::to_string(JERR_BAD_COMPONENT_ID));
    EXPECT_FALSE(std::filesystem::exists(out));

    // Output that cannot be created: a read-only file (kept as it was) and a missing folder.
    photo.LoadPhoto(PhotoFile("good.jpg", Photo(40, 30)));
    test::WriteFileBytes(out, "read-only");
    ::chmod(out.c_str(), 0444);
    ::chmod(dir_.Path().c_str(), 0755);
    {
        AsOrdinaryUser ordinary;
        EXPECT_EQ(MessageOf<EFCreateError>([&] { WriteScaledJpeg(photo, bitmap, jpeg, 64, out); }),
                  "ファイル \"" + out + "\". " + std::strerror(EACCES) + " を作成できません");
    }
    EXPECT_EQ(test::ReadFileBytes(out), "read-only");
    const std::string noFolder = dir_.File("no-folder/out.jpg");
    EXPECT_EQ(MessageOf<EFCreateError>([&] { WriteScaledJpeg(photo, bitmap, jpeg, 64, noFolder); }),
              "ファイル \"" + noFolder + "\". " + std::strerror(ENOENT) + " を作成できません");

    // A write that falls short (a full disk).
    EXPECT_EQ(
        MessageOf<EInOutError>([&] { WriteScaledJpeg(photo, bitmap, jpeg, 64, "/dev/full"); }),
        "I/O エラー (" + std::to_string(ENOSPC) + ")");
}

TEST_F(PictureTest, FailedLoadKeepsThePreviousPhoto) {
    LoadedPhoto photo;
    photo.LoadPhoto(PhotoFile("first.jpg", Photo(48, 32)));
    RgbRaster bitmap;
    JpegObject jpeg;
    WriteScaledJpeg(photo, bitmap, jpeg, 64, dir_.File("a.jpg"));
    const DecodedRaster* decoded = photo.DecodedIfReady();
    ASSERT_NE(decoded, nullptr);

    EXPECT_THROW(photo.LoadPhoto(dir_.File("missing.jpg")), EFOpenError);
    EXPECT_THROW(photo.LoadPhoto(PhotoFile("text.jpg", "<html></html>")), EJPEG);
    EXPECT_EQ(photo.Width(), 48);
    EXPECT_EQ(photo.Height(), 32);
    EXPECT_EQ(photo.DecodedIfReady(), decoded);
    WriteScaledJpeg(photo, bitmap, jpeg, 64, dir_.File("b.jpg"));
    EXPECT_EQ(test::ReadFileBytes(dir_.File("b.jpg")), test::ReadFileBytes(dir_.File("a.jpg")));
    ExpectCopyForm(test::ReadFileBytes(dir_.File("b.jpg")), 64, 42);
}

TEST_F(PictureTest, TruncatedPhotoStillMakesACopy) {
    const std::string whole = Photo(64, 48);
    const std::string copy = CopyOf(whole.substr(0, whole.size() / 2), 64);
    ExpectCopyForm(copy, 64, 48);
}

// A header claiming 65500 x 65500 pixels over the data of a small photo.
std::string ForgedHugePhoto() {
    std::string jpeg = Photo(16, 16);
    const auto markers = ParseMarkers(jpeg);
    for (const auto& m : *markers) {
        if (m.Code == 0xC0) {
            for (std::size_t at : {m.Offset + 5, m.Offset + 7}) {
                jpeg[at] = static_cast<char>(0xFF);
                jpeg[at + 1] = static_cast<char>(0xDC);
            }
        }
    }
    return jpeg;
}

TEST_F(PictureTest, PhotoTooLargeForMemoryFailsBeforeAllocating) {
    const std::uint64_t rasterBytes = 65500ull * 65500 * 3;
    if (detail::DecodeMemoryLimit() >= rasterBytes) {
        GTEST_SKIP() << "this machine has memory for a 65500 x 65500 raster";
    }
    LoadedPhoto photo;
    photo.LoadPhoto(PhotoFile("huge.jpg", ForgedHugePhoto()));
    EXPECT_EQ(photo.Width(), 65500);
    RgbRaster bitmap;
    JpegObject jpeg;
    EXPECT_EQ(MessageOf<EOutOfResources>(
                  [&] { WriteScaledJpeg(photo, bitmap, jpeg, 64, dir_.File("out.jpg")); }),
              "システム リソースが足りません");
    EXPECT_EQ(photo.DecodedIfReady(), nullptr);
}

TEST(DecodeMemoryTest, CountsRasterAndLibraryBuffers) {
    JpegRecipe recipe;
    recipe.Pixel = Busy;  // 16 x 16
    const auto baseline = AsBytes(MakeJpeg(recipe));
    recipe.Progressive = true;
    const auto progressive = AsBytes(MakeJpeg(recipe));
    const std::uint64_t raster = 16 * 16 * 3;
    EXPECT_EQ(detail::DecodeJpegWithin(baseline, 24, raster).Pixels.size(), raster);
    EXPECT_THROW(detail::DecodeJpegWithin(baseline, 24, raster - 1), EOutOfResources);
    // A progressive file also keeps all its coefficients while it is read.
    EXPECT_THROW(detail::DecodeJpegWithin(progressive, 24, raster), EOutOfResources);
    EXPECT_NO_THROW(detail::DecodeJpegWithin(progressive, 24, 2 * raster));
}

// ---- Departures: orientation and CMYK ---------------------------------------------------------

enum Colour { kRed, kGreen, kBlue, kWhite };
constexpr std::uint8_t kColours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

void ExpectColour(const std::uint8_t* p, Colour expected, const char* where) {
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(p[c], kColours[expected][c], 24) << where << " channel " << c;
    }
}

TEST_F(PictureTest, ExifOrientationTurnsThePhotoUpright) {
    // Stored 64 x 32: red top left, green top right, blue bottom left, white bottom right.
    auto quadrants = [](int x, int y, std::uint8_t* p) {
        const Colour c = y < 16 ? (x < 32 ? kRed : kGreen) : (x < 32 ? kBlue : kWhite);
        std::copy(kColours[c], kColours[c] + 3, p);
    };
    struct Case {
        int orientation;
        Colour topLeft, topRight, bottomLeft;
    };
    const Case cases[] = {
        {0, kRed, kGreen, kBlue},  // invalid: as stored
        {1, kRed, kGreen, kBlue},   {2, kGreen, kRed, kWhite},
        {3, kWhite, kBlue, kGreen}, {4, kBlue, kWhite, kRed},
        {5, kRed, kBlue, kGreen},   {6, kBlue, kRed, kWhite},
        {7, kWhite, kGreen, kBlue}, {8, kGreen, kWhite, kRed},
        {9, kRed, kGreen, kBlue},  // invalid: as stored
    };
    for (bool little : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE("orientation " + std::to_string(c.orientation) + (little ? " II" : " MM"));
            JpegRecipe recipe;
            recipe.Width = 64;
            recipe.Height = 32;
            recipe.Pixel = quadrants;
            recipe.Markers = {{JPEG_APP0 + 1, test::ExifOrientationPayload(c.orientation, little)}};
            const std::string input = MakeJpeg(recipe);
            const bool turned = c.orientation >= 5 && c.orientation <= 8;
            const int w = turned ? 32 : 64;
            const int h = turned ? 64 : 32;

            LoadedPhoto photo;
            photo.LoadPhoto(PhotoFile("turned.jpg", input));
            EXPECT_EQ(photo.Width(), w);
            EXPECT_EQ(photo.Height(), h);
            const DecodedRaster& raster = photo.Decoded();
            ASSERT_EQ(raster.Width, w);
            ASSERT_EQ(raster.Height, h);
            auto at = [&](int x, int y) { return &raster.Pixels[(std::size_t(y) * w + x) * 3]; };
            ExpectColour(at(w / 4, h / 4), c.topLeft, "top left");
            ExpectColour(at(3 * w / 4, h / 4), c.topRight, "top right");
            ExpectColour(at(w / 4, 3 * h / 4), c.bottomLeft, "bottom left");

            RgbRaster bitmap;
            JpegObject jpeg;
            WriteScaledJpeg(photo, bitmap, jpeg, 128, dir_.File("turned-copy.jpg"));
            const auto copy = DecodeForTest(test::ReadFileBytes(dir_.File("turned-copy.jpg")));
            ASSERT_TRUE(copy);
            EXPECT_EQ(copy->Width, turned ? 64 : 128);
            EXPECT_EQ(copy->Height, turned ? 128 : 64);
        }
    }
}

TEST(ExifOrientationTest, ReadsOnlyWhatThePayloadHolds) {
    for (bool little : {true, false}) {
        const std::string payload = test::ExifOrientationPayload(6, little);
        // The orientation entry ends the payload's 40th byte; every shorter payload holds none.
        ASSERT_EQ(payload.size(), 44u);
        for (std::size_t size = 0; size <= payload.size(); ++size) {
            // A copy of exactly size bytes, so that reading past it is caught.
            const std::vector<std::uint8_t> bytes(payload.begin(), payload.begin() + size);
            EXPECT_EQ(detail::ExifOrientation(bytes.data(), bytes.size()), size >= 40 ? 6 : 1)
                << size << (little ? " II" : " MM");
        }
    }
    std::string wrongType = test::ExifOrientationPayload(6, true);
    wrongType[6 + 8 + 2 + 12 + 2] = 4;  // LONG instead of SHORT
    EXPECT_EQ(detail::ExifOrientation(AsBytes(wrongType).data(), wrongType.size()), 1);
    std::string farIfd = test::ExifOrientationPayload(6, true);
    farIfd[6 + 4] = 0x7F;  // IFD0 offset beyond the payload
    EXPECT_EQ(detail::ExifOrientation(AsBytes(farIfd).data(), farIfd.size()), 1);
}

TEST(DecodeJpegTest, ConvertsCmykAndYcckToRgb) {
    struct Case {
        const char* name;
        bool ycck;
        bool adobe;  // an Adobe marker means the samples are stored inverted
    };
    const Case cases[] = {
        {"Adobe CMYK", false, true}, {"plain CMYK", false, false}, {"Adobe YCCK", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JpegRecipe recipe;
        recipe.Width = 32;
        recipe.Height = 16;
        recipe.Components = 4;
        recipe.Ycck = c.ycck;
        recipe.AdobeMarker = c.adobe;
        // Left half red ink (magenta + yellow), right half 50 % black.
        recipe.Pixel = [&](int x, int, std::uint8_t* p) {
            const std::uint8_t ink[4] = {0, static_cast<std::uint8_t>(x < 16 ? 255 : 0),
                                         static_cast<std::uint8_t>(x < 16 ? 255 : 0),
                                         static_cast<std::uint8_t>(x < 16 ? 0 : 128)};
            for (int i = 0; i < 4; ++i) p[i] = c.adobe ? 255 - ink[i] : ink[i];
        };
        const std::string input = MakeJpeg(recipe);
        for (int depth : {24, 8}) {
            const DecodedRaster raster = DecodeJpeg(AsBytes(input), depth);
            ASSERT_FALSE(raster.Indexed);
            ASSERT_EQ(raster.Width, 32);
            ExpectColour(&raster.Pixels[(8 * 32 + 8) * 3], kRed, "left");
            const std::uint8_t* right = &raster.Pixels[(8 * 32 + 24) * 3];
            for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(right[ch], 127, 8) << "right " << ch;
        }
    }
}

// ---- Worker threads ---------------------------------------------------------------------------

TEST(PicturePipelineTest, DecodeDrawAndEncodeRunOnManyThreadsAtOnce) {
    JpegRecipe turned;
    turned.Width = 90;
    turned.Height = 50;
    turned.Pixel = Busy;
    turned.Markers = {{JPEG_APP0 + 1, test::ExifOrientationPayload(6, false)}};
    turned.Progressive = true;
    const std::vector<std::vector<std::uint8_t>> photos = {
        AsBytes(Photo(120, 80)), AsBytes(Photo(48, 60, 1)), AsBytes(MakeJpeg(turned))};
    const std::vector<std::uint8_t> broken = AsBytes("not a photo");

    auto copyOf = [](const std::vector<std::uint8_t>& data, int depth) {
        const DecodedRaster decoded = DecodeJpeg(data, depth);
        const BoxSize size = FitToBox(decoded.Width, decoded.Height, 64);
        RgbRaster bitmap;
        bitmap.Width = size.Width;
        bitmap.Height = size.Height;
        DrawScaled(decoded, bitmap);
        return EncodeJpeg(bitmap);
    };
    std::vector<std::vector<std::uint8_t>> expected;
    for (const auto& p : photos) expected.push_back(copyOf(p, 24));
    for (const auto& p : photos) expected.push_back(copyOf(p, 8));

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 6; ++round) {
                const std::size_t i = static_cast<std::size_t>(t + round) % photos.size();
                const int depth = (t + round) % 2 ? 8 : 24;
                if (copyOf(photos[i], depth) != expected[i + (depth == 8 ? photos.size() : 0)]) {
                    ++wrong;
                }
                try {
                    DecodeJpeg(broken, 24);
                    ++wrong;
                } catch (const EJPEG& e) {
                    if (e.Code() != 53) ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace zenfo
