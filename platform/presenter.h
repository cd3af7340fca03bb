#pragma once
// The virtual frame buffer on a window system: the widgets a direct painter was made on
// behave like screen memory. What the toolkit paints in them is stored in the memory, and
// an area a direct painter wrote shows the memory. Internal to the platform library.
#include <QRegion>

class QWidget;

namespace pda::fb {

// Starts storing what `w` paints; its memory first holds what it shows already.
void watch(QWidget* w);
// Shows the freshly written area `blit` (widget coordinates) without painting over it.
void present(QWidget* w, const QRegion& blit);

} // namespace pda::fb
