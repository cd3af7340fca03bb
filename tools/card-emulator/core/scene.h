#pragma once
// What the emulated sensor looks at, and how one frame of it is put into a read buffer.
#include "tools/card-emulator/core/cardcommand.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace card {

// Scene coordinates are fractions of the scene's width and height in 16-bit fixed point:
// 0 is the left (top) edge, 65536 the right (bottom) edge.
constexpr std::uint32_t sceneOne = 65536;

constexpr std::uint16_t rgb565(unsigned r, unsigned g, unsigned b)
{
    return std::uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

struct SceneTime {
    std::uint32_t motionMs = 0;  // how long capture has been enabled
    std::uint32_t frame = 0;     // the number shown on the frame counter
};

class Scene {
public:
    virtual ~Scene() = default;
    virtual std::uint16_t colourAt(std::uint32_t u, std::uint32_t v) const = 0;
    // Moving parts, confined to the central third of the scene: true with their colour
    // where one covers (u, v).
    virtual bool overlayAt(std::uint32_t, std::uint32_t, const SceneTime&, std::uint16_t&) const
    {
        return false;
    }
    virtual bool hasOverlay() const { return false; }
};

// Four pure quadrants (red, green / blue, yellow), an upward arrow in the middle, a disc
// sliding left and right and a four-digit frame counter, all of them inside the central third.
class TestCardScene : public Scene {
public:
    static constexpr std::uint16_t red = 0xF800;
    static constexpr std::uint16_t green = 0x07E0;
    static constexpr std::uint16_t blue = 0x001F;
    static constexpr std::uint16_t yellow = 0xFFE0;
    static constexpr std::uint16_t white = 0xFFFF;
    static constexpr std::uint16_t black = 0x0000;

    std::uint16_t colourAt(std::uint32_t u, std::uint32_t v) const override;
    bool overlayAt(std::uint32_t u, std::uint32_t v, const SceneTime& t,
                   std::uint16_t& colour) const override;
    bool hasOverlay() const override { return true; }
};

// Puts a packed frame (width * height pixels) into a read buffer of `length` bytes: its rows
// `geometry.stride` apart, as many whole rows as fit, everything else zero. Returns the rows
// placed.
std::size_t placeRows(const std::uint16_t* packed, const Geometry& geometry, std::uint8_t* out,
                      std::size_t length);

// Renders frames of one scene. Caches the still picture per geometry and mirror bits, so a
// frame costs a copy plus the moving parts. Not thread-safe: one owner, under one lock.
class FrameRenderer {
public:
    explicit FrameRenderer(const Scene& scene);

    // Fills exactly `length` bytes of `out`: the frame's rows at `geometry.stride`, as many
    // whole rows as fit, everything else zero. Mode bit 2 mirrors left-right, bit 3 flips
    // top-bottom, both as the upright scene is seen.
    void render(const Geometry& geometry, int mode, const SceneTime& time, std::uint8_t* out,
                std::size_t length);

    // Scene coordinates of the frame's pixel (x, y); for tests.
    void sceneCoordinates(const Geometry& geometry, int mode, int x, int y, std::uint32_t& u,
                          std::uint32_t& v);

private:
    void prepare(const Geometry& geometry, int mirrorBits);

    const Scene& scene;
    bool valid = false;
    Geometry cachedGeometry;
    int cachedMirror = -1;
    // Per frame column and row: the scene coordinate it shows. Which of u and v a column
    // carries depends on 'R' or 'S'.
    std::vector<std::uint32_t> columnCoord;
    std::vector<std::uint32_t> rowCoord;
    std::vector<std::uint16_t> still;  // width * height, packed
    // The frame's rectangle that shows the central third, where moving parts can be.
    int overlayX0 = 0, overlayX1 = 0, overlayY0 = 0, overlayY1 = 0;
};

}  // namespace card
