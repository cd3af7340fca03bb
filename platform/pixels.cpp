#include "platform/pixels.h"

#include <QBackingStore>
#include <QWidget>

namespace pda {

QImage* paintImage(const QWidget* w)
{
    QBackingStore* store = w->window()->backingStore();
    QPaintDevice* device = store ? store->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image)
        return nullptr;
    return static_cast<QImage*>(device);
}

QImage::Format paintFormat(const QWidget* w)
{
    const QImage* image = paintImage(w);
    return image ? image->format() : QImage::Format_Invalid;
}

bool expandsRgb16(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
}

void expandRgb16(const quint16* from, quint32* to, int count)
{
    for (int i = 0; i < count; ++i) {
        const quint32 p = from[i];
        const quint32 r = ((p >> 8) & 0xf8) | ((p >> 13) & 0x07);
        const quint32 g = ((p >> 3) & 0xfc) | ((p >> 9) & 0x03);
        const quint32 b = ((p << 3) & 0xf8) | ((p >> 2) & 0x07);
        to[i] = 0xff000000u | (r << 16) | (g << 8) | b;
    }
}

void expandRgb16(const QImage& from, const QSize& size, QImage& into)
{
    const QSize part = size.boundedTo(from.size());
    if (into.size() != part || into.format() != QImage::Format_RGB32)
        into = QImage(part, QImage::Format_RGB32);
    for (int y = 0; y < part.height(); ++y)
        expandRgb16(reinterpret_cast<const quint16*>(from.constScanLine(y)),
                    reinterpret_cast<quint32*>(into.scanLine(y)), part.width());
}

} // namespace pda
