#include "album/pages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "album/errors.h"
#include "album/text.h"
#include "cp932_util.h"
#include "test_util.h"

namespace zenfo {
namespace {

using test::CrLfLines;
using test::TempDir;

const std::string kHeadStart =
    "<!doctype html public \"-//w3c//dtd html 4.0 transitional//en\"><html>";
const std::string kMeta =
    "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">";
const std::string kTable =
    "<table bordercolor=\"#006600\" rules=\"all\" cellpadding=5 cellspacing=0>";

std::string Cell(int k) {
    std::string n = std::to_string(k);
    return "<td align=\"center\" Valign=\"center\"><a href=\"zenfo-photo000" + n +
           ".html\"><img src=\"zenfo-s-photo000" + n + ".jpg\" alt=\"zenfo-s-photo000" + n +
           ".jpg\" border=0 + ></a></td>";
}

std::string Head(const std::string& title, std::initializer_list<std::string> description = {}) {
    std::string head = CrLfLines(
        {kHeadStart, kMeta, "<title>" + title + "</title>", "</head>", "<body bgcolor=\"#006600\">",
         "<br><center><h3><font color=\"#ffff00\">" + title + "</font></h3>"});
    for (const std::string& line : description) head += CrLfLines({"<p>" + line + "</p>"});
    if (description.size() > 0) head += CrLfLines({"<br>"});
    return head + CrLfLines({kTable, "<font size=1>"});
}

const std::string kTail = CrLfLines({"</table>", "</font>", "</body>", "</html>"});

// Writes an index page of `count` photos a.jpg, b.jpg, ... with stems photo0000 on.
std::string WriteIndex(const TempDir& dir, const AlbumSettings& settings, int columns, int count) {
    IndexPageWriter writer;
    writer.BeginIndexPage(dir.Path(), settings, columns);
    for (int k = 0; k < count; ++k) {
        std::string n = std::to_string(k);
        writer.AddIndexCell("zenfo-photo000" + n + ".html", "zenfo-s-photo000" + n + ".jpg",
                            std::string(1, static_cast<char>('a' + k)) + ".jpg");
    }
    writer.FinishIndexPage();
    return test::ReadFileBytes(dir.File("index.html"));
}

TEST(IndexPage, CellLineIsExactlyAsDesigned) {
    TempDir dir;
    AlbumSettings settings;
    settings.Title = "t";
    EXPECT_EQ(WriteIndex(dir, settings, 7, 1),
              Head("t") +
                  CrLfLines({"<tr>",
                             "<td align=\"center\" Valign=\"center\"><a "
                             "href=\"zenfo-photo0000.html\"><img "
                             "src=\"zenfo-s-photo0000.jpg\" alt=\"zenfo-s-photo0000.jpg\" "
                             "border=0 + ></a></td>",
                             "</tr>"}) +
                  kTail);
}

TEST(IndexPage, TableRowsWithAndWithoutNames) {
    struct Case {
        bool showNames;
        int columns;
        int count;
        std::string table;
    } cases[] = {
        {true, 2, 3,
         CrLfLines({"<tr>", Cell(0), Cell(1), "</tr>", "<tr>", "<td>a.jpg</td>", "<td>b.jpg</td>",
                    "<tr>", "<td>  </td>", "<td>  </td>", "</tr>", "<tr>", Cell(2), "</tr>", "<tr>",
                    "<td>c.jpg</td>", "</tr>"})},
        {false, 2, 3, CrLfLines({"<tr>", Cell(0), Cell(1), "</tr>", "<tr>", Cell(2), "</tr>"})},
        // Exactly one full row: nothing is added before the tail.
        {false, 2, 2, CrLfLines({"<tr>", Cell(0), Cell(1), "</tr>"})},
        {true, 1, 2,
         CrLfLines({"<tr>", Cell(0), "</tr>", "<tr>", "<td>a.jpg</td>", "<tr>", "<td>  </td>",
                    "</tr>", "<tr>", Cell(1), "</tr>", "<tr>", "<td>b.jpg</td>", "<tr>",
                    "<td>  </td>", "</tr>"})},
        // No photo: the table has no rows.
        {true, 7, 0, ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        AlbumSettings settings;
        settings.Title = "T";
        settings.ShowNames = c.showNames;
        EXPECT_EQ(WriteIndex(dir, settings, c.columns, c.count), Head("T") + c.table + kTail)
            << "names " << c.showNames << " columns " << c.columns << " count " << c.count;
    }
}

TEST(IndexPage, MoreThan25CellsInARow) {
    TempDir dir;
    AlbumSettings settings;
    settings.ShowNames = true;
    IndexPageWriter writer;
    writer.BeginIndexPage(dir.Path(), settings, 30);
    for (int k = 0; k < 30; ++k) writer.AddIndexCell("p.html", "t.jpg", "n" + std::to_string(k));
    writer.FinishIndexPage();
    std::string page = test::ReadFileBytes(dir.File("index.html"));
    EXPECT_NE(page.find("<td>n29</td>\r\n<tr>\r\n"), std::string::npos);
}

TEST(IndexPage, HeadWithDescriptionAndTitlesAsTyped) {
    struct Case {
        std::string title;
        std::vector<std::string> description;
        std::string expectedHead;
    } cases[] = {
        {"A<b>&c", {}, Head("A<b>&c")},
        {"x", {"one", "", "<i>three</i>"}, Head("x", {"one", "", "<i>three</i>"})},
        {"", {}, Head("")},
        // Japanese text goes out in CP932.
        {"写真", {"説明"}, Head("\x8E\xCA\x90\x5E", {"\x90\xE0\x96\xBE"})},
        // A character CP932 cannot hold becomes a character reference.
        {"smile \xF0\x9F\x98\x80", {}, Head("smile &#x1F600;")},
    };
    for (const Case& c : cases) {
        TempDir dir;
        AlbumSettings settings;
        settings.Title = c.title;
        settings.DescriptionLines = c.description;
        EXPECT_EQ(WriteIndex(dir, settings, 3, 0), c.expectedHead + kTail) << c.title;
    }
}

TEST(IndexPage, FileNamesAreEscapedInLinksAndNamesRow) {
    TempDir dir;
    AlbumSettings settings;
    settings.ShowNames = true;
    IndexPageWriter writer;
    writer.BeginIndexPage(dir.Path(), settings, 5);
    writer.AddIndexCell("zenfo-a\"<b>#.html", "zenfo-s-a\"<b>#.jpg", "x&\"<script>.jpg");
    writer.FinishIndexPage();
    std::string page = test::ReadFileBytes(dir.File("index.html"));
    EXPECT_NE(
        page.find("<a href=\"zenfo-a%22%3Cb%3E%23.html\"><img src=\"zenfo-s-a%22%3Cb%3E%23.jpg\" "
                  "alt=\"zenfo-s-a&quot;&lt;b&gt;#.jpg\" border=0 + ></a>"),
        std::string::npos)
        << page;
    EXPECT_NE(page.find("<td>x&amp;&quot;&lt;script&gt;.jpg</td>"), std::string::npos) << page;
    EXPECT_EQ(page.find("<script>"), std::string::npos);
}

TEST(IndexPage, ColumnCountFromScreenWidth) {
    struct Case {
        int width;
        int side;
        int columns;
    } cases[] = {{640, 64, 9},   {640, 80, 7},   {640, 128, 4},  {800, 64, 11},  {800, 80, 9},
                 {800, 128, 5},  {1024, 64, 14}, {1024, 80, 11}, {1024, 128, 7}, {1280, 64, 18},
                 {1280, 80, 14}, {1280, 128, 9}, {1600, 64, 22}, {1600, 80, 18}, {1600, 128, 11},
                 {3840, 64, 54}, {100, 128, 1},  {0, 64, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(ColumnCount(c.width, c.side), c.columns) << c.width << " " << c.side;
    }
}

TEST(IndexPage, CreationFailuresCarryTheIoMessage) {
    TempDir dir;
    AlbumSettings settings;
    IndexPageWriter writer;
    try {
        writer.BeginIndexPage(dir.File("missing/"), settings, 1);
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "ファイル名の指定が間違っています");
    }
    ASSERT_EQ(::mkdir(dir.File("index.html").c_str(), 0755), 0);
    try {
        writer.BeginIndexPage(dir.Path(), settings, 1);
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "I/O エラー (21)");  // EISDIR
    }
}

TEST(IndexPage, AWriteToAFullDiskFails) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    ASSERT_EQ(::symlink("/dev/full", dir.File("index.html").c_str()), 0);
    IndexPageWriter writer;
    try {
        writer.BeginIndexPage(dir.Path(), AlbumSettings{}, 1);
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Errno(), ENOSPC);
        EXPECT_STREQ(e.what(), ("I/O エラー (" + std::to_string(ENOSPC) + ")").c_str());
    }
}

TEST(InOutError, MessageFollowsErrno) {
    struct Case {
        int errnum;
        const char* message;
    } cases[] = {{ENOENT, "ファイル名の指定が間違っています"},
                 {ENOTDIR, "ファイル名の指定が間違っています"},
                 {EMFILE, "オープンしたファイルが多すぎます"},
                 {ENFILE, "オープンしたファイルが多すぎます"},
                 {EACCES, "ファイルへのアクセスが拒否されました"},
                 {EPERM, "ファイルへのアクセスが拒否されました"},
                 {EROFS, "ファイルへのアクセスが拒否されました"},
                 {ENOSPC, "I/O エラー (28)"},
                 {EIO, "I/O エラー (5)"}};
    for (const Case& c : cases) EXPECT_STREQ(EInOutError(c.errnum).what(), c.message) << c.errnum;
}

TEST(ErrorReport, AppendsADotAfterCharactersAboveDot) {
    struct Case {
        const char* message;
        const char* shown;
    } cases[] = {{"done.", "done."},
                 {"bang!", "bang!"},
                 {"letter", "letter."},
                 {"JPEG エラー #53", "JPEG エラー #53."},
                 {"ファイル名の指定が間違っています", "ファイル名の指定が間違っています."},
                 {"", ""}};
    for (const Case& c : cases) EXPECT_EQ(ErrorReportText(c.message), c.shown) << c.message;
}

TEST(PhotoPage, EightLinesExactly) {
    TempDir dir;
    WritePhotoPage(dir.File("zenfo-photo0000.html"), "dsc0001.jpg", "タイトル<&>");
    std::string page = test::ReadFileBytes(dir.File("zenfo-photo0000.html"));
    EXPECT_EQ(test::FromCp932(page),
              CrLfLines({"<html>", "<head>", "<title>タイトル<&></title>", "</head>",
                         "<body><a href=\"index.html\">", "<img src=\"dsc0001.jpg\" border=\"0\">",
                         "</a><p>画像の上で右クリックし、コピーして、<br>使いたいソフトにはりつけ"
                         "ることができます。<br><br>画像の上で左クリックするとサムネイルにもどりま"
                         "す。</p></body>",
                         "</html>"}));
}

TEST(PhotoPage, PictureNamesAreLinkEscaped) {
    struct Case {
        std::string name;
        std::string src;
    } cases[] = {
        {"IMG 0001.JPG", "IMG 0001.JPG"},
        {"a#b%c?d.jpg", "a%23b%25c%3Fd.jpg"},
        {"q\"<x>.jpg", "q%22%3Cx%3E.jpg"},
        {"it's&.jpg", "it's%26.jpg"},
        {"海.jpg", "\x8A\x43.jpg"},
        {"\xF0\x9F\x98\x80.jpg", "%F0%9F%98%80.jpg"},
        {"\x8A\x43\xFF.jpg", "%8A%43%FF%2E%6A%70%67"},
        {"a\nb.jpg", "a%0Ab.jpg"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WritePhotoPage(dir.File("p.html"), c.name, "");
        std::string page = test::ReadFileBytes(dir.File("p.html"));
        EXPECT_NE(page.find("\r\n<img src=\"" + c.src + "\" border=\"0\">\r\n"), std::string::npos)
            << c.name;
    }
}

TEST(PhotoPage, ReplacesAnEarlierPageAndFailsInAMissingFolder) {
    TempDir dir;
    test::WriteFileBytes(dir.File("p.html"), std::string(5000, 'x'));
    WritePhotoPage(dir.File("p.html"), "a.jpg", "t");
    EXPECT_EQ(test::ReadFileBytes(dir.File("p.html")).substr(0, 8), "<html>\r\n");
    EXPECT_LT(test::ReadFileBytes(dir.File("p.html")).size(), 5000u);
    EXPECT_THROW(WritePhotoPage(dir.File("no/p.html"), "a.jpg", "t"), EInOutError);
}

TEST(Cp932Text, CutsNeverInsideACharacter) {
    EXPECT_EQ(CutToCp932Bytes("ab海", 3), "ab");
    EXPECT_EQ(CutToCp932Bytes("ab海", 4), "ab海");
    EXPECT_EQ(CutToCp932Bytes("a\xF0\x9F\x98\x80", 9), "a");  // the reference takes 9 bytes
    EXPECT_EQ(CutToCp932Bytes("a\xF0\x9F\x98\x80", 10), "a\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace zenfo
