#include "tools/card-emulator/core/picturerenderer.h"

#include "tools/card-emulator/core/scene.h"

#include <algorithm>
#include <cstring>

namespace card {

namespace {

// The picture index that view position i of n shows, when the view spans `span` picture
// pixels from `first`.
int sample(int i, int n, double first, double span, int limit)
{
    const double c = first + (i + 0.5) * span / n;
    return std::clamp(int(c), 0, limit - 1);
}

}  // namespace

void PictureRenderer::prepare(const Geometry& g, int mirrorBits, int pw, int ph)
{
    if (valid && g == cachedGeometry && mirrorBits == cachedMirror && pw == cachedWidth
        && ph == cachedHeight)
        return;
    const bool mirror = mirrorBits & 4;
    const bool flip = mirrorBits & 8;
    const int viewW = g.upright ? g.width : g.height;
    const int viewH = g.upright ? g.height : g.width;

    // The largest crop of the view's proportions, never a stretch.
    double cropW = pw, cropH = ph;
    if ((long long)pw * viewH > (long long)ph * viewW)
        cropW = double(ph) * viewW / viewH;
    else
        cropH = double(pw) * viewH / viewW;
    const double zoom = double(g.zoom) / minZoom;
    cropW /= zoom;
    cropH /= zoom;
    const double left = (pw - cropW) / 2, top = (ph - cropH) / 2;
    auto xOf = [&](int vx) { return sample(mirror ? viewW - 1 - vx : vx, viewW, left, cropW, pw); };
    auto yOf = [&](int vy) { return sample(flip ? viewH - 1 - vy : vy, viewH, top, cropH, ph); };

    columnOffset.resize(g.width);
    rowOffset.resize(g.height);
    for (int x = 0; x < g.width; ++x)
        columnOffset[x] = g.upright ? std::uint32_t(xOf(x)) : std::uint32_t(yOf(x)) * pw;
    for (int y = 0; y < g.height; ++y)
        rowOffset[y] = g.upright ? std::uint32_t(yOf(y)) * pw : std::uint32_t(xOf(viewW - 1 - y));

    packed.resize(std::size_t(g.width) * g.height);
    packedPicture.reset();
    cachedGeometry = g;
    cachedMirror = mirrorBits;
    cachedWidth = pw;
    cachedHeight = ph;
    valid = true;
}

void PictureRenderer::pictureCoordinates(const Geometry& g, int mode, int pw, int ph, int x,
                                         int y, int& px, int& py)
{
    prepare(g, mode & 12, pw, ph);
    const std::uint32_t offset = rowOffset[y] + columnOffset[x];
    px = int(offset % std::uint32_t(pw));
    py = int(offset / std::uint32_t(pw));
}

void PictureRenderer::render(const Geometry& g, int mode, const FramePtr& picture,
                             std::uint64_t number, std::uint8_t* out, std::size_t length)
{
    if (!picture || picture->width <= 0 || picture->height <= 0
        || picture->pixels.size() < std::size_t(picture->width) * std::size_t(picture->height)) {
        std::memset(out, 0, length);
        return;
    }
    prepare(g, mode & 12, picture->width, picture->height);
    if (packedPicture != picture || packedNumber != number) {
        const std::uint16_t* src = picture->pixels.data();
        if (g.upright) {
            std::uint16_t* dst = packed.data();
            const std::uint32_t* columns = columnOffset.data();
            for (int y = 0; y < g.height; ++y) {
                const std::uint16_t* line = src + rowOffset[y];
                for (int x = 0; x < g.width; ++x)
                    *dst++ = line[columns[x]];
            }
        } else {
            // A turned frame's column is a picture row: read along it, in bands of frame
            // rows, so that neither the picture nor the frame is crossed a pixel at a time.
            constexpr int band = 32;
            const std::uint32_t* rows = rowOffset.data();
            for (int y0 = 0; y0 < g.height; y0 += band) {
                const int y1 = std::min(g.height, y0 + band);
                for (int x = 0; x < g.width; ++x) {
                    const std::uint16_t* line = src + columnOffset[x];
                    std::uint16_t* dst = packed.data() + std::size_t(y0) * g.width + x;
                    for (int y = y0; y < y1; ++y, dst += g.width)
                        *dst = line[rows[y]];
                }
            }
        }
        packedPicture = picture;
        packedNumber = number;
    }
    placeRows(packed.data(), g, out, length);
}

}  // namespace card
