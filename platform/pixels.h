#pragma once
// 16-bit preview frames on a 32-bit window: expanded once per frame by a plain loop into a
// kept image, so that the toolkit only copies rows. Its own 5-6-5 conversion hands a frame's
// rows to worker threads, and on a 240x160 frame the hand-over costs more than the work.
#include <QImage>

class QWidget;

namespace pda {

// The image the window holding `w` paints into (its backing store's), or null where that is
// no image.
QImage* paintImage(const QWidget* w);
// Its format; Format_Invalid where there is no such image.
QImage::Format paintFormat(const QWidget* w);

// Whether a 5-6-5 frame is expanded first for a target in `format`: 32-bit RGB, opaque or
// with premultiplied alpha.
bool expandsRgb16(QImage::Format format);

// One row of 5-6-5 pixels as opaque 32-bit RGB, each field's top bits repeated below it, as
// the toolkit widens them (so a frame shows the same either way).
void expandRgb16(const quint16* from, quint32* to, int count);

// The top-left `size` of the 5-6-5 image `from` into `into` (Format_RGB32, made or remade
// only when its size changes).
void expandRgb16(const QImage& from, const QSize& size, QImage& into);

} // namespace pda
