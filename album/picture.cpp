// The loaded photo, box fitting, pixel-selecting scaling and the writing of scaled copies.
#include "album/picture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include "album/errors.h"
#include "album/jpeg_internal.h"
#include "album/output_file.h"

namespace zenfo {

namespace {

// Resizes a raster's pixels; EOutOfResources when the memory is not there.
void ResizeOrFail(std::vector<std::uint8_t>& pixels, std::size_t size) {
    try {
        pixels.resize(size);
    } catch (const std::bad_alloc&) {
        throw EOutOfResources();
    }
}

}  // namespace

BoxSize FitToBox(std::int32_t width, std::int32_t height, std::int32_t side) {
    // The product is formed first and the division truncates. Every box side in use times every
    // JPEG frame side fits in 32 bits; 64 bits only keep other arguments defined.
    if (width <= 0 || height <= 0) return {};
    if (height > width) {
        return {static_cast<std::int32_t>(std::int64_t{side} * width / height), side};
    }
    return {side, static_cast<std::int32_t>(std::int64_t{side} * height / width)};
}

std::vector<std::uint8_t> ReadPhotoFile(const std::string& path) {
    // O_NONBLOCK: a photo that has become a FIFO since the scan reads as what it holds now
    // instead of waiting for a writer; regular files read as ever.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.IsOpen()) throw EFOpenError(path, errno);
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) throw EFOpenError(path, errno);
    // One byte more than the size, so that the end of the file is seen without growing.
    std::size_t capacity = S_ISREG(info.st_mode) && info.st_size > 0
                               ? static_cast<std::size_t>(info.st_size) + 1
                               : 65536;
    std::vector<std::uint8_t> data;
    ResizeOrFail(data, capacity);
    std::size_t used = 0;
    for (;;) {
        if (used == data.size()) ResizeOrFail(data, data.size() * 2);
        ssize_t n = ::read(fd.Get(), data.data() + used, data.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EFOpenError(path, errno);
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    data.resize(used);
    return data;
}

void DrawScaled(const DecodedRaster& source, RgbRaster& target) {
    const int w = target.Width;
    const int h = target.Height;
    if (w <= 0 || h <= 0) {
        target.Pixels.clear();
        return;
    }
    const int sourceWidth = source.Width;
    const int sourceHeight = source.Height;
    const std::size_t sourceBytes = source.Indexed ? 1 : 3;
    if (sourceWidth <= 0 || sourceHeight <= 0 ||
        source.Pixels.size() < static_cast<std::size_t>(sourceWidth) *
                                   static_cast<std::size_t>(sourceHeight) * sourceBytes) {
        throw std::invalid_argument("DrawScaled: source raster has no pixels");
    }
    const std::size_t rowBytes = static_cast<std::size_t>(w) * 3;
    ResizeOrFail(target.Pixels, rowBytes * static_cast<std::size_t>(h));

    // Target column x takes source column x * W / w; the map holds its byte offset in a row.
    std::vector<std::size_t> columns(static_cast<std::size_t>(w));
    for (int x = 0; x < w; ++x) {
        columns[x] = static_cast<std::size_t>(std::int64_t{x} * sourceWidth / w) * sourceBytes;
    }
    // An indexed source draws through a full-size copy of its map, so any index is defined.
    std::array<std::array<std::uint8_t, 3>, 256> palette{};
    if (source.Indexed) {
        std::copy_n(source.ColourMap.begin(), std::min<std::size_t>(source.ColourMap.size(), 256),
                    palette.begin());
    }

    const std::size_t sourceRowBytes = static_cast<std::size_t>(sourceWidth) * sourceBytes;
    std::int64_t previousRow = -1;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* out = target.Pixels.data() + static_cast<std::size_t>(y) * rowBytes;
        const std::int64_t sourceRow = std::int64_t{y} * sourceHeight / h;
        if (sourceRow == previousRow) {
            // Enlarging repeats a source row: the row above is already the right one.
            std::memcpy(out, out - rowBytes, rowBytes);
            continue;
        }
        previousRow = sourceRow;
        const std::uint8_t* in =
            source.Pixels.data() + static_cast<std::size_t>(sourceRow) * sourceRowBytes;
        if (source.Indexed) {
            for (int x = 0; x < w; ++x, out += 3) {
                const auto& colour = palette[in[columns[x]]];
                out[0] = colour[0];
                out[1] = colour[1];
                out[2] = colour[2];
            }
        } else {
            for (int x = 0; x < w; ++x, out += 3) {
                const std::uint8_t* pixel = in + columns[x];
                out[0] = pixel[0];
                out[1] = pixel[1];
                out[2] = pixel[2];
            }
        }
    }
}

void WriteOutputFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    FileDescriptor fd = CreateForWriting(path);
    if (!fd.IsOpen()) {
        const int error = errno;
        throw EFCreateError(path, error);
    }
    // One write; WriteAll goes on only after a short write, to learn why it fell short.
    if (!bytes.empty() && !WriteAll(fd.Get(), bytes.data(), bytes.size())) {
        const int error = errno;
        throw EInOutError(error);
    }
    if (!fd.Close()) {
        const int error = errno;
        throw EInOutError(error);
    }
}

LoadedPhoto::LoadedPhoto(int displayDepth) : displayDepth_(displayDepth) {}

LoadedPhoto::~LoadedPhoto() = default;

void LoadedPhoto::LoadPhoto(const std::string& path) {
    std::vector<std::uint8_t> data = ReadPhotoFile(path);
    // Empty content is not parsed: its size is 0 x 0 and it fails when first drawn.
    detail::JpegHeader header;
    if (!data.empty()) header = detail::ReadJpegHeader(data);
    // Only a photo that loaded whole replaces the previous one.
    data_ = std::move(data);
    width_ = header.Width;
    height_ = header.Height;
    if (decoded_) spare_ = std::move(decoded_->Pixels);
    decoded_.reset();
    loaded_ = true;
}

std::vector<std::uint8_t> LoadedPhoto::Adopt(std::vector<std::uint8_t> data, int width, int height,
                                             std::unique_ptr<DecodedRaster> decoded) {
    std::vector<std::uint8_t> released;
    if (decoded_) released = std::move(decoded_->Pixels);
    data_ = std::move(data);
    width_ = width;
    height_ = height;
    decoded_ = std::move(decoded);
    loaded_ = true;
    return released;
}

const DecodedRaster& LoadedPhoto::Decoded() {
    if (!loaded_) throw std::logic_error("LoadedPhoto::Decoded: no photo loaded");
    if (!decoded_) {
        decoded_ =
            std::make_unique<DecodedRaster>(DecodeJpeg(data_, displayDepth_, std::move(spare_)));
    }
    return *decoded_;
}

void JpegObject::Assign(const RgbRaster& bitmap) {
    compressed_.clear();
    compressed_ = EncodeJpeg(bitmap);
}

void WriteScaledJpeg(LoadedPhoto& photo, RgbRaster& bitmap, JpegObject& jpeg, int side,
                     const std::string& path) {
    // Decoding comes first so that a photo of length 0 fails as a damaged one before its size
    // of 0 x 0 is fitted. A copy with no width or height still decodes the photo.
    const DecodedRaster& decoded = photo.Decoded();
    const BoxSize size = FitToBox(photo.Width(), photo.Height(), side);
    bitmap.Width = size.Width;
    bitmap.Height = size.Height;
    DrawScaled(decoded, bitmap);
    jpeg.Assign(bitmap);
    WriteOutputFile(path, jpeg.Compressed());
}

}  // namespace zenfo
