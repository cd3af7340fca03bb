#include "bench/support/plainjpeg.h"

#include <cstdlib>

#include <jpeglib.h>

namespace bench {

void expand565(const std::uint16_t* pixels, int w, int h, std::size_t stride,
               std::vector<unsigned char>& rgb)
{
    rgb.resize(std::size_t(w) * std::size_t(h) * 3);
    unsigned char* out = rgb.data();
    for (int y = 0; y < h; ++y) {
        const auto* in = reinterpret_cast<const std::uint16_t*>(
            reinterpret_cast<const unsigned char*>(pixels) + std::size_t(y) * stride);
        for (int x = 0; x < w; ++x) {
            const unsigned p = in[x];
            const unsigned r5 = p >> 11, g6 = (p >> 5) & 63, b5 = p & 31;
            *out++ = (unsigned char)((r5 << 3) | (r5 >> 2));
            *out++ = (unsigned char)((g6 << 2) | (g6 >> 4));
            *out++ = (unsigned char)((b5 << 3) | (b5 >> 2));
        }
    }
}

void encodeJpeg(const std::vector<unsigned char>& rgb, int w, int h, int quality, int dpiX,
                int dpiY, std::FILE* file, std::vector<unsigned char>* memory,
                const unsigned char* exif, std::size_t exifSize)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);  // exits on error: the benches' inputs are fixed
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (file)
        jpeg_stdio_dest(&cinfo, file);
    else
        jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    cinfo.density_unit = 1;
    cinfo.X_density = UINT16(dpiX);
    cinfo.Y_density = UINT16(dpiY);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (exif && exifSize > 0)
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif, unsigned(exifSize));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(rgb.data())
            + std::size_t(cinfo.next_scanline) * std::size_t(w) * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (memory)
        memory->assign(buffer, buffer + size);
    std::free(buffer);
}

}  // namespace bench
