#pragma once
// Geometry of the direct copy of a preview frame into the frame buffer: where the
// W x H preview at logical screen position (x, y) lands in physical coordinates for each
// screen rotation, clipped to the widget's visible rectangle.
#include <QRect>
#include <cstddef>

struct BlitInput {
    int rotation = 0;          // quarter turns, 0..3
    int x = 0, y = 0;          // preview's top-left on the logical screen
    int width = 0, height = 0; // preview size W x H as the user sees it
    int screenWidth = 0;       // logical screen SW x SH
    int screenHeight = 0;
    QRect visible;             // the widget's visible rectangle, physical coordinates
    int lineStep = 0;          // bytes per frame-buffer line
    int imageBytesPerLine = 0; // bytes per line of the preview image
    int imageHeight = 0;       // rows of the preview image
};

struct BlitPlan {
    QRect target;             // T: what is written, physical coordinates
    QRect corner;             // C: where the whole frame would go
    ptrdiff_t destination = 0; // byte offset into the frame buffer
    ptrdiff_t source = 0;      // byte offset into the preview image
    int rowBytes = 0;
    int rows = 0;
    int destinationStep = 0;   // bytes from one row to the next
    int sourceStep = 0;
    bool block = false;        // one copy of rows * rowBytes
    bool empty() const { return rowBytes <= 0 || rows <= 0; }
};

BlitPlan planBlit(const BlitInput& in);
void runBlit(const BlitPlan& plan, unsigned char* frameBuffer, const unsigned char* image);
