#include "viewfinder/blit.h"

#include "platform/screenrotation.h"

#include <algorithm>
#include <cstring>

namespace {

// Far beyond any screen, and small enough that no sum or product below can overflow.
bool plausible(int v)
{
    constexpr int limit = 1 << 20;
    return v > -limit && v < limit;
}

bool plausible(const BlitInput& in)
{
    const int values[] = {in.x, in.y, in.width, in.height, in.screenWidth, in.screenHeight,
                          in.visible.left(), in.visible.top(), in.visible.right(),
                          in.visible.bottom(), in.lineStep, in.imageBytesPerLine, in.imageHeight};
    for (int v : values) {
        if (!plausible(v))
            return false;
    }
    return in.lineStep >= 0 && in.imageBytesPerLine >= 0 && in.imageHeight >= 0;
}

} // namespace

BlitPlan planBlit(const BlitInput& in)
{
    BlitPlan plan;
    if (!plausible(in))
        return plan; // nothing is copied for a geometry no screen has
    if (in.rotation < 0 || in.rotation > 3)
        return plan; // an unknown rotation shows nothing
    plan.corner = pda::logicalToPhysical(QRect(in.x, in.y, in.width, in.height), in.rotation,
                                         in.screenWidth, in.screenHeight);
    const QRect& c = plan.corner;
    const QRect& v = in.visible;
    plan.target = QRect(QPoint(std::max(v.left(), c.left()), std::max(v.top(), c.top())),
                        QPoint(std::min(v.right(), c.right()), std::min(v.bottom(), c.bottom())));
    const QRect& t = plan.target;

    const int columnOffset = 2 * (t.left() - c.left());
    const int rowOffset = t.top() - c.top();
    plan.destination = ptrdiff_t(2) * t.left() + ptrdiff_t(in.lineStep) * t.top();
    plan.source = columnOffset + ptrdiff_t(in.imageBytesPerLine) * rowOffset;

    int rowBytes = 2 * (t.right() - t.left() + 1);
    rowBytes = std::min(rowBytes, in.lineStep);
    rowBytes = std::min(rowBytes, in.imageBytesPerLine);
    int rows = t.bottom() - t.top() + 1;
    // The image's rows are copied unrotated, so in rotations 0 and 2 a non-square preview
    // does not fit its target: the part of T that the image cannot fill keeps what the
    // screen showed (the widget's black background after the erasing repaint), and only
    // the image's own pixels are copied, never bytes beyond a row's end or the last row.
    rowBytes = std::min(rowBytes, in.imageBytesPerLine - columnOffset);
    rows = std::min(rows, in.imageHeight - rowOffset);
    plan.destinationStep = in.lineStep;
    plan.sourceStep = in.imageBytesPerLine;
    plan.rowBytes = rowBytes;
    plan.rows = rows;
    plan.block = rowBytes == in.lineStep && in.lineStep == in.imageBytesPerLine;
    return plan;
}

void runBlit(const BlitPlan& plan, unsigned char* frameBuffer, const unsigned char* image)
{
    if (plan.empty())
        return;
    unsigned char* destination = frameBuffer + plan.destination;
    const unsigned char* source = image + plan.source;
    if (plan.block) {
        std::memcpy(destination, source, size_t(plan.rows) * size_t(plan.rowBytes));
        return;
    }
    for (int row = 0; row < plan.rows; ++row) {
        std::memcpy(destination, source, size_t(plan.rowBytes));
        destination += plan.destinationStep;
        source += plan.sourceStep;
    }
}
