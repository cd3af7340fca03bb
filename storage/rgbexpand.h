#pragma once
class QImage;

// Expands a 16-bit RGB 5-6-5 image into 24-bit RGB in `target`, with exactly the colours
// Qt's own conversion gives. `target` is re-created only when its size or format differs,
// so a kept target costs no fresh memory per picture.
void expandRgb565(const QImage& source, QImage& target);
