#include "album/scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "test_util.h"

namespace zenfo {
namespace {

using test::TempDir;

std::vector<std::string> Names(const ScannedFolder& folder) {
    std::vector<std::string> names;
    for (const PhotoEntry& p : folder.Photos) names.push_back(p.Name);
    return names;
}

// Runs a test body with a collation locale set, restoring the environment afterwards.
class ScopedLocale {
  public:
    explicit ScopedLocale(const char* lang) {
        for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            ::unsetenv(name);
        }
        if (lang) ::setenv("LANG", lang, 1);
    }
    ~ScopedLocale() {
        for (auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name, value->c_str(), 1);
            } else {
                ::unsetenv(name);
            }
        }
    }

  private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(ScanPhotoFolder, FolderIsThePathUpToItsLastSlash) {
    EXPECT_EQ(FolderOf("/a/b/c.jpg"), "/a/b/");
    EXPECT_EQ(FolderOf("/a/b/"), "/a/b/");
    EXPECT_EQ(FolderOf("c.jpg"), "");
    EXPECT_EQ(FolderOf("/表/ソ/x.jpg"), "/表/ソ/");
}

TEST(ScanPhotoFolder, ExtensionTest) {
    struct Case {
        const char* name;
        bool jpeg;
    } cases[] = {{"a.jpg", true},      {"a.JPG", true},       {"a.Jpg", true},
                 {"a.jpeg", true},     {"a.jPeG", true},      {"a.b.JPEG", true},
                 {"photo.jpe", false}, {"photo.jfif", false}, {"photo.jpg.txt", false},
                 {"photojpg", false},  {"photo.jpgx", false}, {"photo.", false}};
    for (const Case& c : cases) EXPECT_EQ(HasJpegExtension(c.name), c.jpeg) << c.name;
}

TEST(ScanPhotoFolder, ListsRegularJpegFilesLowerCasedInAlbumOrder) {
    ScopedLocale locale("C");
    TempDir dir;
    for (const char* name : {"IMG_0001.JPG", "b.Jpg", "c.JPEG", "d.jPeG", "photo.jpe", "photo.jfif",
                             "photo.jpg.txt", "noext", ".hidden.jpg", ".jpg", "海.JPG", "ア.jpg"}) {
        test::WriteFileBytes(dir.File(name), "x");
    }
    ASSERT_EQ(::mkdir(dir.File("folder.jpg").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(dir.File("pipe.jpg").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("missing", dir.File("dangling.jpg").c_str()), 0);
    ASSERT_EQ(::symlink("b.Jpg", dir.File("link.jpg").c_str()), 0);
    ASSERT_EQ(::symlink("loop.jpg", dir.File("loop.jpg").c_str()), 0);

    ScannedFolder scanned = ScanPhotoFolder(dir.File("whatever.jpg"));
    EXPECT_EQ(scanned.PhotoFolder, dir.Path());
    EXPECT_EQ(Names(scanned), (std::vector<std::string>{"b.jpg", "c.jpeg", "d.jpeg", "img_0001.jpg",
                                                        "link.jpg", "ア.jpg", "海.jpg"}));
    // The name on disk is kept for opening the file where case matters.
    EXPECT_EQ(scanned.Photos[0].DiskName, "b.Jpg");
    EXPECT_EQ(scanned.Photos[3].DiskName, "IMG_0001.JPG");
    EXPECT_EQ(scanned.Photos[6].DiskName, "海.JPG");
}

TEST(ScanPhotoFolder, SortsByCollationIgnoringCaseWithDigitsOneAtATime) {
    struct Case {
        const char* locale;
        std::vector<std::string> files;
        std::vector<std::string> order;
    } cases[] = {
        {"C", {"photo2.jpg", "photo10.jpg"}, {"photo10.jpg", "photo2.jpg"}},
        {"C", {"DSC_0002.JPG", "dsc_0001.jpg"}, {"dsc_0001.jpg", "dsc_0002.jpg"}},
        // Case is ignored (bytes would put B before a) and accents sort by letter.
        {"C", {"b.jpg", "A.jpg", "f.jpg", "é.jpg"}, {"a.jpg", "b.jpg", "é.jpg", "f.jpg"}},
        // Word sort: hyphens and apostrophes weigh less than letters.
        {"C", {"a-c.jpg", "ab.jpg", "a'd.jpg"}, {"ab.jpg", "a-c.jpg", "a'd.jpg"}},
        {"en_US.UTF-8",
         {"Zeta.jpg", "alpha.jpg", "Beta.jpg"},
         {"alpha.jpg", "beta.jpg", "zeta.jpg"}},
        {"ja_JP.UTF-8", {"い.jpg", "あ.jpg", "b.jpg"}, {"b.jpg", "あ.jpg", "い.jpg"}},
    };
    for (const Case& c : cases) {
        ScopedLocale locale(c.locale);
        TempDir dir;
        for (const std::string& f : c.files) test::WriteFileBytes(dir.File(f), "x");
        EXPECT_EQ(Names(ScanPhotoFolder(dir.Path())), c.order) << c.locale << " " << c.files[0];
    }
}

TEST(ScanPhotoFolder, NamesThatCompareEqualAreOrderedByTheirBytes) {
    ScopedLocale locale("C");
    TempDir dir;
    for (const char* f : {"a.jpg", "A.JPG", "A.jpg"}) test::WriteFileBytes(dir.File(f), "x");
    ScannedFolder scanned = ScanPhotoFolder(dir.Path());
    ASSERT_EQ(scanned.Photos.size(), 3u);
    EXPECT_EQ(scanned.Photos[0].DiskName, "A.JPG");
    EXPECT_EQ(scanned.Photos[1].DiskName, "A.jpg");
    EXPECT_EQ(scanned.Photos[2].DiskName, "a.jpg");
}

TEST(ScanPhotoFolder, Cp932NameOnDiskIsShownAsItsCharacters) {
    TempDir dir;
    test::WriteFileBytes(dir.File("\x8A\x43.JPG"), "x");  // 海 in CP932
    ScannedFolder scanned = ScanPhotoFolder(dir.Path());
    ASSERT_EQ(scanned.Photos.size(), 1u);
    EXPECT_EQ(scanned.Photos[0].Name, "海.jpg");
    EXPECT_EQ(scanned.Photos[0].DiskName, "\x8A\x43.JPG");
}

TEST(ScanPhotoFolder, MissingFolderGivesEmptyListWithFolderSet) {
    TempDir dir;
    ScannedFolder scanned = ScanPhotoFolder(dir.File("nothere/x.jpg"));
    EXPECT_EQ(scanned.PhotoFolder, dir.File("nothere/"));
    EXPECT_TRUE(scanned.Photos.empty());
}

TEST(ScanPhotoFolder, RescanSeesTheFolderAsItIsNow) {
    TempDir dir;
    test::WriteFileBytes(dir.File("a.jpg"), "x");
    test::WriteFileBytes(dir.File("b.jpg"), "x");
    EXPECT_EQ(ScanPhotoFolder(dir.Path()).Photos.size(), 2u);
    ASSERT_EQ(::unlink(dir.File("a.jpg").c_str()), 0);
    test::WriteFileBytes(dir.File("zenfo-s-photo0000.jpg"), "x");
    EXPECT_EQ(Names(ScanPhotoFolder(dir.Path())),
              (std::vector<std::string>{"b.jpg", "zenfo-s-photo0000.jpg"}));
}

}  // namespace
}  // namespace zenfo
