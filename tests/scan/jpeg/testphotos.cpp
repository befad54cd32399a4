#include "tests/scan/jpeg/testphotos.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <random>

#include <jpeglib.h>

namespace velo::jpeg::testing
{

namespace
{
struct ErrorExit {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void onError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorExit*>(info->err)->jump, 1);
}
} // namespace

Bytes makePhoto(const PhotoRecipe& recipe)
{
    std::mt19937 rng(recipe.seed);
    std::uniform_int_distribution<int> noise(-24, 24);
    const double fx = 0.02 + (recipe.seed % 7) * 0.01, fy = 0.03 + (recipe.seed % 5) * 0.01;
    std::vector<JSAMPLE> rgb(std::size_t(recipe.width) * recipe.height * 3);
    for (int y = 0; y < recipe.height; ++y)
        for (int x = 0; x < recipe.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const double wave = 127 + 90 * std::sin(x * fx * (c + 1) + y * fy);
                rgb[(std::size_t(y) * recipe.width + x) * 3 + c] =
                    JSAMPLE(std::clamp(int(wave) + noise(rng), 0, 255));
            }

    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outBytes = 0;
    jpeg_mem_dest(&cinfo, &out, &outBytes);
    cinfo.image_width = JDIMENSION(recipe.width);
    cinfo.image_height = JDIMENSION(recipe.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, recipe.quality, TRUE);
    if (recipe.progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = recipe.restartRows;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &rgb[std::size_t(cinfo.next_scanline) * recipe.width * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes photo(out, out + outBytes);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return photo;
}

Bytes decodePixels(const Bytes& jpeg)
{
    jpeg_decompress_struct cinfo{};
    ErrorExit err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = onError;
    // Corrupt data only warns in libjpeg; a warning counts as a failure here.
    err.mgr.emit_message = [](j_common_ptr info, int level) {
        if (level < 0)
            onError(info);
    };
    Bytes pixels;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = std::size_t(cinfo.output_width) * cinfo.output_components;
    pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &pixels[std::size_t(cinfo.output_scanline) * stride];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

Bytes filler(Filler kind, std::size_t count, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes b(count);
    static const char text[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (auto& x : b) {
        switch (kind) {
        case Filler::Random:
            x = std::uint8_t(rng());
            break;
        case Filler::Text:
            x = std::uint8_t(text[rng() % 64]);
            break;
        case Filler::Zeros:
            x = 0;
            break;
        }
    }
    return b;
}

std::size_t entropyStart(const Bytes& j)
{
    std::size_t i = 2;
    while (i + 4 <= j.size() && j[i] == 0xFF) {
        const std::size_t length = std::size_t(j[i + 2] << 8 | j[i + 3]);
        if (j[i + 1] == 0xDA)
            return i + 2 + length;
        i += 2 + length;
    }
    return 0;
}

std::size_t findStuffing(const Bytes& j)
{
    for (std::size_t i = entropyStart(j); i && i + 1 < j.size(); ++i)
        if (j[i] == 0xFF && j[i + 1] == 0x00)
            return i;
    return 0;
}

std::size_t findRestart(const Bytes& j, std::uint8_t number)
{
    for (std::size_t i = entropyStart(j); i && i + 1 < j.size(); ++i)
        if (j[i] == 0xFF && j[i + 1] == 0xD0 + number)
            return i;
    return 0;
}

std::size_t MemoryCard::read(std::uint64_t first, std::size_t count, std::uint8_t* into)
{
    std::size_t done = 0;
    for (; done < count && first + done < sectorCount(); ++done) {
        if (bad_.count(first + done))
            break;
        std::memcpy(into + done * sectorBytes_, image_.data() + (first + done) * sectorBytes_,
                    sectorBytes_);
    }
    return done;
}

} // namespace velo::jpeg::testing
