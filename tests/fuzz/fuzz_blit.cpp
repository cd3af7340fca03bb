// Fuzzes the direct blit's geometry: any preview position, size and rotation (out of range
// too) on a screen and frame buffer the platform can have, with a visible rectangle inside
// that screen. The frame buffer and the image are heap buffers of exactly their size, so
// ASan reports any access outside them; every byte written must lie inside the plan's target.
//
// Input: fields one after the other, each a byte or 4 bytes little-endian mapped onto its
// range (missing bytes read as 0); see the order in LLVMFuzzerTestOneInput.
#include "viewfinder/blit.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

class Reader {
public:
    Reader(const uint8_t* d, size_t n) : data(d), size(n) {}
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint32_t word()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(byte()) << (8 * i);
        return v;
    }
    int any() { return int(word()); }  // two's complement: every int
    int range(int lo, int hi) { return int(lo + (long long)(word() % uint64_t((long long)hi - lo + 1))); }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

[[noreturn]] void fail(const char* what, long long a, long long b)
{
    std::fprintf(stderr, "fuzz_blit: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

// Positions and sizes: mostly around the screen, some anywhere in int.
int coordinate(Reader& in)
{
    switch (in.byte() % 4) {
    case 0: return in.range(-64, 704);
    case 1: return in.range(-4096, 4096);
    case 2: return in.range(-(1 << 24), 1 << 24);
    default: return in.any();
    }
}

std::unique_ptr<unsigned char[]> filled(std::size_t size, unsigned char value)
{
    std::unique_ptr<unsigned char[]> p(new unsigned char[size ? size : 1]);
    std::memset(p.get(), value, size);
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    BlitInput b;
    b.rotation = (in.byte() & 1) ? in.range(-1, 4) : in.any();
    // The physical screen; the logical one is turned a quarter for rotations 1 and 3.
    const int physicalWidth = in.range(1, 640);
    const int physicalHeight = in.range(1, 640);
    const bool quarter = b.rotation == 1 || b.rotation == 3;
    b.screenWidth = quarter ? physicalHeight : physicalWidth;
    b.screenHeight = quarter ? physicalWidth : physicalHeight;
    b.lineStep = 2 * physicalWidth + in.range(0, 32);

    // The visible rectangle lies on the screen; it may be empty.
    const int left = in.range(0, physicalWidth - 1);
    const int right = in.range(left - 1, physicalWidth - 1);
    const int top = in.range(0, physicalHeight - 1);
    const int bottom = in.range(top - 1, physicalHeight - 1);
    b.visible = QRect(QPoint(left, top), QPoint(right, bottom));

    b.x = coordinate(in);
    b.y = coordinate(in);
    b.width = coordinate(in);
    b.height = coordinate(in);

    const int imageWidth = in.range(0, 640);
    b.imageBytesPerLine = 2 * imageWidth + 2 * in.range(0, 3);
    b.imageHeight = in.range(0, 640);

    const BlitPlan plan = planBlit(b);

    const std::size_t frameSize = std::size_t(b.lineStep) * std::size_t(physicalHeight);
    const std::size_t imageSize = std::size_t(b.imageBytesPerLine) * std::size_t(b.imageHeight);
    auto image = filled(imageSize, 0);
    for (std::size_t i = 0; i < imageSize; ++i)
        image[i] = static_cast<unsigned char>(i * 131 + 7);
    // Two runs over two backgrounds: a byte that differs from its background in either
    // run was written, whatever value the image had there.
    auto dark = filled(frameSize, 0x00);
    auto light = filled(frameSize, 0xff);
    runBlit(plan, dark.get(), image.get());
    runBlit(plan, light.get(), image.get());

    const QRect& t = plan.target;
    std::size_t written = 0;
    for (std::size_t i = 0; i < frameSize; ++i) {
        if (dark[i] == 0x00 && light[i] == 0xff)
            continue;
        ++written;
        const long long row = (long long)(i / std::size_t(b.lineStep));
        const long long pixel = (long long)(i % std::size_t(b.lineStep)) / 2;
        if (row < t.top() || row > t.bottom() || pixel < t.left() || pixel > t.right())
            fail("byte written outside the target", pixel, row);
        if (row < top || row > bottom || pixel < left || pixel > right)
            fail("byte written outside the visible rectangle", pixel, row);
        if (dark[i] != light[i])
            fail("the two runs wrote different bytes", pixel, row);
    }
    if (plan.empty() && written)
        fail("an empty plan wrote bytes", (long long)written, 0);
    if (!plan.empty()
        && written > std::size_t(plan.rows) * std::size_t(plan.rowBytes))
        fail("more bytes written than the plan's rows", (long long)written, plan.rows);
    return 0;
}
