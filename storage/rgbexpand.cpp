#include "storage/rgbexpand.h"

#include <QImage>

void expandRgb565(const QImage& source, QImage& target)
{
    if (target.size() != source.size() || target.format() != QImage::Format_RGB888)
        target = QImage(source.size(), QImage::Format_RGB888);
    target.setDotsPerMeterX(source.dotsPerMeterX());
    target.setDotsPerMeterY(source.dotsPerMeterY());
    const int width = source.width();
    const int height = source.height();
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const quint16*>(source.constScanLine(y));
        uchar* out = target.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const unsigned p = in[x];
            const unsigned r = p >> 11, g = (p >> 5) & 63, b = p & 31;
            *out++ = uchar((r << 3) | (r >> 2));
            *out++ = uchar((g << 2) | (g >> 4));
            *out++ = uchar((b << 3) | (b >> 2));
        }
    }
}
