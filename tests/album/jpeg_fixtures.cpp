#include "jpeg_fixtures.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace zenfo::test {
namespace {

// Fatal library errors jump back to Guarded; nothing between holds a destructor.
struct ErrorJump {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void JumpOnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1);
}
void Quiet(j_common_ptr, int) {}

void InitErrors(ErrorJump& error) {
    jpeg_std_error(&error.pub);
    error.pub.error_exit = JumpOnError;
    error.pub.emit_message = Quiet;
}

bool Guarded(ErrorJump& error, void (*body)(void*), void* context) {
    if (setjmp(error.jump) != 0) return false;
    body(context);
    return true;
}

struct EncodeJob {
    jpeg_compress_struct* cinfo;
    const JpegRecipe* recipe;
    const std::uint8_t* pixels;
    unsigned char** out;
    unsigned long* outSize;
};

void EncodeBody(void* context) {
    auto* job = static_cast<EncodeJob*>(context);
    jpeg_compress_struct* cinfo = job->cinfo;
    const JpegRecipe& r = *job->recipe;
    jpeg_mem_dest(cinfo, job->out, job->outSize);
    cinfo->image_width = static_cast<JDIMENSION>(r.Width);
    cinfo->image_height = static_cast<JDIMENSION>(r.Height);
    cinfo->input_components = r.Components;
    cinfo->in_color_space = r.Components == 1   ? JCS_GRAYSCALE
                            : r.Components == 4 ? JCS_CMYK
                                                : JCS_RGB;
    jpeg_set_defaults(cinfo);
    if (r.Components == 4) {
        jpeg_set_colorspace(cinfo, r.Ycck ? JCS_YCCK : JCS_CMYK);
        cinfo->write_Adobe_marker = r.AdobeMarker ? TRUE : FALSE;
    }
    jpeg_set_quality(cinfo, r.Quality, TRUE);
    if (r.FloatDct) cinfo->dct_method = JDCT_FLOAT;
    if (r.FullChroma) {
        cinfo->comp_info[0].h_samp_factor = 1;
        cinfo->comp_info[0].v_samp_factor = 1;
    }
    if (r.Progressive) jpeg_simple_progression(cinfo);
    jpeg_start_compress(cinfo, TRUE);
    for (const auto& [code, payload] : r.Markers) {
        jpeg_write_marker(cinfo, code, reinterpret_cast<const JOCTET*>(payload.data()),
                          static_cast<unsigned>(payload.size()));
    }
    const std::size_t rowBytes = static_cast<std::size_t>(r.Width) * r.Components;
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(job->pixels + cinfo->next_scanline * rowBytes);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
}

struct DecodeJob {
    jpeg_decompress_struct* cinfo;
    const std::string* jpeg;
    const TestDecodeSettings* settings;
    // Header stage results, then the pixel buffer for the second stage.
    std::vector<std::uint8_t>* pixels;
    std::vector<std::array<std::uint8_t, 3>>* colourMap;
};

void HeaderBody(void* context) {
    auto* job = static_cast<DecodeJob*>(context);
    jpeg_decompress_struct* cinfo = job->cinfo;
    jpeg_mem_src(cinfo, reinterpret_cast<const unsigned char*>(job->jpeg->data()),
                 static_cast<unsigned long>(job->jpeg->size()));
    jpeg_read_header(cinfo, TRUE);
    const TestDecodeSettings& s = *job->settings;
    if (s.AlbumSettings) {
        cinfo->dct_method = JDCT_FLOAT;
        cinfo->do_fancy_upsampling = TRUE;
        cinfo->do_block_smoothing = TRUE;
    }
    if (s.Quantize) {
        cinfo->quantize_colors = TRUE;
        cinfo->desired_number_of_colors = 236;
    }
    if (s.ForceRgb) cinfo->out_color_space = JCS_RGB;
    jpeg_calc_output_dimensions(cinfo);
}

void PixelsBody(void* context) {
    auto* job = static_cast<DecodeJob*>(context);
    jpeg_decompress_struct* cinfo = job->cinfo;
    jpeg_start_decompress(cinfo);
    const std::size_t rowBytes = std::size_t{cinfo->output_width} * cinfo->output_components;
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = job->pixels->data() + cinfo->output_scanline * rowBytes;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    if (cinfo->quantize_colors && job->colourMap != nullptr) {
        for (int i = 0; i < cinfo->actual_number_of_colors; ++i) {
            auto& entry = (*job->colourMap)[static_cast<std::size_t>(i)];
            for (int c = 0; c < 3; ++c) {
                entry[c] = cinfo->colormap[cinfo->out_color_components == 1 ? 0 : c][i];
            }
        }
    }
    jpeg_finish_decompress(cinfo);
}

}  // namespace

std::string MakeJpeg(const JpegRecipe& recipe) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(recipe.Width) * recipe.Height *
                                     recipe.Components);
    for (int y = 0; y < recipe.Height; ++y) {
        for (int x = 0; x < recipe.Width; ++x) {
            std::uint8_t* p = pixels.data() +
                              (static_cast<std::size_t>(y) * recipe.Width + x) * recipe.Components;
            if (recipe.Pixel) {
                recipe.Pixel(x, y, p);
            } else {
                std::fill(p, p + recipe.Components, 128);
            }
        }
    }
    ErrorJump error;
    InitErrors(error);
    jpeg_compress_struct cinfo{};
    cinfo.err = &error.pub;
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    EncodeJob job{&cinfo, &recipe, pixels.data(), &out, &outSize};
    const bool ok = Guarded(error, EncodeBody, &job);
    jpeg_destroy_compress(&cinfo);
    std::string result(reinterpret_cast<const char*>(out), ok ? outSize : 0);
    std::free(out);
    if (!ok) throw std::runtime_error("MakeJpeg: libjpeg failed");
    return result;
}

std::string ExifOrientationPayload(int orientation, bool littleEndian) {
    auto u16 = [&](unsigned v) {
        std::string s(2, '\0');
        s[littleEndian ? 0 : 1] = static_cast<char>(v & 0xFF);
        s[littleEndian ? 1 : 0] = static_cast<char>(v >> 8);
        return s;
    };
    auto u32 = [&](std::uint32_t v) {
        return littleEndian ? u16(v & 0xFFFF) + u16(v >> 16) : u16(v >> 16) + u16(v & 0xFFFF);
    };
    std::string payload("Exif\0\0", 6);
    payload += littleEndian ? "II" : "MM";
    payload += u16(42) + u32(8);                       // IFD0 right after the TIFF header
    payload += u16(2);                                 // two entries
    payload += u16(0x010F) + u16(2) + u32(4) + "zen";  // Make, ASCII "zen\0" inline
    payload += std::string(1, '\0');
    payload += u16(0x0112) + u16(3) + u32(1) + u16(static_cast<unsigned>(orientation)) + u16(0);
    payload += u32(0);  // no next IFD
    return payload;
}

std::optional<std::vector<Marker>> ParseMarkers(const std::string& jpeg) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(jpeg[i]); };
    std::vector<Marker> markers;
    if (jpeg.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return std::nullopt;
    markers.push_back({0xD8, "", 0});
    std::size_t pos = 2;
    while (pos + 1 < jpeg.size()) {
        if (byte(pos) != 0xFF) return std::nullopt;
        const int code = byte(pos + 1);
        if (code == 0xD9) {
            markers.push_back({code, "", pos});
            if (pos + 2 != jpeg.size()) return std::nullopt;
            return markers;
        }
        if (pos + 4 > jpeg.size()) return std::nullopt;
        const std::size_t length = std::size_t{byte(pos + 2)} << 8 | byte(pos + 3);
        if (length < 2 || pos + 2 + length > jpeg.size()) return std::nullopt;
        markers.push_back({code, jpeg.substr(pos + 4, length - 2), pos});
        pos += 2 + length;
        if (code == 0xDA) {
            // Entropy-coded data end at the first marker that is neither a stuffed 0 nor RSTn.
            while (pos + 1 < jpeg.size() && !(byte(pos) == 0xFF && byte(pos + 1) != 0 &&
                                              (byte(pos + 1) < 0xD0 || byte(pos + 1) > 0xD7))) {
                ++pos;
            }
        }
    }
    return std::nullopt;
}

std::optional<TestImage> DecodeForTest(const std::string& jpeg, const TestDecodeSettings& settings,
                                       std::vector<std::array<std::uint8_t, 3>>* colourMap) {
    ErrorJump error;
    InitErrors(error);
    jpeg_decompress_struct cinfo{};
    cinfo.err = &error.pub;
    jpeg_create_decompress(&cinfo);
    TestImage image;
    if (colourMap != nullptr) colourMap->assign(256, {});
    DecodeJob job{&cinfo, &jpeg, &settings, &image.Pixels, colourMap};
    bool ok = Guarded(error, HeaderBody, &job);
    if (ok) {
        image.Width = static_cast<int>(cinfo.output_width);
        image.Height = static_cast<int>(cinfo.output_height);
        image.Components = cinfo.output_components;
        image.Pixels.resize(static_cast<std::size_t>(image.Width) * image.Height *
                            image.Components);
        ok = Guarded(error, PixelsBody, &job);
        if (ok && colourMap != nullptr) {
            colourMap->resize(static_cast<std::size_t>(cinfo.actual_number_of_colors));
        }
    }
    jpeg_destroy_decompress(&cinfo);
    if (!ok) return std::nullopt;
    return image;
}

}  // namespace zenfo::test
