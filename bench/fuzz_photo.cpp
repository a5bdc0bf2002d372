// libFuzzer target over the photo path as a run takes it: the photo loaded from a file (header
// only), decoded at full size when first drawn, fitted into 64 and 512 pixels by pixel selection,
// encoded and written. An input may fail only
// with one of the album's own errors; anything else (a crash, a sanitizer report, another
// exception, a copy of the wrong size) is a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "album/errors.h"
#include "album/jpeg_internal.h"
#include "album/picture.h"

namespace {

// Photos up to 8 megapixels go the whole way, as in a run (their decode stays far below the
// fuzzer's RSS limit and within its time limit under the sanitizers). Larger ones only meet the
// decode's memory bound, set here to 8 MB, which every raster of more than 8 megapixels
// exceeds, so that it must refuse them before allocating.
constexpr std::uint64_t kMaxPixels = 8ull << 20;
constexpr std::uint64_t kDecodeLimit = kMaxPixels;

[[noreturn]] void Fail(const char* what, long a, long b) {
    std::fprintf(stderr, "fuzz_photo: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

void Expect(bool condition, const char* what, long a, long b) {
    if (!condition) Fail(what, a, b);
}

// An in-memory file, named by a path that the album's file functions can open.
class MemoryFile {
  public:
    MemoryFile() : fd_(::memfd_create("zenfo-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) Fail("memfd_create failed", errno, 0);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }
    void Write(const std::vector<std::uint8_t>& bytes) {
        if (::ftruncate(fd_, 0) != 0 ||
            ::pwrite(fd_, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
            Fail("cannot fill the memory file", errno, 0);
        }
    }

  private:
    int fd_;
};

// The copy at path must be a sound JPEG file of exactly the fitted size, or empty when the
// fitted size has no pixels.
void CheckCopy(const std::vector<std::uint8_t>& copy, zenfo::BoxSize size) {
    if (size.Width == 0 || size.Height == 0) {
        Expect(copy.empty(), "a copy without pixels is not empty", size.Width, size.Height);
        return;
    }
    const zenfo::DecodedRaster again = zenfo::detail::DecodeJpegWithin(copy, 24, kDecodeLimit);
    Expect(again.Width == size.Width && again.Height == size.Height,
           "the copy decodes to another size", again.Width, size.Width);
}

void PhotoPath(const std::vector<std::uint8_t>& data, int displayDepth) {
    MemoryFile photoFile;
    photoFile.Write(data);
    zenfo::LoadedPhoto photo(displayDepth);
    photo.LoadPhoto(photoFile.Path());
    const std::uint64_t pixels = std::uint64_t(photo.Width()) * std::uint64_t(photo.Height());
    if (pixels > kMaxPixels) {
        // Too large for the fuzzer's memory: only the decode's own bound is tried, which must
        // refuse it before allocating.
        zenfo::detail::DecodeJpegWithin(data, displayDepth, kDecodeLimit);
        Fail("a picture above the bound was decoded", photo.Width(), photo.Height());
    }
    // The run's path: each copy decodes the photo (once), fits, draws, encodes and writes.
    zenfo::RgbRaster bitmap;
    zenfo::JpegObject jpeg;
    MemoryFile copyFile;
    for (int side : {64, 512}) {
        zenfo::WriteScaledJpeg(photo, bitmap, jpeg, side, copyFile.Path());
        const zenfo::DecodedRaster* decoded = photo.DecodedIfReady();
        Expect(decoded != nullptr, "no decoded raster after drawing", 0, 0);
        Expect(decoded->Width == photo.Width() && decoded->Height == photo.Height(),
               "decoded size differs from the header's", decoded->Width, photo.Width());
        const std::size_t pixelBytes = decoded->Indexed ? 1 : 3;
        Expect(decoded->Pixels.size() ==
                   static_cast<std::size_t>(decoded->Width) * decoded->Height * pixelBytes,
               "decoded raster has the wrong number of bytes",
               static_cast<long>(decoded->Pixels.size()), decoded->Width);
        Expect(jpeg.Compressed() == zenfo::ReadPhotoFile(copyFile.Path()),
               "the file written differs from the encoding", side, 0);
        CheckCopy(jpeg.Compressed(), zenfo::FitToBox(photo.Width(), photo.Height(), side));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::vector<std::uint8_t> data(bytes, bytes + size);
    // An odd length decodes as for a display of 8 bits, which quantizes every photo to 236
    // colours; an even one as for 24 bits, which quantizes only grayscale photos.
    const int displayDepth = size % 2 == 1 ? 8 : 24;
    try {
        PhotoPath(data, displayDepth);
    } catch (const zenfo::ZenfoError&) {
        // A clear error for a bad photo is the expected outcome.
    }
    return 0;
}
