#include "album/settings.h"

#include <gtest/gtest.h>

namespace zenfo {
namespace {

TEST(AlbumSettings, DefaultsAreThoseOfAnUntouchedWindow) {
    AlbumSettings s;
    EXPECT_EQ(s.Title, "インデックス");
    EXPECT_TRUE(s.DescriptionLines.empty());
    EXPECT_EQ(s.NamePrefix, "photo");
    EXPECT_EQ(ThumbSide(s), 128);
    EXPECT_EQ(BodySide(s), 512);
    EXPECT_EQ(s.ThumbDepth, DepthChoice::Depth24);
    EXPECT_EQ(s.BodyDepth, DepthChoice::Depth8);
    EXPECT_FALSE(s.ShowNames);
    EXPECT_EQ(s.LinkTarget, LinkChoice::OriginalFile);
    EXPECT_EQ(s.AfterRun, AfterRunChoice::OpenIndex);
}

TEST(AlbumSettings, ChoiceNumbersAreRadioItemIndexes) {
    EXPECT_EQ(static_cast<int>(SizeChoice::Small), 0);
    EXPECT_EQ(static_cast<int>(SizeChoice::Large), 2);
    EXPECT_EQ(static_cast<int>(DepthChoice::Depth24), 1);
    EXPECT_EQ(static_cast<int>(LinkChoice::OriginalFile), 1);
    EXPECT_EQ(static_cast<int>(AfterRunChoice::RunSlideshow), 1);
    EXPECT_EQ(static_cast<int>(AfterRunChoice::NoAction), 2);
}

TEST(AlbumSettings, SidesFollowTheSizeChoice) {
    struct Case {
        SizeChoice size;
        int thumb;
        int body;
    } cases[] = {
        {SizeChoice::Small, 64, 320}, {SizeChoice::Medium, 80, 512}, {SizeChoice::Large, 128, 800}};
    for (const Case& c : cases) {
        AlbumSettings s;
        s.ThumbSize = c.size;
        s.BodySize = c.size;
        EXPECT_EQ(ThumbSide(s), c.thumb) << static_cast<int>(c.size);
        EXPECT_EQ(BodySide(s), c.body) << static_cast<int>(c.size);
    }
}

TEST(SplitDescription, DividesAsTheFieldDoes) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\nb\n", {"a", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb", {"a", "b"}},
        {"\n", {""}},
        {"a\n\n", {"a", ""}},
        {"<b>太字</b>", {"<b>太字</b>"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitDescription(c.text), c.lines) << "text: [" << c.text << "]";
    }
}

TEST(SplitDescription, CutsLongLinesAt4096Cp932BytesBetweenCharacters) {
    // あ is two bytes in CP932 (three in UTF-8): 2048 of them fill 4096 bytes.
    std::string kana;
    for (int i = 0; i < 3000; ++i) kana += "あ";
    std::vector<std::string> lines = SplitDescription(kana + "\nnext");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 2048u * 3);
    EXPECT_EQ(lines[1], "next");

    // A two-byte character that would straddle the limit is left out whole.
    std::string odd = std::string(4095, 'a') + "あ";
    EXPECT_EQ(SplitDescription(odd)[0], std::string(4095, 'a'));
    EXPECT_EQ(SplitDescription(std::string(4096, 'b'))[0].size(), 4096u);
    EXPECT_EQ(SplitDescription(std::string(5000, 'b'))[0].size(), 4096u);
}

}  // namespace
}  // namespace zenfo
