#include "album/scan.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "album/text.h"

namespace zenfo {

namespace {

struct CollatorCloser {
    void operator()(UCollator* c) const { ucol_close(c); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

// The ICU locale of the user's collation settings: LC_ALL, LC_COLLATE, LANG in that order;
// "C" and "POSIX" (and nothing set) mean the root collation.
std::string CollationLocale() {
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
            value = v;
            break;
        }
    }
    if (!value) return "";
    std::string locale(value);
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale == "C" || locale == "POSIX") return "";
    return locale;
}

// A collator for the user's locale that ignores case (secondary strength).
CollatorPtr OpenCollator() {
    UErrorCode status = U_ZERO_ERROR;
    CollatorPtr collator(ucol_open(CollationLocale().c_str(), &status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(ucol_open("", &status));
    }
    if (collator) ucol_setStrength(collator.get(), UCOL_SECONDARY);
    return collator;
}

std::string SortKey(const UCollator* collator, std::string_view utf8) {
    if (!collator) return std::string(utf8);
    std::u16string units(utf8.size() + 1, u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()),
                         &length, utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr,
                         &status);
    if (U_FAILURE(status)) return std::string(utf8);
    std::string key(64, '\0');
    while (true) {
        int32_t needed = ucol_getSortKey(collator, reinterpret_cast<const UChar*>(units.data()),
                                         length, reinterpret_cast<uint8_t*>(key.data()),
                                         static_cast<int32_t>(key.size()));
        if (needed <= static_cast<int32_t>(key.size())) {
            key.resize(needed > 0 ? static_cast<std::size_t>(needed - 1) : 0);  // drop the NUL
            return key;
        }
        key.resize(static_cast<std::size_t>(needed));
    }
}

std::string WithoutWordMarks(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c != '-' && c != '\'') out.push_back(c);
    }
    return out;
}

// The word sort: hyphens and apostrophes count only between names that are otherwise equal;
// names still equal are ordered by their bytes on disk.
struct AlbumOrderKey {
    std::string Words;
    std::string Full;
    std::string Bytes;

    AlbumOrderKey(const UCollator* collator, std::string_view name, std::string_view bytes)
        : Words(SortKey(collator, WithoutWordMarks(name))),
          Full(SortKey(collator, name)),
          Bytes(bytes) {}

    int Compare(const AlbumOrderKey& other) const {
        if (int c = Words.compare(other.Words)) return c;
        if (int c = Full.compare(other.Full)) return c;
        return Bytes.compare(other.Bytes);
    }
};

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string FolderOf(std::string_view filePath) {
    std::size_t slash = filePath.rfind('/');
    if (slash == std::string_view::npos) return "";
    return std::string(filePath.substr(0, slash + 1));
}

bool HasJpegExtension(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    std::string ext = AsciiUpper(name.substr(dot));
    return ext == ".JPG" || ext == ".JPEG";
}

int ComparePhotoNames(std::string_view a, std::string_view b) {
    CollatorPtr collator = OpenCollator();
    return AlbumOrderKey(collator.get(), a, a).Compare(AlbumOrderKey(collator.get(), b, b));
}

ScannedFolder ScanPhotoFolder(std::string_view filePath) {
    ScannedFolder result;
    result.PhotoFolder = FolderOf(filePath);

    std::unique_ptr<DIR, DirCloser> dir(
        ::opendir(result.PhotoFolder.empty() ? "." : result.PhotoFolder.c_str()));
    if (!dir) return result;
    while (const dirent* entry = ::readdir(dir.get())) {
        std::string diskName = entry->d_name;
        // Names beginning with "." are hidden on Linux (this also drops "." and "..").
        if (diskName.empty() || diskName[0] == '.') continue;
        if (!HasJpegExtension(diskName)) continue;
        // Only regular files after following links: no folders, FIFOs, sockets, devices or
        // dangling links.
        if (!IsRegularFile(result.PhotoFolder + diskName)) continue;
        result.Photos.push_back({AsciiLower(DisplayName(diskName)), std::move(diskName)});
    }

    if (result.Photos.size() >= 2) {
        CollatorPtr collator = OpenCollator();
        std::vector<std::pair<AlbumOrderKey, PhotoEntry>> keyed;
        keyed.reserve(result.Photos.size());
        for (PhotoEntry& photo : result.Photos) {
            AlbumOrderKey key(collator.get(), photo.Name, photo.DiskName);
            keyed.emplace_back(std::move(key), std::move(photo));
        }
        std::sort(keyed.begin(), keyed.end(),
                  [](const auto& x, const auto& y) { return x.first.Compare(y.first) < 0; });
        for (std::size_t i = 0; i < keyed.size(); ++i)
            result.Photos[i] = std::move(keyed[i].second);
    }
    return result;
}

}  // namespace zenfo
