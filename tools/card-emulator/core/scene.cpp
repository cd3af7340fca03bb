#include "tools/card-emulator/core/scene.h"

#include <algorithm>
#include <cstring>

namespace card {

namespace {

constexpr std::uint32_t frac(double f)
{
    return std::uint32_t(f * sceneOne + 0.5);
}

constexpr std::uint32_t half = sceneOne / 2;

std::uint32_t distance(std::uint32_t a, std::uint32_t b)
{
    return a > b ? a - b : b - a;
}

// 3x5 digit glyphs, one row per entry, bit 2 the leftmost column.
constexpr std::uint8_t digitGlyphs[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

// Layout of the test card, all of it inside the central third [1/3, 2/3].
constexpr std::uint32_t shaftHalfWidth = frac(0.02);
constexpr std::uint32_t shaftTop = frac(0.45);
constexpr std::uint32_t shaftBottom = frac(0.57);
constexpr std::uint32_t headTop = frac(0.36);  // the arrow's tip
constexpr std::uint32_t boxLeft = frac(0.39), boxRight = frac(0.61);
constexpr std::uint32_t boxTop = frac(0.59), boxBottom = frac(0.66);
constexpr std::uint32_t digitsLeft = frac(0.40), digitWidth = frac(0.05);
constexpr std::uint32_t digitsTop = frac(0.60), digitsHeight = frac(0.05);
constexpr std::uint32_t discRadius = frac(0.02);
constexpr std::uint32_t discSwing = frac(0.12);
constexpr std::uint32_t discPeriodMs = 4000;

// Maps view position i of n (mirrored or not) to a scene coordinate: the view covers the
// central 256/zoom of the scene, pixel centres sampled.
std::uint32_t viewToScene(int i, int n, int zoom)
{
    const long long offset = (long long)(2 * i + 1 - n) * half * minZoom / ((long long)n * zoom);
    const long long c = half + offset;
    return std::uint32_t(std::clamp<long long>(c, 0, sceneOne - 1));
}

// First and one-past-last index whose coordinate lies in the central third; the
// coordinates are monotonic, so the indexes are contiguous.
void centralRange(const std::vector<std::uint32_t>& coord, int& first, int& last)
{
    first = 0;
    last = 0;
    bool found = false;
    for (int i = 0; i < int(coord.size()); ++i) {
        if (coord[i] >= sceneOne / 3 && coord[i] <= 2 * sceneOne / 3) {
            if (!found)
                first = i;
            found = true;
            last = i + 1;
        }
    }
}

}  // namespace

std::uint16_t TestCardScene::colourAt(std::uint32_t u, std::uint32_t v) const
{
    const std::uint32_t du = distance(u, half);
    if (v >= shaftTop && v < shaftBottom && du < shaftHalfWidth)
        return white;
    // The head widens by two thirds of its height on each side.
    if (v >= headTop && v < shaftTop && du * 3 <= (v - headTop) * 2)
        return white;
    if (v < half)
        return u < half ? red : green;
    return u < half ? blue : yellow;
}

bool TestCardScene::overlayAt(std::uint32_t u, std::uint32_t v, const SceneTime& t,
                              std::uint16_t& colour) const
{
    if (u >= boxLeft && u < boxRight && v >= boxTop && v < boxBottom) {
        colour = white;
        if (u < digitsLeft || u >= digitsLeft + 4 * digitWidth || v < digitsTop
            || v >= digitsTop + digitsHeight)
            return true;
        const std::uint32_t du = u - digitsLeft;
        const unsigned index = du / digitWidth;
        const unsigned column = (du % digitWidth) * 4 / digitWidth;
        const unsigned row = (v - digitsTop) * 5 / digitsHeight;
        static constexpr unsigned powers[4] = {1000, 100, 10, 1};
        const unsigned digit = (t.frame / powers[index]) % 10;
        if (column < 3 && (digitGlyphs[digit][row] >> (2 - column)) & 1)
            colour = black;
        return true;
    }
    // The disc slides on the middle row with a triangle wave: cheap and clearly moving.
    const std::uint32_t phase = t.motionMs % discPeriodMs;
    const std::uint32_t ramp = phase < discPeriodMs / 2 ? phase : discPeriodMs - phase;
    const std::uint32_t centre =
        half - discSwing + std::uint32_t((unsigned long long)ramp * 2 * discSwing * 2 / discPeriodMs);
    const unsigned long long dx = distance(u, centre), dy = distance(v, half);
    if (dx * dx + dy * dy <= (unsigned long long)discRadius * discRadius) {
        colour = black;
        return true;
    }
    return false;
}

std::size_t placeRows(const std::uint16_t* packed, const Geometry& g, std::uint8_t* out,
                      std::size_t length)
{
    const std::size_t rowBytes = std::size_t(g.width) * 2;
    const std::size_t stride = std::size_t(g.stride);
    std::size_t rows = 0;
    if (length >= rowBytes)
        rows = std::min<std::size_t>(std::size_t(g.height), (length - rowBytes) / stride + 1);

    std::size_t end = 0;  // first byte not written yet
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t start = r * stride;
        std::memset(out + end, 0, start - end);
        std::memcpy(out + start, packed + r * g.width, rowBytes);
        end = start + rowBytes;
    }
    std::memset(out + end, 0, length - end);
    return rows;
}

FrameRenderer::FrameRenderer(const Scene& s)
    : scene(s)
{
}

void FrameRenderer::prepare(const Geometry& g, int mirrorBits)
{
    if (valid && g == cachedGeometry && mirrorBits == cachedMirror)
        return;
    const bool mirror = mirrorBits & 4;
    const bool flip = mirrorBits & 8;
    // The upright view the sensor sees; 'S' delivers it turned a quarter turn
    // counter-clockwise, so its width is the frame's height.
    const int viewW = g.upright ? g.width : g.height;
    const int viewH = g.upright ? g.height : g.width;
    auto uOf = [&](int vx) { return viewToScene(mirror ? viewW - 1 - vx : vx, viewW, g.zoom); };
    auto vOf = [&](int vy) { return viewToScene(flip ? viewH - 1 - vy : vy, viewH, g.zoom); };

    columnCoord.resize(g.width);
    rowCoord.resize(g.height);
    for (int x = 0; x < g.width; ++x)
        columnCoord[x] = g.upright ? uOf(x) : vOf(x);
    for (int y = 0; y < g.height; ++y)
        rowCoord[y] = g.upright ? vOf(y) : uOf(viewW - 1 - y);

    still.resize(std::size_t(g.width) * g.height);
    std::uint16_t* p = still.data();
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) {
            *p++ = g.upright ? scene.colourAt(columnCoord[x], rowCoord[y])
                             : scene.colourAt(rowCoord[y], columnCoord[x]);
        }
    }
    centralRange(columnCoord, overlayX0, overlayX1);
    centralRange(rowCoord, overlayY0, overlayY1);
    cachedGeometry = g;
    cachedMirror = mirrorBits;
    valid = true;
}

void FrameRenderer::sceneCoordinates(const Geometry& g, int mode, int x, int y,
                                     std::uint32_t& u, std::uint32_t& v)
{
    prepare(g, mode & 12);
    u = g.upright ? columnCoord[x] : rowCoord[y];
    v = g.upright ? rowCoord[y] : columnCoord[x];
}

void FrameRenderer::render(const Geometry& g, int mode, const SceneTime& time,
                           std::uint8_t* out, std::size_t length)
{
    prepare(g, mode & 12);
    const std::size_t rows = placeRows(still.data(), g, out, length);

    if (!scene.hasOverlay())
        return;
    const int yEnd = std::min(overlayY1, int(rows));
    for (int y = overlayY0; y < yEnd; ++y) {
        std::uint8_t* line = out + std::size_t(y) * std::size_t(g.stride);
        for (int x = overlayX0; x < overlayX1; ++x) {
            const std::uint32_t u = g.upright ? columnCoord[x] : rowCoord[y];
            const std::uint32_t v = g.upright ? rowCoord[y] : columnCoord[x];
            std::uint16_t colour;
            if (scene.overlayAt(u, v, time, colour))
                std::memcpy(line + 2 * x, &colour, 2);
        }
    }
}

}  // namespace card
