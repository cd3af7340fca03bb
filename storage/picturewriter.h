#pragma once
// Writing one picture file. Serves Camera::savePicture.
#include <QImage>

class QString;

class PictureWriter {
public:
    // Writes the 16-bit `frame` to `path` in `format` ("JPEG") with `quality`. The file
    // appears under its name only when completely written; on failure nothing is left at
    // the name.
    bool write(const QImage& frame, const QString& path, const char* format, int quality);

private:
    // The picture as the JPEG writer takes it, kept between saves so that a picture costs
    // no fresh memory.
    QImage rgb;
};
