#pragma once
// Frames from a source picture (a still image or a video frame) in place of the synthetic
// scene. The picture keeps its proportions: the frame shows the largest centred crop of the
// frame's aspect ratio, zoom narrows that crop about the centre, and it is sampled at pixel
// centres. 'S' turns it a quarter turn counter-clockwise, mode bit 2 mirrors and bit 3 flips
// it, as for the synthetic scene.
#include "tools/card-emulator/core/cardcommand.h"
#include "tools/card-emulator/core/framesource.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace card {

class PictureRenderer {
public:
    // Fills exactly `length` bytes of `out` as FrameRenderer::render does. `number` tells
    // frames of one source apart: the same picture and number is not sampled again. No
    // picture gives a black frame.
    void render(const Geometry& geometry, int mode, const FramePtr& picture,
                std::uint64_t number, std::uint8_t* out, std::size_t length);

    // The picture pixel (px, py) that the frame's pixel (x, y) shows; for tests.
    void pictureCoordinates(const Geometry& geometry, int mode, int pictureWidth,
                            int pictureHeight, int x, int y, int& px, int& py);

private:
    void prepare(const Geometry& geometry, int mirrorBits, int pictureWidth, int pictureHeight);

    bool valid = false;
    Geometry cachedGeometry;
    int cachedMirror = -1;
    int cachedWidth = 0;
    int cachedHeight = 0;
    // Frame pixel (x, y) shows picture pixel rowOffset[y] + columnOffset[x] (row-major):
    // one of the two carries the picture row times its width, the other the column.
    std::vector<std::uint32_t> columnOffset;
    std::vector<std::uint32_t> rowOffset;

    std::vector<std::uint16_t> packed;  // the last frame sampled, width * height
    FramePtr packedPicture;
    std::uint64_t packedNumber = 0;
};

}  // namespace card
