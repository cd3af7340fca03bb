#include "tools/card-emulator/sources/jpegframe.h"

#include "tools/card-emulator/sources/webcammode.h"

#include <csetjmp>
#include <cstdio>

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
    cinfo.out_color_space = JCS_RGB565;
    // Dithering would make the same scene differ from frame to frame; the card scales the
    // picture again, which smooths what plain upsampling leaves.
    cinfo.dither_mode = JDITHER_NONE;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    frame.width = int(cinfo.output_width);
    frame.height = int(cinfo.output_height);
    frame.pixels.resize(std::size_t(frame.width) * std::size_t(frame.height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(frame.pixels.data()
                                                  + std::size_t(cinfo.output_scanline) * frame.width);
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace card
