// Photo loading, fitting, pixel-selecting scaling and JPEG output (libjpeg stays out of headers).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "album/settings.h"

namespace zenfo {

// The size of a photo's copy in a square box: the longer side becomes side; 32-bit arithmetic,
// product first, truncating division.
struct BoxSize {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    bool operator==(const BoxSize&) const = default;
};
BoxSize FitToBox(std::int32_t width, std::int32_t height, std::int32_t side);

// A 24-bit RGB raster, rows top first, three bytes a pixel, no padding (a working bitmap).
struct RgbRaster {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint8_t> Pixels;
};

// The decode of a whole photo at its full stored size: 24-bit RGB, or 8-bit indices into
// ColourMap when the decode was quantized.
struct DecodedRaster {
    int Width = 0;
    int Height = 0;
    bool Indexed = false;
    std::vector<std::uint8_t> Pixels;                    // 3 bytes a pixel, or 1 when Indexed
    std::vector<std::array<std::uint8_t, 3>> ColourMap;  // only when Indexed
};

// The display colour depth (bits per pixel) where there is no screen to ask.
inline constexpr int kDefaultDisplayDepth = 24;

// Reads a whole file in one piece; EFOpenError when it cannot be opened or read.
std::vector<std::uint8_t> ReadPhotoFile(const std::string& path);

// Decodes JPEG data at its full stored size with the album's settings (float DCT, fancy
// upsampling, block smoothing; 236-colour quantization for grayscale files and for display
// depths of 8 or fewer; CMYK/YCCK converted to RGB; Exif orientation applied). EJPEG on a
// fatal library error, EOutOfResources when the raster cannot be made. The raster's pixels go
// into storage (the pixels of a raster no longer needed) when it is large enough, so that a run
// does not map, fault in and zero fresh memory for every photo.
DecodedRaster DecodeJpeg(const std::vector<std::uint8_t>& data, int displayDepth,
                         std::vector<std::uint8_t> storage = {});

// Draws the whole source onto the whole target by pixel selection (nearest neighbour), through
// the colour map of an indexed source; the target keeps its Width and Height.
void DrawScaled(const DecodedRaster& source, RgbRaster& target);

// Encodes an RGB raster as a baseline JFIF file at quality 90 with float DCT; an empty result
// for a raster without pixels.
std::vector<std::uint8_t> EncodeJpeg(const RgbRaster& raster);

// Creates or truncates path and writes bytes in a single write; EFCreateError when it cannot be
// created, the I/O error when the write fails or falls short.
void WriteOutputFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The loaded photo: the bytes of one file and its (upright) size; decoded on first drawing and
// kept for the next copy. A failed load keeps the previous photo.
class LoadedPhoto {
  public:
    explicit LoadedPhoto(int displayDepth = kDefaultDisplayDepth);
    ~LoadedPhoto();
    LoadedPhoto(const LoadedPhoto&) = delete;
    LoadedPhoto& operator=(const LoadedPhoto&) = delete;

    // Reads the file and its JPEG header; nothing is decoded. EFOpenError, EJPEG.
    void LoadPhoto(const std::string& path);
    // Takes over a photo that was read, and perhaps decoded, elsewhere (by a worker of a parallel
    // run): its bytes, its upright size and its decoded raster (nullptr when it was not decoded).
    // Replaces the loaded photo as a successful LoadPhoto does, and gives back the pixel storage
    // of the raster it replaces (empty when there was none) for the decoding of another photo.
    std::vector<std::uint8_t> Adopt(std::vector<std::uint8_t> data, int width, int height,
                                    std::unique_ptr<DecodedRaster> decoded);

    int DisplayDepth() const { return displayDepth_; }
    bool IsLoaded() const { return loaded_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // The decoded raster, decoding first when there is none yet.
    const DecodedRaster& Decoded();
    // The decoded raster if the photo has been drawn, else nullptr (for painting a preview).
    const DecodedRaster* DecodedIfReady() const { return decoded_.get(); }

  private:
    int displayDepth_;
    bool loaded_ = false;
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t> data_;
    std::unique_ptr<DecodedRaster> decoded_;
    // The pixel storage of the raster that the last load released, which the next decode uses.
    std::vector<std::uint8_t> spare_;
};

// A JPEG encoder object: the pixels it was last given and the bytes of their encoding. Its pixel
// format only governs decoding for display, which never happens: both formats write the same.
class JpegObject {
  public:
    explicit JpegObject(DepthChoice pixelFormat = DepthChoice::Depth24)
        : pixelFormat_(pixelFormat) {}
    void SetPixelFormat(DepthChoice pixelFormat) { pixelFormat_ = pixelFormat; }
    DepthChoice PixelFormat() const { return pixelFormat_; }
    // Takes the bitmap's pixels and encodes them, dropping the previous encoding.
    void Assign(const RgbRaster& bitmap);
    const std::vector<std::uint8_t>& Compressed() const { return compressed_; }

  private:
    DepthChoice pixelFormat_;
    std::vector<std::uint8_t> compressed_;
};

// Fits the loaded photo into a box of side, draws it into bitmap, encodes it with jpeg and writes
// the result to path (a file of length 0 when the copy has no width or height).
void WriteScaledJpeg(LoadedPhoto& photo, RgbRaster& bitmap, JpegObject& jpeg, int side,
                     const std::string& path);

}  // namespace zenfo
