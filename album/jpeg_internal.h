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

// DecodeJpeg with an explicit memory limit in bytes; EOutOfResources before anything large is
// allocated when the decode would need more.
DecodedRaster DecodeJpegWithin(const std::vector<std::uint8_t>& data, int displayDepth,
                               std::uint64_t memoryLimit);

// The orientation (1-8) recorded in the payload of an APP1 marker, or 1 when the payload is not
// Exif data or holds no valid orientation.
int ExifOrientation(const std::uint8_t* payload, std::size_t size);

}  // namespace zenfo::detail
