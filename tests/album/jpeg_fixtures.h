// Test photos made in memory with libjpeg, a marker-level JPEG parser and a plain decoder for
// checking written copies.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zenfo::test {

// What MakeJpeg writes.
struct JpegRecipe {
    int Width = 16;
    int Height = 16;
    int Components = 3;       // 1 grey, 3 RGB, 4 CMYK
    bool Ycck = false;        // with 4 components: stored as YCCK instead of CMYK
    bool AdobeMarker = true;  // with 4 components: write the Adobe marker
    bool Progressive = false;
    bool FullChroma = false;  // with 3 components: no chroma subsampling (4:4:4)
    int Quality = 95;
    bool FloatDct = false;  // the floating-point forward DCT instead of the default
    // Markers written right after the JFIF header: (marker code, payload), e.g. 0xE1 for APP1.
    std::vector<std::pair<int, std::string>> Markers;
    // Fills the Components samples of pixel (x, y); a mid grey when not set.
    std::function<void(int x, int y, std::uint8_t* samples)> Pixel;
};

// A JPEG file made from recipe.
std::string MakeJpeg(const JpegRecipe& recipe);

// The payload of an APP1 marker holding Exif data with only an orientation tag.
std::string ExifOrientationPayload(int orientation, bool littleEndian);

// One marker of a JPEG file; Payload is what follows the length field (empty for SOI/EOI).
struct Marker {
    int Code = 0;
    std::string Payload;
    std::size_t Offset = 0;  // of its 0xFF byte
};

// The markers of a JPEG file in order, skipping entropy-coded data; nullopt when the file does
// not parse (missing SOI, a bad length, bytes after EOI or no EOI).
std::optional<std::vector<Marker>> ParseMarkers(const std::string& jpeg);

// A picture decoded by libjpeg.
struct TestImage {
    int Width = 0;
    int Height = 0;
    int Components = 0;
    std::vector<std::uint8_t> Pixels;
    const std::uint8_t* At(int x, int y) const {
        return Pixels.data() + (static_cast<std::size_t>(y) * Width + x) * Components;
    }
};

// How DecodeForTest decodes; the defaults are the library's.
struct TestDecodeSettings {
    bool AlbumSettings = false;  // float DCT, fancy upsampling, block smoothing
    bool Quantize = false;       // 236 colours, library defaults otherwise
    bool ForceRgb = false;       // ask for RGB output
};

// Decodes jpeg; nullopt when libjpeg reports a fatal error. With Quantize the pixels are
// colour-map indices and ColourMap receives the map.
std::optional<TestImage> DecodeForTest(
    const std::string& jpeg, const TestDecodeSettings& settings = {},
    std::vector<std::array<std::uint8_t, 3>>* colourMap = nullptr);

inline std::vector<std::uint8_t> AsBytes(const std::string& s) {
    return {s.begin(), s.end()};
}
inline std::string AsString(const std::vector<std::uint8_t>& v) {
    return {v.begin(), v.end()};
}

}  // namespace zenfo::test
