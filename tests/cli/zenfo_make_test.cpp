#include "cli/zenfo_make.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "../album/test_util.h"
#include "album/picture.h"
#include "cli/make_options.h"

namespace zenfo {
namespace {

using test::TempDir;

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result Make(std::vector<std::string> args) {
    std::ostringstream out, err;
    int status = RunZenfoMake(args, out, err);
    return {status, out.str(), err.str()};
}

TEST(MakeOptions, MapsEveryOptionOntoTheSettings) {
    MakeOptions o = ParseMakeOptions({"--title",
                                      "旅",
                                      "--description",
                                      "a",
                                      "--description",
                                      "",
                                      "--prefix",
                                      "p",
                                      "--thumb",
                                      "small",
                                      "--body",
                                      "large",
                                      "--thumb-depth",
                                      "8",
                                      "--body-depth",
                                      "24",
                                      "--show-names",
                                      "--link",
                                      "created",
                                      "--screen-width",
                                      "800",
                                      "--after",
                                      "slideshow",
                                      "--quiet",
                                      "dir"});
    EXPECT_EQ(o.Settings.Title, "旅");
    EXPECT_EQ(o.Settings.DescriptionLines, (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(o.Settings.NamePrefix, "p");
    EXPECT_EQ(o.Settings.ThumbSize, SizeChoice::Small);
    EXPECT_EQ(o.Settings.BodySize, SizeChoice::Large);
    EXPECT_EQ(o.Settings.ThumbDepth, DepthChoice::Depth8);
    EXPECT_EQ(o.Settings.BodyDepth, DepthChoice::Depth24);
    EXPECT_TRUE(o.Settings.ShowNames);
    EXPECT_EQ(o.Settings.LinkTarget, LinkChoice::CreatedFile);
    EXPECT_EQ(o.Settings.ScreenWidth, 800);
    EXPECT_TRUE(o.ScreenWidthGiven);
    EXPECT_EQ(o.After, AfterMake::Slideshow);
    EXPECT_TRUE(o.Quiet);
    EXPECT_EQ(o.Target, "dir");

    MakeOptions d = ParseMakeOptions({"x"});
    EXPECT_EQ(d.Settings.Title, "インデックス");
    EXPECT_EQ(d.Settings.LinkTarget, LinkChoice::OriginalFile);
    EXPECT_EQ(d.After, AfterMake::None);
    EXPECT_FALSE(d.ScreenWidthGiven);
}

TEST(MakeOptions, DescriptionFileSplitsAsTheField) {
    TempDir dir;
    test::WriteFileBytes(dir.File("d.txt"), "one\r\n\r\nthree\n");
    EXPECT_EQ(
        ParseMakeOptions({"--description-file", dir.File("d.txt"), "x"}).Settings.DescriptionLines,
        (std::vector<std::string>{"one", "", "three"}));
}

TEST(MakeOptions, BadUsage) {
    std::vector<std::vector<std::string>> cases = {
        {},
        {"--thumb", "huge", "x"},
        {"--thumb-depth", "16", "x"},
        {"--link", "both", "x"},
        {"--screen-width", "0", "x"},
        {"--screen-width", "12px", "x"},
        {"--after", "later", "x"},
        {"--title"},
        {"--nope", "x"},
        {"a", "b"},
        {"--description-file", "/nonexistent/file", "x"},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_THROW(ParseMakeOptions(args), UsageError) << joined;
        Result r = Make(args);
        EXPECT_EQ(r.status, 2) << joined;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << joined;
    }
    Result help = Make({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--screen-width"), std::string::npos);
}

TEST(ZenfoMake, MakesTheAlbumOfAFolderOrOfTheFolderOfAFile) {
    for (bool viaFile : {false, true}) {
        TempDir dir;
        test::WriteFileBytes(dir.File("b.jpg"), test::PhotoBytes(30, 20));
        test::WriteFileBytes(dir.File("A.JPG"), test::PhotoBytes(20, 30));
        std::string target = viaFile ? dir.File("not-even-there.jpg") : dir.Path();
        if (!viaFile) target.pop_back();  // a folder named without its trailing slash
        Result r = Make({"--link", "created", "--screen-width", "640", target});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err,
                  "[1/2] a.jpgを処理しています\n[2/2] b.jpgを処理しています\n"
                  "サムネイルの作成が終了しました。\n");
        for (const char* f : {"index.html", "zenfo-s-photo0000.jpg", "zenfo-photo0001.jpg",
                              "zenfo-photo0001.html"}) {
            EXPECT_TRUE(Exists(dir.File(f))) << f;
        }
        Result quiet = Make({"--quiet", dir.Path()});
        EXPECT_EQ(quiet.status, 0);
        EXPECT_EQ(quiet.err, "");
    }
}

TEST(ZenfoMake, AFailureIsReportedAsTheWindowWouldShowIt) {
    TempDir dir;
    test::WriteFileBytes(dir.File("a.jpg"), test::PhotoBytes(8, 8));
    test::WriteFileBytes(dir.File("b.jpg"), "text, not a photo");
    test::WriteFileBytes(dir.File("c.jpg"), test::PhotoBytes(8, 8));
    Result r = Make({dir.Path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("zenfo-make: JPEG エラー #53.\n"), std::string::npos) << r.err;
    EXPECT_TRUE(Exists(dir.File("zenfo-photo0000.html")));
    EXPECT_FALSE(Exists(dir.File("zenfo-s-photo0002.jpg")));

    Result missing = Make({dir.File("no/such/folder/")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("ファイル名の指定が間違っています."), std::string::npos);
}

}  // namespace
}  // namespace zenfo
