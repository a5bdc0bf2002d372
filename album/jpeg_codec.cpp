// JPEG decoding and encoding over libjpeg.
//
// libjpeg reports a fatal error by calling error_exit, which must not return. Here it longjmps
// back to RunGuarded, the only function that calls setjmp; everything between the two (the body
// functions, libjpeg's own frames and the source and destination callbacks) holds nothing with a
// destructor. The owners of the libjpeg structs and of every buffer live in the calling C++
// frames, which turn the returned message code into an exception once libjpeg is left.
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "album/errors.h"
#include "album/jpeg_internal.h"
#include "album/picture.h"

namespace zenfo {
namespace detail {
namespace {

// ---- Error handling ---------------------------------------------------------------------------

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings (such as data ending before the image is complete) are neither shown nor recorded;
// decoding goes on with what the library makes of the rest.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}

void InitErrorManager(ErrorManager& error) {
    jpeg_std_error(&error.pub);
    error.pub.error_exit = ErrorExit;
    error.pub.emit_message = EmitMessage;
    error.pub.output_message = OutputMessage;
}

// Runs body(context); false when libjpeg reported a fatal error (its code is in error.pub).
bool RunGuarded(ErrorManager& error, void (*body)(void*), void* context) {
    if (setjmp(error.jump) != 0) return false;
    body(context);
    return true;
}

// ---- Memory source ----------------------------------------------------------------------------

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

struct MemorySource {
    jpeg_source_mgr pub;
    const JOCTET* data;
    std::size_t size;
};

void InitSource(j_decompress_ptr) {}

// Called only once the data are used up: empty data are an error; data that end early get a
// warning and an end-of-image marker, as a file reader does.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<MemorySource*>(cinfo->src);
    if (source->size == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    source->pub.next_input_byte = kFakeEoi;
    source->pub.bytes_in_buffer = sizeof kFakeEoi;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* source = cinfo->src;
    if (static_cast<unsigned long>(count) > source->bytes_in_buffer) {
        source->next_input_byte += source->bytes_in_buffer;
        source->bytes_in_buffer = 0;
        FillInputBuffer(cinfo);
        return;
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// ---- Vector destination -----------------------------------------------------------------------

struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<std::uint8_t>* out;  // owned by the caller of the encoder
    bool outOfMemory;
};

bool TryResize(std::vector<std::uint8_t>& bytes, std::size_t size) noexcept {
    try {
        bytes.resize(size);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->out->data();
    dest->pub.free_in_buffer = dest->out->size();
}

// The whole buffer is full: double it and go on after what was written.
boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    std::size_t used = dest->out->size();
    if (!TryResize(*dest->out, std::max<std::size_t>(used * 2, 4096))) {
        dest->outOfMemory = true;
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    }
    dest->pub.next_output_byte = dest->out->data() + used;
    dest->pub.free_in_buffer = dest->out->size() - used;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    // Shrinking never allocates.
    TryResize(*dest->out, dest->out->size() - dest->pub.free_in_buffer);
}

// ---- Owners -----------------------------------------------------------------------------------

// The libjpeg structs, destroyed with their owner also when its constructor fails part way.
// Destroying a struct that was never created (all zero) does nothing.
struct DecompressStruct {
    jpeg_decompress_struct cinfo{};
    ~DecompressStruct() { jpeg_destroy_decompress(&cinfo); }
};
struct CompressStruct {
    jpeg_compress_struct cinfo{};
    ~CompressStruct() { jpeg_destroy_compress(&cinfo); }
};

// Owns a decompressor reading from memory; the data must outlive it.
class Decompressor {
  public:
    explicit Decompressor(const std::vector<std::uint8_t>& data) {
        InitErrorManager(error_);
        cinfo_.err = &error_.pub;
        source_.pub.init_source = InitSource;
        source_.pub.fill_input_buffer = FillInputBuffer;
        source_.pub.skip_input_data = SkipInputData;
        source_.pub.resync_to_restart = jpeg_resync_to_restart;
        source_.pub.term_source = TermSource;
        source_.pub.next_input_byte = data.data();
        source_.pub.bytes_in_buffer = data.size();
        source_.data = data.data();
        source_.size = data.size();
        Run(Create, this);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // Runs body under the error guard; EJPEG with the library's code on a fatal error.
    void Run(void (*body)(void*), void* context) {
        if (!RunGuarded(error_, body, context)) throw EJPEG(error_.pub.msg_code);
    }
    jpeg_decompress_struct* Get() { return &cinfo_; }

  private:
    static void Create(void* self) {
        auto* d = static_cast<Decompressor*>(self);
        jpeg_create_decompress(&d->cinfo_);
        d->cinfo_.src = &d->source_.pub;
    }

    ErrorManager error_{};
    MemorySource source_{};
    DecompressStruct owned_;
    jpeg_decompress_struct& cinfo_ = owned_.cinfo;
};

// Owns a compressor writing into out, which must outlive it.
class Compressor {
  public:
    explicit Compressor(std::vector<std::uint8_t>& out) {
        InitErrorManager(error_);
        cinfo_.err = &error_.pub;
        dest_.pub.init_destination = InitDestination;
        dest_.pub.empty_output_buffer = EmptyOutputBuffer;
        dest_.pub.term_destination = TermDestination;
        dest_.out = &out;
        dest_.outOfMemory = false;
        Run(Create, this);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // Runs body under the error guard; EOutOfResources when the output could not grow, else
    // EJPEG with the library's code on a fatal error.
    void Run(void (*body)(void*), void* context) {
        if (RunGuarded(error_, body, context)) return;
        if (dest_.outOfMemory) throw EOutOfResources();
        throw EJPEG(error_.pub.msg_code);
    }
    jpeg_compress_struct* Get() { return &cinfo_; }

  private:
    static void Create(void* self) {
        auto* c = static_cast<Compressor*>(self);
        jpeg_create_compress(&c->cinfo_);
        c->cinfo_.dest = &c->dest_.pub;
    }

    ErrorManager error_{};
    VectorDestination dest_{};
    CompressStruct owned_;
    jpeg_compress_struct& cinfo_ = owned_.cinfo;
};

// ---- Header -----------------------------------------------------------------------------------

void ReadHeaderBody(void* context) {
    auto* cinfo = static_cast<jpeg_decompress_struct*>(context);
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
}

// The orientation of the first Exif APP1 marker that the header read saved.
int SavedOrientation(const jpeg_decompress_struct& cinfo) {
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 &&
            std::memcmp(m->data, "Exif\0\0", 6) == 0) {
            return ExifOrientation(m->data, m->data_length);
        }
    }
    return 1;
}

bool SwapsSides(int orientation) {
    return orientation >= 5;
}

// ---- Decoding ---------------------------------------------------------------------------------

struct PrepareJob {
    jpeg_decompress_struct* cinfo;
    int displayDepth;
    bool multipleScans;
};

// Reads the header and sets the decoding parameters; all others keep the library's defaults.
void PrepareBody(void* context) {
    auto* job = static_cast<PrepareJob*>(context);
    jpeg_decompress_struct* cinfo = job->cinfo;
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    // Full stored size, always: reduced-size decoding would change the pixels of the copies.
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    cinfo->dct_method = JDCT_FLOAT;
    cinfo->do_fancy_upsampling = TRUE;
    cinfo->do_block_smoothing = TRUE;
    cinfo->buffered_image = FALSE;
    const bool fourComponents =
        cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    if (fourComponents) {
        // Decoded to CMYK and converted to RGB here; the library cannot quantize that.
        cinfo->out_color_space = JCS_CMYK;
        cinfo->quantize_colors = FALSE;
    } else if (cinfo->jpeg_color_space == JCS_GRAYSCALE || job->displayDepth <= 8) {
        cinfo->quantize_colors = TRUE;
        cinfo->desired_number_of_colors = 236;
    }
    jpeg_calc_output_dimensions(cinfo);
    job->multipleScans = jpeg_has_multiple_scans(cinfo) != 0;
}

// Where the decoded rows go: stored pixel (x, y) lands at pixel origin + x * dx + y * dy of the
// upright raster.
struct Placement {
    std::ptrdiff_t origin;
    std::ptrdiff_t dx;
    std::ptrdiff_t dy;
};

Placement PlacementFor(int orientation, std::ptrdiff_t w, std::ptrdiff_t h) {
    // w and h are the stored size; the upright width is h for orientations 5-8.
    switch (orientation) {
        case 2:  // mirrored left to right
            return {w - 1, -1, w};
        case 3:  // turned half round
            return {(h - 1) * w + w - 1, -1, -w};
        case 4:  // mirrored top to bottom
            return {(h - 1) * w, 1, -w};
        case 5:  // mirrored along the main diagonal
            return {0, h, 1};
        case 6:  // to be turned a quarter clockwise
            return {h - 1, h, -1};
        case 7:  // mirrored along the other diagonal
            return {(w - 1) * h + h - 1, -h, -1};
        case 8:  // to be turned a quarter anticlockwise
            return {(w - 1) * h, -h, 1};
        default:
            return {0, 1, w};
    }
}

struct DecodeJob {
    jpeg_decompress_struct* cinfo;
    std::uint8_t* pixels;          // the upright raster, allocated by the caller
    std::size_t pixelBytes;        // 1 (indexed) or 3 (RGB)
    bool direct;                   // rows go straight into the raster
    bool cmyk;                     // library output is CMYK, converted here
    bool adobeInverted;            // CMYK values stored inverted (Adobe)
    Placement placement;           // used when not direct
    std::uint8_t (*colourMap)[3];  // 256 entries, filled when quantized
    int colourCount;
};

inline std::uint8_t Product255(unsigned a, unsigned b) {
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

void PlaceRow(const DecodeJob& job, const JSAMPLE* row, JDIMENSION y) {
    const JDIMENSION width = job.cinfo->output_width;
    const std::ptrdiff_t step = job.placement.dx * static_cast<std::ptrdiff_t>(job.pixelBytes);
    std::uint8_t* out =
        job.pixels + (job.placement.origin + job.placement.dy * static_cast<std::ptrdiff_t>(y)) *
                         static_cast<std::ptrdiff_t>(job.pixelBytes);
    if (job.cmyk) {
        for (JDIMENSION x = 0; x < width; ++x, row += 4, out += step) {
            unsigned c = row[0], m = row[1], yellow = row[2], k = row[3];
            if (!job.adobeInverted) {
                c = 255 - c;
                m = 255 - m;
                yellow = 255 - yellow;
                k = 255 - k;
            }
            // Inverted values are the amounts of light left: red = (1 - C)(1 - K), and so on.
            out[0] = Product255(c, k);
            out[1] = Product255(m, k);
            out[2] = Product255(yellow, k);
        }
    } else if (job.pixelBytes == 3) {
        for (JDIMENSION x = 0; x < width; ++x, row += 3, out += step) {
            out[0] = row[0];
            out[1] = row[1];
            out[2] = row[2];
        }
    } else {
        for (JDIMENSION x = 0; x < width; ++x, ++row, out += step) *out = *row;
    }
}

void DecodeBody(void* context) {
    auto* job = static_cast<DecodeJob*>(context);
    jpeg_decompress_struct* cinfo = job->cinfo;
    jpeg_start_decompress(cinfo);
    const JDIMENSION height = cinfo->output_height;
    if (job->direct) {
        const std::size_t rowBytes = cinfo->output_width * job->pixelBytes;
        constexpr JDIMENSION kBatch = 16;
        JSAMPROW rows[kBatch];
        while (cinfo->output_scanline < height) {
            const JDIMENSION first = cinfo->output_scanline;
            const JDIMENSION count = std::min(kBatch, height - first);
            for (JDIMENSION i = 0; i < count; ++i) rows[i] = job->pixels + (first + i) * rowBytes;
            jpeg_read_scanlines(cinfo, rows, count);
        }
    } else {
        const JDIMENSION batch = static_cast<JDIMENSION>(cinfo->rec_outbuf_height);
        JSAMPARRAY buffer = (*cinfo->mem->alloc_sarray)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
            cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components), batch);
        while (cinfo->output_scanline < height) {
            const JDIMENSION first = cinfo->output_scanline;
            const JDIMENSION got = jpeg_read_scanlines(cinfo, buffer, batch);
            for (JDIMENSION i = 0; i < got; ++i) PlaceRow(*job, buffer[i], first + i);
        }
    }
    if (cinfo->quantize_colors) {
        // The colour map lives in the library's image pool, which finishing releases.
        job->colourCount = cinfo->actual_number_of_colors;
        const bool grey = cinfo->out_color_components == 1;
        for (int i = 0; i < job->colourCount; ++i) {
            for (int c = 0; c < 3; ++c) job->colourMap[i][c] = cinfo->colormap[grey ? 0 : c][i];
        }
    }
    jpeg_finish_decompress(cinfo);
}

// Bytes the library itself needs for the whole image: the coefficients of a file of several
// scans (progressive ones) and the pixels kept for the second pass of two-pass quantization.
std::uint64_t LibraryImageBytes(const jpeg_decompress_struct& cinfo, bool multipleScans) {
    std::uint64_t bytes = 0;
    if (multipleScans) {
        for (int i = 0; i < cinfo.num_components; ++i) {
            const jpeg_component_info& c = cinfo.comp_info[i];
            const std::uint64_t hs = std::max(c.h_samp_factor, 1);
            const std::uint64_t vs = std::max(c.v_samp_factor, 1);
            const std::uint64_t across = (c.width_in_blocks + hs - 1) / hs * hs;
            const std::uint64_t down = (c.height_in_blocks + vs - 1) / vs * vs;
            bytes += across * down * sizeof(JBLOCK);
        }
    }
    if (cinfo.quantize_colors && cinfo.out_color_components == 3) {
        bytes += std::uint64_t{cinfo.output_width} * cinfo.output_height * 3;
    }
    return bytes;
}

}  // namespace

// ---- Exif -------------------------------------------------------------------------------------

int ExifOrientation(const std::uint8_t* payload, std::size_t size) {
    constexpr std::size_t kExifHeader = 6;  // "Exif\0\0"
    if (size < kExifHeader + 8 || std::memcmp(payload, "Exif\0\0", kExifHeader) != 0) return 1;
    const std::uint8_t* tiff = payload + kExifHeader;
    const std::size_t length = size - kExifHeader;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I') {
        little = true;
    } else if (tiff[0] == 'M' && tiff[1] == 'M') {
        little = false;
    } else {
        return 1;
    }
    auto u16 = [&](std::size_t at) -> unsigned {
        return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? std::uint32_t{u16(at)} | std::uint32_t{u16(at + 2)} << 16
                      : std::uint32_t{u16(at)} << 16 | std::uint32_t{u16(at + 2)};
    };
    if (u16(2) != 42) return 1;
    const std::size_t ifd = u32(4);
    if (ifd > length || length - ifd < 2) return 1;
    const std::size_t entries = u16(ifd);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (entry + 12 > length) break;
        if (u16(entry) != 0x0112) continue;
        // One SHORT, stored in the first two bytes of the value field.
        if (u16(entry + 2) != 3 || u32(entry + 4) < 1) return 1;
        const unsigned value = u16(entry + 8);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

// ---- Public entry points ----------------------------------------------------------------------

JpegHeader ReadJpegHeader(const std::vector<std::uint8_t>& data) {
    Decompressor decompressor(data);
    jpeg_decompress_struct* cinfo = decompressor.Get();
    decompressor.Run(ReadHeaderBody, cinfo);
    JpegHeader header;
    header.Orientation = SavedOrientation(*cinfo);
    header.Width = static_cast<int>(cinfo->image_width);
    header.Height = static_cast<int>(cinfo->image_height);
    if (SwapsSides(header.Orientation)) std::swap(header.Width, header.Height);
    return header;
}

std::uint64_t DecodeMemoryLimit() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2;
}

DecodeMemory DecodeMemoryOf(const std::vector<std::uint8_t>& data, int displayDepth) {
    Decompressor decompressor(data);
    jpeg_decompress_struct* cinfo = decompressor.Get();
    PrepareJob prepare{cinfo, displayDepth, false};
    decompressor.Run(PrepareBody, &prepare);
    const std::uint64_t pixelBytes = cinfo->quantize_colors ? 1 : 3;
    return {std::uint64_t{cinfo->output_width} * cinfo->output_height * pixelBytes,
            LibraryImageBytes(*cinfo, prepare.multipleScans),
            SavedOrientation(*cinfo) == 1 && cinfo->out_color_space != JCS_CMYK};
}

namespace {

struct RowsJob {
    jpeg_decompress_struct* cinfo;
    RowSink* sink;
    std::uint8_t (*colourMap)[3];  // 256 entries
};

void RowsBody(void* context) {
    auto* job = static_cast<RowsJob*>(context);
    jpeg_decompress_struct* cinfo = job->cinfo;
    jpeg_start_decompress(cinfo);
    // Either quantizer has its map once decompression has started.
    int colours = 0;
    if (cinfo->quantize_colors) {
        colours = cinfo->actual_number_of_colors;
        const bool grey = cinfo->out_color_components == 1;
        for (int i = 0; i < colours; ++i) {
            for (int c = 0; c < 3; ++c) job->colourMap[i][c] = cinfo->colormap[grey ? 0 : c][i];
        }
    }
    job->sink->Begin(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height),
                     job->colourMap, colours);
    const JDIMENSION batch = static_cast<JDIMENSION>(cinfo->rec_outbuf_height);
    JSAMPARRAY buffer = (*cinfo->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
        cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components), batch);
    const JDIMENSION height = cinfo->output_height;
    while (cinfo->output_scanline < height) {
        const JDIMENSION first = cinfo->output_scanline;
        const JDIMENSION got = jpeg_read_scanlines(cinfo, buffer, batch);
        for (JDIMENSION i = 0; i < got; ++i) {
            job->sink->Row(buffer[i], static_cast<int>(first + i));
        }
    }
    jpeg_finish_decompress(cinfo);
}

}  // namespace

bool DecodeJpegRows(const std::vector<std::uint8_t>& data, int displayDepth,
                    std::uint64_t memoryLimit, RowSink& sink) {
    Decompressor decompressor(data);
    jpeg_decompress_struct* cinfo = decompressor.Get();
    PrepareJob prepare{cinfo, displayDepth, false};
    decompressor.Run(PrepareBody, &prepare);
    // The checks of DecodeJpegWithin, in its order, so that a photo fails alike either way.
    const bool quantized = cinfo->quantize_colors != 0;
    const bool cmyk = cinfo->out_color_space == JCS_CMYK;
    if (!quantized && !cmyk && cinfo->out_color_components != 3) {
        throw EJPEG(JERR_CONVERSION_NOTIMPL);
    }
    const std::uint64_t rasterBytes =
        std::uint64_t{cinfo->output_width} * cinfo->output_height * (quantized ? 1 : 3);
    if (rasterBytes + LibraryImageBytes(*cinfo, prepare.multipleScans) > memoryLimit ||
        rasterBytes > std::numeric_limits<std::size_t>::max()) {
        throw EOutOfResources();
    }
    if (cmyk || SavedOrientation(*cinfo) != 1) return false;
    std::uint8_t colourMap[256][3] = {};
    RowsJob job{cinfo, &sink, colourMap};
    decompressor.Run(RowsBody, &job);
    return true;
}

DecodedRaster DecodeJpegWithin(const std::vector<std::uint8_t>& data, int displayDepth,
                               std::uint64_t memoryLimit, std::vector<std::uint8_t> storage) {
    Decompressor decompressor(data);
    jpeg_decompress_struct* cinfo = decompressor.Get();
    PrepareJob prepare{cinfo, displayDepth, false};
    decompressor.Run(PrepareBody, &prepare);

    const bool quantized = cinfo->quantize_colors != 0;
    const bool cmyk = cinfo->out_color_space == JCS_CMYK;
    if (!quantized && !cmyk && cinfo->out_color_components != 3) {
        // Neither grey, RGB nor CMYK (a file of two or five components, say).
        throw EJPEG(JERR_CONVERSION_NOTIMPL);
    }
    const int orientation = SavedOrientation(*cinfo);
    const std::size_t pixelBytes = quantized ? 1 : 3;
    const std::uint64_t storedWidth = cinfo->output_width;
    const std::uint64_t storedHeight = cinfo->output_height;
    const std::uint64_t rasterBytes = storedWidth * storedHeight * pixelBytes;
    if (rasterBytes + LibraryImageBytes(*cinfo, prepare.multipleScans) > memoryLimit ||
        rasterBytes > std::numeric_limits<std::size_t>::max()) {
        throw EOutOfResources();
    }

    DecodedRaster raster;
    raster.Width = static_cast<int>(SwapsSides(orientation) ? storedHeight : storedWidth);
    raster.Height = static_cast<int>(SwapsSides(orientation) ? storedWidth : storedHeight);
    raster.Indexed = quantized;
    std::uint8_t colourMap[256][3] = {};
    // Storage too small is given back first rather than grown, which would copy it. Every pixel
    // is written by the decode, so what reused storage held plays no part.
    if (storage.capacity() < rasterBytes) std::vector<std::uint8_t>().swap(storage);
    raster.Pixels = std::move(storage);
    try {
        raster.Pixels.resize(static_cast<std::size_t>(rasterBytes));
    } catch (const std::bad_alloc&) {
        throw EOutOfResources();
    }

    DecodeJob job{};
    job.cinfo = cinfo;
    job.pixels = raster.Pixels.data();
    job.pixelBytes = pixelBytes;
    job.direct = orientation == 1 && !cmyk;
    job.cmyk = cmyk;
    job.adobeInverted = cinfo->saw_Adobe_marker != 0;
    job.placement = PlacementFor(orientation, static_cast<std::ptrdiff_t>(storedWidth),
                                 static_cast<std::ptrdiff_t>(storedHeight));
    job.colourMap = colourMap;
    decompressor.Run(DecodeBody, &job);

    if (quantized) {
        raster.ColourMap.resize(static_cast<std::size_t>(job.colourCount));
        for (int i = 0; i < job.colourCount; ++i) {
            raster.ColourMap[i] = {colourMap[i][0], colourMap[i][1], colourMap[i][2]};
        }
    }
    return raster;
}

// ---- Encoding ---------------------------------------------------------------------------------

namespace {

struct EncodeJob {
    jpeg_compress_struct* cinfo;
    const RgbRaster* raster;
};

void EncodeBody(void* context) {
    auto* job = static_cast<EncodeJob*>(context);
    jpeg_compress_struct* cinfo = job->cinfo;
    const RgbRaster& raster = *job->raster;
    cinfo->image_width = static_cast<JDIMENSION>(raster.Width);
    cinfo->image_height = static_cast<JDIMENSION>(raster.Height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, 90, TRUE);
    cinfo->dct_method = JDCT_FLOAT;
    jpeg_start_compress(cinfo, TRUE);
    const std::size_t rowBytes = static_cast<std::size_t>(raster.Width) * 3;
    // libjpeg takes non-const rows but only reads them.
    auto* pixels = const_cast<JSAMPLE*>(raster.Pixels.data());
    const JDIMENSION height = cinfo->image_height;
    constexpr JDIMENSION kBatch = 16;
    JSAMPROW rows[kBatch];
    while (cinfo->next_scanline < height) {
        const JDIMENSION first = cinfo->next_scanline;
        const JDIMENSION count = std::min(kBatch, height - first);
        for (JDIMENSION i = 0; i < count; ++i) rows[i] = pixels + (first + i) * rowBytes;
        jpeg_write_scanlines(cinfo, rows, count);
    }
    jpeg_finish_compress(cinfo);
}

}  // namespace
}  // namespace detail

DecodedRaster DecodeJpeg(const std::vector<std::uint8_t>& data, int displayDepth,
                         std::vector<std::uint8_t> storage) {
    return detail::DecodeJpegWithin(data, displayDepth, detail::DecodeMemoryLimit(),
                                    std::move(storage));
}

std::vector<std::uint8_t> EncodeJpeg(const RgbRaster& raster) {
    std::vector<std::uint8_t> out;
    if (raster.Width <= 0 || raster.Height <= 0) return out;
    const std::size_t pixelBytes = static_cast<std::size_t>(raster.Width) * raster.Height * 3;
    if (raster.Pixels.size() < pixelBytes) {
        throw std::invalid_argument("EncodeJpeg: raster has fewer pixels than its size");
    }
    // A first guess that fits most copies at quality 90; the destination doubles it if not.
    if (!detail::TryResize(out, pixelBytes / 4 + 2048)) throw EOutOfResources();
    detail::Compressor compressor(out);
    detail::EncodeJob job{compressor.Get(), &raster};
    compressor.Run(detail::EncodeBody, &job);
    return out;
}

}  // namespace zenfo
