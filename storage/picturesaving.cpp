// Taking one picture: the capture frame, the next free numbered name, the JPEG file.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "storage/rgbexpand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QLCDNumber>
#include <QSaveFile>

#include <cstdio>
#include <cstring>

namespace {

const char pictureFolder[] = "/Documents/Image_Files/";

// Appends `text` when it fits, including its NUL.
bool append(char* buffer, size_t size, const char* text)
{
    const size_t used = std::strlen(buffer);
    const size_t length = std::strlen(text);
    if (used + length >= size)
        return false;
    std::memcpy(buffer + used, text, length + 1);
    return true;
}

QString pathOf(const char* buffer)
{
    return QFile::decodeName(QByteArray(buffer));
}

} // namespace

char* Camera::makePictureName(int index, char* buffer, size_t size, int* number)
{
    if (!storageBasePath(index, buffer, size))
        return nullptr;
    const size_t baseLength = std::strlen(buffer);
    if (!append(buffer, size, pictureFolder))
        return nullptr;

    const QFileInfo folder(pathOf(buffer));
    if (!folder.isDir()) {
        // Without its trailing slash, so that a file at that path is seen as such.
        const QFileInfo taken(pathOf(buffer).chopped(1));
        if (index != 0) {
            buffer[baseLength] = '\0'; // a card without the folder takes pictures at its top
        } else if (taken.exists() || taken.isSymLink()) {
            return nullptr;
        } else {
            // Created directly, not through a shell: no character of HOME can run anything.
            // A failure shows later as a failed write.
            QDir().mkpath(pathOf(buffer));
        }
    }
    if (!append(buffer, size, namePrefix))
        return nullptr;

    const size_t stem = std::strlen(buffer);
    unsigned value = number ? unsigned(*number) : 0;
    if (value > 9998)
        value = 0; // 9999 and every negative serial start again at 1
    for (;;) {
        ++value;
        const int written = std::snprintf(buffer + stem, size - stem, "%04u.%s", value, nameSuffix);
        if (written < 0 || size_t(written) >= size - stem)
            return nullptr;
        if (!QFile::exists(pathOf(buffer)))
            break;
    }
    if (number)
        *number = int(value);
    return buffer;
}

bool Camera::savePicture(QString& path)
{
    device->sendGeometry(*captureImage, saveDirection <= 0, captureImage->width(),
                         captureImage->height(), 1 << (zoom + 8));
    device->readFrame(*captureImage);
    geometryKey = -1;

    int freeBlocks = 0;
    if (!probeStorage(saveTo, nullptr, &freeBlocks) || freeBlocks == 0)
        return false;

    char buffer[300] = {};
    int number = serial;
    const char* name = makePictureName(saveTo, buffer, sizeof buffer, &number);
    if (remainFlags & 1)
        LCDNumber1->display(number);
    if (!name)
        return false;
    path = pathOf(buffer);

    // 24-bit RGB holds the same colours as 32-bit RGB and is the layout the JPEG writer
    // takes without converting each pixel again; the file's bytes are the same.
    expandRgb565(*captureImage, pictureRgb);
    const int q = quality ? qualityFine : qualityNormal;

    // Written beside its name and renamed into place when complete, so no reader sees
    // a partial picture and a failed write leaves nothing at the name.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, QByteArray(saveFormat));
    writer.setQuality(q);
    // A small picture sits in the file's buffer until the flush, whose failure commit()
    // would not report: a full disk would leave a cut picture under its name.
    if (!writer.write(pictureRgb) || !file.flush() || !file.commit()) {
        file.cancelWriting();
        return false;
    }
    serial = number;
    return true;
}
