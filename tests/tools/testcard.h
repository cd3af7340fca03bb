#pragma once
// The emulator's synthetic test card as a still picture of any size: four quadrants (red,
// green / blue, yellow) and a white arrow pointing up, for the image source's tests.
#include "tools/card-emulator/core/scene.h"

#include <QImage>

inline QImage testCardPicture(int width, int height)
{
    const card::TestCardScene scene;
    QImage picture(width, height, QImage::Format_RGB16);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<quint16*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = scene.colourAt(std::uint32_t((2 * x + 1) * 32768LL / width),
                                     std::uint32_t((2 * y + 1) * 32768LL / height));
    }
    return picture;
}
