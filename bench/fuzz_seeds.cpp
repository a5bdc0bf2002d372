// Writes the seed corpus of fuzz_photo into the folder given: copies made by the album's own
// encoder, and photos made with libjpeg in the kinds a camera or an editor writes (progressive,
// grayscale, CMYK and YCCK, Exif orientations, arithmetic coding, restart markers, other
// samplings), plus damaged variants (truncated, garbage after SOI, a huge frame, empty).
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "album/picture.h"

namespace {

struct Options {
    int width = 32;
    int height = 24;
    int components = 3;  // 1, 3 or 4
    J_COLOR_SPACE stored = JCS_YCbCr;
    bool adobe = false;
    bool progressive = false;
    bool arithmetic = false;
    bool optimize = false;
    int restartRows = 0;
    int lumaH = 2, lumaV = 2;  // sampling of the first component
    int quality = 85;
    std::vector<std::pair<int, std::string>> markers;
};

struct ErrorJump {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void JumpOnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1);
}

struct EncodeJob {
    jpeg_compress_struct* cinfo;
    const Options* options;
    const std::vector<std::uint8_t>* pixels;
    unsigned char** out;
    unsigned long* outSize;
};

void EncodeBody(void* context) {
    auto* job = static_cast<EncodeJob*>(context);
    jpeg_compress_struct* cinfo = job->cinfo;
    const Options& o = *job->options;
    jpeg_mem_dest(cinfo, job->out, job->outSize);
    cinfo->image_width = static_cast<JDIMENSION>(o.width);
    cinfo->image_height = static_cast<JDIMENSION>(o.height);
    cinfo->input_components = o.components;
    cinfo->in_color_space = o.components == 1   ? JCS_GRAYSCALE
                            : o.components == 4 ? JCS_CMYK
                                                : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_colorspace(cinfo, o.stored);
    cinfo->write_Adobe_marker = o.adobe ? TRUE : FALSE;
    jpeg_set_quality(cinfo, o.quality, TRUE);
    if (o.components >= 3) {
        cinfo->comp_info[0].h_samp_factor = o.lumaH;
        cinfo->comp_info[0].v_samp_factor = o.lumaV;
    }
    if (o.progressive) jpeg_simple_progression(cinfo);
    cinfo->arith_code = o.arithmetic ? TRUE : FALSE;
    cinfo->optimize_coding = o.optimize ? TRUE : FALSE;
    cinfo->restart_in_rows = o.restartRows;
    jpeg_start_compress(cinfo, TRUE);
    for (const auto& [code, payload] : o.markers) {
        jpeg_write_marker(cinfo, code, reinterpret_cast<const JOCTET*>(payload.data()),
                          static_cast<unsigned>(payload.size()));
    }
    const std::size_t rowBytes = static_cast<std::size_t>(o.width) * o.components;
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(job->pixels->data() + cinfo->next_scanline * rowBytes);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
}

bool Guarded(ErrorJump& error, void (*body)(void*), void* context) {
    if (setjmp(error.jump) != 0) return false;
    body(context);
    return true;
}

// Owns the compressor and the library's output buffer.
struct Encoder {
    ErrorJump error{};
    jpeg_compress_struct cinfo{};
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    Encoder() {
        jpeg_std_error(&error.pub);
        error.pub.error_exit = JumpOnError;
        cinfo.err = &error.pub;
        jpeg_create_compress(&cinfo);
    }
    ~Encoder() {
        jpeg_destroy_compress(&cinfo);
        std::free(out);
    }
};

std::string Make(const Options& o) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(o.width) * o.height * o.components);
    for (int y = 0; y < o.height; ++y) {
        for (int x = 0; x < o.width; ++x) {
            for (int c = 0; c < o.components; ++c) {
                pixels[(static_cast<std::size_t>(y) * o.width + x) * o.components + c] =
                    static_cast<std::uint8_t>((x * 255 / std::max(o.width - 1, 1)) * (c != 1) +
                                              (y * 255 / std::max(o.height - 1, 1)) * (c == 1) +
                                              ((x / 4 + y / 4) % 2) * 40 * (c == 2));
            }
        }
    }
    Encoder encoder;
    EncodeJob job{&encoder.cinfo, &o, &pixels, &encoder.out, &encoder.outSize};
    if (!Guarded(encoder.error, EncodeBody, &job)) {
        std::fprintf(stderr, "fuzz_seeds: libjpeg error %d\n", encoder.error.pub.msg_code);
        std::exit(1);
    }
    return std::string(reinterpret_cast<const char*>(encoder.out), encoder.outSize);
}

std::string ExifOrientation(int orientation, bool little) {
    auto u16 = [&](unsigned v) {
        return little ? std::string{char(v & 0xFF), char(v >> 8)}
                      : std::string{char(v >> 8), char(v & 0xFF)};
    };
    auto u32 = [&](unsigned v) {
        return little ? u16(v & 0xFFFF) + u16(v >> 16) : u16(v >> 16) + u16(v & 0xFFFF);
    };
    std::string tiff = (little ? std::string("II") : std::string("MM")) + u16(42) + u32(8);
    tiff +=
        u16(1) + u16(0x0112) + u16(3) + u32(1) + u16(static_cast<unsigned>(orientation)) + u16(0);
    tiff += u32(0);
    return std::string("Exif\0\0", 6) + tiff;
}

std::string AlbumCopy(int width, int height) {
    zenfo::RgbRaster raster;
    raster.Width = width;
    raster.Height = height;
    raster.Pixels.resize(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < raster.Pixels.size(); ++i) {
        raster.Pixels[i] = static_cast<std::uint8_t>(i * 7 % 251);
    }
    const std::vector<std::uint8_t> bytes = zenfo::EncodeJpeg(raster);
    return std::string(bytes.begin(), bytes.end());
}

// The offset of the first SOF0/SOF1/SOF2 marker's height field, or npos.
std::size_t FrameSizeOffset(const std::string& jpeg) {
    for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
        const auto b = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && (b == 0xC0 || b == 0xC1 || b == 0xC2)) {
            return i + 5;
        }
    }
    return std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    int written = 0;
    auto put = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(folder + name, std::ios::binary).write(bytes.data(), bytes.size());
        ++written;
    };

    put("album-16x16.jpg", AlbumCopy(16, 16));
    put("album-100x75.jpg", AlbumCopy(100, 75));
    put("album-1x1.jpg", AlbumCopy(1, 1));
    put("album-300x7.jpg", AlbumCopy(300, 7));

    Options o;
    put("baseline-420.jpg", Make(o));
    o.lumaH = 1, o.lumaV = 1;
    put("baseline-444.jpg", Make(o));
    o.lumaH = 2, o.lumaV = 1;
    put("baseline-422.jpg", Make(o));
    o = {};
    o.progressive = true;
    const std::string progressive = Make(o);
    put("progressive.jpg", progressive);
    o = {};
    o.arithmetic = true;
    put("arithmetic.jpg", Make(o));
    o.progressive = true;
    put("arithmetic-progressive.jpg", Make(o));
    o = {};
    o.restartRows = 1;
    o.optimize = true;
    put("restart-optimized.jpg", Make(o));
    o = {};
    o.components = 1;
    o.stored = JCS_GRAYSCALE;
    put("grayscale.jpg", Make(o));
    o.progressive = true;
    put("grayscale-progressive.jpg", Make(o));
    o = {};
    o.components = 4;
    o.stored = JCS_CMYK;
    o.adobe = true;
    put("cmyk-adobe.jpg", Make(o));
    o.adobe = false;
    put("cmyk-plain.jpg", Make(o));
    o.stored = JCS_YCCK;
    o.adobe = true;
    put("ycck-adobe.jpg", Make(o));
    o = {};
    o.stored = JCS_RGB;
    o.adobe = true;
    put("rgb-stored.jpg", Make(o));
    for (int orientation = 2; orientation <= 8; ++orientation) {
        o = {};
        o.width = 20;
        o.height = 12;
        o.markers = {{JPEG_APP0 + 1, ExifOrientation(orientation, orientation % 2 == 0)}};
        put("exif-" + std::to_string(orientation) + ".jpg", Make(o));
    }
    o = {};
    o.markers = {{JPEG_COM, "a comment"},
                 {JPEG_APP0 + 1, std::string("Exif\0\0MM\0*\xff\xff\xff\xf0", 14)}};
    put("exif-bad-offset.jpg", Make(o));

    // Damaged variants.
    const std::string baseline = AlbumCopy(64, 48);
    put("truncated-header.jpg", baseline.substr(0, baseline.size() / 5));
    put("truncated-scan.jpg", baseline.substr(0, baseline.size() * 3 / 4));
    put("truncated-progressive.jpg", progressive.substr(0, progressive.size() * 2 / 3));
    put("garbage-after-soi.jpg", std::string("\xff\xd8", 2) + "garbage, not a marker at all");
    std::string huge = baseline;
    if (const std::size_t at = FrameSizeOffset(huge); at != std::string::npos) {
        huge[at] = huge[at + 2] = static_cast<char>(0xFF);
        huge[at + 1] = huge[at + 3] = static_cast<char>(0xDC);
        put("frame-65500.jpg", huge);
    }
    put("empty.jpg", "");
    put("text.jpg", "This is a text file, not a photo.\n");
    std::printf("%d seeds written to %s\n", written, argv[1]);
    return 0;
}
