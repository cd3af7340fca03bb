#include "tools/card-emulator/sources/webcammode.h"

namespace card {

namespace {

constexpr long long longSide = 640;
constexpr long long shortSide = 480;

bool covers(const WebcamMode& m)
{
    return (m.width >= longSide && m.height >= shortSide)
        || (m.width >= shortSide && m.height >= longSide);
}

// Negative, zero or positive as a's rate is below, equal to or above b's.
long long compareRate(const WebcamMode& a, const WebcamMode& b)
{
    return (long long)a.rateNum * b.rateDen - (long long)b.rateNum * a.rateDen;
}

long long area(const WebcamMode& m)
{
    return (long long)m.width * m.height;
}

}  // namespace

int chooseWebcamMode(const std::vector<WebcamMode>& modes)
{
    bool anyCovers = false;
    for (const WebcamMode& m : modes)
        anyCovers = anyCovers || covers(m);
    int best = -1;
    for (int i = 0; i < int(modes.size()); ++i) {
        const WebcamMode& m = modes[i];
        if (anyCovers && !covers(m))
            continue;
        if (best < 0) {
            best = i;
            continue;
        }
        const WebcamMode& b = modes[best];
        if (!anyCovers && area(m) != area(b)) {
            if (area(m) > area(b))
                best = i;
            continue;
        }
        if (const long long rate = compareRate(m, b)) {
            if (rate > 0)
                best = i;
        } else if (m.raw != b.raw) {
            if (m.raw)
                best = i;
        } else if (area(m) < area(b)) {
            best = i;
        }
    }
    return best;
}

FrameSize leastCoveringSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {width, height};
    const bool portrait = height > width;
    const long long wantW = portrait ? shortSide : longSide;
    const long long wantH = portrait ? longSide : shortSide;
    if (width <= wantW || height <= wantH)
        return {width, height};
    // The side that reaches its bound last decides; the other is rounded up so that it
    // still covers.
    if ((long long)width * wantH >= (long long)height * wantW)
        return {int(((long long)width * wantH + height - 1) / height), int(wantH)};
    return {int(wantW), int(((long long)height * wantW + width - 1) / width)};
}

FrameSize scaledByEighths(int width, int height, int eighths)
{
    return {int(((long long)width * eighths + 7) / 8), int(((long long)height * eighths + 7) / 8)};
}

int jpegScaleEighths(int width, int height)
{
    if (width <= 0 || height <= 0)
        return 8;
    const bool portrait = height > width;
    const long long wantW = portrait ? shortSide : longSide;
    const long long wantH = portrait ? longSide : shortSide;
    for (int eighths = 1; eighths < 8; ++eighths) {
        const FrameSize size = scaledByEighths(width, height, eighths);
        if (size.width >= wantW && size.height >= wantH)
            return eighths;
    }
    return 8;
}

std::string describeMode(const WebcamMode& mode)
{
    return mode.format + ' ' + std::to_string(mode.width) + 'x' + std::to_string(mode.height)
        + ' ' + std::to_string(mode.rateNum) + '/' + std::to_string(mode.rateDen);
}

}  // namespace card
