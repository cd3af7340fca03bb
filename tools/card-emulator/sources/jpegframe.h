#pragma once
// A webcam's motion JPEG frame into the card's pixels, made smaller inside the decoder: its
// inverse DCT gives the picture at a fraction of its size for less work than the whole one.
#include "tools/card-emulator/core/framesource.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace card {

// Decodes `size` bytes at `data` at the least scale whose picture still covers the largest
// capture (jpegScaleEighths), as RGB565; false with `error` set when they are no JPEG picture.
bool decodeJpegFrame(const std::uint8_t* data, std::size_t size, SourceFrame& frame,
                     std::string& error);

}  // namespace card
