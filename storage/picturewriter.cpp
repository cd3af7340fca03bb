#include "storage/picturewriter.h"

#include "storage/rgbexpand.h"

#include <QByteArray>
#include <QImageWriter>
#include <QSaveFile>

bool PictureWriter::write(const QImage& frame, const QString& path, const char* format,
                          int quality)
{
    // 24-bit RGB holds the same colours as 32-bit RGB and is the layout the JPEG writer
    // takes without converting each pixel again; the file's bytes are the same.
    expandRgb565(frame, rgb);

    // Written beside its name and renamed into place when complete, so no reader sees
    // a partial picture and a failed write leaves nothing at the name.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, QByteArray(format));
    writer.setQuality(quality);
    // A small picture sits in the file's buffer until the flush, whose failure commit()
    // would not report: a full disk would leave a cut picture under its name.
    if (!writer.write(rgb) || !file.flush() || !file.commit()) {
        file.cancelWriting();
        return false;
    }
    return true;
}
