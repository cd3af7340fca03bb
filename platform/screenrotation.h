#pragma once
// Where the logical screen (as the user holds the device, sw x sh) lies in frame-buffer
// memory when the screen is turned `rotation` quarter turns.
#include <QPoint>
#include <QRect>

namespace pda {

// Rotation 0 to 3; an empty rectangle for any other rotation.
QRect logicalToPhysical(const QRect& logical, int rotation, int sw, int sh);
// The physical pixel that shows logical pixel p.
QPoint logicalToPhysical(const QPoint& p, int rotation, int sw, int sh);

} // namespace pda
