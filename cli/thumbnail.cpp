// Thumbnails through libjpeg (libjpeg-turbo): its scaled decoding does the work of
// shrinking by 8 while decoding, at a fraction of the cost of a whole decode.

#include "cli/thumbnail.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jpeglib.h>

namespace velo::cli
{

namespace
{

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps
// back to the setjmp of the call that started the work. Nothing between the two has a
// destructor to run: only libjpeg's C frames and the callbacks below.
struct ErrorTrap {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    char firstWarning[JMSG_LENGTH_MAX] = {};
    char fatal[JMSG_LENGTH_MAX] = {};
};

ErrorTrap& trapOf(j_common_ptr info)
{
    return *reinterpret_cast<ErrorTrap*>(info->err);
}

[[noreturn]] void jumpOut(j_common_ptr info)
{
    ErrorTrap& trap = trapOf(info);
    if (!trap.fatal[0])
        info->err->format_message(info, trap.fatal);
    std::longjmp(trap.jump, 1);
}

// Level -1 is a warning (corrupt data, a premature end); the first one is kept, none is
// printed.
void keepFirstWarning(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    ErrorTrap& trap = trapOf(info);
    if (info->err->num_warnings++ == 0)
        info->err->format_message(info, trap.firstWarning);
}

void printNothing(j_common_ptr) {}

// Called between passes over the data: a progressive photo whose scans never end (a
// made-up one can hold thousands) is given up.
void limitScans(j_common_ptr info)
{
    const auto* decoder = reinterpret_cast<j_decompress_ptr>(info);
    if (decoder->input_scan_number > Thumbnail::kMostScans) {
        std::snprintf(trapOf(info).fatal, JMSG_LENGTH_MAX, "more than %d scans",
                      Thumbnail::kMostScans);
        std::longjmp(trapOf(info).jump, 1);
    }
}

void setUpTrap(ErrorTrap& trap)
{
    jpeg_std_error(&trap.manager);
    trap.manager.error_exit = jumpOut;
    trap.manager.emit_message = keepFirstWarning;
    trap.manager.output_message = printNothing;
}

// Pixels as RGB rows, three bytes each.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

// Adobe's CMYK JPEGs store the inks inverted: a byte of 255 is no ink.
void cmykToRgb(Picture& p)
{
    const std::size_t pixels = std::size_t(p.width) * std::size_t(p.height);
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* in = &p.rgb[i * 4];
        for (int c = 0; c < 3; ++c)
            p.rgb[i * 3 + c] = std::uint8_t(in[c] * in[3] / 255);
    }
    p.rgb.resize(pixels * 3);
}

// The state of one decode, on the heap so that what the jump leaves behind is in memory,
// never in a register the jump has restored.
struct Decode {
    jpeg_decompress_struct info{};
    ErrorTrap trap;
    jpeg_progress_mgr progress{};
    Picture picture;
    std::string problem;
    bool created = false;
    ~Decode()
    {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

// Reads the header and checks the declared size; false (problem set) when the photo is
// not to be decoded.
bool startDecoding(Decode& d)
{
    jpeg_read_header(&d.info, TRUE);
    const std::uint64_t pixels = std::uint64_t(d.info.image_width) * d.info.image_height;
    if (pixels > Thumbnail::kMostPixels) {
        d.problem = "the photo declares " + std::to_string(d.info.image_width) + "x" +
                    std::to_string(d.info.image_height) + " pixels, too many to preview";
        return false;
    }
    // The smallest of libjpeg's scales (1/8, 2/8, ... 8/8) that still fills the box, so
    // that a photo of a few hundred pixels is not shrunk to a speck.
    const std::uint64_t largest = std::max(d.info.image_width, d.info.image_height);
    d.info.scale_num = unsigned(std::clamp<std::uint64_t>(
        (8 * Thumbnail::kLargestSide + largest - 1) / std::max<std::uint64_t>(largest, 1), 1, 8));
    d.info.scale_denom = 8;
    d.info.dct_method = JDCT_IFAST;
    d.info.do_fancy_upsampling = FALSE;
    const bool cmyk = d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK;
    d.info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&d.info);
    return true;
}

void readRows(Decode& d)
{
    Picture& p = d.picture;
    p.width = int(d.info.output_width);
    p.height = int(d.info.output_height);
    const std::size_t stride = std::size_t(p.width) * std::size_t(d.info.output_components);
    p.rgb.assign(stride * std::size_t(p.height), 0);
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW row = p.rgb.data() + stride * d.info.output_scanline;
        jpeg_read_scanlines(&d.info, &row, 1);
    }
    if (d.info.output_components == 4)
        cmykToRgb(p);
    jpeg_finish_decompress(&d.info);
}

// Decodes at 1/8 scale; false with d.problem set when no picture came out.
bool decodeScaled(Decode& d, std::span<const std::uint8_t> photo)
{
    setUpTrap(d.trap);
    d.info.err = &d.trap.manager;
    if (setjmp(d.trap.jump)) {
        d.problem = d.trap.fatal;
        return false;
    }
    jpeg_create_decompress(&d.info);
    d.created = true;
    d.info.mem->max_memory_to_use = Thumbnail::kMostDecoderBytes;
    d.progress.progress_monitor = limitScans;
    d.info.progress = &d.progress;
    jpeg_mem_src(&d.info, photo.data(), static_cast<unsigned long>(photo.size()));
    if (!startDecoding(d))
        return false;
    readRows(d);
    return true;
}

// Averages blocks of pixels so that the picture fits a box of kLargestSide.
Picture shrinkToFit(const Picture& p)
{
    const int largest = std::max(p.width, p.height);
    const int factor = (largest + Thumbnail::kLargestSide - 1) / Thumbnail::kLargestSide;
    if (factor <= 1)
        return p;
    Picture small;
    small.width = std::max(1, p.width / factor);
    small.height = std::max(1, p.height / factor);
    small.rgb.resize(std::size_t(small.width) * std::size_t(small.height) * 3);
    for (int y = 0; y < small.height; ++y)
        for (int x = 0; x < small.width; ++x)
            for (int c = 0; c < 3; ++c) {
                unsigned sum = 0, count = 0;
                for (int dy = 0; dy < factor && y * factor + dy < p.height; ++dy)
                    for (int dx = 0; dx < factor && x * factor + dx < p.width; ++dx, ++count)
                        sum += p.rgb[(std::size_t(y * factor + dy) * std::size_t(p.width) +
                                      std::size_t(x * factor + dx)) *
                                         3 +
                                     std::size_t(c)];
                small.rgb[(std::size_t(y) * std::size_t(small.width) + std::size_t(x)) * 3 +
                          std::size_t(c)] = std::uint8_t(sum / std::max(1u, count));
            }
    return small;
}

struct Encode {
    jpeg_compress_struct info{};
    ErrorTrap trap;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    bool created = false;
    ~Encode()
    {
        if (created)
            jpeg_destroy_compress(&info);
        std::free(buffer);
    }
};

// The picture as a JPEG file; empty if libjpeg failed.
std::vector<std::uint8_t> encode(const Picture& p)
{
    auto e = std::make_unique<Encode>();
    setUpTrap(e->trap);
    e->info.err = &e->trap.manager;
    if (setjmp(e->trap.jump))
        return {};
    jpeg_create_compress(&e->info);
    e->created = true;
    jpeg_mem_dest(&e->info, &e->buffer, &e->size);
    e->info.image_width = JDIMENSION(p.width);
    e->info.image_height = JDIMENSION(p.height);
    e->info.input_components = 3;
    e->info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&e->info);
    jpeg_set_quality(&e->info, 80, TRUE);
    jpeg_start_compress(&e->info, TRUE);
    while (e->info.next_scanline < e->info.image_height) {
        auto row = const_cast<JSAMPROW>(p.rgb.data() + std::size_t(e->info.next_scanline) *
                                                           std::size_t(p.width) * 3);
        jpeg_write_scanlines(&e->info, &row, 1);
    }
    jpeg_finish_compress(&e->info);
    return std::vector<std::uint8_t>(e->buffer, e->buffer + e->size);
}

} // namespace

bool Thumbnail::decoderBuiltIn()
{
    return true;
}

Thumbnail Thumbnail::of(std::span<const std::uint8_t> photo)
{
    Thumbnail t;
    photo = photo.first(std::min(photo.size(), kMostInputBytes));
    auto d = std::make_unique<Decode>();
    if (!decodeScaled(*d, photo)) {
        t.note = d->problem.empty() ? "the decoder gave up" : d->problem;
        return t;
    }
    const Picture small = shrinkToFit(d->picture);
    t.jpeg = encode(small);
    if (t.jpeg.empty()) {
        t.note = "the thumbnail could not be encoded";
        return t;
    }
    t.width = small.width;
    t.height = small.height;
    t.note = d->trap.firstWarning;
    t.outcome = t.note.empty() ? Outcome::Whole : Outcome::WithErrors;
    return t;
}

} // namespace velo::cli
