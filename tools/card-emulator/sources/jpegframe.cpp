#include "tools/card-emulator/sources/jpegframe.h"

#include "tools/card-emulator/sources/webcammode.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace card {

namespace {

struct Errors {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

// The library's own way out ends the process.
[[noreturn]] void leave(j_common_ptr cinfo)
{
    auto* errors = reinterpret_cast<Errors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->escape, 1);
}

// A webcam's frame cut short is still shown as far as it came; not worth a line on stderr
// thirty times a second.
void quiet(j_common_ptr) {}

// The decoder's 32-bit pixels, read as one word each: blue in the low byte, red in the third,
// whichever the byte order.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr J_COLOR_SPACE wordPixels = JCS_EXT_XRGB;
#else
constexpr J_COLOR_SPACE wordPixels = JCS_EXT_BGRX;
#endif

inline std::uint16_t rgb565(const std::uint8_t* pixel)
{
    std::uint32_t p;
    std::memcpy(&p, pixel, 4);
    return std::uint16_t(((p >> 8) & 0xf800) | ((p >> 5) & 0x07e0) | ((p >> 3) & 0x001f));
}

// A row of those words into 5-6-5. Blocks of a fixed length, so that even the compiler's
// cheapest vectoriser (GCC's at -O2) takes the inner loop: the whole frame is packed, thirty
// times a second.
void packRow(const std::uint8_t* __restrict in, std::uint16_t* __restrict out, int width)
{
    constexpr int block = 16;
    int x = 0;
    for (; x + block <= width; x += block) {
        for (int i = 0; i < block; ++i)
            out[x + i] = rgb565(in + 4 * (x + i));
    }
    for (; x < width; ++x)
        out[x] = rgb565(in + 4 * x);
}

}  // namespace

bool decodeJpegFrame(const std::uint8_t* data, std::size_t size, SourceFrame& frame,
                     std::string& error)
{
    jpeg_decompress_struct cinfo;
    Errors errors;
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = leave;
    errors.manager.output_message = quiet;
    jpeg_create_decompress(&cinfo);
    if (setjmp(errors.escape)) {
        error = std::string("motion JPEG frame: ") + errors.message;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = unsigned(jpegScaleEighths(int(cinfo.image_width), int(cinfo.image_height)));
    cinfo.scale_denom = 8;
    // libjpeg-turbo's own 5-6-5 output is plain C; its 32-bit output is vectorised, and
    // packing that here costs less than the difference.
    cinfo.out_color_space = wordPixels;
    jpeg_start_decompress(&cinfo);
    frame.width = int(cinfo.output_width);
    frame.height = int(cinfo.output_height);
    frame.pixels.resize(std::size_t(frame.width) * std::size_t(frame.height));
    // The library's own memory: a way out by longjmp leaves nothing behind.
    JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                JPOOL_IMAGE, cinfo.output_width * 4, 1);
    while (cinfo.output_scanline < cinfo.output_height) {
        std::uint16_t* out = frame.pixels.data() + std::size_t(cinfo.output_scanline) * frame.width;
        jpeg_read_scanlines(&cinfo, rows, 1);
        packRow(rows[0], out, frame.width);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace card
