// The libjpeg side of the photo path, private to album/ (jpeglib.h stays in jpeg_codec.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "album/picture.h"

namespace zenfo::detail {

// What the header of a photo says: its upright size (Exif orientation applied).
struct JpegHeader {
    int Width = 0;
    int Height = 0;
    int Orientation = 1;  // Exif orientation 1-8; 1 when absent or invalid
};

// Reads the JPEG header of data with the library (image required). EJPEG on a fatal error,
// including "#42" for empty data.
JpegHeader ReadJpegHeader(const std::vector<std::uint8_t>& data);

// Half of the physical memory: the most a decode may need for its raster and the library's
// whole-image buffers.
std::uint64_t DecodeMemoryLimit();

// The memory a decode of data takes: the raster, and the library's whole-image buffers (which
// are released when the decode ends). Reads the header as DecodeJpeg does; EJPEG as it would.
struct DecodeMemory {
    std::uint64_t Raster = 0;
    std::uint64_t Library = 0;
    bool RowsUpright = false;  // its decoded rows are its upright rows: DecodeJpegRows takes it
};
DecodeMemory DecodeMemoryOf(const std::vector<std::uint8_t>& data, int displayDepth);

// DecodeJpeg with an explicit memory limit in bytes; EOutOfResources before anything large is
// allocated when the decode would need more.
DecodedRaster DecodeJpegWithin(const std::vector<std::uint8_t>& data, int displayDepth,
                               std::uint64_t memoryLimit, std::vector<std::uint8_t> storage = {});

// Receives the rows of a decode that keeps no raster (DecodeJpegRows). Both calls run inside the
// library's error guard: they must not throw, and must leave nothing that needs destroying.
class RowSink {
  public:
    // Once, before the first row: the size of the output, and its colour map (colours entries of
    // red, green and blue) when it is indexed, else colours is 0.
    virtual void Begin(int width, int height, const std::uint8_t (*colourMap)[3],
                       int colours) noexcept = 0;
    // Every row, top first: 3 bytes a pixel, or 1 index a pixel when indexed.
    virtual void Row(const std::uint8_t* pixels, int y) noexcept = 0;

  protected:
    ~RowSink() = default;
};

// Decodes data as DecodeJpegWithin does (same settings, same failures, checked in the same order)
// but hands each row to sink as it comes instead of keeping a raster. Only for a photo whose rows
// are its upright rows (DecodeMemory::RowsUpright); for any other it returns false having decoded
// nothing.
bool DecodeJpegRows(const std::vector<std::uint8_t>& data, int displayDepth,
                    std::uint64_t memoryLimit, RowSink& sink);

// The orientation (1-8) recorded in the payload of an APP1 marker, or 1 when the payload is not
// Exif data or holds no valid orientation.
int ExifOrientation(const std::uint8_t* payload, std::size_t size);

}  // namespace zenfo::detail
