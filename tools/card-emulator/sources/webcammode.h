#pragma once
// Which of a webcam's modes the card asks for. One mode serves the preview and every
// capture, and the largest capture is 640x480 (or 480x640): a larger mode only costs the
// card decoding and scaling, a slower one costs the preview its rate.
#include <string>
#include <vector>

namespace card {

struct WebcamMode {
    std::string format;  // as the log shows it: YUYV, MJPG, NV12, ...
    bool raw = true;     // false: compressed, decoded by the card
    int width = 0;
    int height = 0;
    int rateNum = 0;  // frames per second, as a fraction
    int rateDen = 1;
};

// The index in `modes` of the smallest mode that covers 640x480 in either orientation at
// the highest frame rate any covering mode reaches, raw where a raw one reaches it; without
// a covering mode, the largest at its highest rate. -1 for no modes.
int chooseWebcamMode(const std::vector<WebcamMode>& modes);

struct FrameSize {
    int width = 0;
    int height = 0;
};

// The least size in the proportions of width x height that still covers 640x480 (portrait:
// 480x640); the size itself when it does not cover that already.
FrameSize leastCoveringSize(int width, int height);

// The scale, in eighths, at which a motion JPEG frame of width x height is decoded: the least
// whose picture still covers 640x480 (portrait: 480x640), the whole frame when none does.
// The decoder scales inside its inverse DCT, so a 1080p frame decoded at 4/8 costs about a
// quarter of a whole one.
int jpegScaleEighths(int width, int height);

// width x height at eighths/8, each side rounded up as the decoder rounds it.
FrameSize scaledByEighths(int width, int height, int eighths);

// "YUYV 640x480 30/1"
std::string describeMode(const WebcamMode& mode);

}  // namespace card
