#include "album/names.h"

#include <gtest/gtest.h>

namespace zenfo {
namespace {

TEST(OutputNames, StemIsZeroFilledToFourDigits) {
    struct Case {
        int number;
        const char* stem;
    } cases[] = {{0, "photo0000"},   {9, "photo0009"},    {42, "photo0042"},
                 {999, "photo0999"}, {1000, "photo1000"}, {12345, "photo12345"}};
    for (const Case& c : cases) EXPECT_EQ(PhotoStem("photo", c.number), c.stem) << c.number;
    EXPECT_EQ(PhotoStem("", 0), "0000");
}

TEST(OutputNames, ThumbBodyAndPageNames) {
    struct Case {
        const char* prefix;
        int number;
        const char* thumb;
        const char* body;
        const char* page;
    } cases[] = {
        {"photo", 0, "zenfo-s-photo0000.jpg", "zenfo-photo0000.jpg", "zenfo-photo0000.html"},
        {"", 2, "zenfo-s-0002.jpg", "zenfo-0002.jpg", "zenfo-0002.html"},
        // A dot in the prefix gives way to the extension, number and all.
        {"a.b", 0, "zenfo-s-a.jpg", "zenfo-a.jpg", "zenfo-a.html"},
        {"a.b", 7, "zenfo-s-a.jpg", "zenfo-a.jpg", "zenfo-a.html"},
        // A dot before a separator does not.
        {"a.b:c", 1, "zenfo-s-a.b:c0001.jpg", "zenfo-a.b:c0001.jpg", "zenfo-a.b:c0001.html"},
        {"写真", 3, "zenfo-s-写真0003.jpg", "zenfo-写真0003.jpg", "zenfo-写真0003.html"},
    };
    for (const Case& c : cases) {
        std::string stem = PhotoStem(c.prefix, c.number);
        EXPECT_EQ(ThumbFileName(stem), c.thumb) << c.prefix << " " << c.number;
        EXPECT_EQ(BodyFileName(stem), c.body) << c.prefix << " " << c.number;
        EXPECT_EQ(PageFileName(stem), c.page) << c.prefix << " " << c.number;
    }
}

}  // namespace
}  // namespace zenfo
