#pragma once
// The plain picture pipeline the benches measure the application against, without any
// toolkit: RGB 5-6-5 expanded to 8-bit RGB by a C loop, then libjpeg-turbo's own encoder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace bench {

// `w` x `h` RGB 5-6-5 pixels, rows `stride` bytes apart, to 8-bit RGB with Qt's bit
// expansion (the top bits repeated into the low ones).
void expand565(const std::uint16_t* pixels, int w, int h, std::size_t stride,
               std::vector<unsigned char>& rgb);

// libjpeg-turbo on w x h 8-bit RGB with the settings Qt's writer uses (baseline tables, no
// optimised Huffman tables, not progressive, a JFIF density of `dpi` dots per inch) and the
// APP1 payload `exif` of `exifSize` bytes when not null; into `file` when given, else into
// `memory`.
void encodeJpeg(const std::vector<unsigned char>& rgb, int w, int h, int quality, int dpiX,
                int dpiY, std::FILE* file, std::vector<unsigned char>* memory,
                const unsigned char* exif = nullptr, std::size_t exifSize = 0);

}  // namespace bench
