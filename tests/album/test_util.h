// Test helpers: a temporary folder removed with everything in it, and whole-file access.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "album/picture.h"

namespace zenfo::test {

// A fresh folder under $TMPDIR (or /tmp); removed with its contents on destruction.
class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/zenfo-test-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern + "/";
    }
    ~TempDir() {
        std::error_code ec;
        // Folders a test made read-only must be writable again to be removed.
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path_, std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
            }
        }
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, ending with "/".
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }

  private:
    std::string path_;
};

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A small real photo of width x height, encoded by the album's own encoder: a pattern of byte
// values (i * 7 + shade) over its samples.
inline std::string PhotoBytes(int width, int height, int shade = 0) {
    RgbRaster raster;
    raster.Width = width;
    raster.Height = height;
    raster.Pixels.resize(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < raster.Pixels.size(); ++i) {
        raster.Pixels[i] = static_cast<std::uint8_t>(i * 7 + shade);
    }
    const std::vector<std::uint8_t> bytes = EncodeJpeg(raster);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace zenfo::test
